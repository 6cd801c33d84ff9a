// The Win32 build's half of test_support.h. The logic tests reach the Win32
// backend through the interfaces only (TestRun::real); its own classes are
// tested by tests/win32, which includes their headers itself.
#pragma once
