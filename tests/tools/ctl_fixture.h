// What every tormelctl suite needs: a fresh folder that is the programs'
// working folder, with a fresh runtime folder for the named objects
// (ServiceFolder), and a way to run tormelctl there.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "os_sync.h"
#include "test_service.h"
#include "tormel.h"

struct CtlResult {
  int status = -1;
  std::string out;
  std::string err;
};

struct CtlTest : ::testing::Test, ServiceFolder {
  CtlResult Ctl(const std::vector<std::string>& args) {
    CtlResult r;
    r.status = RunProgram(TORMELCTL_BIN, args, &r.out, &r.err);
    return r;
  }
};
