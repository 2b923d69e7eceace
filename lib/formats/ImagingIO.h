#pragma once
// I/O callback sets of the image codecs (over a file, a caller's stream or a memory block)
// and TBufferedStream, the 16 KiB cache the file set reads and writes through.
//
// A load or save opens a handle of one set and hands both to the codec as a TImagingIO; no
// set is process-wide, so codecs may run on several threads at once.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/Object.h"

namespace quorvel {

class TStream;

class TBufferedStream : public TObject {
public:
  explicit TBufferedStream(TStream* AStream);
  ~TBufferedStream() override;

  int64_t Read(void* ABuffer, int64_t ACount);
  int64_t Write(const void* ABuffer, int64_t ACount);
  int64_t Seek(int64_t AOffset, int AOrigin);
  void Commit();
  int64_t GetPosition() const { return FBufStart + FBufPos; }
  void SetPosition(int64_t AValue) { Seek(AValue, 0); }
  int64_t GetSize() const { return FSize; }

  // Exposed for tests of the cache's bookkeeping.
  int64_t GetBufPos() const { return FBufPos; }
  int64_t GetBytesInBuf() const { return FBytesInBuf; }

private:
  void ReadBuffer();
  void WriteBuffer();

  std::vector<uint8_t> FBuffer;
  int64_t FBufSize = 16384;
  int64_t FBufStart = 0;
  int64_t FBufPos = 0;
  int64_t FBytesInBuf = 0;
  int64_t FSize = 0;
  bool FDirty = false;
  TStream* FStream;
};

using TImagingHandle = void*;

struct TImagingIOCallbacks {
  TImagingHandle (*OpenReader)(const void* ASource);
  TImagingHandle (*OpenWriter)(const void* ATarget);
  void (*Release)(TImagingHandle AHandle);
  bool (*AtEnd)(TImagingHandle AHandle);
  // Origin 0 from the start, 1 from the current position, 2 from the end.
  int64_t (*MoveTo)(TImagingHandle AHandle, int64_t AOffset, int AOrigin);
  int64_t (*CurrentPosition)(TImagingHandle AHandle);
  int64_t (*ReadData)(TImagingHandle AHandle, void* ABuffer, int64_t ACount);
  int64_t (*WriteData)(TImagingHandle AHandle, const void* ABuffer, int64_t ACount);
};

// Sources and targets: the file set takes a const std::string* (the file name), the stream
// set a TStream*, the memory set a TMemoryBlockRec*.
extern const TImagingIOCallbacks FileIO;
extern const TImagingIOCallbacks StreamIO;
extern const TImagingIOCallbacks MemoryIO;

struct TMemoryBlockRec {
  void* Data = nullptr;
  int64_t Position = 0;
  int64_t Size = 0;
};

// An open handle of one set.
struct TImagingIO {
  const TImagingIOCallbacks* Callbacks = nullptr;
  TImagingHandle Handle = nullptr;

  int64_t Read(void* ABuffer, int64_t ACount) const { return Callbacks->ReadData(Handle, ABuffer, ACount); }
  int64_t Write(const void* ABuffer, int64_t ACount) const { return Callbacks->WriteData(Handle, ABuffer, ACount); }
  int64_t Seek(int64_t AOffset, int AOrigin) const { return Callbacks->MoveTo(Handle, AOffset, AOrigin); }
  int64_t Position() const { return Callbacks->CurrentPosition(Handle); }
  bool AtEnd() const { return Callbacks->AtEnd(Handle); }
  // Bytes between the position and the end; lets codecs refuse sizes before allocating.
  int64_t Remaining() const;
  // Exactly ACount bytes or EImagingError (short data is a failed load or save).
  void ReadExact(void* ABuffer, int64_t ACount) const;
  void WriteExact(const void* ABuffer, int64_t ACount) const;
};

}  // namespace quorvel
