#include "framework/io/ZLib.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

#include "framework/rtl/Finally.h"

namespace quorvel {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr int64_t kMaxChunk = 1 << 30;  // zlib counts in 32-bit uInt

std::string ZMessage(const z_stream& zs, int code) {
  if (zs.msg) return zs.msg;
  switch (code) {
    case Z_NEED_DICT: return "preset dictionary required";
    case Z_DATA_ERROR: return "data error";
    case Z_MEM_ERROR: return "insufficient memory";
    case Z_STREAM_ERROR: return "stream error";
    case Z_VERSION_ERROR: return "incompatible zlib version";
    default: return "error " + std::to_string(code);
  }
}

// A read-only view of caller memory for the one-shot helpers.
class TMemoryView : public TCustomMemoryStream {
public:
  TMemoryView(const void* data, size_t size) { SetPointer(const_cast<void*>(data), static_cast<int64_t>(size)); }
  int64_t Write(const void*, int64_t) override { throw EWriteError("Stream write error"); }
};

}  // namespace

int ZLevel(TCompressionLevel level) {
  switch (level) {
    case clNone: return Z_NO_COMPRESSION;
    case clFastest: return Z_BEST_SPEED;
    case clDefault: return Z_DEFAULT_COMPRESSION;
    case clMax: return Z_BEST_COMPRESSION;
  }
  throw EArgumentOutOfRangeException("Invalid compression level");
}

// ---- TZCompressionStream ----

struct TZCompressionStream::State {
  z_stream Z{};
  uint8_t Out[kBufferSize];
};

TZCompressionStream::TZCompressionStream(TStream* dest, TCompressionLevel level, int windowBits)
    : FDest(dest), FState(std::make_unique<State>()) {
  if (!dest) throw EArgumentNilException("Dest");
  const int r = deflateInit2(&FState->Z, ZLevel(level), Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
  if (r != Z_OK) throw EZCompressionError("Compression error: " + ZMessage(FState->Z, r));
}

TZCompressionStream::~TZCompressionStream() {
  // Destructors never throw; Finish() reports to callers that care.
  Quietly("TZCompressionStream: finishing", [&] { Finish(); });
  deflateEnd(&FState->Z);
}

void TZCompressionStream::Deflate(int flush) {
  z_stream& zs = FState->Z;
  for (;;) {
    zs.next_out = FState->Out;
    zs.avail_out = kBufferSize;
    const int r = deflate(&zs, flush);
    if (r == Z_STREAM_ERROR) throw EZCompressionError("Compression error: " + ZMessage(zs, r));
    const size_t have = kBufferSize - zs.avail_out;
    if (have > 0) {
      FDest->WriteBuffer(FState->Out, static_cast<int64_t>(have));
      FTotalOut += static_cast<int64_t>(have);
    }
    if (flush == Z_FINISH) {
      if (r == Z_STREAM_END) return;
    } else if (zs.avail_in == 0 && zs.avail_out != 0) {
      return;
    }
  }
}

void TZCompressionStream::Finish() {
  if (FFinished) return;
  FFinished = true;
  FState->Z.next_in = nullptr;
  FState->Z.avail_in = 0;
  Deflate(Z_FINISH);
}

int64_t TZCompressionStream::Read(void*, int64_t) { throw EZCompressionError("Invalid stream operation"); }

int64_t TZCompressionStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FFinished) throw EZCompressionError("Compression stream already finished");
  auto* p = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min(left, kMaxChunk);
    FState->Z.next_in = const_cast<Bytef*>(p);
    FState->Z.avail_in = static_cast<uInt>(n);
    Deflate(Z_NO_FLUSH);
    p += n;
    left -= n;
  }
  FTotalIn += count;
  return count;
}

int64_t TZCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin == soCurrent) return FTotalIn;
  throw EZCompressionError("Invalid stream operation");
}

double TZCompressionStream::GetCompressionRate() const {
  if (FTotalIn == 0) return 0.0;
  return (1.0 - static_cast<double>(FTotalOut) / static_cast<double>(FTotalIn)) * 100.0;
}

// ---- TZDecompressionStream ----

struct TZDecompressionStream::State {
  z_stream Z{};
  uint8_t In[kBufferSize];
};

TZDecompressionStream::TZDecompressionStream(TStream* source, int windowBits, bool ownsStream)
    : FSource(source), FOwnsStream(ownsStream), FWindowBits(windowBits), FSourceStart(0),
      FState(std::make_unique<State>()) {
  if (!source) throw EArgumentNilException("Source");
  FSourceStart = source->GetPosition();
  const int r = inflateInit2(&FState->Z, windowBits);
  if (r != Z_OK) {
    if (FOwnsStream) delete FSource;
    throw EZDecompressionError("Decompression error: " + ZMessage(FState->Z, r));
  }
}

TZDecompressionStream::~TZDecompressionStream() {
  inflateEnd(&FState->Z);
  if (FOwnsStream) delete FSource;
}

int64_t TZDecompressionStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FEnded) return 0;
  z_stream& zs = FState->Z;
  const int64_t want = std::min(count, kMaxChunk);
  zs.next_out = static_cast<Bytef*>(buffer);
  zs.avail_out = static_cast<uInt>(want);
  while (zs.avail_out > 0) {
    if (zs.avail_in == 0) {
      const int64_t n = FSource->Read(FState->In, kBufferSize);
      if (n <= 0) {
        // Hand out what this call produced; the next call reports the truncation.
        if (zs.avail_out != want) break;
        throw EZDecompressionError("Decompression error: unexpected end of compressed data");
      }
      zs.next_in = FState->In;
      zs.avail_in = static_cast<uInt>(n);
    }
    const int r = inflate(&zs, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      FEnded = true;
      // Leave the source just behind the compressed data, as the run-time does.
      if (zs.avail_in > 0) {
        try {
          FSource->Seek(-static_cast<int64_t>(zs.avail_in), soCurrent);
        } catch (const Exception&) {  // an unseekable source keeps its position
        }
        zs.avail_in = 0;
      }
      break;
    }
    if (r != Z_OK && r != Z_BUF_ERROR) throw EZDecompressionError("Decompression error: " + ZMessage(zs, r));
  }
  const int64_t produced = want - zs.avail_out;
  FPosition += produced;
  if (FEnded) FKnownSize = FPosition;
  return produced;
}

int64_t TZDecompressionStream::Write(const void*, int64_t) { throw EZDecompressionError("Invalid stream operation"); }

void TZDecompressionStream::Restart() {
  FSource->SetPosition(FSourceStart);
  const int r = inflateReset2(&FState->Z, FWindowBits);
  if (r != Z_OK) throw EZDecompressionError("Decompression error: " + ZMessage(FState->Z, r));
  FState->Z.avail_in = 0;
  FPosition = 0;
  FEnded = false;
}

void TZDecompressionStream::Skip(int64_t count) {
  uint8_t scratch[8192];
  while (count > 0) {
    const int64_t n = Read(scratch, std::min<int64_t>(count, sizeof scratch));
    if (n <= 0) return;
    count -= n;
  }
}

int64_t TZDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = FPosition; break;
    case soEnd:
      if (FKnownSize < 0) Skip(std::numeric_limits<int64_t>::max());
      base = FKnownSize;
      break;
    default: throw EStreamError("Invalid seek origin");
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Invalid stream position");
  const int64_t target = base + offset;
  if (target == FPosition) return FPosition;
  if (target < FPosition) Restart();
  Skip(target - FPosition);
  return FPosition;
}

// ---- helpers ----

TBytes ZCompress(const void* data, size_t size, TCompressionLevel level) {
  uLongf len = compressBound(static_cast<uLong>(size));
  TBytes out(len);
  const int r = compress2(out.data(), &len, static_cast<const Bytef*>(data), static_cast<uLong>(size), ZLevel(level));
  if (r != Z_OK) throw EZCompressionError("Compression error: error " + std::to_string(r));
  out.resize(len);
  return out;
}

TBytes ZDecompress(const void* data, size_t size) {
  TMemoryView in(data, size);
  TBytesStream out;
  ZDecompressStream(&in, &out);
  TBytes result = out.GetBytes();
  return result;
}

void ZCompressStream(TStream* source, TStream* dest, TCompressionLevel level) {
  if (!source) throw EArgumentNilException("Source");
  TZCompressionStream z(dest, level);
  const int64_t count = source->GetSize() - source->GetPosition();
  if (count > 0) z.CopyFrom(source, count);
  z.Finish();
}

void ZDecompressStream(TStream* source, TStream* dest) {
  if (!dest) throw EArgumentNilException("Dest");
  TZDecompressionStream z(source);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kBufferSize]);
  for (;;) {
    const int64_t n = z.Read(buf.get(), kBufferSize);
    if (n <= 0) break;
    dest->WriteBuffer(buf.get(), n);
  }
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  if (size == 0) return crc;
  return static_cast<uint32_t>(crc32_z(crc, static_cast<const Bytef*>(data), size));
}

}  // namespace quorvel
