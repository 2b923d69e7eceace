// The skybox's properties by name, its JSON configuration in streams and files, and loading
// the six faces from files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "framework/io/Json.h"
#include "framework/io/Stream.h"
#include "lib/scene/SkyBox.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::TViewportTest;

class SkyBoxConfiguration : public TViewportTest {
protected:
  void TearDown() override {
    if (!FDir.empty()) std::filesystem::remove_all(FDir);
    TViewportTest::TearDown();
  }
  TQuorvelSkyBox* AddSky() {
    auto* sky = New<TQuorvelSkyBox>(Form.get());
    sky->SetParent(Viewport);
    return sky;
  }
  std::string Dir() {
    if (FDir.empty()) {
      FDir = std::filesystem::temp_directory_path() / ("quorvel-sky-" + std::to_string(::getpid()));
      std::filesystem::create_directories(FDir);
    }
    return FDir.string() + "/";
  }
  static std::string Text(TQuorvelSkyBox* ASky) {
    TOwned<TJSONObject> json(ASky->ToJSON());
    return json->ToJSON();
  }
  // A configuration whose every field differs from the reset values.
  static TSkyBoxShaderData Unusual() {
    TSkyBoxShaderData d = TSkyBoxShaderData::Create(0);
    float step = 0.125f;
    for (float* f : {&d.CrescentMoon, &d.MoonSurface, &d.DepolarizationFactor, &d.Luminance, &d.MieCoefficient,
                     &d.MieDirectionalG, &d.MieV, &d.MieZenithLength, &d.NumMolecules, &d.Rayleigh,
                     &d.RayleighZenithLength, &d.RefractiveIndex, &d.SunAngularDiameterDegrees, &d.SunIntensityFactor,
                     &d.SunIntensityFalloffSteepness, &d.TonemapWeighting, &d.Turbidity, &d.Inclination, &d.Azimuth,
                     &d.StarDensity, &d.StarProbe, &d.StarSize, &d.StarSpark, &d.StarBrightness, &d.CloudFrequency,
                     &d.CloudAmplitude}) {
      *f = *f * 0.5f + step;
      step += 0.125f;
    }
    d.Diffuse = TAlphaColorF(0.1f, 0.2f, 0.3f, 0.4f);
    d.Emissive = TAlphaColorF(0.5f, 0.6f, 0.7f, 0.8f);
    d.StarColor = TAlphaColorF(0.9f, 0.8f, 0.7f, 0.6f);
    d.CloudColor = TAlphaColorF(0.25f, 0.35f, 0.45f, 0.55f);
    d.CrescentOfs = TPointF(0.3f, -0.7f);
    d.MieKCoefficient = TVector3D(0.1f, 0.2f, 0.3f, 0.4f);
    d.Primaries = TPoint3D(1e-7f, 2e-7f, 3e-7f);
    d.CloudIterations = 9;
    return d;
  }
  std::filesystem::path FDir;
};

TEST_F(SkyBoxConfiguration, NamedPropertiesReachTheRecordThroughTheClamps) {
  auto* sky = AddSky();
  struct TCase {
    const char* Name;
    float Value, Stored;
  } cases[] = {
      {"Turbidity", 500, 100},       {"Azimuth", 3, 1},          {"Inclination", -4, -1},
      {"NumMolecules", 10, 100000},  {"CloudAmplitude", -20, -10}, {"StarSize", 250, 250},
      {"MieKCoefficientW", 2, 1},    {"PrimariesB", 0, 1e-9f},   {"CrescentOfsY", 7, 7},
  };
  for (const TCase& c : cases) {
    SetPropValue(sky, c.Name, c.Value);
    EXPECT_FLOAT_EQ(GetPropValue(sky, c.Name).AsType<float>(), c.Stored) << c.Name;
  }
  // One component changes; its neighbours stay.
  const TSkyBoxShaderData& d = sky->SkyMaterial()->ShaderData();
  EXPECT_FLOAT_EQ(d.MieKCoefficient.X, 0.686f);
  EXPECT_FLOAT_EQ(d.MieKCoefficient.W, 1);
  EXPECT_FLOAT_EQ(d.Primaries.X, 4.5e-7f);
  EXPECT_FLOAT_EQ(d.Primaries.Z, 6.8e-7f);
  EXPECT_FLOAT_EQ(d.CrescentOfs.X, -0.5f);

  SetPropValue(sky, "CloudIterations", 40);
  EXPECT_EQ(sky->GetCloudIterations(), 16);
  SetPropValue(sky, "StarColor", TValue::From(TAlphaColor(claRed)));
  EXPECT_FLOAT_EQ(d.StarColor.R, 1);
  EXPECT_FLOAT_EQ(d.StarColor.G, 0);
  SetPropValue(sky, "Crescent", false);
  EXPECT_FLOAT_EQ(sky->GetCrescentMoon(), -0.03f);
  SetPropValue(sky, "CloudsEnabled", false);
  EXPECT_FALSE(sky->SkyMaterial()->GetCloudsEnabled());
  SetPropValue(sky, "Mode", TValue::From(TQuorvelSkyBoxMode::Blank));
  EXPECT_EQ(sky->GetSkyMaterialSource()->GetMode(), TQuorvelSkyBoxMode::Blank);

  sky->SetSize({100, 200, 300});
  EXPECT_FLOAT_EQ(sky->GetHeight(), 200);
  EXPECT_FLOAT_EQ(sky->GetSize().Z, 300);
}

TEST_F(SkyBoxConfiguration, ToJSONWritesTheThirtyFourKeysInOrder) {
  auto* sky = AddSky();
  TOwned<TJSONObject> json(sky->ToJSON());
  const char* const names[] = {
      "Diffuse", "Emissive", "CrescentMoon", "MoonSurface", "CrescentOfs", "DepolarizationFactor", "Luminance",
      "MieCoefficient", "MieDirectionalG", "MieV", "MieZenithLength", "MieKCoefficient", "Primaries",
      "NumMolecules", "Rayleigh", "RayleighZenithLength", "RefractiveIndex", "SunAngularDiameterDegrees",
      "SunIntensityFactor", "SunIntensityFalloffSteepness", "TonemapWeighting", "Turbidity", "Inclination",
      "Azimuth", "StarDensity", "StarProbe", "StarSize", "StarSpark", "StarBrightness", "StarColor", "CloudColor",
      "CloudIterations", "CloudFrequency", "CloudAmplitude"};
  ASSERT_EQ(json->Count(), 34);
  for (int i = 0; i < 34; ++i) EXPECT_EQ(json->Pairs(i)->GetName(), names[i]) << i;
  EXPECT_EQ(json->GetValue("CloudIterations")->Value(), "4");
  EXPECT_EQ(json->GetValue("Primaries")->As<TJSONArray>()->Count(), 3);
  EXPECT_EQ(json->GetValue("Diffuse")->As<TJSONArray>()->Count(), 4);
  EXPECT_EQ(json->GetValue("CrescentOfs")->ToJSON(), "[-0.5,0]");
  // A Single goes out as the double it is.
  EXPECT_EQ(json->GetValue("Azimuth")->Value(), "0.219999998807907");
}

TEST_F(SkyBoxConfiguration, FromJSONStartsFromTheResetValues) {
  auto* sky = AddSky();
  const TSkyBoxShaderData reset = TSkyBoxShaderData::Create(0);
  struct TCase {
    const char* Json;
    std::function<void(TSkyBoxShaderData&)> Change;
  } cases[] = {
      {"{}", [](TSkyBoxShaderData&) {}},
      {R"({"Diffuse":[0.5]})", [](TSkyBoxShaderData& d) { d.Diffuse.R = 0.5f; }},
      // Not numbers are skipped, elements beyond the field are ignored.
      {R"({"Primaries":[1e-8,"x",2e-8,5,6]})",
       [](TSkyBoxShaderData& d) {
         d.Primaries.X = 1e-8f;
         d.Primaries.Z = 2e-8f;
       }},
      {R"({"Turbidity":"9","Diffuse":3,"Emissive":{},"StarColor":[true,null,0.25]})",
       [](TSkyBoxShaderData& d) { d.StarColor.B = 0.25f; }},
      // Unclamped, like the whole record.
      {R"({"Azimuth":3,"CloudIterations":99,"NumMolecules":1})",
       [](TSkyBoxShaderData& d) {
         d.Azimuth = 3;
         d.CloudIterations = 99;
         d.NumMolecules = 1;
       }},
      {R"({"MieKCoefficient":[0.1,0.2,0.3,0.4],"Azimuth":0.5,"Azimuth":0.75})",
       [](TSkyBoxShaderData& d) {
         d.MieKCoefficient = TVector3D(0.1f, 0.2f, 0.3f, 0.4f);
         d.Azimuth = 0.5f;
       }},
  };
  for (const TCase& c : cases) {
    sky->SetConfiguration(Unusual());
    TOwned<TJSONValue> json(ParseJSONValue(c.Json, true));
    sky->FromJSON(json->As<TJSONObject>());
    TSkyBoxShaderData expected = reset;
    c.Change(expected);
    const TSkyBoxShaderData got = sky->GetConfiguration();
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << c.Json;
  }
}

TEST_F(SkyBoxConfiguration, AFileRoundTripGivesBackTheSameValues) {
  auto* sky = AddSky();
  sky->SetConfiguration(Unusual());
  const std::string file = Dir() + "sky.json";
  sky->SaveToFile(file);
  sky->SaveToFile(file);  // replaces the file
  auto* other = AddSky();
  other->LoadFromFile(file);
  const TSkyBoxShaderData got = other->GetConfiguration(), want = Unusual();
  EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0);
  EXPECT_EQ(Text(other), Text(sky));
  // Compact, UTF-8 without a byte-order mark.
  TOwned<TFileStream> stream(New<TFileStream>(file, fmOpenRead));
  std::string bytes(size_t(stream->GetSize()), '\0');
  stream->ReadBuffer(bytes.data(), int64_t(bytes.size()));
  EXPECT_EQ(bytes, Text(sky));
  EXPECT_EQ(bytes.substr(0, 12), "{\"Diffuse\":[");
}

TEST_F(SkyBoxConfiguration, AStreamIsReadFromItsPositionToTheEnd) {
  auto* sky = AddSky();
  sky->SetConfiguration(Unusual());
  TOwned<TBytesStream> stream(New<TBytesStream>());
  stream->WriteBuffer("0123456789", 10);
  sky->SaveToStream(stream.get());
  EXPECT_EQ(stream->GetPosition(), stream->GetSize());
  auto* other = AddSky();
  stream->SetPosition(10);
  other->LoadFromStream(stream.get());
  const TSkyBoxShaderData got = other->GetConfiguration(), want = Unusual();
  EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0);
  EXPECT_EQ(stream->GetPosition(), stream->GetSize());
}

// A value that reads as a negative zero (a tiny negative number underflows to it as a Single)
// is written so that it reads back with its sign.
TEST(SkyBoxConfigurationText, NegativeZerosReadBackWithTheirSign) {
  for (const std::string json : {R"({"Azimuth":-1e-50})", R"({"Azimuth":-0.0})", R"({"Diffuse":[-1e-46,0.5]})",
                                 R"({"MieKCoefficient":[1,-0,-1e-300,2]})"}) {
    TOwned<TBytesStream> in(New<TBytesStream>());
    in->WriteBuffer(json.data(), int64_t(json.size()));
    in->SetPosition(0);
    const TSkyBoxShaderData first = TQuorvelSkyBox::ReadConfiguration(in.get());
    TOwned<TBytesStream> written(New<TBytesStream>());
    TQuorvelSkyBox::WriteConfiguration(first, written.get());
    written->SetPosition(0);
    const TSkyBoxShaderData again = TQuorvelSkyBox::ReadConfiguration(written.get());
    EXPECT_EQ(std::memcmp(&first, &again, sizeof first), 0) << json;
  }
}

TEST_F(SkyBoxConfiguration, BadTextRaisesAndLeavesTheConfiguration) {
  auto* sky = AddSky();
  struct TCase {
    std::string Bytes;
    const char* Error;  // the exception's class
  } cases[] = {
      {"", "EJSONParseException"},
      {"{\"Azimuth\":", "EJSONParseException"},
      {"not json", "EJSONParseException"},
      {"[1,2]", "EInvalidCast"},
      {"12", "EInvalidCast"},
      {"\xff\xfe{}", "EEncodingError"},
      {R"({"Azimuth":1e39})", "EConvertError"},
      {R"({"Diffuse":[0,-1e300]})", "EConvertError"},
      {R"({"CloudIterations":2.5})", "EConvertError"},
  };
  for (const TCase& c : cases) {
    sky->SetConfiguration(Unusual());
    TOwned<TBytesStream> stream(New<TBytesStream>());
    stream->WriteBuffer(c.Bytes.data(), int64_t(c.Bytes.size()));
    stream->SetPosition(0);
    try {
      sky->LoadFromStream(stream.get());
      ADD_FAILURE() << "no error for " << c.Bytes;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.Error) << c.Bytes << ": " << e.Message();
    }
    const TSkyBoxShaderData got = sky->GetConfiguration(), want = Unusual();
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << c.Bytes;
  }
}

TEST_F(SkyBoxConfiguration, FacesLoadFromFilesNamedByPathWordAndExtension) {
  auto* sky = AddSky();
  using F = TQuorvelCubeMapFace;
  const std::pair<const char*, TAlphaColor> files[] = {{"negz", claRed},    {"posz", claLime}, {"posy", claBlue},
                                                       {"negy", claYellow}, {"negx", claAqua}, {"posx", claFuchsia}};
  const F faces[] = {F::NegativeZ, F::PositiveZ, F::PositiveY, F::NegativeY, F::NegativeX, F::PositiveX};
  auto write = [&](const char* AWord, TAlphaColor AColor, int32_t ASize) {
    TOwned<TBitmap> b(New<TBitmap>(ASize, ASize));
    b->Clear(AColor);
    b->SaveToFile(Dir() + "sky_" + AWord + ".png");
  };
  // The third file is missing: the two before it stay, the rest are not touched.
  write("negz", claRed, 4);
  write("posz", claLime, 4);
  EXPECT_THROW(sky->LoadCubeMapFacesFromPath(Dir() + "sky_", ".png"), Exception);
  EXPECT_EQ(sky->GetTexture(F::NegativeZ)->GetWidth(), 4);
  EXPECT_EQ(sky->GetTexture(F::PositiveZ)->GetWidth(), 4);
  EXPECT_EQ(sky->GetTexture(F::PositiveY)->GetWidth(), 0);
  // A face of the wrong size ends the load with the size message.
  write("posy", claBlue, 3);
  try {
    sky->LoadCubeMapFacesFromPath(Dir() + "sky_", ".png");
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(),
              "Invalid skybox texture size! Skybox texture needs to be even and dimension must be a power of 2 (2^x).");
  }
  EXPECT_EQ(sky->GetTexture(F::PositiveY)->GetWidth(), 0);
  for (const auto& [word, color] : files) write(word, color, 8);
  sky->LoadCubeMapFacesFromPath(Dir() + "sky_", ".png");
  for (size_t i = 0; i < 6; ++i) {
    TBitmap* face = sky->GetTexture(faces[i]);
    ASSERT_EQ(face->GetWidth(), 8) << files[i].first;
    EXPECT_EQ(testkit::PixelOf(face, 3, 3), files[i].second) << files[i].first;
  }
}

}  // namespace
}  // namespace quorvel
