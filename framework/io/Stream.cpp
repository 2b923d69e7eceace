#include "framework/io/Stream.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <typeinfo>

#include "framework/io/Path.h"

namespace quorvel {

namespace {

constexpr int64_t kDefaultCopyBlock = 1 << 20;
constexpr int64_t kMemoryDelta = 8192;  // TMemoryStream capacity granularity

std::string SystemErrorText(int code) {
  char buf[256];
  // GNU strerror_r may answer a static string instead of filling buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  return text ? text : "Unknown error";
}

}  // namespace

// ---- TStream ----

int64_t TStream::GetSize() {
  const int64_t pos = Seek(0, soCurrent);
  const int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream does not support resizing"); }

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0) throw EReadError("Stream read error");
  auto* p = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Read(p, count);
    if (n <= 0) throw EReadError("Stream read error");
    p += n;
    count -= n;
  }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0) throw EWriteError("Stream write error");
  auto* p = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const int64_t n = Write(p, count);
    if (n <= 0) throw EWriteError("Stream write error");
    p += n;
    count -= n;
  }
}

int64_t TStream::CopyFrom(TStream* source, int64_t count, int64_t bufferSize) {
  if (!source) throw EArgumentNilException("Source");
  if (count <= 0) {
    source->SetPosition(0);
    count = source->GetSize();
  }
  if (count == 0) return 0;
  if (bufferSize <= 0) bufferSize = kDefaultCopyBlock;
  const int64_t block = std::min(bufferSize, count);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(block)]);
  int64_t left = count;
  while (left > 0) {
    const int64_t n = std::min(left, block);
    source->ReadBuffer(buf.get(), n);
    WriteBuffer(buf.get(), n);
    left -= n;
  }
  return count;
}

int64_t TStream::ResolveSeek(int64_t offset, TSeekOrigin origin, int64_t position, int64_t size) {
  int64_t base = 0;
  switch (origin) {
    case soBeginning: base = 0; break;
    case soCurrent: base = position; break;
    case soEnd: base = size; break;
    default: throw EStreamError("Invalid seek origin");
  }
  if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset) || base + offset < 0)
    throw EStreamError("Invalid stream position");
  return base + offset;
}

// ---- TCustomMemoryStream ----

void TCustomMemoryStream::SetPointer(void* memory, int64_t size) {
  FMemory = memory;
  FSize = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || FPosition >= FSize) return 0;
  const int64_t n = std::min(count, FSize - FPosition);
  std::memcpy(buffer, static_cast<uint8_t*>(FMemory) + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  FPosition = ResolveSeek(offset, origin, FPosition, FSize);
  return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream* stream) {
  if (!stream) throw EArgumentNilException("Stream");
  if (FSize > 0) stream->WriteBuffer(FMemory, FSize);
}

void TCustomMemoryStream::SaveToFile(const std::string& fileName) {
  TFileStream fs(fileName, fmCreate);
  SaveToStream(&fs);
}

// ---- TMemoryStream ----

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void* TMemoryStream::Realloc(int64_t& newCapacity) {
  if (newCapacity > 0 && newCapacity != FSize)
    newCapacity = (newCapacity + (kMemoryDelta - 1)) & ~(kMemoryDelta - 1);
  if (newCapacity == FCapacity) return FMemory;
  if (newCapacity == 0) {
    std::free(FMemory);
    return nullptr;
  }
  if (static_cast<uint64_t>(newCapacity) > std::numeric_limits<size_t>::max())
    throw EStreamError("Out of memory while expanding memory stream");
  void* p = std::realloc(FMemory, static_cast<size_t>(newCapacity));
  if (!p) throw EStreamError("Out of memory while expanding memory stream");
  return p;
}

int64_t TMemoryStream::GrowCapacity(int64_t needed) const {
  // Geometric growth keeps appends amortised O(1).
  return std::max(needed, FCapacity + FCapacity / 2);
}

void TMemoryStream::SetCapacity(int64_t newCapacity) {
  if (newCapacity < 0) throw EStreamError("Invalid stream size");
  if (newCapacity < FSize) newCapacity = FSize;
  FMemory = Realloc(newCapacity);
  FCapacity = newCapacity;
}

void TMemoryStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  const int64_t oldSize = FSize;
  if (newSize > FCapacity) {
    int64_t cap = newSize;
    FMemory = Realloc(cap);
    FCapacity = cap;
  } else if (newSize < oldSize) {
    // Shrinking hands memory back like the run-time does.
    int64_t cap = newSize;
    FSize = newSize;
    FMemory = Realloc(cap);
    FCapacity = cap;
  }
  if (newSize > oldSize)
    std::memset(static_cast<uint8_t*>(FMemory) + oldSize, 0, static_cast<size_t>(newSize - oldSize));
  FSize = newSize;
  if (FPosition > newSize) FPosition = newSize;
}

void TMemoryStream::Clear() {
  int64_t zero = 0;
  FSize = 0;
  FPosition = 0;
  FMemory = Realloc(zero);
  FCapacity = 0;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (FPosition > std::numeric_limits<int64_t>::max() - count)
    throw EWriteError("Stream write error");
  const int64_t end = FPosition + count;
  if (end > FSize) {
    if (end > FCapacity) {
      int64_t cap = GrowCapacity(end);
      FMemory = Realloc(cap);
      FCapacity = cap;
    }
    if (FPosition > FSize)  // a seek past the end leaves a zero-filled gap
      std::memset(static_cast<uint8_t*>(FMemory) + FSize, 0, static_cast<size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(static_cast<uint8_t*>(FMemory) + FPosition, buffer, static_cast<size_t>(count));
  FPosition = end;
  return count;
}

void TMemoryStream::Adopt(void* block, int64_t size, int64_t capacity) noexcept {
  int64_t zero = 0;
  FSize = 0;
  FMemory = Realloc(zero);  // frees: cannot throw
  FMemory = block;
  FCapacity = capacity;
  FSize = size;
  FPosition = size;
}

TMemoryStream* TMemoryStream::PlainMemory(TStream* stream) noexcept {
  if (!stream) return nullptr;
  const std::type_info& kind = typeid(*stream);
  if (kind == typeid(TMemoryStream) || kind == typeid(TBytesStream)) return static_cast<TMemoryStream*>(stream);
  return nullptr;
}

void TMemoryStream::LoadFromStream(TStream* stream) {
  if (!stream) throw EArgumentNilException("Stream");
  stream->SetPosition(0);
  const int64_t count = stream->GetSize();
  SetSize(count);
  FPosition = 0;
  if (count > 0) stream->ReadBuffer(FMemory, count);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream fs(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(&fs);
}

// ---- TBytesStream ----

TBytesStream::TBytesStream(TBytes bytes) : FBytes(std::move(bytes)) {
  FCapacity = static_cast<int64_t>(FBytes.size());
  SetPointer(FBytes.empty() ? nullptr : FBytes.data(), FCapacity);
}

TBytesStream::~TBytesStream() {
  if (!FAdopted) FMemory = nullptr;  // the vector owns the block
}

const TBytes& TBytesStream::GetBytes() const {
  if (FAdopted && FSize > 0) {
    // Only a stream that was written to holds an adopted block, so it is not a const object.
    auto* self = const_cast<TBytesStream*>(this);
    const auto* p = static_cast<const uint8_t*>(FMemory);
    self->FBytes.assign(p, p + FSize);
    std::free(self->FMemory);
    self->FMemory = self->FBytes.data();
    self->FCapacity = FSize;
    self->FAdopted = false;
  }
  return FBytes;
}

void TBytesStream::Adopt(void* block, int64_t size, int64_t capacity) noexcept {
  if (!FAdopted) {
    TBytes().swap(FBytes);
    FMemory = nullptr;
    FCapacity = 0;
    FAdopted = true;
  }
  TMemoryStream::Adopt(block, size, capacity);
}

void* TBytesStream::Realloc(int64_t& newCapacity) {
  if (FAdopted) return TMemoryStream::Realloc(newCapacity);
  // Exact: the vector's length is the stream's size; std::vector grows its own capacity
  // geometrically, so appends stay amortised O(1).
  FBytes.resize(static_cast<size_t>(newCapacity));
  return FBytes.empty() ? nullptr : FBytes.data();
}

int64_t TBytesStream::GrowCapacity(int64_t needed) const {
  return FAdopted ? TMemoryStream::GrowCapacity(needed) : needed;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : TFileStream(fileName, mode, 0666) {}

TFileStream::TFileStream(const std::string& fileName, uint16_t mode, uint32_t rights)
    : FFileName(fileName) {
  const std::string path = TPath::ToPosix(fileName);
  const bool create = (mode & fmCreate) == fmCreate;
  int flags = O_CLOEXEC;
  if (create) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    if (mode & fmExclusive) flags |= O_EXCL;
  } else {
    switch (mode & 3) {
      case fmOpenRead: flags |= O_RDONLY; break;
      case fmOpenWrite: flags |= O_WRONLY; break;
      default: flags |= O_RDWR; break;
    }
  }
  auto fail = [&](int err) {
    if (FHandle >= 0) ::close(FHandle);
    FHandle = -1;
    const std::string text = SystemErrorText(err);
    if (create) throw EFCreateError("Cannot create file \"" + fileName + "\". " + text);
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + text);
  };
  if (path.empty()) fail(ENOENT);
  do {
    FHandle = ::open(path.c_str(), flags, static_cast<mode_t>(rights));
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) fail(errno);
  // A directory opens read-only on Linux and then fails every read.
  struct stat st {};
  if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) fail(EISDIR);
  const uint16_t share = mode & 0x00F0;
  int lock = 0;
  if (share == fmShareExclusive || share == fmShareDenyRead) lock = LOCK_EX;
  else if (share == fmShareDenyWrite) lock = LOCK_SH;
  if (lock != 0 && ::flock(FHandle, lock | LOCK_NB) != 0) fail(errno);
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::read(FHandle, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n >= 0) return n;
    if (errno != EINTR) throw EReadError("Stream read error: " + SystemErrorText(errno));
  }
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  for (;;) {
    const ssize_t n = ::write(FHandle, buffer, static_cast<size_t>(std::min<int64_t>(count, 1 << 30)));
    if (n >= 0) return n;
    if (errno != EINTR) throw EWriteError("Stream write error: " + SystemErrorText(errno));
  }
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = SEEK_SET;
  switch (origin) {
    case soBeginning: whence = SEEK_SET; break;
    case soCurrent: whence = SEEK_CUR; break;
    case soEnd: whence = SEEK_END; break;
    default: throw EStreamError("Invalid seek origin");
  }
  const off_t r = ::lseek(FHandle, static_cast<off_t>(offset), whence);
  if (r < 0) throw EStreamError("Invalid stream position: " + SystemErrorText(errno));
  return r;
}

int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(FHandle, &st) != 0) throw EStreamError(SystemErrorText(errno));
  return st.st_size;
}

void TFileStream::SetSize(int64_t newSize) {
  if (newSize < 0) throw EStreamError("Invalid stream size");
  if (::ftruncate(FHandle, static_cast<off_t>(newSize)) != 0)
    throw EStreamError("Cannot change the size of \"" + FFileName + "\". " + SystemErrorText(errno));
  if (GetPosition() > newSize) Seek(newSize, soBeginning);
}

}  // namespace quorvel
