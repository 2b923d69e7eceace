#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/formats/assets/AssetsArchives.h"

namespace quorvel {
namespace {

class AssetsArchivesTest : public ::testing::Test {
protected:
  void SetUp() override {
    Dir = TPath::Combine(TPath::GetTempPath(), "quorvel_archives_" + std::to_string(getpid()));
    TDirectory::CreateDirectory(Dir);
  }
  void TearDown() override { TDirectory::Delete(Dir, true); }
  std::string Dir;
};

std::string ReadEntry(TQuorvelArchiveReference* ARef, const std::string& AName) {
  TMemoryStream out;
  TZipHeader header;
  ARef->ReadToStream(AName, &out, header);
  EXPECT_EQ(out.GetPosition(), 0);
  return std::string(static_cast<const char*>(out.GetMemory()), size_t(out.GetSize()));
}

void Add(TQuorvelArchiveReference* ARef, const std::string& AName, const std::string& AText) {
  TBytesStream data(TBytes(AText.begin(), AText.end()));
  ARef->AddFromStream(&data, AName);
}

TEST_F(AssetsArchivesTest, FileAndMemoryReferencesAddReadAndDeleteEntries) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  const std::string path = Dir + "/pkg.zip";
  TQuorvelArchiveReference* refs[] = {registry->CreateArchiveByFilename(path), registry->CreateArchiveInMemory("mem")};
  EXPECT_FALSE(TFile::Exists(path));  // nothing is made before the first operation
  for (TQuorvelArchiveReference* ref : refs) {
    EXPECT_FALSE(ref->FileExists("a/asset.json"));
    EXPECT_EQ(ref->GetStream() ? ref->GetStream()->GetSize() : TFile::GetSize(path), 22);  // an empty archive
    Add(ref, "a/asset.json", "first");
    Add(ref, "b/data.bin", "second");
    Add(ref, "c/x.txt", "third");
    EXPECT_TRUE(ref->FileExists("a/asset.json"));
    EXPECT_FALSE(ref->FileExists("A/asset.json"));  // exact names
    EXPECT_EQ(ReadEntry(ref, "b/data.bin"), "second");
    ref->DeleteFile("a/asset.json");
    ref->DeleteFile("absent");
    EXPECT_EQ(ref->GetFileNames(), (std::vector<std::string>{"b/data.bin", "c/x.txt"}));
    EXPECT_EQ(ReadEntry(ref, "c/x.txt"), "third");
    TMemoryStream out;
    TZipHeader header;
    EXPECT_THROW(ref->ReadToStream("absent", &out, header), EZipException);
    ref->ReadToStream("absent", nullptr, header);  // no target: nothing happens
    EXPECT_FALSE(ref->GetIsOpened());
  }
  // Both hold a complete archive between operations.
  TMemoryStream copy;
  refs[1]->SaveToStream(nullptr, &copy);
  for (TStream* s : {static_cast<TStream*>(&copy)}) {
    TZipFile z;
    z.Open(s, zmRead);
    EXPECT_EQ(z.GetFileCount(), 2);
  }
  TZipFile z;
  z.Open(path, zmRead);
  EXPECT_EQ(z.GetFileNames(), (std::vector<std::string>{"b/data.bin", "c/x.txt"}));
}

TEST_F(AssetsArchivesTest, RegistryCountsHoldsAndFreesOnTheLast) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  const std::string path = Dir + "/pkg.zip";
  TQuorvelArchiveReference* a = registry->CreateArchiveByFilename(path);
  EXPECT_EQ(registry->CreateArchiveByFilename(path), a);
  EXPECT_EQ(a->GetRefCount(), 2);
  a->DecRef();
  EXPECT_EQ(registry->GetArchive(path), a);
  a->DecRef();
  EXPECT_FALSE(registry->ArchiveExists(path));
  EXPECT_EQ(registry->Count(), 0);

  // A held id keeps its memory archive: the second stream is ignored.
  TMemoryStream first, second;
  {
    TZipFile z;
    z.Open(&first, zmWrite);
    z.Add(TBytes{1}, "one");
    z.Close();
    z.Open(&second, zmWrite);
    z.Close();
  }
  TQuorvelArchiveReference* m = registry->CreateArchiveByStream("pkg", &first);
  EXPECT_EQ(registry->CreateArchiveByStream("pkg", &second), m);
  EXPECT_EQ(m->GetFileNames(), std::vector<std::string>{"one"});
  registry->ClearArchives();
  EXPECT_EQ(registry->Count(), 0);
}

TEST_F(AssetsArchivesTest, ApplyingAShorterStreamCutsTheOldArchive) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  auto* ref = static_cast<TQuorvelInMemoryArchiveReference*>(registry->CreateArchiveInMemory("pkg"));
  Add(ref, "big.bin", std::string(5000, 'x'));
  TMemoryStream empty;
  {
    TZipFile z;
    z.Open(&empty, zmWrite);
    z.Close();
  }
  ref->ApplyStream(&empty);
  EXPECT_EQ(ref->GetStream()->GetSize(), 22);
  EXPECT_TRUE(ref->GetFileNames().empty());
}

TEST_F(AssetsArchivesTest, SaveToFileCopiesOnlyToAnotherPath) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  const std::string path = Dir + "/pkg.zip", other = Dir + "/other.zip";
  TQuorvelArchiveReference* ref = registry->CreateArchiveByFilename(path);
  Add(ref, "a", "data");
  const TBytes before = TFile::ReadAllBytes(path);
  ref->SaveToFile(nullptr, path);
  EXPECT_EQ(TFile::ReadAllBytes(path), before);
  TFile::WriteAllBytes(other, TBytes(100000, 7));  // replaced, not overwritten in place
  ref->SaveToFile(nullptr, other);
  EXPECT_EQ(TFile::ReadAllBytes(other), before);
  TQuorvelArchiveReference* mem = registry->CreateArchiveInMemory("m");
  Add(mem, "b", "more");
  mem->SaveToFile(nullptr, other);
  TZipFile z;
  z.Open(other, zmRead);
  EXPECT_EQ(z.GetFileNames(), std::vector<std::string>{"b"});
}

// A reference keeps what it read between operations; whoever else writes or replaces the
// file (or the memory stream is applied anew) is noticed at the next operation, which reads
// the archive again instead of writing over it from a stale directory.
TEST_F(AssetsArchivesTest, AnArchiveChangedBehindTheReferenceIsReadAgain) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  const std::string path = Dir + "/held.zip";
  TQuorvelArchiveReference* ref = registry->CreateArchiveByFilename(path);
  Add(ref, "a.txt", "from the reference");
  EXPECT_FALSE(ref->GetIsOpened());
  const struct {
    const char* Name;
    std::function<void()> Change;
  } changes[] = {
      {"written in place",
       [&] {
         TZipFile z;
         z.Open(path, zmReadWrite);
         z.Add(TBytes{'x'}, "outside.txt");
         z.Close();
       }},
      {"replaced by another file",
       [&] {
         const std::string other = Dir + "/other.zip";
         TFile::Copy(path, other);
         TZipFile z;
         z.Open(other, zmReadWrite);
         z.Delete("outside.txt");
         z.Add(TBytes{'y', 'y'}, "replaced.txt");
         z.Close();
         TFile::Delete(path);
         TFile::Move(other, path);
       }},
      {"deleted", [&] { TFile::Delete(path); }},
  };
  std::vector<std::string> names = {"a.txt"};
  for (const auto& c : changes) {
    SCOPED_TRACE(c.Name);
    c.Change();
    if (std::string(c.Name) == "written in place") names = {"a.txt", "outside.txt"};
    if (std::string(c.Name) == "replaced by another file") names = {"a.txt", "replaced.txt"};
    if (std::string(c.Name) == "deleted") names = {};
    EXPECT_EQ(ref->GetFileNames(), names);
    Add(ref, "b.txt", "after");
    names.push_back("b.txt");
    TZipFile check;
    check.Open(path, zmRead);
    EXPECT_EQ(check.GetFileNames(), names);
    check.Close();
    ref->DeleteFile("b.txt");
    names.pop_back();
  }
  // Memory: a stream applied anew is what the next operation reads.
  TQuorvelArchiveReference* memory = registry->CreateArchiveInMemory("mem");
  Add(memory, "one.txt", "1");
  TMemoryStream replacement;
  {
    TZipFile z;
    z.Open(&replacement, zmWrite);
    z.Add(TBytes{'2'}, "two.txt");
    z.Close();
  }
  replacement.SetPosition(0);
  static_cast<TQuorvelInMemoryArchiveReference*>(memory)->ApplyStream(&replacement);
  EXPECT_EQ(memory->GetFileNames(), std::vector<std::string>{"two.txt"});
  EXPECT_EQ(ReadEntry(memory, "two.txt"), "2");
}

TEST_F(AssetsArchivesTest, ThreadsShareOneReferencePerId) {
  TOwned<TQuorvelArchiveReferences> registry(New<TQuorvelArchiveReferences>());
  const std::string path = Dir + "/shared.zip";
  TQuorvelArchiveReference* held = registry->CreateArchiveByFilename(path);
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
  for (int t = 0; t < 6; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        TQuorvelArchiveReference* ref = registry->CreateArchiveByFilename(path);
        if (ref != held) ++mismatches;
        // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
        if (i % 50 == 0) Add(ref, std::string("t").append(std::to_string(t)).append("_").append(std::to_string(i)), "x");
        ref->DecRef();
        // Ids that come and go under the same lock as the lookups.
        TQuorvelArchiveReference* own = registry->CreateArchiveInMemory("own" + std::to_string(i % 3));
        own->DecRef();
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(held->GetRefCount(), 1);
  EXPECT_EQ(held->GetFileNames().size(), 24u);
  held->DecRef();
  EXPECT_EQ(registry->Count(), 0);
}

}  // namespace
}  // namespace quorvel
