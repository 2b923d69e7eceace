// What users of installs and damaged files hit: read-only model and package files (run as an
// unprivileged user, since CI runs as root and no file mode stops root), package models that
// are not in their package yet, pictures without alpha, channel indices a format lacks,
// archive entries whose declared size lies, relative package names and textures that leave
// the package while definitions still use them.
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "OBJSupport.h"
#include "framework/io/Stream.h"
#include "framework/io/Path.h"
#include "framework/io/ZipFile.h"
#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"
#include "lib/formats/Imaging.h"
#include "lib/formats/ImagingFormats.h"
#include "lib/formats/Loader.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/scene/Model.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using testkit::ErrorOf;
using testkit::TScratchDir;

const std::string RobustnessDataDir = std::string(QUORVEL_TEST_DATA_DIR);
const std::string Triangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

// Runs AWork in a child process that, when it runs as root, first drops to the user nobody.
// The answer is AWork's ("" for success) or what went wrong, also a crash of the child.
std::string AsNobody(const std::function<std::string()>& AWork) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string answer;
    const passwd* nobody = ::getpwnam("nobody");
    if (::geteuid() == 0 && (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                             ::setuid(nobody->pw_uid) != 0)) {
      answer = "cannot become nobody";
    } else {
      try {
        answer = AWork();
      } catch (const std::exception& e) {
        answer = std::string("raised: ") + e.what();
      }
    }
    if (::write(fds[1], answer.data(), answer.size()) < 0) answer.clear();
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string answer;
  char buffer[512];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, size_t(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "the child died: " + answer;
  return answer;
}

void MakeReadOnly(const std::string& APath) {
  fs::permissions(APath, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

// A manager with one empty package "pkg" (in memory until it gets a file name).
struct TPackageRig {
  TOwned<TComponent> Root{New<TComponent>(nullptr)};
  TQuorvelAssetsManager* Manager = New<TQuorvelAssetsManager>(Root.get());
  TQuorvelAssetsPackage* Package = Manager->AddEmptyPackage("pkg");
};

TEST(LoaderRobustness, AReadOnlyModelFileLoadsThroughTheModelComponent) {
  TScratchDir dir;
  const std::string obj = dir.Write("tri.obj", Triangle);
  MakeReadOnly(obj);
  EXPECT_EQ(AsNobody([&] {
              TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
              model->LoadFromFile(obj);
              return model->GetModelDef() && !model->Children().empty() ? std::string() : std::string("nothing built");
            }),
            "");
}

TEST(LoaderRobustness, APackageModelWhoseFileIsNotInThePackageYetIsReadAndImported) {
  TScratchDir dir;
  const std::string obj = dir.Write("tri.obj", Triangle);
  TPackageRig rig;
  auto* model = New<TQuorvelModel>(rig.Root.get());
  auto free = Finally([&] { Free(model); });
  model->SetAssetsManager(rig.Manager);
  model->SetPackageName("pkg");
  ASSERT_EQ(ErrorOf([&] { model->SetSource(obj); }), "");
  ASSERT_NE(model->GetModelDef(), nullptr);
  EXPECT_FALSE(model->Children().empty());
  EXPECT_EQ(model->GetModelDef()->GetPackage(), rig.Package);
  auto* asset = dynamic_cast<TQuorvelModelAsset*>(rig.Package->FindAsset(obj, false));
  ASSERT_NE(asset, nullptr);
  EXPECT_EQ(asset->GetModel(), model->GetModelDef());
  // From now on the package answers: the file is not needed again.
  fs::remove(obj);
  ASSERT_EQ(ErrorOf([&] { model->SetSource(obj); }), "");
  EXPECT_EQ(model->GetModelDef(), asset->GetModel());
}

TEST(LoaderRobustness, ANilModelIsRefusedBeforeAnythingIsRead) {
  TScratchDir dir;
  const std::string obj = dir.Write("tri.obj", Triangle);
  TPackageRig rig;
  TQuorvelLoader* loader = TQuorvelLoader::GetLoaderByExtension(".obj");
  const TQuorvelLoadOptions options = TQuorvelLoadOptions::Create(obj, rig.Package, nullptr);
  TBytesStream stream(TBytes(Triangle.begin(), Triangle.end()));
  const std::function<void()> loads[] = {
      [&] { loader->LoadExistingModelFromStream(nullptr, &stream, options); },
      [&] { loader->LoadExistingModelFromFile(nullptr, options); },
  };
  for (const auto& load : loads) {
    EXPECT_THROW(load(), EArgumentNilException);
    // Nothing was read, so the package took nothing in (a definition it would own).
    EXPECT_EQ(rig.Package->FindAsset(obj, false), nullptr);
  }
}

TEST(PackageRobustness, AReadOnlyPackageOpensForReadingAndRefusesToSave) {
  TScratchDir dir;
  const std::string obj = dir.Write("tri.obj", Triangle);
  const std::string file = (dir.Path() / "pkg.zip").string();
  {
    TPackageRig rig;
    rig.Package->SetFilename(file);
    ASSERT_NE(rig.Package->AddAssetFromFile(obj), nullptr);
  }
  MakeReadOnly(file);
  // Run as nobody, the folder (root's) is read only as well.
  EXPECT_EQ(AsNobody([&] {
              TPackageRig rig;
              rig.Package->SetFilename(file);
              std::string answer;
              auto* asset = dynamic_cast<TQuorvelModelAsset*>(rig.Package->FindAsset(obj, false));
              if (!asset || !asset->GetModel()) answer += "the model did not load; ";
              const std::string saved = ErrorOf([&] { rig.Package->SaveToFile(file); });
              if (saved != "Cannot write package \"" + file + "\": the file is read only")
                answer += "save answered: " + saved;
              return answer;
            }),
            "");
}

TEST(PackageRobustness, ARelativePackageNameIsResolvedOnceAndRefreshOpensTheSameFile) {
  TScratchDir dir;
  const std::string obj = dir.Write("tri.obj", Triangle);
  const fs::path old = fs::current_path();
  fs::current_path(dir.Path());
  auto restore = Finally([&] { fs::current_path(old); });
  const fs::path beside = fs::path(SystemFolders::Get(TSystemFolder::Executable)) / "rel-pkg.zip";
  ASSERT_FALSE(fs::exists(beside));
  auto removeBeside = Finally([&] { fs::remove(beside); });

  TPackageRig rig;
  rig.Package->LoadFromFile("rel-pkg.zip");
  const std::string full = (fs::current_path() / "rel-pkg.zip").string();
  EXPECT_EQ(rig.Package->GetFilename(), full);
  ASSERT_NE(rig.Package->AddAssetFromFile(obj), nullptr);
  // Refreshing from another folder opens the same file again.
  fs::current_path(old);
  rig.Package->Refresh();
  EXPECT_EQ(rig.Package->GetFilename(), full);
  EXPECT_NE(rig.Package->FindAsset(obj, false), nullptr);
  EXPECT_FALSE(fs::exists(beside));
}

TEST(PackageRobustness, ClearingThePackagesTextureGroupUnlinksTheDefinitionsUsingIt) {
  TPackageRig rig;
  TQuorvelAsset* texture = rig.Package->AddAssetFromFile(RobustnessDataDir + "/obj/SpiderTex.jpg");
  ASSERT_NE(texture, nullptr);
  ASSERT_EQ(texture->GetGroup(), rig.Package->GetGroup(1));
  auto* asset = dynamic_cast<TQuorvelModelAsset*>(rig.Package->GetGroup(0)->AddEmptyAsset("m.obj", true));
  ASSERT_NE(asset, nullptr);
  auto* def = New<TModelDef>(nullptr, rig.Package);
  auto* material = New<TMaterialDef>(def, "Wood");
  material->AddTexture(TColorChannelDef::Diffuse, texture, false);
  asset->SetModel(def);
  ASSERT_EQ(material->GetTexture(TColorChannelDef::Diffuse)->GetAssetRef(), texture);

  rig.Package->ClearGroup(1, false);
  EXPECT_EQ(material->GetTexture(TColorChannelDef::Diffuse)->GetAssetRef(), nullptr);
  EXPECT_TRUE(def->GetTextureAssets().empty());
}

// One pixel of AFormat whose bytes are ABytes, converted to A8R8G8B8.
TColor32Rec AsArgb(TImageFormat AFormat, const std::vector<uint8_t>& ABytes) {
  TImageData image{};
  AllocateImageData(1, 1, AFormat, image);
  auto release = Finally([&] { ReleaseImageData(image); });
  std::memcpy(image.Bits, ABytes.data(), ABytes.size());
  ChangeImageFormat(image, TImageFormat::A8R8G8B8);
  TColor32Rec c;
  std::memcpy(&c.Color, image.Bits, 4);
  return c;
}

TEST(ImagingRobustness, FormatsWithoutAlphaReadOpaque) {
  const struct {
    TImageFormat Format;
    std::vector<uint8_t> Bytes;  // the unused bits left 0, as files leave them
    uint8_t B, G, R;
  } cases[] = {
      {TImageFormat::X8R8G8B8, {10, 20, 30, 0}, 10, 20, 30},
      {TImageFormat::R8G8B8, {10, 20, 30}, 10, 20, 30},
      {TImageFormat::X1R5G5B5, {0x1F, 0x00}, 255, 0, 0},
      {TImageFormat::X4R4G4B4, {0x0F, 0x00}, 255, 0, 0},
      {TImageFormat::R5G6B5, {0x1F, 0x00}, 255, 0, 0},
  };
  for (const auto& c : cases) {
    const TColor32Rec argb = AsArgb(c.Format, c.Bytes);
    const std::string name = ImageFormatDescriptor(c.Format)->DisplayName;
    EXPECT_EQ(argb.A, 255) << name;
    EXPECT_EQ(argb.B, c.B) << name;
    EXPECT_EQ(argb.G, c.G) << name;
    EXPECT_EQ(argb.R, c.R) << name;
  }
  // A format with alpha keeps its alpha.
  EXPECT_EQ(AsArgb(TImageFormat::A8R8G8B8, {10, 20, 30, 40}).A, 40);
}

TEST(ImagingRobustness, ChannelIndicesTheFormatLacksAreRefused) {
  for (const auto& [format, size] : {std::pair{TImageFormat::R8G8B8, 3}, std::pair{TImageFormat::X8R8G8B8, 4}}) {
    TImageData image{};
    AllocateImageData(2, 1, format, image);
    auto release = Finally([&] { ReleaseImageData(image); });
    auto* p = static_cast<uint8_t*>(image.Bits);
    for (int i = 0; i < 2 * size; ++i) p[i] = uint8_t(i + 1);
    for (const auto& [c1, c2] : {std::pair{0, 3}, std::pair{3, 2}}) {
      EXPECT_THROW(ExchangeImageChannels(image, c1, c2), EAssertionFailed) << int(format) << ": " << c1 << "," << c2;
      for (int i = 0; i < 2 * size; ++i) EXPECT_EQ(p[i], i + 1) << "byte " << i;
    }
    EXPECT_TRUE(ExchangeImageChannels(image, 0, 2));
    EXPECT_EQ(p[0], 3);
  }
  TImageData argb{};
  AllocateImageData(1, 1, TImageFormat::A8R8G8B8, argb);
  auto release = Finally([&] { ReleaseImageData(argb); });
  auto* p = static_cast<uint8_t*>(argb.Bits);
  p[0] = 1;
  p[3] = 4;
  EXPECT_TRUE(ExchangeImageChannels(argb, 0, 3));
  EXPECT_EQ(p[0], 4);
  EXPECT_EQ(p[3], 1);
}

// The process's peak resident size in kB since the last reset (0 when unknown).
int64_t PeakKb(bool AReset) {
  if (AReset) std::ofstream("/proc/self/clear_refs") << "5";
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6));
  return 0;
}

// A zip in memory with one deflated entry "e.bin" of 2000 bytes whose declared size (central
// directory and local header alike) is ADeclared.
std::string ZipDeclaring(uint32_t ADeclared) {
  TBytesStream stream;
  {
    TZipFile zip;
    zip.Open(&stream, zmWrite);
    TBytes data(2000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    zip.Add(data, "e.bin");
    zip.Close();
  }
  std::string bytes(static_cast<const char*>(stream.GetMemory()), size_t(stream.GetSize()));
  auto patch = [&](const char* ASignature, size_t AOffset) {
    const size_t at = bytes.find(ASignature, 0, 4);
    ASSERT_NE(at, std::string::npos);
    std::memcpy(&bytes[at + AOffset], &ADeclared, 4);
  };
  patch("PK\x01\x02", 24);
  patch("PK\x03\x04", 22);
  return bytes;
}

TEST(ArchiveRobustness, AnEntryIsReadWithTheBytesItHoldsNotTheSizeItDeclares) {
  const struct {
    const char* Name;
    uint32_t Declared;
  } cases[] = {
      {"declared near the limit", (1u << 30) - 1},
      {"declared shorter", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string bytes = ZipDeclaring(c.Declared);
    TBytesStream stream(TBytes(bytes.begin(), bytes.end()));
    TZipFile zip;
    zip.Open(&stream, zmRead);
    const int64_t before = PeakKb(true);
    TBytes read;
    const std::string error = ErrorOf([&] { zip.Read("e.bin", read); });
    EXPECT_EQ(error.rfind("Cannot read \"e.bin\": ", 0), 0u) << error;
    EXPECT_LT(PeakKb(false) - before, 64 * 1024) << "kB more at the peak";
    EXPECT_EQ(zip.GetOpenEntryCount(), 0);
  }
}

}  // namespace
}  // namespace quorvel
