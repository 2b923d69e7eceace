#include "framework/io/ZipFile.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

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

// A libzip source over a TStream. Reads go straight to the stream; a write session builds
// the new archive in memory and copies it over the stream only on commit, because libzip
// still reads the old entries while it writes the new archive.
struct TZipFile::Source {
  TStream* Stream = nullptr;
  zip_error_t Error{};
  uint64_t ReadPos = 0;
  TBytes Out;
  uint64_t WritePos = 0;
  std::string LastMessage;  // text of a stream exception caught inside a callback

  Source() { zip_error_init(&Error); }
  ~Source() { zip_error_fini(&Error); }

  int64_t Fail(int code, const Exception& e) {
    LastMessage = e.Message();
    zip_error_set(&Error, code, EIO);
    return -1;
  }

  void WriteEmptyArchive() {
    Stream->SetPosition(0);
    Stream->WriteBuffer(kEmptyArchive, sizeof kEmptyArchive);
    Stream->SetSize(sizeof kEmptyArchive);
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
          Stream->SetPosition(static_cast<int64_t>(ReadPos));
          const int64_t n = Stream->Read(data, static_cast<int64_t>(std::min<zip_uint64_t>(len, 1u << 30)));
          ReadPos += static_cast<uint64_t>(n);
          return n;
        } catch (const Exception& e) {
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
          st->size = static_cast<zip_uint64_t>(Stream->GetSize());
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
          size = Stream->GetSize();
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
      case ZIP_SOURCE_BEGIN_WRITE:
        Out.clear();
        WritePos = 0;
        return 0;
      case ZIP_SOURCE_WRITE: {
        const auto* p = static_cast<const uint8_t*>(data);
        try {
          if (WritePos + len > Out.size()) Out.resize(static_cast<size_t>(WritePos + len));
        } catch (const std::bad_alloc&) {
          zip_error_set(&Error, ZIP_ER_MEMORY, 0);
          return -1;
        }
        std::memcpy(Out.data() + WritePos, p, static_cast<size_t>(len));
        WritePos += len;
        return static_cast<zip_int64_t>(len);
      }
      case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t pos = zip_source_seek_compute_offset(WritePos, Out.size(), data, len, &Error);
        if (pos < 0) return -1;
        WritePos = static_cast<uint64_t>(pos);
        return 0;
      }
      case ZIP_SOURCE_TELL_WRITE:
        return static_cast<zip_int64_t>(WritePos);
      case ZIP_SOURCE_COMMIT_WRITE:
        try {
          Stream->SetPosition(0);
          Stream->WriteBuffer(Out.data(), static_cast<int64_t>(Out.size()));
          Stream->SetSize(static_cast<int64_t>(Out.size()));
          Stream->SetPosition(0);
        } catch (const Exception& e) {
          return Fail(ZIP_ER_WRITE, e);
        }
        TBytes().swap(Out);
        return 0;
      case ZIP_SOURCE_ROLLBACK_WRITE:
        TBytes().swap(Out);
        return 0;
      case ZIP_SOURCE_REMOVE:
        // libzip removes archives that end up empty; a stream keeps a valid empty archive.
        try {
          WriteEmptyArchive();
        } catch (const Exception& e) {
          return Fail(ZIP_ER_REMOVE, e);
        }
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE,
                                              ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_COMMIT_WRITE,
                                              ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_REMOVE, ZIP_SOURCE_SUPPORTS, -1);
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
  int flags = 0;
  switch (mode) {
    case zmRead: flags = ZIP_RDONLY; break;
    case zmReadWrite: flags = ZIP_CREATE; break;
    case zmWrite: flags = ZIP_CREATE | ZIP_TRUNCATE; break;
    default: throw EZipException("Invalid zip file mode");
  }
  auto source = std::make_unique<Source>();
  source->Stream = stream;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_function_create(&Source::Callback, source.get(), &error);
  zip_t* za = src ? zip_open_from_source(src, flags, &error) : nullptr;
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
  FStream = stream;
  FMode = mode;
  Refresh();
  if (mode != zmWrite) {
    ReadDirectoryOffsets();
    try {
      CheckOverlappingRecords();
    } catch (const EZipException&) {
      zip_discard(FZip);
      FZip = nullptr;
      FSource.reset();
      FStream = nullptr;
      FMode = zmClosed;
      FLive.clear();
      FNames.clear();
      FOffsets.clear();
      FSpans.clear();
      throw;
    }
  }
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
  const bool writing = FMode != zmRead;
  const bool empty = FLive.empty();
  zip_t* za = FZip;
  int rc = 0;
  std::string error;
  if (writing) {
    rc = zip_close(za);
    if (rc != 0) {
      error = "Cannot write the zip archive: " + std::string(zip_strerror(za));
      if (!FSource->LastMessage.empty()) error += " (" + FSource->LastMessage + ")";
      zip_discard(za);
    } else {
      try {
        // With no change libzip writes nothing; the stream may still be zero bytes.
        if (empty) FSource->WriteEmptyArchive();
        FStream->SetPosition(0);
      } catch (const Exception& e) {
        rc = -1;
        error = "Cannot write the zip archive: " + e.Message();
      }
    }
  } else {
    zip_discard(za);
  }
  FZip = nullptr;
  FSource.reset();
  FStream = nullptr;
  FOwnedStream.reset();
  FMode = zmClosed;
  FLive.clear();
  FNames.clear();
  FOffsets.clear();
  FSpans.clear();
  if (rc != 0) throw EZipException(error);
}

void TZipFile::Refresh() {
  FLive.clear();
  FNames.clear();
  const zip_int64_t n = zip_get_num_entries(FZip, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* name = zip_get_name(FZip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!name) continue;  // deleted
    FLive.push_back(static_cast<uint64_t>(i));
    FNames.emplace_back(name);
  }
}

// libzip keeps local-header offsets to itself; read them from the central directory.
// Anything unexpected leaves the table empty (headers then report offset 0).
void TZipFile::ReadDirectoryOffsets() {
  FOffsets.clear();
  FSpans.clear();
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
    if (cdOffset == 0xFFFFFFFF || static_cast<int64_t>(cdOffset) + cdSize > size) return;
    TBytes cd(cdSize);
    FStream->SetPosition(cdOffset);
    FStream->ReadBuffer(cd.data(), cdSize);
    size_t p = 0;
    while (p + 46 <= cd.size() && Get32(&cd[p]) == 0x02014B50) {
      const uint16_t nameLen = Get16(&cd[p + 28]);
      const uint16_t extraLen = Get16(&cd[p + 30]);
      const uint16_t commentLen = Get16(&cd[p + 32]);
      if (p + 46 + nameLen + extraLen + commentLen > cd.size()) break;
      FOffsets.emplace_back(std::string(reinterpret_cast<const char*>(&cd[p + 46]), nameLen), Get32(&cd[p + 42]));
      uint64_t compressed = Get32(&cd[p + 20]);
      uint64_t offset = Get32(&cd[p + 42]);
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
      p += 46 + nameLen + extraLen + commentLen;
    }
  } catch (const Exception&) {
    FOffsets.clear();
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
  if (index < 0 || static_cast<size_t>(index) >= FLive.size())
    throw EZipException("Zip entry index out of range (" + std::to_string(index) + ")");
  return FLive[static_cast<size_t>(index)];
}

int32_t TZipFile::GetFileCount() const { return static_cast<int32_t>(FLive.size()); }

std::vector<std::string> TZipFile::GetFileNames() const { return FNames; }

std::string TZipFile::GetFileName(int32_t index) const {
  ZipIndex(index);
  return FNames[static_cast<size_t>(index)];
}

int32_t TZipFile::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < FNames.size(); ++i)
    if (FNames[i] == name) return static_cast<int32_t>(i);
  return -1;
}

void TZipFile::Add(const void* data, size_t size, const std::string& name, TZipCompression compression) {
  RequireWritable();
  if (name.empty()) throw EZipException("A zip entry needs a name");
  if (compression != zcStored && compression != zcDeflate)
    throw EZipException("Unsupported zip compression method " + std::to_string(static_cast<int>(compression)));
  void* copy = std::malloc(size ? size : 1);
  if (!copy) throw EZipException("Out of memory adding \"" + name + "\"");
  if (size) std::memcpy(copy, data, size);
  zip_source_t* src = zip_source_buffer(FZip, copy, size, 1);
  if (!src) {
    std::free(copy);
    RaiseZip("Cannot add \"" + name + "\"");
  }
  const zip_int64_t idx = zip_file_add(FZip, name.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
  if (idx < 0) {
    zip_source_free(src);
    RaiseZip("Cannot add \"" + name + "\"");
  }
  const zip_int32_t method = compression == zcStored ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
  if (zip_set_file_compression(FZip, static_cast<zip_uint64_t>(idx), method, 0) != 0)
    RaiseZip("Cannot set the compression of \"" + name + "\"");
  Refresh();
}

void TZipFile::Add(const TBytes& data, const std::string& name, TZipCompression compression) {
  Add(data.data(), data.size(), name, compression);
}

void TZipFile::Add(TStream* data, const std::string& name, TZipCompression compression) {
  if (!data) throw EArgumentNilException("Data");
  RequireWritable();
  const int64_t count = std::max<int64_t>(0, data->GetSize() - data->GetPosition());
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
  const uint64_t zi = ZipIndex(index);
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(FZip, zi, 0, &st) != 0) RaiseZip("Cannot read the header of entry " + std::to_string(index));
  TZipHeader h;
  h.FileName = FNames[static_cast<size_t>(index)];
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
    for (const auto& [name, offset] : FOffsets)
      if (name == h.FileName) {
        h.LocalHeaderOffset = offset;
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
  const uint64_t zi = ZipIndex(index);
  const std::string& name = FNames[static_cast<size_t>(index)];
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(FZip, zi, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
    RaiseZip("Cannot read the size of \"" + name + "\"");
  // The declared size decides the allocation, so it is checked first; the data must then
  // fill exactly that size.
  if (st.size > FMaxEntrySize)
    throw EZipException(Format("Cannot read \"%s\": its declared size %d is larger than the limit %d",
                               {name, int64_t(std::min<uint64_t>(st.size, INT64_MAX)), int64_t(FMaxEntrySize)}));
  TBytes data;
  try {
    data.resize(static_cast<size_t>(st.size));
  } catch (const std::bad_alloc&) {
    throw EZipException(Format("Cannot read \"%s\": out of memory for %d bytes", {name, int64_t(st.size)}));
  }
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
    const zip_int64_t n = zip_fread(f, data.data() + used, st.size - used);
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
  RequireWritable();
  const uint64_t zi = ZipIndex(index);
  if (zip_delete(FZip, zi) != 0) RaiseZip("Cannot delete \"" + FNames[static_cast<size_t>(index)] + "\"");
  Refresh();
}

void TZipFile::Delete(std::string_view name) {
  RequireWritable();
  const int32_t i = IndexOf(name);
  if (i >= 0) Delete(i);
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
