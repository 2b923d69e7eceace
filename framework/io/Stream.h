#pragma once
// Byte streams: the abstract TStream and its memory, byte-array and file kinds.
// Sizes, positions and counts are Int64. Read returns the bytes it delivered (fewer at the
// end); ReadBuffer/WriteBuffer move exactly the count or raise EReadError/EWriteError.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Object.h"

namespace quorvel {

using TBytes = std::vector<uint8_t>;

enum class TSeekOrigin : uint8_t { soBeginning = 0, soCurrent = 1, soEnd = 2 };
constexpr TSeekOrigin soBeginning = TSeekOrigin::soBeginning;
constexpr TSeekOrigin soCurrent = TSeekOrigin::soCurrent;
constexpr TSeekOrigin soEnd = TSeekOrigin::soEnd;

// File mode words: one access value or'ed with one share value; fmCreate replaces the
// access part (the file is created or truncated and opened read-write).
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmExclusive = 0x0004;  // with fmCreate: fail when the file exists
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFF00;

class TStream : public TObject {
public:
  // Delivers up to count bytes; 0 at the end. Negative counts read nothing.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Stores up to count bytes and answers how many were stored.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // Answers the new position. A resulting position below 0 raises EStreamError.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t GetPosition() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  virtual int64_t GetSize();
  // Truncates or extends; streams that cannot resize raise EStreamError.
  virtual void SetSize(int64_t newSize);

  // Exactly count bytes or EReadError ("Stream read error").
  void ReadBuffer(void* buffer, int64_t count);
  // Exactly count bytes or EWriteError ("Stream write error").
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; count <= 0 copies the whole source from
  // its start. bufferSize <= 0 picks a default block size. Answers the bytes copied.
  int64_t CopyFrom(TStream* source, int64_t count = 0, int64_t bufferSize = 0);

  // Plain-value helpers over ReadBuffer/WriteBuffer (host byte order, little-endian here).
  template <class T>
  T ReadValue() {
    T v;
    ReadBuffer(&v, sizeof(T));
    return v;
  }
  template <class T>
  void WriteValue(const T& v) {
    WriteBuffer(&v, sizeof(T));
  }

protected:
  // Position arithmetic shared by the seekable kinds; raises on a negative result.
  static int64_t ResolveSeek(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size);
};

// A stream over a block of memory that it does not grow itself.
class TCustomMemoryStream : public TStream {
public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override { return FSize; }

  void* GetMemory() const { return FMemory; }
  void SaveToStream(TStream* stream);
  void SaveToFile(const std::string& fileName);

protected:
  void SetPointer(void* memory, int64_t size);

  void* FMemory = nullptr;
  int64_t FSize = 0;
  int64_t FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
public:
  TMemoryStream() = default;
  ~TMemoryStream() override;

  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t newSize) override;
  void Clear();
  // Replaces the content by the whole of stream (from its start) / of the file.
  void LoadFromStream(TStream* stream);
  void LoadFromFile(const std::string& fileName);

  int64_t GetCapacity() const { return FCapacity; }
  void SetCapacity(int64_t newCapacity);

  // Takes over block, from std::malloc or std::realloc and capacity bytes long, as the whole
  // content: its first size bytes, positioned at their end. The old content is released. A
  // producer that built its output in a block of its own hands it over without a copy.
  virtual void Adopt(void* block, int64_t size, int64_t capacity) noexcept;
  // The stream as a memory stream of exactly these kinds, whose writes are plain copies into
  // the block, else nullptr: a derived kind may watch or refuse its writes, so a producer that
  // would bypass Write must not bypass it.
  static TMemoryStream* PlainMemory(TStream* stream) noexcept;

protected:
  // Resizes the block to hold newCapacity bytes (may round it up) and answers it;
  // capacity 0 frees the block and answers nullptr.
  virtual void* Realloc(int64_t& newCapacity);
  // The capacity to ask for when a write needs `needed` bytes.
  virtual int64_t GrowCapacity(int64_t needed) const;

  int64_t FCapacity = 0;
};

// A memory stream whose block is a TBytes. GetBytes() holds exactly Size bytes, except
// after SetCapacity beyond the size, when it holds the capacity. After Adopt the block is the
// adopted one, grown like a TMemoryStream's; the first GetBytes() then moves the content into
// the TBytes, so it changes GetMemory().
class TBytesStream : public TMemoryStream {
public:
  TBytesStream() = default;
  explicit TBytesStream(TBytes bytes);
  ~TBytesStream() override;

  const TBytes& GetBytes() const;
  void Adopt(void* block, int64_t size, int64_t capacity) noexcept override;

protected:
  void* Realloc(int64_t& newCapacity) override;
  int64_t GrowCapacity(int64_t needed) const override;

private:
  TBytes FBytes;
  bool FAdopted = false;  // the block is an adopted one, not FBytes'
};

// A file through a POSIX descriptor. "\" is accepted as a path separator. Share modes
// become advisory flock locks (exclusive / deny read: LOCK_EX, deny write: LOCK_SH).
// Errors: EFOpenError "Cannot open file \"%s\". %s", EFCreateError "Cannot create file
// \"%s\". %s" (the second %s is the system's text).
class TFileStream : public TStream {
public:
  TFileStream(const std::string& fileName, uint16_t mode);
  TFileStream(const std::string& fileName, uint16_t mode, uint32_t rights);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t newSize) override;

  const std::string& GetFileName() const { return FFileName; }
  int GetHandle() const { return FHandle; }

private:
  std::string FFileName;
  int FHandle = -1;
};

}  // namespace quorvel
