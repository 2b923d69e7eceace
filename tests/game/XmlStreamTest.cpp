#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/io/Stream.h"
#include "framework/rtl/Encoding.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {
namespace {

TBytes Encode(const std::string& AText, const TEncoding& AEncoding, bool AMark) {
  TBytes bytes = AMark ? AEncoding.GetPreamble() : TBytes();
  AEncoding.AppendBytes(AText, bytes);
  return bytes;
}

std::u16string DecodeAll(const TBytes& ABytes) {
  TBytesStream stream(ABytes);
  TMz_StreamReader reader(&stream);
  return reader.ReadToEnd();
}

TEST(XmlStreamReader, DecodesByMarkAndAcrossBlocks) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
  const std::u16string units = u"a\u00E9\u20AC\U0001F600z";
  const struct {
    const char* Name;
    TBytes Bytes;
  } cases[] = {{"UTF-8", Encode(text, TEncoding::UTF8(), false)},
               {"UTF-8 with mark", Encode(text, TEncoding::UTF8(), true)},
               {"UTF-16 LE with mark", Encode(text, TEncoding::Unicode(), true)},
               {"UTF-16 BE with mark", Encode(text, TEncoding::BigEndianUnicode(), true)}};
  for (const auto& c : cases) EXPECT_EQ(DecodeAll(c.Bytes), units) << c.Name;

  // A 3-byte character and a surrogate pair cut by the 4096-byte fill.
  for (size_t pad : {4094u, 4095u, 4093u, 4094u - 2}) {
    std::string s(pad, 'x');
    s += "\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::u16string expected(pad, u'x');
    expected += u"\u20AC\U0001F600";
    EXPECT_EQ(DecodeAll(Encode(s, TEncoding::UTF8(), false)), expected) << pad;
    std::string s16(pad / 2 * 2, 'x');
    s16 += "\xF0\x9F\x98\x80";
    std::u16string e16(pad / 2 * 2, u'x');
    e16 += u"\U0001F600";
    EXPECT_EQ(DecodeAll(Encode(s16, TEncoding::Unicode(), true)), e16) << pad;
  }
  // Malformed bytes become U+FFFD instead of stopping the reader.
  EXPECT_EQ(DecodeAll(TBytes{'a', 0xFF, 'b', 0xE2, 0x82}), u"a\uFFFDb\uFFFD\uFFFD");
}

TEST(XmlStreamReader, PositionsPeekAndTheEnd) {
  TBytesStream stream(TBytes{'a', 'b', 'c'});
  TMz_StreamReader reader(&stream);
  EXPECT_TRUE(reader.eod());  // nothing decoded yet
  EXPECT_EQ(reader.Read(), 'a');
  EXPECT_EQ(reader.Current(), 'b');
  EXPECT_EQ(reader.Peek(), 'c');
  EXPECT_EQ(reader.Read(), 'b');
  EXPECT_EQ(reader.Read(), 'c');
  EXPECT_TRUE(reader.eod());
  EXPECT_EQ(reader.Read(), -1);
  EXPECT_EQ(reader.position(), 4);
  EXPECT_THROW(reader.Peek(), EArgumentOutOfRangeException);
  reader.setPosition(1);
  EXPECT_EQ(reader.Read(), 'b');
  reader.revert(2);
  EXPECT_EQ(reader.position(), 0);
  try {
    reader.revert(1);
    ADD_FAILURE() << "nothing raised";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "invalid internal index revert");
  }
  std::u16string block;
  reader.setPosition(1);
  EXPECT_EQ(reader.ReadBlock(block, 5), 2);
  EXPECT_EQ(block.substr(0, 2), u"bc");

  TBytesStream empty;
  TMz_StreamReader none(&empty);
  EXPECT_TRUE(none.EndOfStream());
  EXPECT_EQ(none.Read(), -1);
  EXPECT_EQ(none.position(), 0);
  EXPECT_THROW(TMz_StreamReader(static_cast<TStream*>(nullptr)), EArgumentNilException);

  TBytesStream lines(TBytes{'x', '\r', '\n', 'y', '\r', 'z'});
  TMz_StreamReader lineReader(&lines);
  EXPECT_EQ(lineReader.ReadLine(), u"x");
  EXPECT_EQ(lineReader.ReadLine(), u"y");
  EXPECT_EQ(lineReader.ReadLine(), u"z");
}

TEST(XmlStreamWriter, FlushKeepsTheTailAndPlainWritersHaveNoTabs) {
  TBytesStream stream(TBytes(100, '#'));
  TMz_StreamWriter writer(&stream, false);
  writer.indent();
  writer.write("0123456789", true);
  writer.outdent();
  writer.flush();
  EXPECT_EQ(stream.GetSize(), 100);
  const TBytes& bytes = stream.GetBytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 12), "0123456789##");

  TMz_StreamWriter pretty(nullptr, true);
  pretty.indent();
  pretty.indent();
  pretty.write("x", true);
  pretty.outdent();
  pretty.write("y", true);
  EXPECT_EQ(pretty.Text(), "\t\tx\ty");
}

// One document in four encodings gives the same tree and the same error positions (a
// character outside the BMP counts two units).
TEST(XmlStreamReader, DocumentsReadTheSameInEveryEncoding) {
  const std::string good = "<?xml version=\"1.0\"?><a t=\"\xF0\x9F\x98\x80\">\xC3\xA9<b/></a>";
  const std::string bad = "<?xml version=\"1.0\"?><a t=\"\xF0\x9F\x98\x80\"></b>";
  std::string reference;
  for (auto* enc : {&TEncoding::UTF8(), &TEncoding::Unicode(), &TEncoding::BigEndianUnicode()}) {
    for (bool mark : {false, true}) {
      if (enc != &TEncoding::UTF8() && !mark) continue;
      TMz_XmlDocument doc;
      doc.loadFromBytes(Encode(good, *enc, mark));
      const std::string saved = doc.saveToString(false);
      if (reference.empty()) reference = saved;
      EXPECT_EQ(saved, reference) << enc->Name() << mark;
      TMz_XmlDocument broken;
      try {
        broken.loadFromBytes(Encode(bad, *enc, mark));
        ADD_FAILURE() << "nothing raised";
      } catch (const EMz_XmlParseError& e) {
        EXPECT_EQ(e.Message(), "failed to close tag \"a\" - closing tag \"b\" found instead [\"\" at 34]");
      }
    }
  }
  EXPECT_NE(reference.find("t=\"\xF0\x9F\x98\x80\">\xC3\xA9<b />"), std::string::npos) << reference;
}

}  // namespace
}  // namespace quorvel
