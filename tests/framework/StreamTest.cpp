#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>

#include "framework/io/BinaryReader.h"
#include "framework/io/Stream.h"
#include "framework/io/StreamReader.h"
#include "framework/rtl/Encoding.h"

namespace quorvel {
namespace {

class StreamFiles : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "quorvel-stream-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    Dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::string PathOf(const std::string& name) const { return Dir + "/" + name; }
  std::string Dir;
};

TBytes Iota(size_t n) {
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  return b;
}

TEST(MemoryStream, WriteSeekReadAndShortReadsAtTheEnd) {
  TMemoryStream ms;
  const TBytes data = Iota(10);
  ms.WriteBuffer(data.data(), 10);
  EXPECT_EQ(ms.GetSize(), 10);
  EXPECT_EQ(ms.GetPosition(), 10);
  EXPECT_EQ(ms.Seek(-4, soEnd), 6);
  uint8_t buf[16] = {};
  EXPECT_EQ(ms.Read(buf, 16), 4);  // short read returns the count
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 6, 4));
  EXPECT_EQ(ms.Read(buf, 16), 0);
  ms.SetPosition(8);
  try {
    ms.ReadBuffer(buf, 3);
    FAIL() << "ReadBuffer past the end must raise";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  EXPECT_THROW(ms.Seek(-11, soEnd), EStreamError);
  ms.SetPosition(3);
  EXPECT_EQ(ms.Seek(2, soCurrent), 5);
  EXPECT_EQ(ms.Seek(7, soBeginning), 7);
}

TEST(MemoryStream, WritePastTheEndZeroFillsTheGapAndSetSizeTruncates) {
  TMemoryStream ms;
  const uint8_t one = 0xAB;
  ms.SetPosition(5);
  ms.WriteBuffer(&one, 1);
  ASSERT_EQ(ms.GetSize(), 6);
  const auto* mem = static_cast<const uint8_t*>(ms.GetMemory());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(mem[i], 0) << i;
  EXPECT_EQ(mem[5], 0xAB);
  ms.SetSize(3);
  EXPECT_EQ(ms.GetSize(), 3);
  EXPECT_EQ(ms.GetPosition(), 3);
  ms.SetSize(9000);  // growing exposes zeros, not old bytes
  mem = static_cast<const uint8_t*>(ms.GetMemory());
  for (int i = 3; i < 9000; ++i) ASSERT_EQ(mem[i], 0) << i;
  ms.Clear();
  EXPECT_EQ(ms.GetSize(), 0);
  EXPECT_EQ(ms.GetMemory(), nullptr);
}

TEST(BytesStream, BytesAlwaysHoldExactlyTheStreamSize) {
  TBytesStream bs(TBytes{1, 2, 3});
  EXPECT_EQ(bs.GetSize(), 3);
  EXPECT_EQ(bs.GetPosition(), 0);
  bs.Seek(0, soEnd);
  const TBytes more = Iota(100000);
  for (size_t i = 0; i < more.size(); i += 1000) {  // many appends: growth must stay exact
    bs.WriteBuffer(more.data() + i, 1000);
    ASSERT_EQ(bs.GetBytes().size(), static_cast<size_t>(bs.GetSize()));
  }
  ASSERT_EQ(bs.GetBytes().size(), 100003u);
  EXPECT_EQ(bs.GetBytes()[2], 3);
  EXPECT_EQ(0, std::memcmp(bs.GetBytes().data() + 3, more.data(), more.size()));
  bs.SetSize(10);
  EXPECT_EQ(bs.GetBytes().size(), 10u);
  EXPECT_EQ(bs.GetMemory(), bs.GetBytes().data());
}

// A block handed over by Adopt is the stream's content from then on: it grows, keeps what it
// held, zero-fills gaps and growth, and a bytes stream's GetBytes() holds exactly its size.
TEST(MemoryStream, AdoptedBlockIsTheContentAndGrowsLikeAnyOther) {
  const TBytes data = Iota(300);
  enum TKind { Memory, Bytes, BytesOfVector };
  for (TKind kind : {Memory, Bytes, BytesOfVector}) {
    SCOPED_TRACE(kind);
    std::unique_ptr<TMemoryStream> s(kind == Memory ? new TMemoryStream
                                     : kind == Bytes ? new TBytesStream
                                                     : new TBytesStream(Iota(50)));
    s->WriteBuffer(data.data(), 7);  // old content, released by Adopt
    auto* block = static_cast<uint8_t*>(std::malloc(64));
    std::memcpy(block, data.data(), 20);
    s->Adopt(block, 20, 64);
    EXPECT_EQ(s->GetSize(), 20);
    EXPECT_EQ(s->GetPosition(), 20);
    EXPECT_EQ(s->GetCapacity(), 64);
    EXPECT_EQ(s->GetMemory(), block);
    s->WriteBuffer(data.data() + 20, 280);  // past the capacity
    ASSERT_EQ(s->GetSize(), 300);
    EXPECT_EQ(0, std::memcmp(s->GetMemory(), data.data(), 300));
    s->SetPosition(310);
    const uint8_t one = 0xAB;
    s->WriteBuffer(&one, 1);
    s->SetSize(305);
    s->SetSize(20000);
    ASSERT_EQ(s->GetSize(), 20000);
    const auto* mem = static_cast<const uint8_t*>(s->GetMemory());
    EXPECT_EQ(0, std::memcmp(mem, data.data(), 300));
    for (int i = 300; i < 20000; ++i) ASSERT_EQ(mem[i], 0) << i;
    if (auto* bs = dynamic_cast<TBytesStream*>(s.get())) {
      const TBytes& bytes = bs->GetBytes();
      ASSERT_EQ(bytes.size(), 20000u);
      EXPECT_EQ(0, std::memcmp(bytes.data(), data.data(), 300));
      EXPECT_EQ(bs->GetMemory(), bytes.data());
      bs->SetPosition(20000);
      bs->WriteBuffer(data.data(), 300);  // from the vector again
      EXPECT_EQ(bs->GetBytes().size(), 20300u);
      EXPECT_EQ(0, std::memcmp(bs->GetBytes().data() + 20000, data.data(), 300));
      EXPECT_EQ(bs->GetMemory(), bs->GetBytes().data());
    }
    s->Clear();
    EXPECT_EQ(s->GetSize(), 0);
    s->Adopt(nullptr, 0, 0);  // nothing at all is a valid block too
    EXPECT_EQ(s->GetSize(), 0);
    EXPECT_EQ(s->GetMemory(), nullptr);
  }
}

// Only the memory kinds themselves count as plain memory: a derived kind sees its writes.
TEST(MemoryStream, PlainMemoryIsOnlyTheMemoryKindsThemselves) {
  class TWatched : public TMemoryStream {};
  TMemoryStream memory;
  TBytesStream bytes;
  TWatched watched;
  EXPECT_EQ(TMemoryStream::PlainMemory(&memory), &memory);
  EXPECT_EQ(TMemoryStream::PlainMemory(&bytes), &bytes);
  EXPECT_EQ(TMemoryStream::PlainMemory(&watched), nullptr);
  EXPECT_EQ(TMemoryStream::PlainMemory(nullptr), nullptr);
}

TEST(Stream, CopyFromCopiesWholeSourceOrCountAcrossBufferSizes) {
  const TBytes data = Iota(10000);
  TBytesStream src(data);
  struct Case {
    int64_t StartPos, Count, BufferSize, Expected;
  } cases[] = {
      {1234, 0, 0, 10000},     // count 0: whole source from its start
      {0, 10000, 1, 10000},    // one byte at a time
      {100, 777, 64, 777},     // partial, from the position, buffer boundary not aligned
      {0, 10000, 4096, 10000},
  };
  for (const Case& c : cases) {
    TMemoryStream dst;
    src.SetPosition(c.StartPos);
    EXPECT_EQ(dst.CopyFrom(&src, c.Count, c.BufferSize), c.Expected);
    ASSERT_EQ(dst.GetSize(), c.Expected);
    const int64_t from = c.Count == 0 ? 0 : c.StartPos;
    EXPECT_EQ(0, std::memcmp(dst.GetMemory(), data.data() + from, static_cast<size_t>(c.Expected)));
  }
  TMemoryStream dst;
  src.SetPosition(9990);
  EXPECT_THROW(dst.CopyFrom(&src, 11), EReadError);  // more than is left
  EXPECT_THROW(dst.CopyFrom(nullptr), EArgumentNilException);
}

TEST_F(StreamFiles, FileStreamOpenErrorsNameTheFileAndTheReason) {
  const std::string missing = PathOf("missing.bin");
  try {
    TFileStream fs(missing, fmOpenRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), "Cannot open file \"" + missing + "\". No such file or directory");
  }
  try {
    TFileStream fs(PathOf("nodir/x.bin"), fmCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_NE(e.Message().find("Cannot create file \""), std::string::npos);
  }
  EXPECT_THROW(TFileStream(Dir, fmOpenRead), EFOpenError);  // a directory is not a file
  EXPECT_THROW(TFileStream("", fmOpenRead), EFOpenError);
}

TEST_F(StreamFiles, FileStreamModeWordsCreateTruncateAndKeep) {
  const std::string path = PathOf("data.bin");
  const TBytes data = Iota(300);
  {
    TFileStream fs(path, fmCreate);
    fs.WriteBuffer(data.data(), 300);
  }
  {
    TFileStream fs(path, 0x0042);  // read-write, deny none: content kept
    EXPECT_EQ(fs.GetSize(), 300);
    fs.Seek(0, soEnd);
    fs.WriteBuffer(data.data(), 10);
    EXPECT_EQ(fs.GetSize(), 310);
  }
  {
    TFileStream fs(path, 0x0020);  // read, deny write
    TBytes back(310);
    fs.ReadBuffer(back.data(), 310);
    EXPECT_EQ(0, std::memcmp(back.data(), data.data(), 300));
    EXPECT_THROW(fs.WriteBuffer(data.data(), 1), EWriteError);  // opened read-only
  }
  {
    TFileStream fs(path, 0xFF42);  // create, read-write, deny none: truncated
    EXPECT_EQ(fs.GetSize(), 0);
  }
  EXPECT_THROW(TFileStream(path, fmCreate | fmExclusive), EFCreateError);
}

TEST_F(StreamFiles, FileStreamShareModesExcludeEachOther) {
  const std::string path = PathOf("locked.bin");
  TFileStream owner(path, fmCreate | fmShareExclusive);
  EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
  TFileStream reader2(path, fmOpenRead | fmShareDenyNone);  // no lock asked: allowed
  EXPECT_EQ(reader2.GetSize(), 0);
}

TEST_F(StreamFiles, FileStreamAcceptsBackslashesAndInt64Sizes) {
  std::filesystem::create_directory(PathOf("sub"));
  const std::string winPath = Dir + "\\sub\\big.bin";
  {
    TFileStream fs(winPath, fmCreate);
    const int64_t big = (int64_t{5} << 30) + 3;  // sparse, past 32 bits
    fs.SetSize(big);
    EXPECT_EQ(fs.GetSize(), big);
    EXPECT_EQ(fs.Seek(-1, soEnd), big - 1);
    const uint8_t b = 0x5A;
    fs.WriteBuffer(&b, 1);
    fs.SetPosition(big - 1);
    EXPECT_EQ(fs.ReadValue<uint8_t>(), 0x5A);
    fs.SetSize(4);
    EXPECT_EQ(fs.GetPosition(), 4);
  }
  EXPECT_TRUE(std::filesystem::exists(PathOf("sub/big.bin")));
}

TEST_F(StreamFiles, MemoryStreamSavesAndLoadsFiles) {
  TMemoryStream ms;
  const TBytes data = Iota(20000);
  ms.WriteBuffer(data.data(), 20000);
  ms.SaveToFile(PathOf("m.bin"));
  TMemoryStream back;
  back.LoadFromFile(PathOf("m.bin"));
  ASSERT_EQ(back.GetSize(), 20000);
  EXPECT_EQ(0, std::memcmp(back.GetMemory(), data.data(), 20000));
  EXPECT_THROW(back.LoadFromFile(PathOf("none.bin")), EFOpenError);
}

TEST(BinaryReaderWriter, RoundTripsEveryTypeLittleEndian) {
  TMemoryStream ms;
  {
    TBinaryWriter w(&ms);
    w.Write(true);
    w.Write(uint8_t{0xFE});
    w.Write(int16_t{-2});
    w.Write(uint16_t{0xBEEF});
    w.Write(int32_t{0x01020304});
    w.Write(uint32_t{0xFFFFFFFF});
    w.Write(int64_t{-5});
    w.Write(uint64_t{1} << 40);
    w.Write(1.5f);
    w.Write(-2.25);
    w.Write(std::string(200, 'x'));  // needs a two-byte length prefix
    w.Write("h\xC3\xA9llo");
    w.WriteZeroTerminatedString("key");
    w.Write(TBytes{9, 8, 7});
  }
  const auto* mem = static_cast<const uint8_t*>(ms.GetMemory());
  EXPECT_EQ(mem[6], 0x04);  // int32 after bool, byte, int16, uint16: little-endian
  EXPECT_EQ(mem[9], 0x01);
  ms.SetPosition(0);
  TBinaryReader r(&ms);
  EXPECT_TRUE(r.ReadBoolean());
  EXPECT_EQ(r.ReadByte(), 0xFE);
  EXPECT_EQ(r.ReadInt16(), -2);
  EXPECT_EQ(r.ReadUInt16(), 0xBEEF);
  EXPECT_EQ(r.ReadInt32(), 0x01020304);
  EXPECT_EQ(r.ReadUInt32(), 0xFFFFFFFFu);
  EXPECT_EQ(r.ReadInt64(), -5);
  EXPECT_EQ(r.ReadUInt64(), uint64_t{1} << 40);
  EXPECT_EQ(r.ReadSingle(), 1.5f);
  EXPECT_EQ(r.ReadDouble(), -2.25);
  EXPECT_EQ(r.ReadString(), std::string(200, 'x'));
  EXPECT_EQ(r.ReadString(), "h\xC3\xA9llo");
  EXPECT_EQ(r.PeekByte(), 'k');
  EXPECT_EQ(r.ReadZeroTerminatedString(), "key");
  EXPECT_EQ(r.ReadBytes(3), (TBytes{9, 8, 7}));
  EXPECT_EQ(r.PeekByte(), -1);
  EXPECT_THROW(r.ReadInt32(), EReadError);
}

TEST(BinaryReaderWriter, DamagedDataRaisesReadErrors) {
  struct Case {
    const char* Name;
    TBytes Data;
    int Kind;  // 0 string, 1 zero-terminated, 2 bytes(1000)
  } cases[] = {
      {"length prefix beyond the data", {0x7F, 'a', 'b'}, 0},
      {"endless 7-bit length", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0},
      {"huge 7-bit length", {0xFF, 0xFF, 0xFF, 0xFF, 0x07}, 0},
      {"no terminator", {'a', 'b'}, 1},
      {"short byte block", {1, 2, 3}, 2},
  };
  for (const Case& c : cases) {
    TBytesStream bs(c.Data);
    TBinaryReader r(&bs);
    switch (c.Kind) {
      case 0: EXPECT_THROW(r.ReadString(), EReadError) << c.Name; break;
      case 1: EXPECT_THROW(r.ReadZeroTerminatedString(), EReadError) << c.Name; break;
      default: EXPECT_THROW(r.ReadBytes(1000), EReadError) << c.Name; break;
    }
  }
  auto* owned = new TBytesStream(TBytes{1});
  TBinaryReader r(owned, true);  // frees the stream (checked by ASan)
  r.Close();
  EXPECT_THROW(r.ReadByte(), EInvalidOperation);
  EXPECT_THROW(TBinaryWriter(nullptr), EArgumentNilException);
}

// Hands out one byte per Read, so every multi-byte sequence and line end is split.
class TTrickleStream : public TBytesStream {
public:
  using TBytesStream::TBytesStream;
  int64_t Read(void* buffer, int64_t count) override { return TBytesStream::Read(buffer, count > 0 ? 1 : 0); }
};

std::vector<std::string> AllLines(TStreamReader& r) {
  std::vector<std::string> lines;
  std::string line;
  while (r.ReadLine(line)) lines.push_back(line);
  return lines;
}

TBytes BytesOf(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TBytes Utf8(std::string_view s) { return TBytes(s.begin(), s.end()); }

TEST(StreamReader, SplitsLinesAtEveryKindOfLineEnd) {
  const struct {
    const char* Text;
    std::vector<std::string> Lines;
  } cases[] = {
      {"a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"a\n\nb\n", {"a", "", "b"}},
      {"\r\n\r\n", {"", ""}},
      {"\r\r\n\n", {"", "", ""}},
      {"last line without end", {"last line without end"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    for (bool trickle : {false, true}) {
      SCOPED_TRACE(std::string(c.Text) + (trickle ? " (trickled)" : ""));
      std::unique_ptr<TStream> s(trickle ? new TTrickleStream(Utf8(c.Text)) : new TBytesStream(Utf8(c.Text)));
      TStreamReader r(s.get());
      EXPECT_EQ(AllLines(r), c.Lines);
      EXPECT_TRUE(r.GetEndOfStream());
      EXPECT_EQ(r.ReadLine(), "");
    }
  }
}

TEST(StreamReader, ByteOrderMarksChooseTheEncoding) {
  const std::string text = "v 1 \xE2\x82\xAC\n# \xF0\x9F\x98\x80 smile\nend";  // euro sign, U+1F600
  const std::vector<std::string> lines = {"v 1 \xE2\x82\xAC", "# \xF0\x9F\x98\x80 smile", "end"};
  const struct {
    const char* Name;
    const TEncoding* Enc;
    TBytes Mark;
  } cases[] = {
      {"UTF-8 without mark", &TEncoding::UTF8(), {}},
      {"UTF-8 with mark", &TEncoding::UTF8(), {0xEF, 0xBB, 0xBF}},
      {"UTF-16 LE", &TEncoding::Unicode(), {0xFF, 0xFE}},
      {"UTF-16 BE", &TEncoding::BigEndianUnicode(), {0xFE, 0xFF}},
  };
  for (const auto& c : cases) {
    for (bool trickle : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (trickle ? " (trickled)" : ""));
      const TBytes data = BytesOf({c.Mark, c.Enc->GetBytes(text)});
      std::unique_ptr<TStream> s(trickle ? new TTrickleStream(data) : new TBytesStream(data));
      TStreamReader r(s.get());
      EXPECT_EQ(AllLines(r), lines);
      EXPECT_EQ(&r.GetCurrentEncoding(), c.Enc);
    }
  }
  // Detection off: the given encoding's own preamble is still skipped.
  TBytesStream le(BytesOf({{0xFF, 0xFE}, TEncoding::Unicode().GetBytes("x\ny")}));
  TStreamReader r(&le, TEncoding::Unicode(), false, 16);
  EXPECT_EQ(AllLines(r), (std::vector<std::string>{"x", "y"}));
}

TEST(StreamReader, CharactersPeekReadAndMalformedBytes) {
  TBytesStream bs(BytesOf({Utf8("A\xC3\xA9"), {0xFF}, Utf8("z")}));
  TStreamReader r(&bs);
  EXPECT_EQ(r.Peek(), 'A');
  EXPECT_EQ(r.Read(), 'A');
  EXPECT_EQ(r.Read(), 0xE9);
  EXPECT_EQ(r.Read(), 0xFFFD);  // a stray byte does not fail the whole text
  EXPECT_EQ(r.ReadToEnd(), "z");
  EXPECT_EQ(r.Peek(), -1);
  EXPECT_EQ(r.Read(), -1);
  r.Rewind();
  EXPECT_EQ(r.ReadLine(), "A\xC3\xA9\xEF\xBF\xBDz");

  TBytesStream odd(TBytes{0xFF, 0xFE, 'a', 0, 0x00, 0xD8});  // lone high surrogate at the end
  TStreamReader u(&odd);
  EXPECT_THROW(u.ReadToEnd(), EEncodingError);
  EXPECT_THROW(TStreamReader(static_cast<TStream*>(nullptr)), EArgumentNilException);
}

TEST_F(StreamFiles, StreamReaderReadsLongFilesLineByLine) {
  const std::string path = PathOf("long.obj");
  {
    TFileStream fs(path, fmCreate);
    std::string chunk;
    for (int i = 0; i < 50000; ++i) chunk += "v " + std::to_string(i) + " 0.5 -1\r\n";
    fs.WriteBuffer(chunk.data(), static_cast<int64_t>(chunk.size()));
  }
  TStreamReader r(path);
  std::string line;
  int count = 0;
  while (r.ReadLine(line)) {
    ASSERT_EQ(line, "v " + std::to_string(count) + " 0.5 -1");
    ++count;
  }
  EXPECT_EQ(count, 50000);
  EXPECT_THROW(TStreamReader(PathOf("none.obj")), EFOpenError);
}

}  // namespace
}  // namespace quorvel
