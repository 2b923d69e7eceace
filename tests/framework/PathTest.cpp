#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "framework/io/Path.h"
#include "framework/rtl/Encoding.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class PathFiles : public ::testing::Test {
protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "quorvel-path-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    Dir = tmpl;
  }
  void TearDown() override {
    SystemFolders::Reset();
    fs::remove_all(Dir);
  }
  std::string PathOf(const std::string& name) const { return Dir + "/" + name; }
  std::string Dir;
};

// Restores an environment variable when the scope ends.
class EnvGuard {
public:
  explicit EnvGuard(const char* name) : FName(name) {
    if (const char* v = getenv(name)) FOld = v;
  }
  ~EnvGuard() {
    if (FOld) setenv(FName, FOld->c_str(), 1);
    else unsetenv(FName);
  }
  void Set(const std::string& v) { setenv(FName, v.c_str(), 1); }

private:
  const char* FName;
  std::optional<std::string> FOld;
};

TEST(Path, SplitsAtEitherSeparator) {
  const struct {
    const char* In;
    const char* FileName;
    const char* Extension;
    const char* Directory;
    const char* NoExtension;
  } cases[] = {
      {".\\assets\\monkey.obj", "monkey.obj", ".obj", ".\\assets", "monkey"},
      {"C:\\data\\level1.zip", "level1.zip", ".zip", "C:\\data", "level1"},
      {"/home/u/models/a.b/mesh", "mesh", "", "/home/u/models/a.b", "mesh"},
      {"textures/wood.tar.gz", "wood.tar.gz", ".gz", "textures", "wood.tar"},
      {"plain", "plain", "", "", "plain"},
      {"/root.txt", "root.txt", ".txt", "/", "root"},
      {"mixed/sub\\file.MTL", "file.MTL", ".MTL", "mixed/sub", "file"},
      {"dir\\", "", "", "dir", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.In);
    EXPECT_EQ(TPath::GetFileName(c.In), c.FileName);
    EXPECT_EQ(TPath::GetExtension(c.In), c.Extension);
    EXPECT_EQ(TPath::GetDirectoryName(c.In), c.Directory);
    EXPECT_EQ(TPath::GetFileNameWithoutExtension(c.In), c.NoExtension);
  }
}

TEST(Path, ChangesExtensionsAndCombinesInTheCallersStyle) {
  EXPECT_EQ(TPath::ChangeExtension("a\\b.obj", ".mtl"), "a\\b.mtl");
  EXPECT_EQ(TPath::ChangeExtension("a.b/c", "png"), "a.b/c.png");  // dot in a folder is no extension
  EXPECT_EQ(TPath::ChangeExtension("x.tar.gz", ""), "x.tar");
  EXPECT_EQ(TPath::Combine("C:\\data", "pkg.zip"), "C:\\data\\pkg.zip");
  EXPECT_EQ(TPath::Combine("/srv/data", "sub\\pkg.zip"), "/srv/data/sub\\pkg.zip");
  EXPECT_EQ(TPath::Combine("/srv/data/", "pkg.zip"), "/srv/data/pkg.zip");
  EXPECT_EQ(TPath::Combine("/srv", "/abs/x"), "/abs/x");
  EXPECT_EQ(TPath::Combine("", "x"), "x");
  EXPECT_EQ(TPath::IncludeTrailingPathDelimiter("C:\\data"), "C:\\data\\");
  EXPECT_EQ(TPath::IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(TPath::ExcludeTrailingPathDelimiter("/tmp//"), "/tmp");
  EXPECT_TRUE(TPath::IsPathRooted("\\data"));
  EXPECT_TRUE(TPath::IsPathRooted("c:x"));
  EXPECT_FALSE(TPath::IsPathRooted("sub\\x"));
  EXPECT_EQ(TPath::GetFullPath("/a/b\\..\\c/./d"), "/a/c/d");
}

TEST_F(PathFiles, FilesAcceptBackslashPaths) {
  TDirectory::CreateDirectory(Dir + "\\assets\\models");
  EXPECT_TRUE(TDirectory::Exists(PathOf("assets/models")));
  const std::string win = Dir + "\\assets\\models\\monkey.obj";
  TFile::WriteAllText(win, "v 1 2 3\n");
  EXPECT_TRUE(TFile::Exists(PathOf("assets/models/monkey.obj")));
  EXPECT_EQ(TFile::ReadAllText(win), "v 1 2 3\n");
  EXPECT_EQ(TFile::GetSize(win), 8);
  EXPECT_EQ(TDirectory::GetFiles(Dir + "\\assets\\models", "*.obj"),
            std::vector<std::string>{PathOf("assets/models/monkey.obj")});
  TFile::Copy(win, Dir + "\\copy.obj");
  EXPECT_THROW(TFile::Copy(win, Dir + "\\copy.obj"), EInOutError);  // no overwrite
  TFile::Copy(win, Dir + "\\copy.obj", true);
  TFile::Move(Dir + "\\copy.obj", Dir + "\\moved.obj");
  EXPECT_FALSE(TFile::Exists(PathOf("copy.obj")));
  EXPECT_TRUE(TFile::Exists(PathOf("moved.obj")));
  TFile::Delete(Dir + "\\moved.obj");
  TFile::Delete(Dir + "\\moved.obj");  // already gone: no error
  EXPECT_FALSE(TFile::Exists(PathOf("moved.obj")));
  EXPECT_FALSE(TFile::Exists(Dir));  // a directory is not a file
  EXPECT_THROW(TFile::Delete(Dir), EInOutError);
  EXPECT_THROW(TFile::ReadAllBytes(PathOf("none")), EFOpenError);
  TDirectory::Delete(PathOf("assets"), true);
  EXPECT_FALSE(TDirectory::Exists(PathOf("assets")));
}

TEST_F(PathFiles, TextFilesHonourByteOrderMarksAndEncodings) {
  const std::string path = PathOf("t.txt");
  const std::string text = "caf\xC3\xA9 \xE2\x82\xAC\r\nline";
  const struct {
    const TEncoding* Enc;
    TBytes Preamble;
  } cases[] = {
      {&TEncoding::UTF8(), {0xEF, 0xBB, 0xBF}},
      {&TEncoding::Unicode(), {0xFF, 0xFE}},
      {&TEncoding::BigEndianUnicode(), {0xFE, 0xFF}},
  };
  for (const auto& c : cases) {
    TFile::WriteAllText(path, text, *c.Enc);
    const TBytes raw = TFile::ReadAllBytes(path);
    ASSERT_GE(raw.size(), c.Preamble.size());
    EXPECT_EQ(TBytes(raw.begin(), raw.begin() + static_cast<ptrdiff_t>(c.Preamble.size())), c.Preamble);
    EXPECT_EQ(TFile::ReadAllText(path), text) << c.Enc->Name();
  }
  // ANSI: no preamble, one byte per character; read back through the same code page.
  TFile::WriteAllText(path, text, TEncoding::ANSI());
  const TBytes raw = TFile::ReadAllBytes(path);
  EXPECT_EQ(raw.size(), 12u);
  EXPECT_EQ(raw[3], 0xE9);
  EXPECT_EQ(raw[5], 0x80);  // the euro sign in Windows-1252
  EXPECT_EQ(TFile::ReadAllText(path, TEncoding::ANSI()), text);
  TFile::WriteAllText(path, text);  // plain form: UTF-8 without a mark
  EXPECT_EQ(TFile::ReadAllBytes(path).size(), text.size());
}

TEST_F(PathFiles, ResolvesNamesThatDifferOnlyInCase) {
  fs::create_directories(PathOf("Assets/Models"));
  TFile::WriteAllText(PathOf("Assets/Models/Monkey.OBJ"), "x");
  EXPECT_EQ(TPath::ResolveCaseInsensitive(Dir + "\\assets\\models\\monkey.obj"), PathOf("Assets/Models/Monkey.OBJ"));
  EXPECT_EQ(TPath::ResolveCaseInsensitive(PathOf("Assets/Models/Monkey.OBJ")), PathOf("Assets/Models/Monkey.OBJ"));
  EXPECT_EQ(TPath::ResolveCaseInsensitive(PathOf("assets/other.obj")), PathOf("assets/other.obj"));
  // Relative paths resolve against the working directory.
  const fs::path old = fs::current_path();
  fs::current_path(Dir);
  EXPECT_EQ(TPath::ResolveCaseInsensitive("assets\\MODELS\\monkey.obj"), "Assets/Models/Monkey.OBJ");
  fs::current_path(old);
}

TEST_F(PathFiles, SystemFoldersFollowXdgAndCanBeOverridden) {
  EnvGuard home("HOME"), config("XDG_CONFIG_HOME"), data("XDG_DATA_HOME"), tmp("TMPDIR");
  home.Set(Dir);
  config.Set(PathOf("cfg"));
  unsetenv("XDG_DATA_HOME");
  tmp.Set("/var/tmp/");
  fs::create_directories(PathOf("cfg"));
  EXPECT_EQ(TPath::GetDocumentsPath(), Dir + "/Documents");  // no user-dirs.dirs yet
  EXPECT_EQ(TPath::GetPublicPath(), Dir + "/Public");
  TFile::WriteAllText(PathOf("cfg/user-dirs.dirs"),
                      "# written by xdg-user-dirs-update\n"
                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                      "XDG_PUBLICSHARE_DIR=\"/srv/public\"\n"
                      "XDG_DOWNLOAD_DIR=\"relative/ignored\"\n");
  EXPECT_EQ(TPath::GetDocumentsPath(), Dir + "/Dokumente");
  EXPECT_EQ(TPath::GetPublicPath(), "/srv/public");
  EXPECT_EQ(TPath::GetDownloadsPath(), Dir + "/Downloads");
  EXPECT_EQ(TPath::GetHomePath(), Dir + "/.local/share");
  EXPECT_EQ(TPath::GetTempPath(), "/var/tmp");
  char exe[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(TPath::GetExecutablePath(), fs::path(exe).parent_path().string());

  SystemFolders::Set(TSystemFolder::Public, PathOf("pub"));
  EXPECT_EQ(TPath::GetPublicPath(), PathOf("pub"));
  EXPECT_EQ(TPath::GetDocumentsPath(), Dir + "/Dokumente");  // others untouched
  SystemFolders::Reset(TSystemFolder::Public);
  EXPECT_EQ(TPath::GetPublicPath(), "/srv/public");
}

}  // namespace
}  // namespace quorvel
