#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "framework/io/ZLib.h"

namespace quorvel {
namespace {

TBytes TextLike(size_t n) {
  static const char words[] = "vertex normal texcoord mesh frame bone weight ";
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(words[(i * 5 + i / 97) % (sizeof words - 1)]);
  return b;
}

TBytes Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  TBytes b(n);
  for (auto& x : b) x = static_cast<uint8_t>(rng());
  return b;
}

TBytes CompressWithStream(const TBytes& data, TCompressionLevel level, int windowBits = 15) {
  TBytesStream out;
  {
    TZCompressionStream z(&out, level, windowBits);
    // Uneven writes cross the internal buffer boundaries.
    size_t done = 0, step = 1;
    while (done < data.size()) {
      const size_t n = std::min(step, data.size() - done);
      z.WriteBuffer(data.data() + done, static_cast<int64_t>(n));
      done += n;
      step = step * 3 + 1;
    }
    z.Finish();
  }
  return out.GetBytes();
}

TBytes DecompressWithStream(const TBytes& packed) {
  TBytesStream in(packed);
  TZDecompressionStream z(&in);
  TBytes out;
  uint8_t buf[7000];
  for (;;) {
    const int64_t n = z.Read(buf, sizeof buf);
    if (n == 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  return out;
}

TEST(ZLib, RoundTripsAtEveryLevel) {
  const struct {
    const char* Name;
    TBytes Data;
  } payloads[] = {{"empty", {}}, {"one byte", {42}}, {"text 300k", TextLike(300000)}, {"random 200k", Random(200000, 1)}};
  for (TCompressionLevel level : {clNone, clFastest, clDefault, clMax}) {
    for (const auto& p : payloads) {
      SCOPED_TRACE(std::string(p.Name) + " level " + std::to_string(static_cast<int>(level)));
      const TBytes packed = CompressWithStream(p.Data, level);
      ASSERT_GE(packed.size(), 2u);
      EXPECT_EQ(packed[0], 0x78);  // zlib header, window 32K
      EXPECT_EQ(DecompressWithStream(packed), p.Data);
      const TBytes packed2 = ZCompress(p.Data, level);
      EXPECT_EQ(ZDecompress(packed2), p.Data);
    }
  }
}

TEST(ZLib, LevelsTradeSizeAsExpected) {
  const TBytes data = TextLike(200000);
  const size_t none = ZCompress(data, clNone).size();
  const size_t fastest = ZCompress(data, clFastest).size();
  const size_t max = ZCompress(data, clMax).size();
  EXPECT_GT(none, data.size());  // stored blocks only
  EXPECT_LT(fastest, data.size() / 4);
  EXPECT_LE(max, fastest);
  TBytesStream out;
  TZCompressionStream z(&out, clMax);
  z.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  z.Finish();
  EXPECT_GT(z.GetCompressionRate(), 75.0);
  EXPECT_EQ(z.GetSize(), static_cast<int64_t>(data.size()));
}

TEST(ZLib, DecompressionReadsGzipAndLeavesTheSourceBehindTheData) {
  const TBytes data = TextLike(5000);
  const TBytes gz = CompressWithStream(data, clDefault, 15 + 16);
  ASSERT_EQ(gz[0], 0x1F);
  ASSERT_EQ(gz[1], 0x8B);
  EXPECT_EQ(DecompressWithStream(gz), data);
  for (int windowBits : {32, 15 + 32}) {  // window size taken from the header, as Q3M bodies are read
    TBytesStream in(gz);
    TZDecompressionStream z(&in, windowBits);
    TBytes back(data.size());
    z.ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
    EXPECT_EQ(back, data);
  }
  {
    TBytesStream in(gz);
    TZDecompressionStream zlibOnly(&in, 15);  // gzip is refused when only zlib is asked for
    uint8_t b;
    EXPECT_THROW(zlibOnly.Read(&b, 1), EZDecompressionError);
  }

  TBytes packed = ZCompress(data);
  const size_t packedSize = packed.size();
  packed.insert(packed.end(), {'T', 'A', 'I', 'L'});
  TBytesStream in(packed);
  {
    TZDecompressionStream z(&in);
    TMemoryStream out;
    out.CopyFrom(&z, static_cast<int64_t>(data.size()));
    uint8_t extra;
    EXPECT_EQ(z.Read(&extra, 1), 0);
  }
  EXPECT_EQ(in.GetPosition(), static_cast<int64_t>(packedSize));
}

TEST(ZLib, DecompressionStreamSeeksAndKnowsItsSize) {
  const TBytes data = Random(100000, 7);
  const TBytes packed = ZCompress(data);
  TBytesStream in(packed);
  TZDecompressionStream z(&in);
  EXPECT_EQ(z.GetSize(), 100000);
  EXPECT_EQ(z.GetPosition(), 0);
  uint8_t buf[16];
  EXPECT_EQ(z.Seek(50000, soBeginning), 50000);
  z.ReadBuffer(buf, 16);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 50000, 16));
  EXPECT_EQ(z.Seek(-20000, soCurrent), 30016);  // backwards restarts
  z.ReadBuffer(buf, 16);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 30016, 16));
  EXPECT_EQ(z.Seek(-16, soEnd), 100000 - 16);
  z.ReadBuffer(buf, 16);
  EXPECT_EQ(0, std::memcmp(buf, data.data() + 100000 - 16, 16));
  EXPECT_THROW(z.Seek(-1, soBeginning), EStreamError);
  EXPECT_THROW(z.Write(buf, 1), EZDecompressionError);
}

TEST(ZLib, CorruptOrTruncatedDataRaisesAndNeverHangs) {
  const TBytes data = TextLike(70000);
  const TBytes packed = ZCompress(data, clMax);
  // Every truncation point, from an empty input to one byte short of the trailer.
  for (size_t len = 0; len < packed.size(); len += (len < 64 ? 1 : 97)) {
    const TBytes cut(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(len));
    EXPECT_THROW(ZDecompress(cut), EZDecompressionError) << "length " << len;
  }
  EXPECT_THROW(ZDecompress(TBytes(packed.begin(), packed.end() - 1)), EZDecompressionError);

  struct Case {
    const char* Name;
    TBytes Data;
  } cases[] = {
      {"garbage", Random(1000, 3)},
      {"bad header check", {0x78, 0x00, 0x01, 0x02}},
      {"preset dictionary", {0x78, 0xBB, 0, 0, 0, 1}},
  };
  for (const Case& c : cases) EXPECT_THROW(ZDecompress(c.Data), EZDecompressionError) << c.Name;

  TBytes flipped = packed;
  flipped[flipped.size() - 2] ^= 0xFF;  // Adler-32 mismatch
  EXPECT_THROW(ZDecompress(flipped), EZDecompressionError);
  for (size_t at : {size_t{2}, size_t{10}, packed.size() / 2}) {
    TBytes bad = packed;
    bad[at] ^= 0x55;
    try {
      const TBytes out = ZDecompress(bad);
      ADD_FAILURE() << "corruption at " << at << " was not reported";
    } catch (const EZDecompressionError& e) {
      EXPECT_NE(std::string(e.what()).find("Decompression error"), std::string::npos);
    }
  }
}

TEST(ZLib, CompressionStreamIsWriteOnly) {
  TBytesStream out;
  TZCompressionStream z(&out, clDefault);
  uint8_t b = 1;
  EXPECT_THROW(z.Read(&b, 1), EZCompressionError);
  EXPECT_THROW(z.Seek(1, soBeginning), EZCompressionError);
  z.WriteBuffer(&b, 1);
  z.Finish();
  EXPECT_THROW(z.WriteBuffer(&b, 1), EZCompressionError);
  EXPECT_THROW(TZCompressionStream(nullptr), EArgumentNilException);
}

TEST(ZLib, Crc32MatchesTheStandardCheckValueAndChains) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32(0, check, 9), 0xCBF43926u);
  EXPECT_EQ(Crc32(Crc32(0, check, 4), check + 4, 5), 0xCBF43926u);
  EXPECT_EQ(Crc32(0, nullptr, 0), 0u);
  const TBytes zeros(104, 0);
  EXPECT_EQ(Crc32(0, zeros.data(), zeros.size()), Crc32(Crc32(0, zeros.data(), 50), zeros.data() + 50, 54));
}

}  // namespace
}  // namespace quorvel
