#include "framework/rtl/Encoding.h"

#include <gtest/gtest.h>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/NetEncoding.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kMixed = "Grüße € 𝄞 日本 \x01 end";  // 1-, 2-, 3- and 4-byte characters

struct EncodingCase {
  const TEncoding* Enc;
  const char* Text;
  Bytes Expected;
};

TEST(Encoding, EncodesEachFormToItsBytes) {
  const EncodingCase cases[] = {
      {&TEncoding::UTF8(), "A€", {0x41, 0xE2, 0x82, 0xAC}},
      {&TEncoding::Unicode(), "A€𝄞", {0x41, 0x00, 0xAC, 0x20, 0x34, 0xD8, 0x1E, 0xDD}},
      {&TEncoding::BigEndianUnicode(), "A€𝄞", {0x00, 0x41, 0x20, 0xAC, 0xD8, 0x34, 0xDD, 0x1E}},
      {&TEncoding::ANSI(), "Grüße € …", {0x47, 0x72, 0xFC, 0xDF, 0x65, 0x20, 0x80, 0x20, 0x85}},
      {&TEncoding::ANSI(), "日本 Ā\xC2\x81", {'?', '?', ' ', '?', 0x81}},  // unmappable gives "?"
      {&TEncoding::ASCII(), "aé€", {'a', '?', '?'}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Enc->GetBytes(c.Text), c.Expected) << c.Enc->Name() << " " << c.Text;
    EXPECT_EQ(c.Enc->GetByteCount(c.Text), c.Expected.size()) << c.Enc->Name();
  }
}

TEST(Encoding, UnicodeFormsRoundTripWithAndWithoutByteOrderMark) {
  for (const TEncoding* enc : {&TEncoding::UTF8(), &TEncoding::Unicode(), &TEncoding::BigEndianUnicode()}) {
    const Bytes plain = enc->GetBytes(kMixed);
    EXPECT_EQ(enc->GetString(plain), kMixed) << enc->Name();

    const TEncoding* found = &TEncoding::ANSI();
    EXPECT_EQ(TEncoding::GetBufferEncoding(plain.data(), plain.size(), found), 0u) << enc->Name();
    EXPECT_EQ(found, &TEncoding::ANSI()) << "without a mark the encoding stays";

    Bytes marked = enc->GetPreamble();
    const size_t markLen = marked.size();
    marked.insert(marked.end(), plain.begin(), plain.end());
    found = nullptr;
    ASSERT_EQ(TEncoding::GetBufferEncoding(marked.data(), marked.size(), found), markLen) << enc->Name();
    EXPECT_EQ(found, enc);
    EXPECT_EQ(found->GetString(marked.data() + markLen, marked.size() - markLen), kMixed);
  }
  const TEncoding* found = nullptr;
  const uint8_t shortMark[] = {0xEF, 0xBB};
  EXPECT_EQ(TEncoding::GetBufferEncoding(shortMark, 2, found), 0u);
  EXPECT_EQ(TEncoding::GetBufferEncoding(shortMark, 0, found), 0u);
  EXPECT_EQ(found, nullptr);
}

TEST(Encoding, AnsiIsWindows1252AndEveryByteRoundTrips) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  const std::string text = TEncoding::ANSI().GetString(all);
  EXPECT_TRUE(Utf8Validate(text));
  EXPECT_EQ(TEncoding::ANSI().GetBytes(text), all);
  EXPECT_EQ(TEncoding::ANSI().GetString(Bytes{0x80, 0x9F, 0xE9}), "€Ÿé");
  EXPECT_EQ(TEncoding::ANSI().GetPreamble(), Bytes{});
  EXPECT_EQ(TEncoding::ASCII().GetString(Bytes{'a', 0xE9}), "a?");
}

TEST(Encoding, MalformedBytesRaiseEncodingError) {
  const struct {
    const TEncoding* Enc;
    Bytes Data;
  } cases[] = {
      {&TEncoding::UTF8(), {'a', 0xC3}},                    // truncated
      {&TEncoding::UTF8(), {0xC0, 0xAF}},                   // overlong "/"
      {&TEncoding::UTF8(), {0xED, 0xA0, 0x80}},             // surrogate
      {&TEncoding::UTF8(), {0xF4, 0x90, 0x80, 0x80}},       // above U+10FFFF
      {&TEncoding::UTF8(), {0xFF}},
      {&TEncoding::UTF8(), {0xE2, 0x28, 0xA1}},             // bad continuation
      {&TEncoding::Unicode(), {0x34, 0xD8}},                // high surrogate at the end
      {&TEncoding::Unicode(), {0x34, 0xD8, 0x41, 0x00}},    // high surrogate without low
      {&TEncoding::Unicode(), {0x1E, 0xDD, 0x41, 0x00}},    // lone low surrogate
      {&TEncoding::BigEndianUnicode(), {0x00, 0x41, 0x00}}, // odd byte count
  };
  for (const auto& c : cases) {
    try {
      c.Enc->GetString(c.Data);
      ADD_FAILURE() << c.Enc->Name() << " accepted malformed bytes";
    } catch (const EEncodingError& e) {
      EXPECT_EQ(e.Message(), "No mapping for the Unicode character exists in the target multi-byte code page");
    }
    std::string partial;
    EXPECT_FALSE(c.Enc->TryAppendString(c.Data.data(), c.Data.size(), partial));
  }
  // Text that is not UTF-8 cannot be encoded either.
  for (const TEncoding* enc : {&TEncoding::UTF8(), &TEncoding::Unicode(), &TEncoding::ANSI()})
    EXPECT_THROW(enc->GetBytes("a\xFF"), EEncodingError) << enc->Name();
}

TEST(Encoding, ConvertGoesThroughText) {
  const Bytes utf16 = TEncoding::Unicode().GetBytes("Grüße");
  EXPECT_EQ(TEncoding::Convert(TEncoding::Unicode(), TEncoding::ANSI(), utf16.data(), utf16.size()),
            (Bytes{'G', 'r', 0xFC, 0xDF, 'e'}));
  EXPECT_EQ(TEncoding::Unicode().GetCharCount(utf16.data(), utf16.size()), 5u);
}

TEST(Utf8, CountsIteratesAndEncodesCodePoints) {
  const std::string s = "aä€𝄞";
  EXPECT_EQ(Utf8Length(s), 4u);
  EXPECT_EQ(Utf8Length("a\xFF" "b"), 3u) << "a malformed byte counts as one";
  std::u32string cps;
  for (char32_t cp : Utf8CodePoints(s)) cps += cp;
  EXPECT_EQ(cps, U"aä€𝄞");
  EXPECT_EQ(Utf8ByteOffset(s, 2), 3u);
  EXPECT_EQ(Utf8ByteOffset(s, 10), s.size());
  EXPECT_EQ(Utf8Copy(s, 1, 2), "ä€");
  std::string out;
  for (char32_t cp : {U'a', U'ä', U'€', U'𝄞', char32_t(0xD800), char32_t(0x110000)}) Utf8Append(out, cp);
  EXPECT_EQ(out, "aä€𝄞\uFFFD\uFFFD");
  EXPECT_TRUE(Utf8Validate(s));
  EXPECT_EQ(Utf8FindInvalid("abcdefghij\xC3"), 10u);
  EXPECT_EQ(AsciiCompareText("Straße", "STRAßE"), 0);
  EXPECT_FALSE(AsciiSameText("ä", "Ä"));
}

TEST(URLEncoding, EncodesFileNamesAndReadsThemBack) {
  const struct {
    const char* Text;
    const char* Encoded;
  } cases[] = {
      {"C:\\My Models\\a+b.q3m", "C%3A%5CMy+Models%5Ca%2Bb.q3m"},
      {"!$'()*-._@AZaz09", "!$'()*-._@AZaz09"},
      {"ä/~%", "%C3%A4%2F%7E%25"},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TNetEncoding::URL().Encode(c.Text), c.Encoded);
    EXPECT_EQ(TNetEncoding::URL().Decode(c.Encoded), c.Text);
  }
  EXPECT_EQ(TURLEncoding::Decode("100%%+sure%c3%a4"), "100% sureä");
}

TEST(URLEncoding, BadEscapesRaiseEncodingError) {
  for (const char* bad : {"%", "%4", "a%G1", "abc%", "%FF", "%C3"}) EXPECT_THROW(TURLEncoding::Decode(bad), EEncodingError) << bad;
  try {
    TURLEncoding::Decode("ab%4");
    FAIL();
  } catch (const EEncodingError& e) {
    EXPECT_EQ(e.Message(), "Error decoding URL style (%XX) encoded string at position 2");
  }
}

}  // namespace
}  // namespace quorvel
