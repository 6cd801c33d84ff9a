// The posix build's half of test_support.h: the posix backend's classes, for
// the tests of that backend (tests/platform, tests/execute, the benchmarks).
#pragma once

#include "platform/posix/backends.h"
