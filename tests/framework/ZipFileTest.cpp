#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "framework/io/Path.h"
#include "framework/io/ZLib.h"
#include "framework/io/ZipFile.h"
#include "tests/support/CountingStream.h"

#include <sys/stat.h>
#include <zip.h>

namespace quorvel {
namespace {

// The system interpreter first: version-manager shims cost a second per start.
const std::string& Python() {
  static const std::string python = [] {
    for (const char* candidate : {"/usr/bin/python3", "python3"})
      if (std::system((std::string(candidate) + " -c 'import zipfile' >/dev/null 2>&1").c_str()) == 0) return std::string(candidate);
    return std::string();
  }();
  return python;
}

bool HavePython() { return !Python().empty(); }

// Another zip reader's verdict: python's zipfile tests every entry's CRC.
bool PythonZipTestPasses(const std::string& path) {
  return std::system((Python() + " -m zipfile -t '" + path + "' >/dev/null 2>&1").c_str()) == 0;
}

TBytes Text(size_t n, char seed) {
  // Grown by appending: g++ 12 at -O3 misreads the bounds of an indexed fill here.
  TBytes b;
  b.reserve(n);
  for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>('a' + (seed + i * 3 + i / 11) % 26));
  return b;
}

class ZipFiles : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "quorvel-zip-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    Dir = tmpl;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::string PathOf(const std::string& name) const { return Dir + "/" + name; }

  // models/a.json (deflated), textures/b.png (stored), c.txt (deflated).
  void WriteThree(const std::string& path) {
    TZipFile z;
    z.Open(path, zmWrite);
    z.Add(A, "models/a.json");
    z.Add(B, "textures/b.png", zcStored);
    TBytesStream c(C);
    z.Add(&c, "c.txt", zcDeflate);
    z.Close();
  }

  std::string Dir;
  const TBytes A = Text(5000, 1), B = Text(3000, 2), C = Text(7000, 3);
};

TEST_F(ZipFiles, DeletingOneOfThreeKeepsTheOthersReadableElsewhereToo) {
  for (const char* victim : {"models/a.json", "textures/b.png", "c.txt"}) {
    SCOPED_TRACE(victim);
    const std::string path = PathOf("three.zip");
    WriteThree(path);
    std::vector<TZipHeader> before;
    {
      TZipFile z;
      z.Open(path, zmRead);
      for (int i = 0; i < 3; ++i) before.push_back(z.GetHeader(i));
    }
    EXPECT_EQ(before[0].LocalHeaderOffset, 0u);
    {
      TZipFile z;
      z.Open(path, zmReadWrite);
      z.Delete(victim);
      z.Delete("not/there");  // absent names change nothing
      EXPECT_EQ(z.GetFileCount(), 2);
      z.Close();
    }
    TZipFile z;
    z.Open(path, zmRead);
    const int removed = victim[0] == 'm' ? 0 : victim[0] == 't' ? 1 : 2;
    std::vector<std::string> expected = {"models/a.json", "textures/b.png", "c.txt"};
    expected.erase(expected.begin() + removed);
    ASSERT_EQ(z.GetFileNames(), expected);
    const uint32_t span = removed == 2 ? 0 : before[removed + 1].LocalHeaderOffset - before[removed].LocalHeaderOffset;
    const TBytes* contents[] = {&A, &B, &C};
    for (int i = 0, k = 0; i < 3; ++i) {
      if (i == removed) continue;
      TStream* s = nullptr;
      TZipHeader h;
      z.Read(expected[static_cast<size_t>(k)], s, h);
      std::unique_ptr<TStream> owned(s);
      ASSERT_EQ(s->GetSize(), static_cast<int64_t>(contents[i]->size()));
      EXPECT_EQ(s->GetPosition(), 0);
      TBytes back(contents[i]->size());
      s->ReadBuffer(back.data(), static_cast<int64_t>(back.size()));
      EXPECT_EQ(back, *contents[i]);
      // Later entries move down by the removed entry's span.
      EXPECT_EQ(h.LocalHeaderOffset, before[i].LocalHeaderOffset - (i > removed ? span : 0));
      EXPECT_EQ(h.CRC32, Crc32(0, contents[i]->data(), contents[i]->size()));
      ++k;
    }
    z.Close();
    if (HavePython()) {
      EXPECT_TRUE(PythonZipTestPasses(path));
    }
  }
}

TEST_F(ZipFiles, EmptyArchivesStayValid22ByteFiles) {
  const std::string path = PathOf("empty.zip");
  { TFileStream touch(path, fmCreate); }
  {
    TZipFile z;  // a zero-byte file opens as a new archive
    z.Open(path, zmReadWrite);
    EXPECT_EQ(z.GetFileCount(), 0);
    z.Close();
  }
  EXPECT_EQ(std::filesystem::file_size(path), 22u);
  {
    TZipFile z;
    z.Open(path, zmReadWrite);
    z.Add(TBytes{1, 2, 3}, "x.bin");
    z.Close();
  }
  EXPECT_GT(std::filesystem::file_size(path), 22u);
  {
    TZipFile z;
    z.Open(path, zmReadWrite);
    z.Delete("x.bin");
    z.Close();  // libzip would delete the file here
  }
  ASSERT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 22u);
  TZipFile z;
  z.Open(path, zmRead);
  EXPECT_EQ(z.GetFileCount(), 0);
  z.Close();
  EXPECT_TRUE(TZipFile::IsValid(path));
  if (HavePython()) {
      EXPECT_TRUE(PythonZipTestPasses(path));
    }

  // Never-existing file in zmReadWrite and zmWrite: created, left as an empty archive.
  for (TZipMode mode : {zmReadWrite, zmWrite}) {
    const std::string fresh = PathOf(mode == zmWrite ? "w.zip" : "rw.zip");
    TZipFile n;
    n.Open(fresh, mode);
    n.Close();
    EXPECT_EQ(std::filesystem::file_size(fresh), 22u);
  }
}

TEST_F(ZipFiles, MemoryStreamArchiveWorksLikeTheAssetPackagesUseIt) {
  TMemoryStream archive;
  for (int round = 0; round < 3; ++round) {  // open, change, close on every operation
    TZipFile z;
    z.Open(&archive, zmReadWrite);
    const std::string name = "group" + std::to_string(round) + "/asset.json";
    z.Delete(name);
    TBytesStream data(Text(1000 + round, static_cast<char>(round)));
    z.Add(&data, name, zcDeflate);
    z.Close();
    EXPECT_EQ(archive.GetPosition(), 0);
  }
  TZipFile z;
  z.Open(&archive, zmReadWrite);
  EXPECT_EQ(z.GetFileCount(), 3);
  EXPECT_EQ(z.IndexOf("group1/asset.json"), 1);
  EXPECT_EQ(z.IndexOf("GROUP1/asset.json"), -1);  // exact names
  z.Add(TBytes{7}, "group1/asset.json");           // same name replaces
  EXPECT_EQ(z.GetFileCount(), 3);
  z.Close();
  z.Open(&archive, zmRead);
  TBytes back;
  z.Read("group1/asset.json", back);
  EXPECT_EQ(back, TBytes{7});
  z.Close();
  archive.SaveToFile(PathOf("mem.zip"));
  if (HavePython()) {
      EXPECT_TRUE(PythonZipTestPasses(PathOf("mem.zip")));
    }
}

TEST_F(ZipFiles, HeadersTellStoredFromDeflated) {
  const std::string path = PathOf("h.zip");
  WriteThree(path);
  TZipFile z;
  z.Open(path, zmRead);
  const struct {
    const char* Name;
    uint16_t Method;
    size_t Size;
  } cases[] = {{"models/a.json", 8, 5000}, {"textures/b.png", 0, 3000}, {"c.txt", 8, 7000}};
  for (const auto& c : cases) {
    const TZipHeader h = z.GetHeader(z.IndexOf(c.Name));
    EXPECT_EQ(h.CompressionMethod, c.Method) << c.Name;
    EXPECT_EQ(h.UncompressedSize, c.Size) << c.Name;
    EXPECT_EQ(h.FileName, c.Name);
    EXPECT_EQ(h.FileNameLength, std::strlen(c.Name));
    if (c.Method == 0) {
      EXPECT_EQ(h.CompressedSize, c.Size);
    } else {
      EXPECT_LT(h.CompressedSize, c.Size);
    }
    EXPECT_NE(h.ModifiedDateTime, 0u);
  }
}

TEST_F(ZipFiles, ReadsArchivesWrittenByAnotherZipWriter) {
  if (!HavePython()) GTEST_SKIP() << "python3 missing";
  const std::string path = PathOf("py.zip");
  const std::string script =
      "import zipfile,sys\n"
      "with zipfile.ZipFile(sys.argv[1],'w') as z:\n"
      "  z.writestr('dir/deflated.txt','hello '*1000, compress_type=zipfile.ZIP_DEFLATED)\n"
      "  z.writestr('stored.bin', bytes(range(256)), compress_type=zipfile.ZIP_STORED)\n";
  const std::string py = PathOf("make.py");
  TFile::WriteAllText(py, script);
  ASSERT_EQ(std::system((Python() + " '" + py + "' '" + path + "'").c_str()), 0);
  TZipFile z;
  z.Open(path, zmRead);
  ASSERT_EQ(z.GetFileNames(), (std::vector<std::string>{"dir/deflated.txt", "stored.bin"}));
  TBytes b;
  z.Read("stored.bin", b);
  ASSERT_EQ(b.size(), 256u);
  EXPECT_EQ(b[255], 255);
  z.Read(0, b);
  EXPECT_EQ(b.size(), 6000u);
}

TEST_F(ZipFiles, DamagedArchivesRaiseZipExceptionsAndNeverCrash) {
  const std::string path = PathOf("good.zip");
  WriteThree(path);
  const TBytes good = TFile::ReadAllBytes(path);

  // Every cut either fails to open or fails to read, never crashes or succeeds silently wrong.
  for (size_t len = 0; len < good.size(); len += 37) {
    TBytesStream cut(TBytes(good.begin(), good.begin() + static_cast<ptrdiff_t>(len)));
    TZipFile z;
    try {
      z.Open(&cut, zmRead);
    } catch (const EZipException&) {
      continue;
    }
    EXPECT_EQ(len, 0u) << "a truncated archive opened at length " << len;  // 0 bytes = new archive
  }

  const size_t eocd = good.size() - 22;
  const size_t cd = good[eocd + 16] | (good[eocd + 17] << 8) | (good[eocd + 18] << 16) | (size_t{good[eocd + 19]} << 24);
  const struct {
    const char* Name;
    size_t At;
  } cases[] = {
      {"end record signature", eocd},
      {"central directory offset", eocd + 16},
      {"central directory entry signature", cd},
      {"central directory name length", cd + 29},
      {"local header name length", 26},
  };
  for (const auto& c : cases) {
    TBytes bad = good;
    bad[c.At] ^= 0xFF;
    TBytesStream s(bad);
    TZipFile z;
    bool raised = false;
    try {
      z.Open(&s, zmRead);
      for (int i = 0; i < z.GetFileCount(); ++i) {
        TBytes out;
        z.Read(i, out);
      }
    } catch (const EZipException& e) {
      raised = true;
      EXPECT_FALSE(std::string(e.what()).empty());
    }
    EXPECT_TRUE(raised) << c.Name;
  }

  // Damaged entry data: the archive opens, reading that entry raises.
  {
    TZipFile z;
    z.Open(path, zmRead);
    const uint32_t off = z.GetHeader(0).LocalHeaderOffset;
    z.Close();
    TBytes bad = good;
    bad[off + 30 + std::strlen("models/a.json") + 40] ^= 0x5A;
    TBytesStream s(bad);
    z.Open(&s, zmRead);
    TBytes out;
    EXPECT_THROW(z.Read("models/a.json", out), EZipException);
    z.Read("textures/b.png", out);  // the others stay readable
    EXPECT_EQ(out, B);
  }

  std::mt19937 rng(5);
  TBytes garbage(4096);
  for (auto& g : garbage) g = static_cast<uint8_t>(rng());
  TBytesStream gs(garbage);
  TZipFile z;
  EXPECT_THROW(z.Open(&gs, zmRead), EZipException);
  EXPECT_FALSE(TZipFile::IsValid(&gs));
  EXPECT_FALSE(TZipFile::IsValid(PathOf("missing.zip")));
  EXPECT_TRUE(TZipFile::IsValid(path));
}

// ---- Reading that trusts no size in the archive ------------------------------------------

const std::string ZipCorpus = std::string(QUORVEL_TEST_DATA_DIR) + "/../fuzz/corpus/zip";

// Offset of the central directory record of `name` and of its local header.
struct TRecordAt {
  size_t Central = 0, Local = 0;
};
TRecordAt FindRecord(const TBytes& zip, const std::string& name) {
  for (size_t p = 0; p + 46 <= zip.size(); ++p) {
    if (zip[p] != 'P' || zip[p + 1] != 'K' || zip[p + 2] != 1 || zip[p + 3] != 2) continue;
    const size_t nameLen = zip[p + 28] | zip[p + 29] << 8;
    if (std::string(reinterpret_cast<const char*>(&zip[p + 46]), nameLen) != name) continue;
    return {p, size_t(zip[p + 42] | zip[p + 43] << 8 | zip[p + 44] << 16 | size_t(zip[p + 45]) << 24)};
  }
  ADD_FAILURE() << "no record for " << name;
  return {};
}

void Put32(TBytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST_F(ZipFiles, EntriesAreReadExactlyToTheirDeclaredSize) {
  const TBytes big = Text(5000, 3);
  TBytesStream archive;
  {
    TZipFile z;
    z.Open(&archive, zmWrite);
    z.Add(big, "deflated.txt");
    z.Add(big, "stored.txt", zcStored);
    z.Add(C, "other.txt");
    z.Close();
  }
  const TBytes good = archive.GetBytes();
  struct TCase {
    const char* Entry;
    uint32_t Declared;
    const char* Message;
  } cases[] = {
      {"deflated.txt", 4000, "more data than the 4000 bytes declared"},
      {"stored.txt", 4999, "more data than the 4999 bytes declared"},
      {"deflated.txt", 6000, "5000 bytes of 6000 declared"},
      {"deflated.txt", 0, "more data than the 0 bytes declared"},
  };
  for (const TCase& c : cases) {
    TBytes bad = good;
    const TRecordAt at = FindRecord(bad, c.Entry);
    Put32(bad, at.Central + 24, c.Declared);
    Put32(bad, at.Local + 22, c.Declared);
    TBytesStream s(bad);
    TZipFile z;
    z.Open(&s, zmRead);
    EXPECT_EQ(z.GetHeader(z.IndexOf(c.Entry)).UncompressedSize, c.Declared);
    TBytes out = {7, 7};
    try {
      z.Read(c.Entry, out);
      ADD_FAILURE() << c.Entry << " declared " << c.Declared << ": no exception";
    } catch (const EZipException& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.Entry), std::string::npos) << e.what();
    }
    EXPECT_EQ(out, (TBytes{7, 7})) << "a failed read leaves the caller's bytes alone";
    EXPECT_EQ(z.GetOpenEntryCount(), 0) << "the entry is closed after the failure";
    z.Read("other.txt", out);  // the archive stays usable
    EXPECT_EQ(out, C);
  }
}

TEST_F(ZipFiles, DeclaredSizesPastTheLimitAreRefusedBeforeReading) {
  TBytesStream archive;
  {
    TZipFile z;
    z.Open(&archive, zmWrite);
    z.Add(Text(5000, 1), "a.txt");
    z.Close();
  }
  TZipFile z;
  z.Open(&archive, zmRead);
  EXPECT_EQ(z.GetMaxEntrySize(), TZipFile::DefaultMaxEntrySize);
  TBytes out;
  z.SetMaxEntrySize(4999);
  try {
    z.Read("a.txt", out);
    ADD_FAILURE() << "no exception";
  } catch (const EZipException& e) {
    EXPECT_NE(std::string(e.what()).find("declared size 5000 is larger than the limit 4999"), std::string::npos) << e.what();
  }
  EXPECT_EQ(z.GetOpenEntryCount(), 0);
  z.SetMaxEntrySize(5000);
  z.Read("a.txt", out);
  EXPECT_EQ(out, Text(5000, 1));
  EXPECT_THROW(z.SetMaxEntrySize(TZipFile::MaxEntrySizeLimit + 1), EArgumentOutOfRangeException);
  EXPECT_EQ(z.GetMaxEntrySize(), 5000u);
  z.Close();

  // 1,678 bytes holding one bzip2 entry of 2 GiB of zeros: refused by its declared size, from
  // memory and from a file, without inflating anything.
  const std::string bomb = ZipCorpus + "/regress-bzip2-2gib-zeros.zip";
  for (bool fromFile : {false, true}) {
    TBytesStream memory(TFile::ReadAllBytes(bomb));
    TZipFile zip;
    if (fromFile)
      zip.Open(bomb, zmRead);
    else
      zip.Open(&memory, zmRead);
    ASSERT_EQ(zip.GetFileCount(), 1);
    EXPECT_EQ(zip.GetHeader(0).UncompressedSize, 0x80000000u);
    try {
      zip.Read(0, out);
      ADD_FAILURE() << "no exception";
    } catch (const EZipException& e) {
      EXPECT_NE(std::string(e.what()).find("declared size 2147483648 is larger than the limit 1073741824"),
                std::string::npos)
          << e.what();
    }
    EXPECT_EQ(zip.GetOpenEntryCount(), 0);
  }
}

TEST_F(ZipFiles, ArchivesWhoseRecordsShareDataAreRefusedWhenOpened) {
  struct TCase {
    const char* File;
    const char* Message;
  } cases[] = {
      {"two-records-one-entry.zip", "directory records 0 and 1 overlap"},
      {"regress-1000-records-one-entry.zip", "overlap"},  // 1,000 x 1 MiB from 1 KiB of deflate
  };
  for (const TCase& c : cases) {
    const std::string path = ZipCorpus + "/" + c.File;
    TZipFile z;
    for (bool fromFile : {false, true}) {
      TBytesStream memory(TFile::ReadAllBytes(path));
      try {
        if (fromFile)
          z.Open(path, zmRead);
        else
          z.Open(&memory, zmRead);
        ADD_FAILURE() << c.File << ": opened";
      } catch (const EZipException& e) {
        EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << e.what();
      }
      EXPECT_EQ(z.GetMode(), zmClosed);
      EXPECT_EQ(z.GetFileCount(), 0);
    }
    EXPECT_FALSE(TZipFile::IsValid(path)) << c.File;
    // The same object opens a sound archive afterwards.
    z.Open(ZipCorpus + "/two-entries.zip", zmRead);
    EXPECT_EQ(z.GetFileCount(), 2);
  }
}

TEST_F(ZipFiles, MisuseRaisesClearErrors) {
  const std::string path = PathOf("m.zip");
  WriteThree(path);
  TZipFile z;
  TBytes out;
  EXPECT_THROW(z.Read("c.txt", out), EZipException);  // closed
  z.Open(path, zmRead);
  EXPECT_THROW(z.Add(TBytes{1}, "new"), EZipException);  // read-only
  EXPECT_THROW(z.Delete("c.txt"), EZipException);
  try {
    z.Read("C.TXT", out);
    FAIL();
  } catch (const EZipException& e) {
    EXPECT_NE(std::string(e.what()).find("C.TXT"), std::string::npos);
  }
  EXPECT_THROW(z.Read(3, out), EZipException);
  EXPECT_THROW(z.Read(-1, out), EZipException);
  z.Close();
  EXPECT_EQ(z.GetMode(), zmClosed);
  EXPECT_THROW(z.Open(PathOf("none.zip"), zmRead), EFOpenError);

  // A stream that cannot be written: the failure surfaces at Close, the data stays intact.
  const TBytes before = TFile::ReadAllBytes(path);
  {
    TFileStream ro(path, fmOpenRead);
    TZipFile w;
    w.Open(&ro, zmReadWrite);
    w.Add(TBytes{1, 2}, "more.bin");
    EXPECT_THROW(w.Close(), EZipException);
    EXPECT_EQ(w.GetMode(), zmClosed);
  }
  EXPECT_EQ(TFile::ReadAllBytes(path), before);
}


// libzip's strict consistency check, and the entries it reads.
std::vector<std::pair<std::string, TBytes>> CheckedEntries(const TBytes& archive) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* src = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  zip_t* za = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error);
  std::vector<std::pair<std::string, TBytes>> out;
  if (!za) {
    ADD_FAILURE() << "ZIP_CHECKCONS: " << zip_error_strerror(&error);
    zip_source_free(src);
    zip_error_fini(&error);
    return out;
  }
  for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(za, static_cast<zip_uint64_t>(i), 0, &st);
    TBytes data(st.size);
    zip_file_t* f = zip_fopen_index(za, static_cast<zip_uint64_t>(i), 0);
    EXPECT_EQ(zip_fread(f, data.data(), st.size), static_cast<zip_int64_t>(st.size));
    zip_fclose(f);
    out.emplace_back(st.name, std::move(data));
  }
  zip_close(za);
  zip_error_fini(&error);
  return out;
}

// A memory stream whose write fails once, when a byte budget is spent (a full disk that
// someone then clears).
class TBudgetStream : public TMemoryStream {
public:
  int64_t Budget = INT64_MAX;
  int64_t Write(const void* buffer, int64_t count) override {
    if (count > Budget) {
      Budget = INT64_MAX;
      throw EWriteError("write budget spent");
    }
    Budget -= count;
    return TMemoryStream::Write(buffer, count);
  }
};

TBytes StreamBytesOf(TMemoryStream& s) {
  const auto* p = static_cast<const uint8_t*>(s.GetMemory());
  return TBytes(p, p + s.GetSize());
}

TEST_F(ZipFiles, ChangesAreWrittenInPlaceBehindTheUntouchedData) {
  TMemoryStream archive;
  std::vector<std::pair<std::string, TBytes>> expected;
  TBytes before;
  uint32_t dataEnd = 0;
  for (int i = 0; i < 6; ++i) {
    TZipFile z;
    z.Open(&archive, zmReadWrite);
    const std::string name = "g/" + std::to_string(i) + (i == 3 ? " ä.bin" : ".bin");
    z.Add(Text(3000 + i, static_cast<char>(i)), name, i % 2 ? zcStored : zcDeflate);
    z.Close();
    const TBytes after = StreamBytesOf(archive);
    // Everything up to the old directory is kept byte for byte.
    ASSERT_GE(after.size(), dataEnd);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + dataEnd, after.begin())) << i;
    expected.emplace_back(name, Text(3000 + i, static_cast<char>(i)));
    EXPECT_EQ(CheckedEntries(after), expected);
    before = after;
    const size_t e = after.size() - 22;
    dataEnd = after[e + 16] | after[e + 17] << 8 | after[e + 18] << 16 | uint32_t(after[e + 19]) << 24;
  }
}

TEST_F(ZipFiles, AnUnchangedCloseWritesNothing) {
  const std::string path = PathOf("same.zip");
  WriteThree(path);
  const TBytes bytes = TFile::ReadAllBytes(path);
  struct stat st0 {};
  ASSERT_EQ(stat(path.c_str(), &st0), 0);
  usleep(20000);
  TZipFile z;
  z.Open(path, zmReadWrite);
  TBytes out;
  z.Read("c.txt", out);
  z.Delete("absent");
  z.Close();
  struct stat st1 {};
  ASSERT_EQ(stat(path.c_str(), &st1), 0);
  EXPECT_EQ(TFile::ReadAllBytes(path), bytes);
  EXPECT_EQ(st1.st_mtim.tv_sec, st0.st_mtim.tv_sec);
  EXPECT_EQ(st1.st_mtim.tv_nsec, st0.st_mtim.tv_nsec);
}

TEST_F(ZipFiles, DeletingMovesTheLaterEntriesDownBySpan) {
  const std::string path = PathOf("three.zip");
  WriteThree(path);
  std::vector<uint32_t> offsets;
  {
    TZipFile z;
    z.Open(path, zmRead);
    for (int i = 0; i < 3; ++i) offsets.push_back(z.GetHeader(i).LocalHeaderOffset);
  }
  const TBytes good = TFile::ReadAllBytes(path);
  const struct {
    const char* Victim;
    std::vector<std::string> Left;
    std::vector<uint32_t> Offsets;
    uint32_t DataEnd;
  } cases[] = {
      {"c.txt", {"models/a.json", "textures/b.png"}, {offsets[0], offsets[1]}, offsets[2]},
      {"models/a.json", {"textures/b.png", "c.txt"}, {0, offsets[2] - offsets[1]}, 0},
      {"absent", {"models/a.json", "textures/b.png", "c.txt"}, offsets, 0},
  };
  for (const auto& c : cases) {
    TMemoryStream s;
    s.WriteBuffer(good.data(), static_cast<int64_t>(good.size()));
    {
      TZipFile z;
      z.Open(&s, zmReadWrite);
      z.Delete(c.Victim);
      z.Close();
    }
    const TBytes after = StreamBytesOf(s);
    const auto entries = CheckedEntries(after);
    ASSERT_EQ(entries.size(), c.Left.size()) << c.Victim;
    TZipFile z;
    z.Open(&s, zmRead);
    for (size_t i = 0; i < c.Left.size(); ++i) {
      EXPECT_EQ(entries[i].first, c.Left[i]);
      EXPECT_EQ(z.GetHeader(static_cast<int32_t>(i)).LocalHeaderOffset, c.Offsets[i]) << c.Victim << " " << i;
    }
    const size_t e = after.size() - 22;
    const uint32_t cd = after[e + 16] | after[e + 17] << 8 | after[e + 18] << 16 | uint32_t(after[e + 19]) << 24;
    if (c.DataEnd) {
      EXPECT_EQ(cd, c.DataEnd) << "the last entry's data ends where its header began";
    }
    if (std::string(c.Victim) == "absent") {
      EXPECT_EQ(after, good);
    }
  }
}

TEST_F(ZipFiles, AStreamFailingMidWriteLeavesTheOldArchive) {
  const std::string path = PathOf("three.zip");
  WriteThree(path);
  const TBytes good = TFile::ReadAllBytes(path);
  const struct {
    bool Delete;
    int64_t Budget;
    size_t Left;
  } cases[] = {{false, 0, 3}, {false, 100, 3}, {false, 5000, 3},
               // The delete's move goes through, the append fails: the shorter archive stays whole.
               {true, int64_t(good.size()), 2}};
  for (const auto& c : cases) {
    TBudgetStream s;
    s.WriteBuffer(good.data(), static_cast<int64_t>(good.size()));
    s.Budget = c.Budget;
    TZipFile z;
    z.Open(&s, zmReadWrite);
    if (c.Delete) z.Delete("models/a.json");
    z.Add(Text(20000, 5), "big.bin", zcStored);
    EXPECT_THROW(z.Close(), EZipException) << c.Budget;
    const TBytes after = StreamBytesOf(s);
    const auto entries = CheckedEntries(after);
    EXPECT_EQ(entries.size(), c.Left) << c.Budget;
    if (!c.Delete) {
      EXPECT_EQ(after, good) << c.Budget;
    }
  }
}

TEST_F(ZipFiles, DamagedArchivesNeverOpenForWriting) {
  const std::string path = PathOf("three.zip");
  WriteThree(path);
  TBytes bad = TFile::ReadAllBytes(path);
  const size_t e = bad.size() - 22;
  bad[e + 8] = 2;  // two entries claimed, three records present
  bad[e + 10] = 2;
  TBytesStream s(bad);
  TZipFile z;
  try {
    z.Open(&s, zmReadWrite);
    ADD_FAILURE() << "a damaged archive opened for writing";
  } catch (const EZipException&) {
  }
  EXPECT_EQ(z.GetMode(), zmClosed);
}

TEST_F(ZipFiles, EachAddWritesItsEntryAndTheDirectoryNotTheArchive) {
  testkit::TCountingStream archive;
  std::mt19937 random(7);
  TBytes data(10000);
  for (int i = 0; i < 150; ++i) {
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());  // incompressible
    const int64_t before = archive.Written;
    TZipFile z;
    z.Open(&archive, zmReadWrite);
    z.Add(data, "entries/" + std::to_string(i) + ".bin");
    z.Close();
    const int64_t written = archive.Written - before;
    // The entry (headers and a little deflate overhead) and the directory of i + 1 records.
    EXPECT_LT(written, int64_t(data.size()) + 200 + (i + 1) * 80) << i;
  }
  EXPECT_EQ(CheckedEntries(StreamBytesOf(archive)).size(), 150u);
}

// Flush writes what Close would and stays open on the archive as written: later changes
// need no new Open, reads of flushed entries come back, and IsCurrent notices any other
// writer of the stream.
TEST_F(ZipFiles, FlushWritesAndStaysOpenOnTheWrittenArchive) {
  TMemoryStream archive;
  TZipFile z;
  z.Open(&archive, zmReadWrite);
  std::vector<std::pair<std::string, TBytes>> expected;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "f/" + std::to_string(i) + ".bin";
    z.Add(Text(2000 + i, static_cast<char>(i)), name, i == 2 ? zcStored : zcDeflate);
    expected.emplace_back(name, Text(2000 + i, static_cast<char>(i)));
    if (i == 1) {
      z.Delete("f/0.bin");
      expected.erase(expected.begin());
    }
    z.Flush();
    EXPECT_EQ(z.GetMode(), zmReadWrite);
    EXPECT_TRUE(z.IsCurrent()) << i;
    EXPECT_EQ(CheckedEntries(StreamBytesOf(archive)), expected) << i;  // a complete archive after each
  }
  const TBytes flushed = StreamBytesOf(archive);
  z.Flush();  // nothing changed: nothing written
  EXPECT_EQ(StreamBytesOf(archive), flushed);
  TBytes read;
  z.Read("f/1.bin", read);
  EXPECT_EQ(read, Text(2001, 1));
  EXPECT_EQ(z.GetHeader(z.IndexOf("f/2.bin")).CompressionMethod, 0);
  z.Close();
  EXPECT_EQ(StreamBytesOf(archive), flushed);

  // Another writer: the archive's end record and size move, and IsCurrent says so.
  TZipFile held;
  held.Open(&archive, zmReadWrite);
  EXPECT_TRUE(held.IsCurrent());
  {
    TZipFile other;
    other.Open(&archive, zmReadWrite);
    other.Add(Text(10, 9), "other.bin");
    other.Close();
  }
  EXPECT_FALSE(held.IsCurrent());
}

// An archive comment may end in the bytes of an end-record signature (a standard writer puts
// what it is given there): entries added later land in the archive every reader sees, through
// Close as through Flush, and the comment stays the archive's.
TEST_F(ZipFiles, CommentsEndingInAnEndRecordSignatureKeepAddedEntries) {
  const std::string signature("PK\x05\x06\0\0\0\0", 8);
  auto withComment = [](TBytes zip, const std::string& comment) {
    zip[zip.size() - 2] = static_cast<uint8_t>(comment.size());
    zip[zip.size() - 1] = static_cast<uint8_t>(comment.size() >> 8);
    zip.insert(zip.end(), comment.begin(), comment.end());
    return zip;
  };
  TBytes empty(22, 0);
  std::memcpy(empty.data(), "PK\x05\x06", 4);
  TBytes one;
  {
    TMemoryStream s;
    TZipFile z;
    z.Open(&s, zmWrite);
    z.Add(A, "models/a.json");
    z.Close();
    one = StreamBytesOf(s);
  }
  const struct {
    const char* Name;
    TBytes Archive;
    std::string Comment;
    std::vector<std::pair<std::string, TBytes>> Entries;
  } cases[] = {
      {"empty, the signature alone", withComment(empty, signature), signature, {}},
      {"empty, text then the signature", withComment(empty, "made by: " + signature), "made by: " + signature, {}},
      {"one entry, the signature", withComment(one, signature), signature, {{"models/a.json", A}}},
      {"one entry, a plain comment", withComment(one, "plain"), "plain", {{"models/a.json", A}}},
  };
  for (const auto& c : cases)
    for (const bool flush : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (flush ? ", flushed" : ", closed"));
      TMemoryStream s;
      s.WriteBuffer(c.Archive.data(), static_cast<int64_t>(c.Archive.size()));
      {
        TZipFile z;
        z.Open(&s, zmReadWrite);
        z.Add(B, "added.bin");
        if (flush) {
          z.Flush();
          z.Add(C, "second.bin", zcStored);
        }
        z.Close();
      }
      auto expected = c.Entries;
      expected.emplace_back("added.bin", B);
      if (flush) expected.emplace_back("second.bin", C);
      const TBytes after = StreamBytesOf(s);
      EXPECT_EQ(CheckedEntries(after), expected);
      ASSERT_GE(after.size(), c.Comment.size() + 22);
      EXPECT_EQ(std::string(after.end() - static_cast<ptrdiff_t>(c.Comment.size()), after.end()), c.Comment);
      TZipFile back;
      back.Open(&s, zmRead);
      ASSERT_EQ(back.GetFileCount(), static_cast<int32_t>(expected.size()));
      TBytes read;
      back.Read("added.bin", read);
      EXPECT_EQ(read, B);
    }
}

}  // namespace
}  // namespace quorvel
