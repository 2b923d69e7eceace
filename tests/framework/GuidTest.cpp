#include "framework/rtl/Guid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <unordered_set>

#include "framework/rtl/Exceptions.h"

namespace quorvel {
namespace {

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

TEST(Guid, NewGuidsAreDistinctVersion4InBracedUpperCaseText) {
  std::unordered_set<TGUID> seen;
  for (int i = 0; i < 1000; ++i) {
    const TGUID g = TGUID::NewGuid();
    const std::string t = g.ToString();
    ASSERT_EQ(t.size(), 38u);
    EXPECT_EQ(t.front(), '{');
    EXPECT_EQ(t.back(), '}');
    for (size_t k = 1; k < 37; ++k) {
      if (k == 9 || k == 14 || k == 19 || k == 24)
        EXPECT_EQ(t[k], '-') << t;
      else
        EXPECT_TRUE(IsUpperHex(t[k])) << t;
    }
    EXPECT_EQ(t[15], '4') << t;
    EXPECT_EQ(TGUID::Create(t), g);
    EXPECT_TRUE(seen.insert(g).second);
  }
}

TEST(Guid, HasTheRunTimeLayout) {
  const TGUID g = TGUID::Create("{01020304-0506-0708-090a-0B0C0D0E0F10}");
  EXPECT_EQ(g.D1, 0x01020304u);
  EXPECT_EQ(g.D2, 0x0506);
  EXPECT_EQ(g.D3, 0x0708);
  const uint8_t d4[8] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
  EXPECT_EQ(std::memcmp(g.D4, d4, 8), 0);
  EXPECT_EQ(g.ToString(), "{01020304-0506-0708-090A-0B0C0D0E0F10}");

  const uint8_t expected[16] = {4, 3, 2, 1, 6, 5, 8, 7, 9, 10, 11, 12, 13, 14, 15, 16};
  uint8_t bytes[16];
  GUIDToBytes(g, bytes);
  EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);
  EXPECT_EQ(std::memcmp(&g, expected, 16), 0) << "in memory as on a little-endian machine";
  EXPECT_EQ(GUIDFromBytes(bytes), g);
  EXPECT_TRUE(TGUID::Empty().IsEmpty());
  EXPECT_FALSE(g.IsEmpty());
  EXPECT_EQ(TGUID::Empty().ToString(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, MalformedTextRaisesConvertError) {
  const char* bad[] = {
      "null",
      "",
      "{}",
      "01020304-0506-0708-090A-0B0C0D0E0F10",
      "{01020304-0506-0708-090A-0B0C0D0E0F10",
      "{01020304-0506-0708-090A-0B0C0D0E0F1}",
      "{01020304-0506-0708-090A-0B0C0D0E0F100}",
      "{01020304+0506-0708-090A-0B0C0D0E0F10}",
      "{0102030-40506-0708-090A-0B0C0D0E0F10}",
      "{G1020304-0506-0708-090A-0B0C0D0E0F10}",
      " {01020304-0506-0708-090A-0B0C0D0E0F10}",
  };
  for (const char* t : bad) {
    TGUID g = TGUID::Create("{01020304-0506-0708-090A-0B0C0D0E0F10}");
    const TGUID before = g;
    EXPECT_FALSE(TGUID::TryCreate(t, g)) << t;
    EXPECT_EQ(g, before);
    EXPECT_THROW(StringToGUID(t), EConvertError) << t;
  }
  try {
    TGUID::Create("null");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'null' is not a valid GUID value");
  }
}

}  // namespace
}  // namespace quorvel
