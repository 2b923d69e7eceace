#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "OBJSupport.h"
#include "framework/gui/Bitmap.h"
#include "framework/rtl/Finally.h"
#include "framework/io/Stream.h"
#include "lib/formats/obj/OBJLoader.h"
#include "lib/formats/q3m/Q3MLoader.h"

namespace quorvel {
namespace {

using testkit::DescribeModel;
using testkit::ErrorOf;

// Records what the dispatch hands over and what the thread record says while it reads.
class TProbeLoader : public TQuorvelLoader {
public:
  TModelDef* LoadModelDefFromStream(TStream*, const TQuorvelLoadOptions& AOptions) override {
    SetCurrentThreadLoader(this, AOptions);
    auto unset = Finally([] { UnsetCurrentThreadLoader(); });
    SeenExt = AOptions.FileInfo.Ext;
    SeenLoader = GetCurrentLoaderThreadInfo().Loader;
    std::thread([this] { OtherThreadLoader = GetCurrentLoaderThreadInfo().Loader; }).join();
    if (Fail) throw Exception("probe failed");
    return New<TModelDef>(nullptr, nullptr);
  }
  std::string SeenExt;
  TQuorvelLoader* SeenLoader = nullptr;
  TQuorvelLoader* OtherThreadLoader = reinterpret_cast<TQuorvelLoader*>(1);
  bool Fail = false;
};

TModelDef* FromStream(const std::string& APath, const std::string& AExt = {}) {
  TBytesStream stream(TBytes{});
  return TQuorvelLoader::LoadUndefinedModelDefFromStream(&stream, nullptr, APath, AExt);
}

TEST(LoaderRegistry, DispatchByExtension) {
  EXPECT_NE(dynamic_cast<TQuorvelLoaderOBJ*>(TQuorvelLoader::GetLoaderByExtension(".OBJ")), nullptr);
  EXPECT_EQ(TQuorvelLoader::GetLoaderByExtension(".fbx"), nullptr);

  // The model files' own reader answers ".q3m" in any case; an empty stream reaches it.
  EXPECT_NE(dynamic_cast<TQuorvelLoaderQ3M*>(TQuorvelLoader::GetLoaderByExtension(".Q3M")), nullptr);
  EXPECT_EQ(ErrorOf([] { delete FromStream("dir/Ship.Q3M"); }), "invalid Q3M header");
  // The explicit extension wins over the path's.
  EXPECT_EQ(ErrorOf([] { delete FromStream("dir/Ship.obj", ".q3m"); }), "invalid Q3M header");
  TProbeLoader probe;
  EXPECT_EQ(ErrorOf([&] { TQuorvelLoader::RegisterLoader(".q3m", &probe); }), "Duplicates not allowed");

  TQuorvelLoaderOBJ second;
  EXPECT_EQ(ErrorOf([&] { TQuorvelLoader::RegisterLoader(".obj", &second); }), "Duplicates not allowed");

  struct TCase {
    const char* What;
    std::function<void()> Load;
    std::string Message;
  };
  const TCase cases[] = {
      {"file of unknown format", [] { TQuorvelLoader::LoadUndefinedModelDefFromFile(nullptr, "x/model.fbx"); },
       "Cannot open file \"x/model.fbx\". No such file or directory"},
      {"stream of unknown format", [] { FromStream("x/y.abc"); },
       "model format not supported: x/y.abc - check if unit is included \"Quorvel.abc.Loader"},
      {"animation of unknown format",
       [] { TQuorvelLoader::LoadUndefinedAnimationDefFromFile(nullptr, "run.fbx"); },
       "model format not supported: run.fbx"},
      {"package of another class", [] {
         TObject package;
         TBytesStream s(TBytes{});
         TQuorvelLoader::LoadUndefinedModelDefFromStream(&s, &package, "a.obj", "");
       }, "Invalid class typecast"},
      {"bad open format", [] {
         auto options = TQuorvelLoadOptions::Create("a.obj", nullptr, nullptr);
         options.FileInfo.OpenFormat = TQuorvelFileOpenFormat(7);
         TQuorvelLoader::LoadUndefinedModelDefFromFile(options);
       }, "TQuorvelLoader.LoadUndefinedModelDefFromFile : open format not supported"},
      {"bad open format, loader road", [] {
         auto options = TQuorvelLoadOptions::Create("a.obj", nullptr, nullptr);
         options.FileInfo.OpenFormat = TQuorvelFileOpenFormat(7);
         TQuorvelLoader::GetLoaderByExtension(".obj")->LoadModelDefFromFile(options);
       }, "TQuorvelLoader.LoadModelDefFromFile : open format not supported"},
  };
  for (const TCase& c : cases) EXPECT_EQ(ErrorOf(c.Load), c.Message) << c.What;

  // Animations: no registered format reads them on their own.
  testkit::TScratchDir dir;
  EXPECT_EQ(TQuorvelLoader::LoadUndefinedAnimationDefFromFile(nullptr, dir.Write("walk.obj", "v 0 0 0\n")), nullptr);
}

TEST(LoaderRegistry, DownloadReadsAnEmptyStream) {
  auto options = TQuorvelLoadOptions::Create("nowhere/m.obj", nullptr, nullptr);
  options.FileInfo.OpenFormat = TQuorvelFileOpenFormat::fofDownload;
  TOwned<TModelDef> model(TQuorvelLoader::LoadUndefinedModelDefFromFile(options));
  EXPECT_EQ(DescribeModel(model.get()), "OBJ_1 v0 t0");
  EXPECT_EQ(model->GetId().rfind("OBJModel", 0), 0u);
}

TEST(LoaderRegistry, ThreadRecordLivesForOneRead) {
  TProbeLoader probe;
  TQuorvelLoader::RegisterLoader(".probe", &probe);
  auto unregister = Finally([] { TQuorvelLoader::UnregisterLoader(".probe"); });
  for (bool fail : {false, true}) {
    probe.Fail = fail;
    const std::string error = ErrorOf([] { delete FromStream("m.probe"); });
    EXPECT_EQ(error, fail ? "probe failed" : "");
    EXPECT_EQ(probe.SeenLoader, &probe);
    EXPECT_EQ(probe.OtherThreadLoader, nullptr);
    EXPECT_EQ(TQuorvelLoader::GetCurrentLoaderThreadInfo().Loader, nullptr);
    EXPECT_EQ(TQuorvelLoader::GetCurrentLoaderThreadInfo().Options.FileInfo.PathOrUID, "m.probe");
  }
}

TEST(LoaderRegistry, LimitTextureSize) {
  struct TCase {
    int W, H, LX, LY;
    int EW, EH;
    bool Changed;
  };
  const TCase cases[] = {
      {4096, 2048, 1024, 1024, 1024, 512, true},
      {1000, 3000, 1024, 1024, 341, 1024, true},
      {1024, 1024, 1024, 1024, 1024, 1024, false},
      {4096, 8192, 1024, 1024, 512, 1024, true},  // width first, then still held to the height
      {4000, 100, 0, 50, 2000, 50, true},          // 0: that axis is free
      {300, 5000, 200, 0, 200, 3333, true},
      {300, 200, 0, 0, 300, 200, false},
  };
  for (const TCase& c : cases) {
    TOwned<TBitmap> bitmap(New<TBitmap>(c.W, c.H));
    EXPECT_EQ(TQuorvelLoader::LimitTextureSize(bitmap.get(), TPoint(c.LX, c.LY)), c.Changed) << c.W << "x" << c.H;
    EXPECT_EQ(bitmap->GetWidth(), c.EW) << c.W << "x" << c.H;
    EXPECT_EQ(bitmap->GetHeight(), c.EH) << c.W << "x" << c.H;
  }
  EXPECT_FALSE(TQuorvelLoader::LimitTextureSize(static_cast<TBitmap*>(nullptr), TPoint(1, 1)));
}

TEST(LoaderRegistry, LimitTextureSizesWalksSubfoldersByMask) {
  testkit::TScratchDir dir;
  const std::string names[] = {"a.PNG", "sub/b.jpeg", "sub/deeper/c.JpG", "d.bmp"};
  for (const std::string& name : names) {
    std::filesystem::create_directories((dir.Path() / name).parent_path());
    TOwned<TBitmap> bitmap(New<TBitmap>(64, 32));
    bitmap->SaveToFile((dir.Path() / name).string());
  }
  TQuorvelLoader::LimitTextureSizes(dir.Path().string(), TPoint(16, 16));
  for (const std::string& name : names) {
    TOwned<TBitmap> bitmap(New<TBitmap>());
    bitmap->LoadFromFile((dir.Path() / name).string());
    EXPECT_EQ(bitmap->GetWidth(), name == "d.bmp" ? 64 : 16) << name;
  }
}

}  // namespace
}  // namespace quorvel
