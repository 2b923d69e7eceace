#pragma once
// Zip archives over libzip, read and written through a TStream (a file the archive opens
// itself, or the caller's stream). Indices count the live entries in directory order.
//
// Reading goes through libzip; writing changes the archive in place. Added entries are kept
// until Close, which removes deleted entries by moving the later data down over them, then
// appends the new entries behind the file data and writes the directory after them through
// minizip's add-in-zip mode, so a change costs the moved and added bytes, not a copy of the
// archive (minizip takes the entries deflated here, by one deflate state per thread that is
// reset between entries). Flush writes like Close and stays open on the archive as written,
// for a caller that changes it again soon. What minizip wrote is checked before the stream
// gets it (an archive that cannot be appended to safely is refused, unchanged); a close
// without changes writes nothing; a close that fails puts the directory that was valid before
// it back (the stream is never left without one). An archive left without entries is the 22-byte end-of-central-directory
// record. A zero-byte stream opens as a new, empty archive; a damaged one (also one whose
// directory disagrees with libzip's reading of it) never opens. Archives needing zip64
// fields are read but not changed. Errors raise EZipException.
//
// Reading trusts no size in the archive: an entry is read up to the size its directory
// record declares (an entry that inflates to more is corrupt), declared sizes past
// GetMaxEntrySize are refused before anything is allocated, and an archive whose directory
// records share or overlap their data (a few bytes that inflate once per record) is
// refused when it is opened.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/Stream.h"

struct zip;

namespace quorvel {

enum class TZipMode : uint8_t { zmClosed, zmRead, zmReadWrite, zmWrite };
constexpr TZipMode zmClosed = TZipMode::zmClosed;
constexpr TZipMode zmRead = TZipMode::zmRead;
constexpr TZipMode zmReadWrite = TZipMode::zmReadWrite;
constexpr TZipMode zmWrite = TZipMode::zmWrite;

// Compression method numbers as stored in the archive.
enum class TZipCompression : uint16_t { zcStored = 0, zcDeflate = 8, zcDeflate64 = 9, zcBZIP2 = 12, zcLZMA = 14 };
constexpr TZipCompression zcStored = TZipCompression::zcStored;
constexpr TZipCompression zcDeflate = TZipCompression::zcDeflate;

// One entry's directory record. LocalHeaderOffset is known for entries already in the
// archive when it was opened (0 for entries added since).
struct TZipHeader {
  uint16_t MadeByVersion = 0;
  uint16_t RequiredVersion = 0;
  uint16_t Flag = 0;
  uint16_t CompressionMethod = 0;
  uint32_t ModifiedDateTime = 0;  // MS-DOS date (high word) and time (low word)
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t LocalHeaderOffset = 0;
  std::string FileName;
  TBytes ExtraField;
  std::string FileComment;
};

class TZipFile : public TObject {
public:
  TZipFile();
  ~TZipFile() override;  // closes (writing) an open archive; errors are swallowed

  // zmRead opens an existing file; zmWrite creates or empties it; zmReadWrite opens it or
  // creates it when missing.
  void Open(const std::string& fileName, TZipMode mode);
  // The stream is not owned; it must stay alive until Close.
  void Open(TStream* stream, TZipMode mode);
  void Close();
  // Writes the changes as Close does but stays open on the archive as written, so that the
  // next changes need not read its directory again. A failing write closes the archive.
  void Flush();
  // Whether the stream still holds the archive as this object last wrote or read it (its
  // directory and end record unchanged): false once someone else wrote to it.
  bool IsCurrent() const;

  TZipMode GetMode() const { return FMode; }
  int32_t GetFileCount() const;
  std::vector<std::string> GetFileNames() const;
  std::string GetFileName(int32_t index) const;
  // Exact (case-sensitive) match; -1 when absent.
  int32_t IndexOf(std::string_view name) const;

  // The data from the stream's position to its end becomes the entry; an entry of the same
  // name is replaced.
  void Add(TStream* data, const std::string& name, TZipCompression compression = zcDeflate);
  void Add(const TBytes& data, const std::string& name, TZipCompression compression = zcDeflate);
  void Add(const void* data, size_t size, const std::string& name, TZipCompression compression = zcDeflate);
  void AddFile(const std::string& fileName, const std::string& name, TZipCompression compression = zcDeflate);

  // The entry's data in a new memory stream at position 0 (the caller owns it).
  void Read(std::string_view name, TStream*& stream, TZipHeader& header);
  void Read(int32_t index, TStream*& stream, TZipHeader& header);
  void Read(std::string_view name, TBytes& bytes);
  void Read(int32_t index, TBytes& bytes);
  void Read(int32_t index, TBytes& bytes, TZipHeader& header);
  TZipHeader GetHeader(int32_t index) const;

  // Removes an entry; a name that is not in the archive changes nothing.
  void Delete(std::string_view name);
  void Delete(int32_t index);

  // The largest entry Read accepts (declared uncompressed size); DefaultMaxEntrySize unless
  // set. Values past MaxEntrySizeLimit raise EArgumentOutOfRangeException.
  static constexpr uint64_t DefaultMaxEntrySize = uint64_t(1) << 30;
  static constexpr uint64_t MaxEntrySizeLimit = uint64_t(1) << 40;
  uint64_t GetMaxEntrySize() const { return FMaxEntrySize; }
  void SetMaxEntrySize(uint64_t value);
  // Entries opened by Read and not yet closed (0 whenever no Read is running).
  int32_t GetOpenEntryCount() const { return FOpenEntries; }

  static bool IsValid(const std::string& fileName);
  static bool IsValid(TStream* stream);

  struct Source;  // the libzip source over the stream (internal)

private:
  void RequireOpen(const char* what) const;
  void RequireWritable() const;
  uint64_t ZipIndex(int32_t index) const;
  TZipHeader LibzipHeader(int32_t index) const;
  void Refresh();
  void OpenReader();
  void EnsureReader();
  void ReadDirectoryOffsets();
  void CheckOverlappingRecords();
  [[noreturn]] void RaiseZip(const std::string& what) const;

  zip* FZip = nullptr;
  std::unique_ptr<Source> FSource;
  TStream* FStream = nullptr;
  std::unique_ptr<TStream> FOwnedStream;
  TZipMode FMode = zmClosed;
  struct TEntry {
    std::string Name;
    int64_t ZipIndex = -1;  // libzip's index (while libzip has read the archive)
    bool Added = false;     // added since the archive was opened or flushed
    TBytes Data;            // the added entry's data
    TZipCompression Compression = zcDeflate;
  };
  std::vector<TEntry> FEntries;  // live entries, in directory order
  // The central directory as read (one raw record per entry), where the file data ends and
  // the archive comment: what in-place writing works on.
  struct TDirRecord {
    std::string Name;
    TBytes Raw;
  };
  std::vector<TDirRecord> FDirectory;
  uint64_t FDataEnd = 0;
  TBytes FComment;
  bool FZip64 = false;                  // some record needs zip64 fields
  std::vector<std::string> FDeleted;    // entries of the opened archive to remove at Close
  bool FChanged = false;
  void RequireChangeable() const;
  void WriteChanges();
  void RemoveRecord(const std::string& name);
  TBytes DirectoryTail(bool AComment = true) const;
  TBytes EndRecord(size_t ACdSize, bool AComment = true) const;
  TBytes FWriteBuffer;  // what the writes build before it goes to the stream (kept when small)
  size_t FWrittenLen = 0;  // of it, what the last write put behind the data
  std::vector<TDirRecord> WrittenDirectory(size_t ALen, uint64_t& ACdOffset) const;
  void ResetState();
  std::vector<std::pair<std::string, uint32_t>> FOffsets;  // local-header offsets at open
  struct TRecordSpan {
    uint64_t Offset;          // of the local header
    uint64_t CompressedSize;
    int32_t Record;           // position in the central directory
  };
  std::vector<TRecordSpan> FSpans;  // every directory record read at open
  uint64_t FMaxEntrySize = DefaultMaxEntrySize;
  int32_t FOpenEntries = 0;
};

}  // namespace quorvel
