#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {
namespace {

// Every system folder pointed at a temp folder of its own name.
class AssetsFileNamesTest : public ::testing::Test {
protected:
  void SetUp() override {
    Root = TPath::Combine(TPath::GetTempPath(), "quorvel_names_" + std::to_string(getpid()));
    TDirectory::CreateDirectory(Root);
    const std::pair<TSystemFolder, const char*> kinds[] = {{TSystemFolder::Home, "home"},
                                                           {TSystemFolder::Documents, "docs"},
                                                           {TSystemFolder::Public, "public"},
                                                           {TSystemFolder::Downloads, "down"},
                                                           {TSystemFolder::Executable, "exe"}};
    for (const auto& [kind, name] : kinds) {
      TDirectory::CreateDirectory(Root + "/" + name);
      SystemFolders::Set(kind, Root + "/" + name);
    }
  }
  void TearDown() override {
    SystemFolders::Reset();
    TDirectory::Delete(Root, true);
  }
  std::string Root;
};

TEST_F(AssetsFileNamesTest, PlaceholdersResolveInAnyCaseAndBackslashesBecomeSlashes) {
  const std::pair<std::string, std::string> cases[] = {
      {"{HOME}pkg.zip", Root + "/home/pkg.zip"},
      {"{home}pkg.zip", Root + "/home/pkg.zip"},
      {"{Assets}pkg.zip", Root + "/home/assets/pkg.zip"},
      {"{DOCS}a\\b.zip", Root + "/docs/a/b.zip"},
      {"{DOWNLOADS}x", Root + "/down/x"},
      {"{LIB}x", Root + "/exe/x"},
      {"{PUBLIC}x", Root + "/public/x"},
      {"{SHARED_DOCS}x", Root + "/public/x"},
      {"{SHARED_DOWNLOADS}x", Root + "/public/x"},
      {"{HOME}a{HOME}b", Root + "/home/a" + Root + "/home/b"},
      {"C:/data/pkg.zip", "C:/data/pkg.zip"},
      {"sub\\pkg.zip", "sub/pkg.zip"},
      // Unknown tokens and an unclosed brace come back upper-cased and end the scan.
      {"{foo}x{HOME}", "{FOO}x" + Root + "/home/"},
      {"a{foo", "a{FOO"},
      {"{}{", "{}{"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(TQuorvelAssetsPackage::ResolveFilename(in), out) << in;
}

TEST_F(AssetsFileNamesTest, SetFilenameKeepsThePlaceholderAndResolvesRelativeNamesAgainstTheProgram) {
  TOwned<TQuorvelAssetsPackage> package(New<TQuorvelAssetsPackage>());
  TDirectory::CreateDirectory(Root + "/home/assets");
  package->SetFilename("{ASSETS}pkg.zip");
  EXPECT_EQ(package->GetFilename(), "{ASSETS}pkg.zip");
  EXPECT_EQ(package->GetResolvedFilename(), Root + "/home/assets/pkg.zip");

  TDirectory::CreateDirectory(Root + "/exe/sub");
  package->SetFilename("sub\\pkg.zip");
  EXPECT_EQ(package->GetResolvedFilename(), Root + "/exe/sub/pkg.zip");
  package->SetFilename("pkg.zip");
  EXPECT_EQ(package->GetResolvedFilename(), Root + "/exe/pkg.zip");

  package->SetFilename("");
  EXPECT_EQ(package->GetFilename(), "");
}

TEST_F(AssetsFileNamesTest, AFolderFailingTheProbeRaisesAndClearsTheName) {
  TOwned<TQuorvelAssetsPackage> package(New<TQuorvelAssetsPackage>());
  EXPECT_TRUE(TQuorvelAssetsPackage::HasWriteAccess(Root + "/docs"));
  EXPECT_FALSE(TFile::Exists(Root + "/docs/chk.tmp"));  // the probe leaves nothing behind

  // A missing folder, and a folder already holding a probe file.
  TFileStream(Root + "/public/chk.tmp", fmCreate);
  const std::pair<std::string, std::string> cases[] = {{"{DOCS}missing/pkg.zip", Root + "/docs/missing/"},
                                                       {"{PUBLIC}pkg.zip", Root + "/public/"}};
  for (const auto& [name, folder] : cases) {
    package->SetFilename("{DOCS}ok.zip");
    try {
      package->SetFilename(name);
      ADD_FAILURE() << name;
    } catch (const Exception& e) {
      EXPECT_EQ(std::string(e.what()), "Failed to read/write package - missing write-access in folder: " + folder);
    }
    EXPECT_EQ(package->GetFilename(), "") << name;
    EXPECT_EQ(package->GetResolvedFilename(), "") << name;
  }
  EXPECT_TRUE(TFile::Exists(Root + "/public/chk.tmp"));  // someone else's probe is left alone
}

}  // namespace
}  // namespace quorvel
