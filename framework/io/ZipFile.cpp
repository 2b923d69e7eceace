#include "framework/io/ZipFile.h"

#include <minizip/zip.h>  // writes; libzip reads
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "framework/io/Path.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

// The end-of-central-directory record of an archive without entries.
constexpr uint8_t kEmptyArchive[22] = {0x50, 0x4B, 0x05, 0x06};

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t DosDateTime(time_t t) {
  tm lt{};
  if (!localtime_r(&t, &lt) || lt.tm_year < 80) return (1 << 5 | 1) << 16;  // 1980-01-01
  const uint32_t date = static_cast<uint32_t>(((lt.tm_year - 80) << 9) | ((lt.tm_mon + 1) << 5) | lt.tm_mday);
  const uint32_t time = static_cast<uint32_t>((lt.tm_hour << 11) | (lt.tm_min << 5) | (lt.tm_sec / 2));
  return (date << 16) | time;
}

}  // namespace

// A read-only libzip source over a TStream. libzip reads a directory record by record in
// small pieces: those come from a block read ahead, not from a seek and a read each. The
// stream does not change while libzip has it (writes come after it is discarded).
struct TZipFile::Source {
  static constexpr uint64_t BlockSize = 64 * 1024;

  TStream* Stream = nullptr;
  zip_error_t Error{};
  uint64_t ReadPos = 0;
  int64_t Size = -1;  // the stream's, asked once
  std::vector<uint8_t> Block;
  uint64_t BlockAt = 0;
  uint64_t BlockLen = 0;
  std::string LastMessage;  // text of a stream exception caught inside a callback

  Source() { zip_error_init(&Error); }
  ~Source() { zip_error_fini(&Error); }

  int64_t StreamSize() {
    if (Size < 0) Size = Stream->GetSize();
    return Size;
  }

  int64_t Fail(int code, const Exception& e) {
    LastMessage = e.Message();
    zip_error_set(&Error, code, EIO);
    return -1;
  }

  static zip_int64_t Callback(void* state, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    return static_cast<Source*>(state)->Handle(data, len, cmd);
  }

  zip_int64_t Handle(void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        ReadPos = 0;
        return 0;
      case ZIP_SOURCE_READ:
        try {
          const uint64_t want = std::min<zip_uint64_t>(len, 1u << 30);
          if (want >= BlockSize) {
            Stream->SetPosition(static_cast<int64_t>(ReadPos));
            const int64_t n = Stream->Read(data, static_cast<int64_t>(want));
            ReadPos += static_cast<uint64_t>(n);
            return n;
          }
          if (ReadPos < BlockAt || ReadPos >= BlockAt + BlockLen) {
            Block.resize(BlockSize);
            BlockAt = ReadPos;
            BlockLen = 0;
            Stream->SetPosition(static_cast<int64_t>(ReadPos));
            BlockLen = static_cast<uint64_t>(Stream->Read(Block.data(), static_cast<int64_t>(BlockSize)));
          }
          if (ReadPos < BlockAt || ReadPos >= BlockAt + BlockLen) return 0;  // the end of the stream
          const uint64_t n = std::min(want, BlockAt + BlockLen - ReadPos);
          std::memcpy(data, Block.data() + (ReadPos - BlockAt), n);
          ReadPos += n;
          return static_cast<zip_int64_t>(n);
        } catch (const Exception& e) {
          BlockLen = 0;
          return Fail(ZIP_ER_READ, e);
        }
      case ZIP_SOURCE_CLOSE:
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        if (len < sizeof(*st)) {
          zip_error_set(&Error, ZIP_ER_INVAL, 0);
          return -1;
        }
        zip_stat_init(st);
        try {
          st->size = static_cast<zip_uint64_t>(StreamSize());
        } catch (const Exception& e) {
          return Fail(ZIP_ER_READ, e);
        }
        st->valid |= ZIP_STAT_SIZE;
        return sizeof(*st);
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&Error, data, len);
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_SEEK: {
        int64_t size = 0;
        try {
          size = StreamSize();
        } catch (const Exception& e) {
          return Fail(ZIP_ER_SEEK, e);
        }
        const zip_int64_t pos = zip_source_seek_compute_offset(ReadPos, static_cast<zip_uint64_t>(size), data, len, &Error);
        if (pos < 0) return -1;
        ReadPos = static_cast<uint64_t>(pos);
        return 0;
      }
      case ZIP_SOURCE_TELL:
        return static_cast<zip_int64_t>(ReadPos);
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
      default:
        zip_error_set(&Error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }
};

TZipFile::TZipFile() = default;

TZipFile::~TZipFile() {
  if (FZip) {
    Quietly("TZipFile: closing", [&] { Close(); });  // destructors never throw
    if (FZip) zip_discard(FZip);
  }
}

void TZipFile::RaiseZip(const std::string& what) const {
  std::string msg = what;
  if (FZip) msg += ": " + std::string(zip_strerror(FZip));
  if (FSource && !FSource->LastMessage.empty()) msg += " (" + FSource->LastMessage + ")";
  throw EZipException(msg);
}

void TZipFile::Open(const std::string& fileName, TZipMode mode) {
  if (FMode != zmClosed) Close();
  uint16_t fileMode = fmOpenRead | fmShareDenyWrite;
  if (mode == zmWrite) fileMode = fmCreate;
  else if (mode == zmReadWrite) fileMode = TFile::Exists(fileName) ? (fmOpenReadWrite | fmShareExclusive) : fmCreate;
  else if (mode != zmRead) throw EZipException("Invalid zip file mode");
  auto stream = std::make_unique<TFileStream>(fileName, fileMode);
  Open(stream.get(), mode);
  FOwnedStream = std::move(stream);
}

void TZipFile::Open(TStream* stream, TZipMode mode) {
  if (!stream) throw EArgumentNilException("Stream");
  if (FMode != zmClosed) Close();
  if (mode != zmRead && mode != zmReadWrite && mode != zmWrite) throw EZipException("Invalid zip file mode");
  FStream = stream;
  FMode = mode;
  // zmWrite starts a new archive over whatever the stream holds; an empty stream is one too.
  if (mode == zmWrite || stream->GetSize() == 0) {
    FChanged = mode != zmRead;  // closes as the 22-byte end record
    return;
  }
  try {
    OpenReader();
  } catch (const EZipException&) {
    ResetState();
    throw;
  }
  try {
    Refresh();
    ReadDirectoryOffsets();
    CheckOverlappingRecords();
    // Writing works on the directory as read here: it must be the one libzip reads.
    if (mode == zmReadWrite) {
      bool same = FDirectory.size() == FEntries.size();
      for (size_t i = 0; same && i < FEntries.size(); ++i) same = FDirectory[i].Name == FEntries[i].Name;
      if (!same) throw EZipException("Invalid zip archive: its central directory cannot be read for writing");
    }
  } catch (const EZipException&) {
    zip_discard(FZip);
    FZip = nullptr;
    ResetState();
    throw;
  }
}

void TZipFile::OpenReader() {
  auto source = std::make_unique<Source>();
  source->Stream = FStream;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_function_create(&Source::Callback, source.get(), &error);
  zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY, &error) : nullptr;
  if (!za) {
    std::string msg = "Invalid zip archive: " + std::string(zip_error_strerror(&error));
    if (!source->LastMessage.empty()) msg += " (" + source->LastMessage + ")";
    zip_error_fini(&error);
    if (src) zip_source_free(src);
    throw EZipException(msg);
  }
  zip_error_fini(&error);
  FZip = za;
  FSource = std::move(source);
}

// After a flush the entries on disk are known from the directory written; libzip reads them
// again only once something is read.
void TZipFile::EnsureReader() {
  if (FZip) return;
  OpenReader();
  for (TEntry& entry : FEntries) {
    if (entry.Added) continue;
    const zip_int64_t i = zip_name_locate(FZip, entry.Name.c_str(), ZIP_FL_ENC_GUESS);
    if (i < 0) RaiseZip("Entry \"" + entry.Name + "\" of the written directory cannot be read back");
    entry.ZipIndex = i;
  }
}

void TZipFile::Flush() {
  if (FMode == zmClosed || FMode == zmRead || !FChanged) return;
  // A large buffer is not kept for later writes.
  auto release = Finally([&] {
    if (FWriteBuffer.size() > (size_t(4) << 20)) TBytes().swap(FWriteBuffer);
  });
  if (FZip) zip_discard(FZip);  // it read the archive as it was
  FZip = nullptr;
  FSource.reset();
  try {
    WriteChanges();
    FStream->SetPosition(0);
    // The archive as written: every entry now lies in the file data, and the directory is
    // the one just written.
    if (FDirectory.size() != FEntries.size()) throw EZipException("the written directory cannot be read back");
    for (size_t i = 0; i < FEntries.size(); ++i) {
      if (FDirectory[i].Name != FEntries[i].Name) throw EZipException("the written directory cannot be read back");
      FEntries[i].Added = false;
      FEntries[i].ZipIndex = -1;
      TBytes().swap(FEntries[i].Data);
    }
    FChanged = false;
  } catch (const Exception& e) {
    ResetState();
    throw EZipException("Cannot write the zip archive: " + e.Message());
  }
}

// minizip copies the old directory records as they were and appends one per new entry
// behind the new data, then the end record: the first ALen bytes of the write buffer must show
// exactly that, each new record pointing at its own local header. Anything else (minizip
// having found another end record than the one it was given) would leave entries that no
// reader finds.
std::vector<TZipFile::TDirRecord> TZipFile::WrittenDirectory(size_t ALen, uint64_t& ACdOffset) const {
  const auto bad = [](const std::string& why) -> std::vector<TDirRecord> {
    throw EZipException("the archive cannot be appended to safely (" + why + ")");
  };
  const uint8_t* buf = FWriteBuffer.data();
  if (ALen < 22 || Get32(buf + ALen - 22) != 0x06054B50 || Get16(buf + ALen - 2) != 0)
    return bad("no end record behind the written directory");
  const uint8_t* e = buf + ALen - 22;
  const uint64_t cdSize = Get32(e + 12), cdOffset = Get32(e + 16), count = Get16(e + 10);
  if (cdOffset < FDataEnd || cdOffset - FDataEnd + cdSize + 22 != ALen)
    return bad("the written directory is not where its end record puts it");
  const uint8_t* cd = buf + (cdOffset - FDataEnd);
  size_t p = 0;
  for (const TDirRecord& record : FDirectory) {
    if (p + record.Raw.size() > cdSize || std::memcmp(cd + p, record.Raw.data(), record.Raw.size()) != 0)
      return bad("the directory records already there were not kept");
    p += record.Raw.size();
  }
  std::vector<TDirRecord> added;
  auto entry = FEntries.begin();
  while (p + 46 <= cdSize && Get32(cd + p) == 0x02014B50) {
    const size_t nameLen = Get16(cd + p + 28);
    const size_t recordLen = 46 + nameLen + Get16(cd + p + 30) + Get16(cd + p + 32);
    if (p + recordLen > cdSize) return bad("a written directory record is cut");
    std::string name(reinterpret_cast<const char*>(cd + p + 46), nameLen);
    entry = std::find_if(entry, FEntries.end(), [](const TEntry& x) { return x.Added; });
    if (entry == FEntries.end() || entry->Name != name) return bad("the written records are not the added entries");
    ++entry;
    const uint64_t local = Get32(cd + p + 42);
    if (local < FDataEnd || local + 30 + nameLen > cdOffset || Get32(buf + (local - FDataEnd)) != 0x04034B50 ||
        Get16(buf + (local - FDataEnd) + 26) != nameLen ||
        std::memcmp(buf + (local - FDataEnd) + 30, name.data(), nameLen) != 0)
      return bad("\"" + name + "\" is recorded away from its data");
    added.push_back({std::move(name), TBytes(cd + p, cd + p + recordLen)});
    p += recordLen;
  }
  if (std::find_if(entry, FEntries.end(), [](const TEntry& x) { return x.Added; }) != FEntries.end())
    return bad("an added entry has no written record");
  if (p != cdSize || FDirectory.size() + added.size() != count) return bad("the written directory has stray bytes");
  ACdOffset = cdOffset;
  return added;
}

bool TZipFile::IsCurrent() const {
  if (FMode == zmClosed) return false;
  if (FChanged) return true;  // nothing of it is written yet
  // The end record (entry count, directory size and offset, comment) and the stream's size
  // change with any archive written over this one; reading it is cheap.
  try {
    size_t cdSize = 0;
    for (const TDirRecord& record : FDirectory) cdSize += record.Raw.size();
    const TBytes tail = EndRecord(cdSize);
    if (FStream->GetSize() != static_cast<int64_t>(FDataEnd + cdSize + tail.size())) return false;
    TBytes held(tail.size());
    FStream->SetPosition(static_cast<int64_t>(FDataEnd + cdSize));
    FStream->ReadBuffer(held.data(), static_cast<int64_t>(held.size()));
    FStream->SetPosition(0);
    return held == tail;
  } catch (const Exception&) {
    return false;
  }
}

void TZipFile::ResetState() {
  TBytes().swap(FWriteBuffer);
  FWrittenLen = 0;
  FSource.reset();
  FStream = nullptr;
  FOwnedStream.reset();
  FMode = zmClosed;
  FEntries.clear();
  FOffsets.clear();
  FSpans.clear();
  FDirectory.clear();
  FDataEnd = 0;
  FComment.clear();
  FZip64 = false;
  FDeleted.clear();
  FChanged = false;
}

// Entries are read once per record: records that point into each other's data let a small
// archive inflate without bound. Local headers are at least 30 bytes before the data.
void TZipFile::CheckOverlappingRecords() {
  std::vector<TRecordSpan> spans = FSpans;
  std::sort(spans.begin(), spans.end(), [](const TRecordSpan& a, const TRecordSpan& b) { return a.Offset < b.Offset; });
  for (size_t i = 1; i < spans.size(); ++i) {
    const TRecordSpan& a = spans[i - 1];
    const TRecordSpan& b = spans[i];
    if (b.Offset < a.Offset + 30 + a.CompressedSize)
      throw EZipException(Format("Invalid zip archive: directory records %d and %d overlap (data at offset %d)",
                                 {std::min(a.Record, b.Record), std::max(a.Record, b.Record), int64_t(b.Offset)}));
  }
}


void TZipFile::Close() {
  if (FMode == zmClosed) return;
  if (FZip) zip_discard(FZip);  // libzip only ever read: nothing of it is written back
  FZip = nullptr;
  std::string error;
  if (FMode != zmRead && FChanged) {
    try {
      WriteChanges();
    } catch (const Exception& e) {
      error = "Cannot write the zip archive: " + e.Message();
    }
  }
  try {
    if (error.empty() && FMode != zmRead) FStream->SetPosition(0);
  } catch (const Exception& e) {
    error = "Cannot write the zip archive: " + e.Message();
  }
  ResetState();
  if (!error.empty()) throw EZipException(error);
}

void TZipFile::Refresh() {
  FEntries.clear();
  const zip_int64_t n = zip_get_num_entries(FZip, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* name = zip_get_name(FZip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!name) continue;
    TEntry entry;
    entry.Name = name;
    entry.ZipIndex = i;
    FEntries.push_back(std::move(entry));
  }
}

// The directory is also kept raw, record by record, for writing in place. Anything
// unexpected leaves it empty (headers then report offset 0; writing refuses to open).
void TZipFile::ReadDirectoryOffsets() {
  FOffsets.clear();
  FSpans.clear();
  FDirectory.clear();
  try {
    const int64_t size = FStream->GetSize();
    if (size < 22) return;
    const int64_t tail = std::min<int64_t>(size, 22 + 65535);
    TBytes buf(static_cast<size_t>(tail));
    FStream->SetPosition(size - tail);
    FStream->ReadBuffer(buf.data(), tail);
    int64_t eocd = -1;
    for (int64_t i = tail - 22; i >= 0; --i)
      if (Get32(&buf[static_cast<size_t>(i)]) == 0x06054B50) {
        eocd = i;
        break;
      }
    if (eocd < 0) return;
    const uint8_t* e = &buf[static_cast<size_t>(eocd)];
    const uint32_t cdSize = Get32(e + 12);
    const uint32_t cdOffset = Get32(e + 16);
    const uint16_t commentLen = std::min<uint16_t>(Get16(e + 20), static_cast<uint16_t>(tail - eocd - 22));
    FComment.assign(e + 22, e + 22 + commentLen);
    if (cdOffset == 0xFFFFFFFF || Get16(e + 10) == 0xFFFF) FZip64 = true;
    if (cdOffset == 0xFFFFFFFF || static_cast<int64_t>(cdOffset) + cdSize > size) return;
    FDataEnd = cdOffset;
    TBytes cd(cdSize);
    FStream->SetPosition(cdOffset);
    FStream->ReadBuffer(cd.data(), cdSize);
    size_t p = 0;
    while (p + 46 <= cd.size() && Get32(&cd[p]) == 0x02014B50) {
      const uint16_t nameLen = Get16(&cd[p + 28]);
      const uint16_t extraLen = Get16(&cd[p + 30]);
      const uint16_t commentLen = Get16(&cd[p + 32]);
      const size_t recordLen = 46 + size_t(nameLen) + extraLen + commentLen;
      if (p + recordLen > cd.size()) break;
      std::string name(reinterpret_cast<const char*>(&cd[p + 46]), nameLen);
      FOffsets.emplace_back(name, Get32(&cd[p + 42]));
      FDirectory.push_back({name, TBytes(cd.begin() + static_cast<ptrdiff_t>(p), cd.begin() + static_cast<ptrdiff_t>(p + recordLen))});
      uint64_t compressed = Get32(&cd[p + 20]);
      uint64_t offset = Get32(&cd[p + 42]);
      if (compressed == 0xFFFFFFFF || offset == 0xFFFFFFFF || Get32(&cd[p + 24]) == 0xFFFFFFFF) FZip64 = true;
      // Zip64: the values saturated in the record follow in its extra field, in this order.
      if (compressed == 0xFFFFFFFF || offset == 0xFFFFFFFF) {
        const uint8_t* x = &cd[p + 46 + nameLen];
        for (size_t q = 0; q + 4 <= extraLen;) {
          const uint16_t id = Get16(x + q), len = Get16(x + q + 2);
          if (q + 4 + len > extraLen) break;
          if (id == 0x0001) {
            size_t f = q + 4;
            auto next = [&](uint64_t& value) {
              if (value != 0xFFFFFFFF || f + 8 > q + 4 + len) return;
              value = uint64_t(Get32(x + f)) | uint64_t(Get32(x + f + 4)) << 32;
              f += 8;
            };
            uint64_t uncompressed = Get32(&cd[p + 24]);
            next(uncompressed);
            next(compressed);
            next(offset);
            break;
          }
          q += 4 + len;
        }
      }
      FSpans.push_back({offset, compressed, static_cast<int32_t>(FSpans.size())});
      p += recordLen;
    }
  } catch (const Exception&) {
    FOffsets.clear();
    FDirectory.clear();
  }
}

void TZipFile::RequireOpen(const char* what) const {
  if (FMode == zmClosed) throw EZipException(std::string(what) + ": the zip archive is not open");
}

void TZipFile::RequireWritable() const {
  RequireOpen("Write");
  if (FMode == zmRead) throw EZipException("The zip archive is open for reading only");
}

uint64_t TZipFile::ZipIndex(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= FEntries.size())
    throw EZipException("Zip entry index out of range (" + std::to_string(index) + ")");
  return static_cast<uint64_t>(index);
}

int32_t TZipFile::GetFileCount() const { return static_cast<int32_t>(FEntries.size()); }

std::vector<std::string> TZipFile::GetFileNames() const {
  std::vector<std::string> names;
  names.reserve(FEntries.size());
  for (const TEntry& entry : FEntries) names.push_back(entry.Name);
  return names;
}

std::string TZipFile::GetFileName(int32_t index) const { return FEntries[ZipIndex(index)].Name; }

int32_t TZipFile::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < FEntries.size(); ++i)
    if (FEntries[i].Name == name) return static_cast<int32_t>(i);
  return -1;
}

void TZipFile::RequireChangeable() const {
  RequireWritable();
  if (FZip64) throw EZipException("Archives with zip64 fields cannot be changed");
}

void TZipFile::Add(const void* data, size_t size, const std::string& name, TZipCompression compression) {
  RequireChangeable();
  if (name.empty()) throw EZipException("A zip entry needs a name");
  if (name.size() > 0xFFFF) throw EZipException("A zip entry name is limited to 65535 bytes");
  if (compression != zcStored && compression != zcDeflate)
    throw EZipException("Unsupported zip compression method " + std::to_string(static_cast<int>(compression)));
  // Offsets and sizes stay 32-bit (no zip64): deflate may grow data by a little.
  uint64_t total = FDataEnd + size + size / 100 + 1024;
  for (const TEntry& entry : FEntries)
    if (entry.Added) total += entry.Data.size() + entry.Data.size() / 100 + 1024;
  // So would a count of 65535 entries (the end record's count saturates there).
  size_t kept = FEntries.size();
  if (IndexOf(name) >= 0) --kept;
  if (total >= 0xFFFFFFFFu || kept + 1 >= 0xFFFF)
    throw EZipException("Cannot add \"" + name + "\": the archive would need zip64 fields");
  TEntry entry;
  entry.Name = name;
  entry.Added = true;
  entry.Compression = compression;
  try {
    entry.Data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
  } catch (const std::bad_alloc&) {
    throw EZipException("Out of memory adding \"" + name + "\"");
  }
  Delete(name);  // a replaced entry goes, the new one comes last
  FEntries.push_back(std::move(entry));
  FChanged = true;
}

void TZipFile::Add(const TBytes& data, const std::string& name, TZipCompression compression) {
  Add(data.data(), data.size(), name, compression);
}

void TZipFile::Add(TStream* data, const std::string& name, TZipCompression compression) {
  if (!data) throw EArgumentNilException("Data");
  RequireChangeable();
  const int64_t count = std::max<int64_t>(0, data->GetSize() - data->GetPosition());
  // A memory stream hands its bytes over without a copy of its own.
  if (auto* memory = dynamic_cast<TCustomMemoryStream*>(data)) {
    const auto* bytes = static_cast<const uint8_t*>(memory->GetMemory()) + memory->GetPosition();
    Add(bytes, static_cast<size_t>(count), name, compression);
    memory->SetPosition(memory->GetPosition() + count);
    return;
  }
  TBytes bytes(static_cast<size_t>(count));
  data->ReadBuffer(bytes.data(), count);
  Add(bytes.data(), bytes.size(), name, compression);
}

void TZipFile::AddFile(const std::string& fileName, const std::string& name, TZipCompression compression) {
  const TBytes bytes = TFile::ReadAllBytes(fileName);
  Add(bytes.data(), bytes.size(), name, compression);
}

TZipHeader TZipFile::GetHeader(int32_t index) const {
  RequireOpen("Read");
  const TEntry& entry = FEntries[ZipIndex(index)];
  if (entry.Added) {  // added since opening: what Close will write
    TZipHeader h;
    h.FileName = entry.Name;
    h.FileNameLength = static_cast<uint16_t>(entry.Name.size());
    h.CompressionMethod = static_cast<uint16_t>(entry.Compression);
    h.RequiredVersion = entry.Compression == zcDeflate ? 20 : 10;
    h.UncompressedSize = static_cast<uint32_t>(entry.Data.size());
    h.CRC32 = static_cast<uint32_t>(crc32(0, entry.Data.data(), static_cast<uInt>(entry.Data.size())));
    h.ModifiedDateTime = DosDateTime(time(nullptr));
    return h;
  }
  return LibzipHeader(index);
}

TZipHeader TZipFile::LibzipHeader(int32_t index) const {
  const_cast<TZipFile*>(this)->EnsureReader();
  const uint64_t zi = static_cast<uint64_t>(FEntries[ZipIndex(index)].ZipIndex);
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(FZip, zi, 0, &st) != 0) RaiseZip("Cannot read the header of entry " + std::to_string(index));
  TZipHeader h;
  h.FileName = FEntries[static_cast<size_t>(index)].Name;
  h.FileNameLength = static_cast<uint16_t>(std::min<size_t>(h.FileName.size(), 0xFFFF));
  if (st.valid & ZIP_STAT_COMP_METHOD) h.CompressionMethod = st.comp_method == static_cast<zip_uint16_t>(ZIP_CM_DEFAULT) ? 8 : st.comp_method;
  if (st.valid & ZIP_STAT_CRC) h.CRC32 = st.crc;
  if (st.valid & ZIP_STAT_SIZE) h.UncompressedSize = static_cast<uint32_t>(std::min<zip_uint64_t>(st.size, 0xFFFFFFFF));
  if (st.valid & ZIP_STAT_COMP_SIZE)
    h.CompressedSize = static_cast<uint32_t>(std::min<zip_uint64_t>(st.comp_size, 0xFFFFFFFF));
  if (st.valid & ZIP_STAT_MTIME) h.ModifiedDateTime = DosDateTime(st.mtime);
  h.RequiredVersion = h.CompressionMethod == 8 ? 20 : 10;
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(FZip, zi, 0, &opsys, &attributes) == 0) {
    h.ExternalAttributes = attributes;
    h.MadeByVersion = static_cast<uint16_t>((opsys << 8) | 63);
  }
  zip_uint32_t commentLen = 0;
  if (const char* c = zip_file_get_comment(FZip, zi, &commentLen, ZIP_FL_ENC_RAW); c && commentLen) {
    h.FileComment.assign(c, commentLen);
    h.FileCommentLength = static_cast<uint16_t>(std::min<zip_uint32_t>(commentLen, 0xFFFF));
  }
  zip_stat_t unchanged;
  if (zip_stat_index(FZip, zi, ZIP_FL_UNCHANGED, &unchanged) == 0) {
    for (const TDirRecord& record : FDirectory)
      if (record.Name == h.FileName) {
        h.LocalHeaderOffset = Get32(record.Raw.data() + 42);
        break;
      }
  }
  return h;
}


void TZipFile::SetMaxEntrySize(uint64_t value) {
  if (value > MaxEntrySizeLimit)
    throw EArgumentOutOfRangeException(Format("Zip entry size limit %d is out of range (at most %d)",
                                              {int64_t(value), int64_t(MaxEntrySizeLimit)}));
  FMaxEntrySize = value;
}

void TZipFile::Read(int32_t index, TBytes& bytes, TZipHeader& header) {
  RequireOpen("Read");
  header = GetHeader(index);
  const TEntry& entry = FEntries[ZipIndex(index)];
  if (entry.Added) {
    bytes = entry.Data;
    return;
  }
  EnsureReader();
  const uint64_t zi = static_cast<uint64_t>(entry.ZipIndex);
  const std::string& name = entry.Name;
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(FZip, zi, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
    RaiseZip("Cannot read the size of \"" + name + "\"");
  // The data must fill exactly the declared size, which stays within the limit. The buffer
  // grows with what actually inflates: a damaged directory that declares a huge size costs
  // no more than the data behind it.
  if (st.size > FMaxEntrySize)
    throw EZipException(Format("Cannot read \"%s\": its declared size %d is larger than the limit %d",
                               {name, int64_t(std::min<uint64_t>(st.size, INT64_MAX)), int64_t(FMaxEntrySize)}));
  constexpr uint64_t chunk = uint64_t(1) << 16;
  TBytes data;
  zip_file_t* f = zip_fopen_index(FZip, zi, 0);
  if (!f) RaiseZip("Cannot read \"" + name + "\"");
  ++FOpenEntries;
  auto close = Finally([&] {
    if (f == nullptr) return;
    zip_fclose(f);
    --FOpenEntries;
  });
  auto fail = [&](const std::string& reason) { throw EZipException("Cannot read \"" + name + "\": " + reason); };
  uint64_t used = 0;
  while (used < st.size) {
    const uint64_t want = std::min(chunk, st.size - used);
    try {
      // Doubling keeps the copies linear; the declared size caps it.
      if (data.size() < used + want) data.resize(static_cast<size_t>(std::min(st.size, std::max(used + want, used * 2))));
    } catch (const std::bad_alloc&) {
      fail(Format("out of memory for %d bytes", {int64_t(used + want)}));
    }
    const zip_int64_t n = zip_fread(f, data.data() + used, want);
    if (n < 0) fail(zip_file_strerror(f));
    if (n == 0) fail(Format("corrupt entry (%d bytes of %d declared)", {int64_t(used), int64_t(st.size)}));
    used += static_cast<uint64_t>(n);
  }
  uint8_t extra = 0;
  const zip_int64_t more = zip_fread(f, &extra, 1);
  if (more < 0) fail(zip_file_strerror(f));
  if (more > 0) fail(Format("corrupt entry (more data than the %d bytes declared)", {int64_t(st.size)}));
  const int rc = zip_fclose(f);
  f = nullptr;
  --FOpenEntries;
  if (rc != 0) {
    zip_error_t e;
    zip_error_init_with_code(&e, rc);
    const std::string msg = "Cannot read \"" + name + "\": " + zip_error_strerror(&e);
    zip_error_fini(&e);
    throw EZipException(msg);
  }
  bytes = std::move(data);
}

void TZipFile::Read(int32_t index, TBytes& bytes) {
  TZipHeader h;
  Read(index, bytes, h);
}

void TZipFile::Read(std::string_view name, TBytes& bytes) {
  const int32_t i = IndexOf(name);
  if (i < 0) throw EZipException("File \"" + std::string(name) + "\" not found in the zip archive");
  Read(i, bytes);
}

void TZipFile::Read(int32_t index, TStream*& stream, TZipHeader& header) {
  TBytes bytes;
  Read(index, bytes, header);
  stream = new TBytesStream(std::move(bytes));
}

void TZipFile::Read(std::string_view name, TStream*& stream, TZipHeader& header) {
  RequireOpen("Read");
  const int32_t i = IndexOf(name);
  if (i < 0) throw EZipException("File \"" + std::string(name) + "\" not found in the zip archive");
  Read(i, stream, header);
}

void TZipFile::Delete(int32_t index) {
  RequireChangeable();
  const size_t i = ZipIndex(index);
  if (!FEntries[i].Added) FDeleted.push_back(FEntries[i].Name);
  FEntries.erase(FEntries.begin() + static_cast<ptrdiff_t>(i));
  FChanged = true;
}

void TZipFile::Delete(std::string_view name) {
  RequireChangeable();
  const int32_t i = IndexOf(name);
  if (i >= 0) Delete(i);
}

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// The file minizip sees: the stream's data up to DataEnd followed by the first Len bytes of
// Buf, which start as the directory and end record and take what minizip writes. Writing into
// memory keeps minizip's error paths (which leak) out of reach; the new bytes reach the
// stream at once. Buf is the archive's own and kept between writes (its bytes past Len mean
// nothing), so that writing does not fault in fresh pages each time.
struct TAppendView {
  TStream* Stream = nullptr;
  uint64_t DataEnd = 0;
  TBytes* Buf = nullptr;
  size_t Len = 0;
  uint64_t Pos = 0;
  uint64_t End = 0;  // behind the last byte written
  bool Failed = false;
  std::string Message;

  uint64_t Size() const { return DataEnd + Len; }

  static voidpf Open(voidpf opaque, const void*, int) { return opaque; }
  static uLong Read(voidpf opaque, voidpf, void* buf, uLong size) {
    auto* v = static_cast<TAppendView*>(opaque);
    try {
      auto* out = static_cast<uint8_t*>(buf);
      uLong done = 0;
      if (v->Pos < v->DataEnd) {
        done = static_cast<uLong>(std::min<uint64_t>(size, v->DataEnd - v->Pos));
        v->Stream->SetPosition(static_cast<int64_t>(v->Pos));
        v->Stream->ReadBuffer(out, static_cast<int64_t>(done));
      }
      const uint64_t at = v->Pos + done - v->DataEnd;
      if (done < size && at < v->Len) {
        const uLong n = static_cast<uLong>(std::min<uint64_t>(size - done, v->Len - at));
        std::memcpy(out + done, v->Buf->data() + at, n);
        done += n;
      }
      v->Pos += done;
      return done;
    } catch (const Exception& e) {
      return v->Fail(e.Message());
    }
  }
  static uLong Write(voidpf opaque, voidpf, const void* buf, uLong size) {
    auto* v = static_cast<TAppendView*>(opaque);
    if (v->Pos < v->DataEnd) return v->Fail("write inside the file data");
    try {
      const size_t at = static_cast<size_t>(v->Pos - v->DataEnd);
      if (at + size > v->Buf->size()) v->Buf->resize(std::max<size_t>(at + size, v->Buf->size() + v->Buf->size() / 2));
      std::memcpy(v->Buf->data() + at, buf, size);
      v->Len = std::max(v->Len, at + size);
    } catch (const std::bad_alloc&) {
      return v->Fail("out of memory");
    }
    v->Pos += size;
    v->End = std::max(v->End, v->Pos);
    return size;
  }
  static ZPOS64_T Tell(voidpf opaque, voidpf) { return static_cast<TAppendView*>(opaque)->Pos; }
  static long Seek(voidpf opaque, voidpf, ZPOS64_T offset, int origin) {
    auto* v = static_cast<TAppendView*>(opaque);
    try {
      uint64_t base = 0;
      if (origin == ZLIB_FILEFUNC_SEEK_CUR) base = v->Pos;
      else if (origin == ZLIB_FILEFUNC_SEEK_END) base = v->Size();
      v->Pos = base + offset;
      return 0;
    } catch (const Exception& e) {
      v->Fail(e.Message());
      return -1;
    }
  }
  static int Close(voidpf, voidpf) { return 0; }
  static int Error(voidpf opaque, voidpf) { return static_cast<TAppendView*>(opaque)->Failed ? 1 : 0; }

  uLong Fail(const std::string& message) {
    if (!Failed) Message = message;
    Failed = true;
    return 0;
  }
};

// Raw deflate of ADataLen bytes at AData into the thread's buffer, as minizip would have
// compressed them (default level, raw, memory level 8). One deflate state per thread is reset
// between entries instead of being made and freed for each: that churn cost more than the
// compression of a small entry.
struct TDeflater {
  z_stream Z{};
  bool Ready = false;
  TBytes Out;
  ~TDeflater() {
    if (Ready) deflateEnd(&Z);
  }
};

std::pair<const uint8_t*, size_t> DeflateRaw(const uint8_t* AData, size_t ADataLen) {
  thread_local TDeflater d;
  if (!d.Ready) {
    if (deflateInit2(&d.Z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EZipException("Cannot start deflate");
    d.Ready = true;
  } else if (deflateReset(&d.Z) != Z_OK) {
    throw EZipException("Cannot restart deflate");
  }
  const uLong bound = deflateBound(&d.Z, static_cast<uLong>(ADataLen));
  if (d.Out.size() < bound || d.Out.size() > (size_t(4) << 20)) TBytes(bound).swap(d.Out);
  d.Z.next_in = const_cast<Bytef*>(AData);
  d.Z.avail_in = static_cast<uInt>(ADataLen);
  d.Z.next_out = d.Out.data();
  d.Z.avail_out = static_cast<uInt>(bound);
  if (deflate(&d.Z, Z_FINISH) != Z_STREAM_END) throw EZipException("Cannot deflate");
  return {d.Out.data(), static_cast<size_t>(bound - d.Z.avail_out)};
}

}  // namespace

// The end record (with the comment) of the directory as it stands, ACdSize bytes long.
TBytes TZipFile::EndRecord(size_t ACdSize, bool AComment) const {
  const size_t comment = AComment ? FComment.size() : 0;
  TBytes tail(22 + comment);
  uint8_t* e = tail.data();
  Put32(e, 0x06054B50);
  Put16(e + 8, static_cast<uint32_t>(FDirectory.size()));
  Put16(e + 10, static_cast<uint32_t>(FDirectory.size()));
  Put32(e + 12, static_cast<uint32_t>(ACdSize));
  Put32(e + 16, static_cast<uint32_t>(FDataEnd));
  Put16(e + 20, static_cast<uint32_t>(comment));
  if (comment > 0) std::memcpy(e + 22, FComment.data(), comment);
  return tail;
}

// The directory records as they stand and the end record.
TBytes TZipFile::DirectoryTail(bool AComment) const {
  size_t cdSize = 0;
  for (const TDirRecord& record : FDirectory) cdSize += record.Raw.size();
  TBytes tail;
  tail.reserve(cdSize + 22 + FComment.size());
  for (const TDirRecord& record : FDirectory) tail.insert(tail.end(), record.Raw.begin(), record.Raw.end());
  const TBytes end = EndRecord(cdSize, AComment);
  tail.insert(tail.end(), end.begin(), end.end());
  return tail;
}

// Takes an entry out of the data: the later entries move down by its span (its local header
// and data, up to the next entry or the end of the data) and their offsets with them.
void TZipFile::RemoveRecord(const std::string& name) {
  auto it = std::find_if(FDirectory.begin(), FDirectory.end(), [&](const TDirRecord& r) { return r.Name == name; });
  if (it == FDirectory.end()) return;
  const uint32_t d = Get32(it->Raw.data() + 42);
  uint32_t n = static_cast<uint32_t>(FDataEnd);
  for (const TDirRecord& r : FDirectory) {
    const uint32_t offset = Get32(r.Raw.data() + 42);
    if (offset > d && offset <= n) n = offset;
  }
  if (n < d) throw EZipException("Invalid zip archive: \"" + name + "\" lies behind the end of the file data");
  const uint32_t span = n - d;
  // The data moves first: should that fail, the directory still describes what lies before D.
  TBytes later(static_cast<size_t>(FDataEnd - n));
  FStream->SetPosition(n);
  FStream->ReadBuffer(later.data(), static_cast<int64_t>(later.size()));
  FStream->SetPosition(d);
  FStream->WriteBuffer(later.data(), static_cast<int64_t>(later.size()));
  FDirectory.erase(it);
  for (TDirRecord& r : FDirectory) {
    const uint32_t offset = Get32(r.Raw.data() + 42);
    if (offset > d) Put32(r.Raw.data() + 42, offset - span);
  }
  FDataEnd = d + later.size();
}

void TZipFile::WriteChanges() {
  bool touched = false;  // the stream changed: the old directory must come back on failure
  try {
    touched = !FDeleted.empty();
    for (const std::string& name : FDeleted) RemoveRecord(name);
    FDeleted.clear();
    TAppendView view;
    view.Stream = FStream;
    view.DataEnd = FDataEnd;
    view.Buf = &FWriteBuffer;
    // minizip finds the end record by searching backwards for its signature, which a comment
    // may hold too: it gets the end record without the comment, and the comment goes behind
    // what it wrote. Room for the directory, what minizip writes (deflate grows data by a
    // little at most) and the comment: no regrowth.
    const TBytes tail = DirectoryTail(false);
    size_t room = 2 * tail.size() + FComment.size();
    for (const TEntry& entry : FEntries)
      if (entry.Added) room += entry.Data.size() + entry.Data.size() / 100 + 2 * entry.Name.size() + 1024;
    if (FWriteBuffer.size() < room) FWriteBuffer.resize(room);
    std::memcpy(FWriteBuffer.data(), tail.data(), tail.size());
    view.Len = tail.size();

    zlib_filefunc64_def io{};
    io.zopen64_file = &TAppendView::Open;
    io.zread_file = &TAppendView::Read;
    io.zwrite_file = &TAppendView::Write;
    io.ztell64_file = &TAppendView::Tell;
    io.zseek64_file = &TAppendView::Seek;
    io.zclose_file = &TAppendView::Close;
    io.zerror_file = &TAppendView::Error;
    io.opaque = &view;
    auto fail = [&](const std::string& what) {
      throw EZipException(what + (view.Message.empty() ? std::string() : " (" + view.Message + ")"));
    };
    zipFile zf = zipOpen2_64("", APPEND_STATUS_ADDINZIP, nullptr, &io);
    if (!zf) fail("minizip cannot open the archive for appending");
    bool closed = false;
    auto discard = Finally([&] {
      if (!closed) zipClose(zf, nullptr);
    });
    const time_t now = time(nullptr);
    tm lt{};
    localtime_r(&now, &lt);
    zip_fileinfo info{};
    info.tmz_date.tm_sec = static_cast<uInt>(lt.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(lt.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(lt.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(lt.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(lt.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(lt.tm_year + 1900);
    for (const TEntry& entry : FEntries) {
      if (!entry.Added) continue;
      const bool deflated = entry.Compression != zcStored;
      const int method = deflated ? Z_DEFLATED : 0;
      // Deflated here and handed over raw. Bit 11: the name is UTF-8. No zip64 fields.
      const auto [data, size] =
          deflated ? DeflateRaw(entry.Data.data(), entry.Data.size()) : std::pair(entry.Data.data(), entry.Data.size());
      if (zipOpenNewFileInZip4_64(zf, entry.Name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                  Z_DEFAULT_COMPRESSION, deflated ? 1 : 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                  Z_DEFAULT_STRATEGY, nullptr, 0, 0, 1 << 11, 0) != ZIP_OK)
        fail("cannot add \"" + entry.Name + "\"");
      for (size_t at = 0; at < size; at += 1 << 20) {
        const unsigned len = static_cast<unsigned>(std::min<size_t>(size - at, 1 << 20));
        if (zipWriteInFileInZip(zf, data + at, len) != ZIP_OK) fail("cannot write \"" + entry.Name + "\"");
      }
      const uLong crc = crc32(0, entry.Data.data(), static_cast<uInt>(entry.Data.size()));
      const int closed = deflated ? zipCloseFileInZipRaw64(zf, entry.Data.size(), crc) : zipCloseFileInZip(zf);
      if (closed != ZIP_OK) fail("cannot write \"" + entry.Name + "\"");
    }
    closed = true;
    if (zipClose(zf, nullptr) != ZIP_OK || view.Failed) fail("cannot write the directory");
    // Checked before the stream sees a byte of it.
    const size_t written = static_cast<size_t>(view.End - FDataEnd);
    uint64_t cdOffset = 0;
    std::vector<TDirRecord> added = WrittenDirectory(written, cdOffset);
    if (FWriteBuffer.size() < written + FComment.size()) FWriteBuffer.resize(written + FComment.size());
    Put16(FWriteBuffer.data() + written - 2, static_cast<uint32_t>(FComment.size()));
    if (!FComment.empty()) std::memcpy(FWriteBuffer.data() + written, FComment.data(), FComment.size());
    FWrittenLen = written + FComment.size();
    touched = true;
    FStream->SetPosition(static_cast<int64_t>(FDataEnd));
    FStream->WriteBuffer(FWriteBuffer.data(), static_cast<int64_t>(FWrittenLen));
    FStream->SetSize(static_cast<int64_t>(FDataEnd + FWrittenLen));
    for (TDirRecord& record : added) FDirectory.push_back(std::move(record));
    FDataEnd = cdOffset;
  } catch (const Exception&) {
    // The directory of the data as it now stands (the old one unless a delete went through)
    // goes back behind it.
    if (touched) Quietly("TZipFile: restoring the directory", [&] {
      const TBytes tail = DirectoryTail();
      FStream->SetPosition(static_cast<int64_t>(FDataEnd));
      FStream->WriteBuffer(tail.data(), static_cast<int64_t>(tail.size()));
      FStream->SetSize(static_cast<int64_t>(FDataEnd + tail.size()));
    });
    throw;
  }
}

bool TZipFile::IsValid(TStream* stream) {
  if (!stream) return false;
  int64_t pos = 0;
  bool ok = false;
  try {
    pos = stream->GetPosition();
    if (stream->GetSize() > 0) {  // an empty stream would open as a new archive
      TZipFile z;
      z.Open(stream, zmRead);
      ok = true;
    }
  } catch (const Exception&) {
    ok = false;
  }
  try {
    stream->SetPosition(pos);
  } catch (const Exception&) {
  }
  return ok;
}

bool TZipFile::IsValid(const std::string& fileName) {
  try {
    TFileStream fs(fileName, fmOpenRead | fmShareDenyNone);
    return IsValid(&fs);
  } catch (const Exception&) {
    return false;
  }
}

}  // namespace quorvel
