#include <array>
#include <string>
#include <vector>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "lib/context/Context.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {

enum class TProbeMode : uint8_t { Off, Soft, Hard };

struct TProbeTap {
  float Weight;
  int32_t Step;
};
FW_RECORD(TProbeTap, Weight, Step)

// A record with every field kind the upload sends.
struct TStructProbeRecord {
  int32_t Kind;
  bool On;
  TProbeMode Mode;
  float Weight;
  TPointF Uv;
  TPoint3D Pos;
  TVector3D Dir;
  TAlphaColorF Color;
  TMatrix3D M;
  TProbeTap Taps[2];
};
FW_RECORD(TStructProbeRecord, Kind, On, Mode, Weight, Uv, Pos, Dir, Color, M, Taps)

// A pointer has no shader type.
struct TStructPointerRecord {
  int32_t Kind;
  TStructProbeRecord* Next;
};
FW_RECORD(TStructPointerRecord, Kind, Next)

// Arrays are walked as arrays of records, so an array of floats is refused.
struct TStructFloatArrayRecord {
  float W[2];
};
FW_RECORD(TStructFloatArrayRecord, W)

namespace {

using namespace shader_test;
using K = TContextShaderVariableKind;

class TStructContext : public testkit::TProbeContext {
public:
  using TProbeContext::TProbeContext;
  using TQuorvelContext::DoSetShaderVariableArrayOfStruct;
  using TQuorvelContext::LogTextureBinding;
  using TQuorvelContext::TextureUnitFromName;
};

class ShaderStructArrayTest : public ProgramSuite<TStructContext> {
protected:
  void MakeShaders() override {
    TContextShaderVariables vars;
    for (int i = 0; i < 2; ++i) {
      const std::string p = "Probes[" + std::to_string(i) + "].";
      for (const char* name : {"Kind", "On", "Mode"}) vars.push_back({p + name, K::Int, 0, 1});
      vars.push_back({p + "Weight", K::Float, 0, 1});
      for (const char* name : {"Uv", "Pos", "Dir", "Color"}) vars.push_back({p + name, K::Vector, 0, 1});
      vars.push_back({p + "M", K::Matrix, 0, 1});
      for (int j = 0; j < 2; ++j) {
        const std::string t = p + "Taps[" + std::to_string(j) + "].";
        vars.push_back({t + "Weight", K::Float, 0, 1});
        vars.push_back({t + "Step", K::Int, 0, 1});
      }
    }
    VS = VertexShader(
        "#version 430\n"
        "in vec3 a_Position;\n"
        "struct Tap { float _Weight; int _Step; };\n"
        "struct Probe { int _Kind; int _On; int _Mode; float _Weight; vec4 _Uv; vec4 _Pos; vec4 _Dir;\n"
        "               vec4 _Color; mat4 _M; Tap _Taps[2]; };\n"
        "uniform Probe _Probes[2];\n"
        "out vec4 v_C;\n"
        "void main() {\n"
        "  v_C = vec4(0.0);\n"
        "  for (int i = 0; i < 2; ++i) {\n"
        "    v_C += vec4(float(_Probes[i]._Kind + _Probes[i]._On + _Probes[i]._Mode) + _Probes[i]._Weight)\n"
        "           + _Probes[i]._Uv + _Probes[i]._Pos + _Probes[i]._Dir + _Probes[i]._Color\n"
        "           + _Probes[i]._M * vec4(1.0);\n"
        "    for (int j = 0; j < 2; ++j)\n"
        "      v_C += vec4(_Probes[i]._Taps[j]._Weight + float(_Probes[i]._Taps[j]._Step));\n"
        "  }\n"
        "  gl_Position = vec4(a_Position, 1.0);\n"
        "}\n",
        vars);
    PS = PixelShader("#version 430\nin vec4 v_C; out vec4 o_Color;\nvoid main() { o_Color = v_C; }\n");
  }
  std::array<float, 4> Read4(const char* AName) const {
    const std::array<float, 16> v = Read(AName);
    return {v[0], v[1], v[2], v[3]};
  }
  static std::string ErrorOf(const std::function<void()>& AAction) {
    try {
      AAction();
    } catch (const Exception& e) {
      return e.what();
    }
    return "no exception";
  }
};

TStructProbeRecord Probe(int32_t ABase) {
  const float b = static_cast<float>(ABase);
  TStructProbeRecord r{};
  r.Kind = ABase;
  r.On = ABase % 2 == 1;
  r.Mode = TProbeMode::Hard;
  r.Weight = b + 0.5f;
  r.Uv = TPointF(b + 1, b + 2);
  r.Pos = TPoint3D(b + 3, b + 4, b + 5);
  r.Dir = TVector3D(b + 6, b + 7, b + 8, b + 9);
  r.Color = TAlphaColorF(0.25f, 0.5f, 0.75f, 1.0f);
  float* m = &r.M.m11;
  for (int k = 0; k < 16; ++k) m[k] = b + static_cast<float>(k);
  r.Taps[0] = {b + 0.25f, ABase + 10};
  r.Taps[1] = {b + 0.75f, ABase + 20};
  return r;
}

TEST_F(ShaderStructArrayTest, EveryFieldOfEveryRecordArrivesUnderItsName) {
  const TStructProbeRecord records[2] = {Probe(7), Probe(100)};
  Context->SetShaderVariableArrayOfStruct<TStructProbeRecord>("Probes", records);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  EXPECT_EQ(ReadInt("_Probes[0]._Kind"), 7);
  EXPECT_EQ(ReadInt("_Probes[0]._On"), 1);
  EXPECT_EQ(ReadInt("_Probes[0]._Mode"), 2);  // an enumeration as its ordinal
  // Scalars and points arrive as vec4s filled up with zeros; vectors and colours whole.
  EXPECT_EQ(Read4("_Probes[0]._Weight")[0], 7.5f);
  EXPECT_EQ(Read4("_Probes[0]._Uv"), (std::array<float, 4>{8, 9, 0, 0}));
  EXPECT_EQ(Read4("_Probes[0]._Pos"), (std::array<float, 4>{10, 11, 12, 0}));
  EXPECT_EQ(Read4("_Probes[0]._Dir"), (std::array<float, 4>{13, 14, 15, 16}));
  EXPECT_EQ(Read4("_Probes[0]._Color"), (std::array<float, 4>{0.25f, 0.5f, 0.75f, 1.0f}));
  const std::array<float, 16> m = Read("_Probes[0]._M");
  for (int k = 0; k < 16; ++k) EXPECT_EQ(m[size_t(k)], 7.0f + float(k)) << k;
  // Arrays of records nest their names.
  EXPECT_EQ(Read4("_Probes[0]._Taps[1]._Weight")[0], 7.75f);
  EXPECT_EQ(ReadInt("_Probes[0]._Taps[0]._Step"), 17);
  // The second element is read one record further on.
  EXPECT_EQ(ReadInt("_Probes[1]._Kind"), 100);
  EXPECT_EQ(ReadInt("_Probes[1]._On"), 0);
  EXPECT_EQ(Read4("_Probes[1]._Pos"), (std::array<float, 4>{103, 104, 105, 0}));
  EXPECT_EQ(ReadInt("_Probes[1]._Taps[1]._Step"), 120);
  EXPECT_EQ(Read("_Probes[1]._M")[15], 115.0f);

  // The cursor stands after the last record sent.
  const void* cursor = records;
  Context->DoSetShaderVariableArrayOfStruct("Probes", RecordFieldTypeOf<TStructProbeRecord>(), 2, cursor);
  EXPECT_EQ(cursor, static_cast<const void*>(records + 2));
}

TEST_F(ShaderStructArrayTest, NothingIsSentWithoutRecordsDataOrProgram) {
  const TStructProbeRecord record = Probe(9);
  const TRecordFieldType* type = RecordFieldTypeOf<TStructProbeRecord>();
  Context->SetShaderVariableArrayOfStruct("Probes", type, 0, &record);
  Context->SetShaderVariableArrayOfStruct("Probes", type, -1, &record);
  Context->SetShaderVariableArrayOfStruct("Probes", type, 1, nullptr);
  // Not even the type is looked at.
  Context->SetShaderVariableArrayOfStruct("Probes", nullptr, 0, &record);
  EXPECT_EQ(ReadInt("_Probes[0]._Kind"), 0);

  // Without a current program there is nowhere to send to.
  TShaderProgram* program = TShaderProgramCache::GetCurrent();
  TShaderProgramCache::SetCurrent(nullptr);
  Context->SetShaderVariableArrayOfStruct("Probes", type, 1, &record);
  TShaderProgramCache::SetCurrent(program);
  EXPECT_EQ(ReadInt("_Probes[0]._Kind"), 0);
}

TEST_F(ShaderStructArrayTest, TypesAndFieldsWithoutAShaderTypeRaise) {
  const TStructProbeRecord record = Probe(3);
  const std::string notFound = "TQuorvelContext.DoSetShaderVariableArrayOfStruct - structure type not found by RTTI!";
  EXPECT_EQ(ErrorOf([&] { Context->SetShaderVariableArrayOfStruct("Probes", nullptr, 1, &record); }), notFound);
  EXPECT_EQ(ErrorOf([&] { Context->SetShaderVariableArrayOfStruct("Probes", RecordFieldTypeOf<float>(), 1, &record); }),
            notFound);
  const TStructFloatArrayRecord floats{{1, 2}};
  EXPECT_EQ(ErrorOf([&] {
              Context->SetShaderVariableArrayOfStruct<TStructFloatArrayRecord>("Probes", std::span(&floats, 1));
            }),
            notFound);

  const TRecordInfo empty("TEmpty", 4, {});
  TRecordFieldType emptyType;
  emptyType.Kind = TRecordFieldKind::Record;
  emptyType.Record = &empty;
  EXPECT_EQ(ErrorOf([&] { Context->SetShaderVariableArrayOfStruct("Probes", &emptyType, 1, &record); }),
            "TQuorvelContext.DoSetShaderVariableArrayOfStruct - structure fields missing");

  // The fields before the unsupported one stay sent.
  const TStructPointerRecord pointer{4, nullptr};
  EXPECT_EQ(ErrorOf([&] {
              Context->SetShaderVariableArrayOfStruct<TStructPointerRecord>("Probes", std::span(&pointer, 1));
            }),
            "structure field \"Probes[0].Next\" - type not supported in shader language!");
  EXPECT_EQ(ReadInt("_Probes[0]._Kind"), 4);
}

TEST_F(ShaderStructArrayTest, TextureUnitsFollowTheTextureNames) {
  const std::vector<std::pair<std::string, int32_t>> cases = {
      {"Texture3", 3}, {"texture12", 12}, {"TEXTURE0", 0}, {"tex3", 0},
      {"texture", 0},  {"TextureX", 0},   {"Normal", 0},   {"Texture99999999999", 0}};
  for (const auto& [name, unit] : cases) EXPECT_EQ(Context->TextureUnitFromName(name), unit) << name;
}

TEST_F(ShaderStructArrayTest, ATextureBindingIsLoggedWithWhatIsKnown) {
  TObject program;
  TObject texture;
  const std::string p = std::to_string(program.GetHashCode());
  const std::string t = std::to_string(texture.GetHashCode());
  TLogCapture log;
  TStructContext::LogTextureBinding("Bind", &program, &texture, 2);
  TStructContext::LogTextureBinding("Bind", &program, nullptr, 3);
  TStructContext::LogTextureBinding("Bind", nullptr, &texture, 4);
  TStructContext::LogTextureBinding("Bind", nullptr, nullptr, 5);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "Bind - Program = " + p + ", Texture = " + t + ", Index = 2",
                             "Bind - Program = " + p + ", Texture = ?, Index = 3",
                             "Bind - Program = ?, Texture = " + t + ", Index = 4",
                             "Bind - Program = ?, Texture = ?, Index = 5",
                         }));
}

}  // namespace
}  // namespace quorvel
