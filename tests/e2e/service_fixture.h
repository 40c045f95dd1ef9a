// The service program as a process in a folder of its own (ServiceFolder),
// with a parameter file pointing at a receiver.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_sync.h"
#include "test_receiver.h"
#include "test_service.h"
#include "tormel.h"

struct Service : ::testing::Test, ServiceFolder {
  ChildProcess Start(const std::vector<std::string>& args) { return StartProgram(TORMEL_BIN, args); }
};
