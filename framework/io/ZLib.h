#pragma once
// zlib compression and decompression streams, one-shot helpers and CRC-32.
//
// TZCompressionStream writes the zlib format (header and Adler-32 trailer; window bits 15)
// into its destination; the data is complete once Finish() ran (the destructor runs it
// too, swallowing errors: call Finish() where a failing write must be seen).
// TZDecompressionStream reads zlib, and gzip as well with the default window bits
// (15 + 32: the wrapper is detected from the data). Corrupt or truncated input raises
// EZDecompressionError; it never loops on a source that has run dry. Its size is only
// known by inflating everything, so CopyFrom(z, 0) inflates twice: to inflate a whole
// stream, read until Read answers 0 (ZDecompressStream does).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "framework/io/Stream.h"

namespace quorvel {

enum class TCompressionLevel : uint8_t { clNone, clFastest, clDefault, clMax };
constexpr TCompressionLevel clNone = TCompressionLevel::clNone;
constexpr TCompressionLevel clFastest = TCompressionLevel::clFastest;
constexpr TCompressionLevel clDefault = TCompressionLevel::clDefault;
constexpr TCompressionLevel clMax = TCompressionLevel::clMax;

// zlib's own level number for a TCompressionLevel (0, 1, -1, 9).
int ZLevel(TCompressionLevel level);

class TZCompressionStream : public TStream {
public:
  // windowBits: 15 zlib format, -15 raw deflate, 31 gzip (zlib's conventions).
  explicit TZCompressionStream(TStream* dest, TCompressionLevel level = clDefault, int windowBits = 15);
  ~TZCompressionStream() override;

  // Flushes the remaining compressed data and the trailer; later writes raise.
  void Finish();

  int64_t Read(void* buffer, int64_t count) override;  // raises EZCompressionError
  int64_t Write(const void* buffer, int64_t count) override;
  // Only Seek(0, soCurrent) (the bytes taken in so far); anything else raises.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return FTotalIn; }

  // Percentage of the input saved so far, as the run-time reports it.
  double GetCompressionRate() const;

private:
  struct State;
  void Deflate(int flush);

  TStream* FDest;
  std::unique_ptr<State> FState;
  int64_t FTotalIn = 0;
  int64_t FTotalOut = 0;
  bool FFinished = false;
};

class TZDecompressionStream : public TStream {
public:
  // Reads from source's current position. windowBits as zlib's inflateInit2 (15 + 32 detects
  // zlib or gzip; 32 also takes the window size from the header). ownsStream frees source.
  explicit TZDecompressionStream(TStream* source, int windowBits = 15 + 32, bool ownsStream = false);
  ~TZDecompressionStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // raises EZDecompressionError
  // Any target position: backwards restarts from the first compressed byte, forwards
  // decompresses and discards; soEnd decompresses everything once to learn the size.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

private:
  struct State;
  void Restart();
  void Skip(int64_t count);

  TStream* FSource;
  bool FOwnsStream;
  int FWindowBits;
  int64_t FSourceStart;
  std::unique_ptr<State> FState;
  int64_t FPosition = 0;
  int64_t FKnownSize = -1;
  bool FEnded = false;
};

// Whole-buffer forms.
TBytes ZCompress(const void* data, size_t size, TCompressionLevel level = clDefault);
inline TBytes ZCompress(const TBytes& data, TCompressionLevel level = clDefault) {
  return ZCompress(data.data(), data.size(), level);
}
TBytes ZDecompress(const void* data, size_t size);
inline TBytes ZDecompress(const TBytes& data) { return ZDecompress(data.data(), data.size()); }
// Compresses source from its position to its end into dest.
void ZCompressStream(TStream* source, TStream* dest, TCompressionLevel level = clDefault);
// Decompresses source from its position into dest.
void ZDecompressStream(TStream* source, TStream* dest);

// zlib's CRC-32; chain calls by passing the previous result (start with 0).
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

}  // namespace quorvel
