// The posix build's half of test_support.h: the posix backend's classes, for
// the tests of that backend (tests/platform, tests/execute, the benchmarks).
#pragma once

#include "platform/posix/clock.h"
#include "platform/posix/filesystem.h"
#include "platform/posix/host.h"
#include "platform/posix/locks.h"
#include "platform/posix/paths.h"
#include "platform/posix/profile.h"
#include "platform/posix/registry.h"
