#include "tests/support/TestDataDir.h"

extern "C" const char* QuorvelTestDataDir() { return QUORVEL_TEST_DATA_PATH; }
