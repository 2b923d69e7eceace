// libFuzzer target for zip archives, opened from a memory stream and from a file: every
// entry is read (names, headers, data), and damaged archives raise EZipException. Both ways
// of opening see the same entries and the same data. Then the archive is changed in place.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "framework/io/ZipFile.h"
#include "framework/rtl/Exceptions.h"

using namespace quorvel;

namespace {

constexpr uint64_t kMaxEntry = 4 << 20;  // small, so bombs stop early; the checks are the same

// Every entry's name and data, or the message that stopped the reading.
struct TResult {
  bool Opened = false;
  std::vector<std::string> Names;
  std::vector<TBytes> Data;
  std::vector<bool> Failed;
};

void ReadAll(TZipFile& zip, TResult& result) {
  zip.SetMaxEntrySize(kMaxEntry);
  result.Opened = true;
  result.Names = zip.GetFileNames();
  for (int32_t i = 0; i < zip.GetFileCount(); ++i) {
    (void)zip.GetHeader(i);
    TBytes bytes;
    bool failed = false;
    try {
      zip.Read(i, bytes);
    } catch (const EZipException&) {
      failed = true;
    }
    if (zip.GetOpenEntryCount() != 0) std::abort();
    if (bytes.size() > kMaxEntry) std::abort();
    result.Data.push_back(std::move(bytes));
    result.Failed.push_back(failed);
  }
  if (zip.GetFileCount() > 0) {
    TStream* stream = nullptr;
    TZipHeader header;
    try {
      zip.Read(result.Names[0], stream, header);
      delete stream;
    } catch (const EZipException&) {
    }
  }
}

std::string TempPath() {
  static const std::string path = "/tmp/quorvel-zip-fuzz-" + std::to_string(getpid()) + ".zip";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TResult fromMemory;
  try {
    TBytesStream stream(TBytes(data, data + size));
    TZipFile zip;
    zip.Open(&stream, zmRead);
    ReadAll(zip, fromMemory);
    zip.Close();
  } catch (const EZipException&) {
  }
  (void)TZipFile::IsValid(nullptr);

  TResult fromFile;
  const std::string path = TempPath();
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
  }
  try {
    TZipFile zip;
    zip.Open(path, zmRead);
    ReadAll(zip, fromFile);
  } catch (const EZipException&) {
  }
  std::remove(path.c_str());

  // Changing it in place: a damaged archive refuses to open for writing; one that opens ends
  // as an archive with the first entry gone and the new one last.
  try {
    TBytesStream stream(TBytes(data, data + size));
    TZipFile zip;
    zip.Open(&stream, zmReadWrite);
    const int32_t count = zip.GetFileCount();
    if (count > 0) zip.Delete(0);
    const bool replaces = zip.IndexOf("fuzz-added.bin") >= 0;
    zip.Add(TBytes{1, 2, 3}, "fuzz-added.bin");
    zip.Close();
    TZipFile back;
    back.Open(&stream, zmRead);
    const std::vector<std::string> names = back.GetFileNames();
    if (names.empty() || names.back() != "fuzz-added.bin") std::abort();
    if (static_cast<int32_t>(names.size()) != std::max(count - 1, 0) + 1 - (replaces ? 1 : 0)) std::abort();
    TBytes added;
    back.Read("fuzz-added.bin", added);
    if (added != TBytes{1, 2, 3}) std::abort();
  } catch (const EZipException&) {
  }

  if (fromMemory.Opened != fromFile.Opened || fromMemory.Names != fromFile.Names ||
      fromMemory.Failed != fromFile.Failed || fromMemory.Data != fromFile.Data)
    std::abort();
  return 0;
}
