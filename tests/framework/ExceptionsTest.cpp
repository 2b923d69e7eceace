#include "framework/rtl/Exceptions.h"

#include <gtest/gtest.h>

using namespace quorvel;

TEST(Exceptions, DescendantsAreCaughtAsTheirBaseAndKeepTheirClassName) {
  try {
    throw EFOpenError("cannot open");
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "cannot open");
  }
}

TEST(Exceptions, RaiseLastOSErrorCarriesTheCodeAndText) {
  SetLastError(5, "access denied");
  try {
    RaiseLastOSError();
    FAIL();
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 5);
    EXPECT_NE(e.Message().find("Code: 5."), std::string::npos);
    EXPECT_NE(e.Message().find("access denied"), std::string::npos);
  }
  SetLastError(0);
}
