// The FUSE requests of the power-cut file system, served from its PcDisk,
// which is the session's user data.
#pragma once
#define FUSE_USE_VERSION 34
#include <fuse_lowlevel.h>

const fuse_lowlevel_ops* PcOperations();
