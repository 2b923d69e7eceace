#pragma once
// The tests' data folder (tests/data of the source tree). Included into every test source by
// the build; the path itself is compiled into one source only (see tests/CMakeLists.txt).
extern "C" const char* QuorvelTestDataDir();
#define QUORVEL_TEST_DATA_DIR (QuorvelTestDataDir())
