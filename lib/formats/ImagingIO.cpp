#include "lib/formats/ImagingIO.h"

#include <algorithm>
#include <cstring>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "lib/formats/ImagingFormats.h"

namespace quorvel {

TBufferedStream::TBufferedStream(TStream* AStream) : FBuffer(size_t(16384)), FStream(AStream) {
  FSize = FStream->GetSize();
}

TBufferedStream::~TBufferedStream() {
  try {
    Commit();
    FStream->SetPosition(GetPosition());
  } catch (const std::exception&) {
    // A destructor never throws; a failed final write was already reported by Release.
  }
}

void TBufferedStream::ReadBuffer() {
  if (FStream->Seek(FBufStart, soBeginning) != FBufStart) throw Exception("TBufferedStream.ReadBuffer: seek failed");
  FBytesInBuf = FStream->Read(FBuffer.data(), FBufSize);
  if (FBytesInBuf <= 0) throw Exception("TBufferedStream.ReadBuffer: read failed");
}

void TBufferedStream::WriteBuffer() {
  if (FStream->Seek(FBufStart, soBeginning) != FBufStart) throw Exception("TBufferedStream.WriteBuffer: seek failed");
  if (FStream->Write(FBuffer.data(), FBytesInBuf) != FBytesInBuf)
    throw Exception("TBufferedStream.WriteBuffer: write failed");
}

void TBufferedStream::Commit() {
  if (FDirty) {
    WriteBuffer();
    FDirty = false;
  }
}

int64_t TBufferedStream::Read(void* ABuffer, int64_t ACount) {
  auto* out = static_cast<uint8_t*>(ABuffer);
  const int64_t count = std::min(ACount, FSize - GetPosition());
  if (count <= 0) return 0;
  if (FBytesInBuf == 0) ReadBuffer();
  int64_t left = count;
  int64_t part = std::min(left, FBufSize - FBufPos);
  std::memcpy(out, FBuffer.data() + FBufPos, size_t(part));
  while (left > part) {
    out += part;
    left -= part;
    if (FDirty) Commit();
    FBufStart += FBufSize;
    FBufPos = 0;
    ReadBuffer();
    part = std::min(left, FBufSize);
    std::memcpy(out, FBuffer.data(), size_t(part));
  }
  FBufPos += part;
  if (FBufPos >= FBufSize) {
    FBufStart += FBufSize;
    FBufPos = 0;
    FBytesInBuf = 0;
  }
  return count;
}

int64_t TBufferedStream::Write(const void* ABuffer, int64_t ACount) {
  const auto* in = static_cast<const uint8_t*>(ABuffer);
  if (ACount <= 0) return 0;
  if (FBytesInBuf == 0 && FBufStart < FSize) ReadBuffer();
  int64_t left = ACount;
  int64_t part = std::min(left, FBufSize - FBufPos);
  std::memcpy(FBuffer.data() + FBufPos, in, size_t(part));
  FDirty = true;
  while (left > part) {
    in += part;
    left -= part;
    FBytesInBuf = FBufSize;
    WriteBuffer();
    FBufStart += FBufSize;
    FBufPos = 0;
    FBytesInBuf = 0;
    if (FBufStart < FSize) ReadBuffer();
    part = std::min(left, FBufSize);
    std::memcpy(FBuffer.data(), in, size_t(part));
  }
  FBufPos += part;
  FBytesInBuf = std::max(FBytesInBuf, FBufPos);
  FSize = std::max(FSize, FBufStart + FBytesInBuf);
  if (FBufPos >= FBufSize) {
    WriteBuffer();
    FDirty = false;
    FBufStart += FBufSize;
    FBufPos = 0;
    FBytesInBuf = 0;
  }
  return ACount;
}

int64_t TBufferedStream::Seek(int64_t AOffset, int AOrigin) {
  int64_t offset;
  switch (AOrigin) {
    case 0: offset = AOffset; break;
    case 1: offset = GetPosition() + AOffset; break;
    case 2: offset = FSize + AOffset; break;
    default: throw Exception("TBufferedStream.Seek: invalid origin");
  }
  if (offset < 0) throw Exception("TBufferedStream.Seek: invalid origin");
  const int64_t start = offset / FBufSize * FBufSize;
  if (start != FBufStart) {
    Commit();
    FBufStart = start;
    FBytesInBuf = 0;
  }
  FBufPos = offset - FBufStart;
  return offset;
}

namespace {

// File set: a TFileStream owned by its buffered stream's handle.
struct FileHandle {
  TOwned<TFileStream> File;
  TOwned<TBufferedStream> Buffered;
};

TImagingHandle FileOpen(const void* src, uint16_t mode) {
  auto h = std::make_unique<FileHandle>();
  h->File.reset(New<TFileStream>(*static_cast<const std::string*>(src), mode));
  h->Buffered.reset(New<TBufferedStream>(h->File.get()));
  return h.release();
}
TBufferedStream* Buf(TImagingHandle h) { return static_cast<FileHandle*>(h)->Buffered.get(); }

const TImagingIOCallbacks FileSet{
    [](const void* s) { return FileOpen(s, fmOpenRead | fmShareDenyWrite); },
    [](const void* s) { return FileOpen(s, fmCreate | fmShareDenyWrite); },
    [](TImagingHandle h) {
      std::unique_ptr<FileHandle> owned(static_cast<FileHandle*>(h));
      if (!owned) return;
      // Commit here, not in the destructor: a failed final write must fail the save.
      auto freeAll = Finally([&] {
        owned->Buffered.reset();
        owned->File.reset();
      });
      owned->Buffered->Commit();
    },
    [](TImagingHandle h) { return Buf(h)->GetPosition() >= Buf(h)->GetSize(); },
    [](TImagingHandle h, int64_t o, int origin) { return Buf(h)->Seek(o, origin); },
    [](TImagingHandle h) { return Buf(h)->GetPosition(); },
    [](TImagingHandle h, void* b, int64_t c) { return Buf(h)->Read(b, c); },
    [](TImagingHandle h, const void* b, int64_t c) { return Buf(h)->Write(b, c); },
};

TStream* Str(TImagingHandle h) { return static_cast<TStream*>(h); }
const TImagingIOCallbacks StreamSet{
    [](const void* s) { return TImagingHandle(const_cast<void*>(s)); },
    [](const void* s) { return TImagingHandle(const_cast<void*>(s)); },
    [](TImagingHandle) {},
    [](TImagingHandle h) { return Str(h)->GetPosition() >= Str(h)->GetSize(); },
    [](TImagingHandle h, int64_t o, int origin) {
      if (origin < 0 || origin > 2) return Str(h)->GetPosition();
      return Str(h)->Seek(o, TSeekOrigin(origin));
    },
    [](TImagingHandle h) { return Str(h)->GetPosition(); },
    [](TImagingHandle h, void* b, int64_t c) { return Str(h)->Read(b, c); },
    [](TImagingHandle h, const void* b, int64_t c) { return Str(h)->Write(b, c); },
};

TMemoryBlockRec* Mem(TImagingHandle h) { return static_cast<TMemoryBlockRec*>(h); }
const TImagingIOCallbacks MemorySet{
    [](const void* s) { return TImagingHandle(const_cast<void*>(s)); },
    [](const void* s) { return TImagingHandle(const_cast<void*>(s)); },
    [](TImagingHandle) {},
    [](TImagingHandle h) { return Mem(h)->Position >= Mem(h)->Size; },
    [](TImagingHandle h, int64_t o, int origin) {
      TMemoryBlockRec* m = Mem(h);
      int64_t p = m->Position;
      if (origin == 0) p = o;
      else if (origin == 1) p = m->Position + o;
      else if (origin == 2) p = m->Size + o;
      // Positions stay inside the block so that reads and writes never leave it.
      m->Position = std::clamp<int64_t>(p, 0, m->Size);
      return m->Position;
    },
    [](TImagingHandle h) { return Mem(h)->Position; },
    [](TImagingHandle h, void* b, int64_t c) {
      TMemoryBlockRec* m = Mem(h);
      const int64_t n = std::max<int64_t>(0, std::min(c, m->Size - m->Position));
      if (n) std::memcpy(b, static_cast<uint8_t*>(m->Data) + m->Position, size_t(n));
      m->Position += n;
      return n;
    },
    [](TImagingHandle h, const void* b, int64_t c) {
      TMemoryBlockRec* m = Mem(h);
      const int64_t n = std::max<int64_t>(0, std::min(c, m->Size - m->Position));
      if (n) std::memcpy(static_cast<uint8_t*>(m->Data) + m->Position, b, size_t(n));
      m->Position += n;
      return n;
    },
};

}  // namespace

const TImagingIOCallbacks FileIO = FileSet;
const TImagingIOCallbacks StreamIO = StreamSet;
const TImagingIOCallbacks MemoryIO = MemorySet;

int64_t TImagingIO::Remaining() const {
  const int64_t pos = Position();
  const int64_t end = Seek(0, 2);
  Seek(pos, 0);
  return std::max<int64_t>(0, end - pos);
}

void TImagingIO::ReadExact(void* ABuffer, int64_t ACount) const {
  if (ACount > 0 && Read(ABuffer, ACount) != ACount) throw EImagingError("unexpected end of image data");
}

void TImagingIO::WriteExact(const void* ABuffer, int64_t ACount) const {
  if (ACount > 0 && Write(ABuffer, ACount) != ACount) throw EImagingError("image data could not be written completely");
}

}  // namespace quorvel
