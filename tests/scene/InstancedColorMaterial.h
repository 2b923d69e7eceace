#pragma once
// A one-colour material for meshes drawn in tests.
#include "framework/gui3d/Material.h"
#include "framework/gui3d/Shader.h"
#include "lib/context/ContextTypes.h"

namespace quorvel::testkit {

// One colour, placed by the per-instance model matrix (four rows from location 12), as the
// engine's materials read it. The context's MVP matrix already holds the mesh's own matrix,
// so a moved or scaled mesh is moved or scaled twice: fit for meshes at the origin.
class TInstancedColorMaterial : public TColorMaterial {
public:
  using TColorMaterial::TColorMaterial;

protected:
  void DoInitialize() override {
    static const char* const vs =
        "#version 430\r\n"
        "uniform vec4 _MVPMatrix[4];\r\n"
        "layout(location = 0) in vec3 a_Position;\r\n"
        "layout(location = 12) in vec4 a_Row0;\r\n"
        "layout(location = 13) in vec4 a_Row1;\r\n"
        "layout(location = 14) in vec4 a_Row2;\r\n"
        "layout(location = 15) in vec4 a_Row3;\r\n"
        "void main() {\r\n"
        "  vec4 p = a_Position.x * a_Row0 + a_Position.y * a_Row1 + a_Position.z * a_Row2 + a_Row3;\r\n"
        "  gl_Position = vec4(dot(_MVPMatrix[0], p), dot(_MVPMatrix[1], p), dot(_MVPMatrix[2], p), "
        "dot(_MVPMatrix[3], p));\r\n"
        "}\r\n";
    FVertexShader = TShaderManager::RegisterShaderFromData(
        "Test.InstancedColor.fvs", TContextShaderKind::VertexShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(vs),
                              {{"MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4}})});
    FPixelShader = TShaderManager::RegisterShaderFromData(
        "Test.InstancedColor.fps", TContextShaderKind::PixelShader, "",
        {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(PixelShaderText),
                              {{"Color", TContextShaderVariableKind::Vector, 0, 1}})});
  }
};

class TInstancedColorSource : public TColorMaterialSource {
public:
  using TColorMaterialSource::TColorMaterialSource;

protected:
  TMaterial* CreateMaterial() override { return New<TInstancedColorMaterial>(); }
};

}  // namespace quorvel::testkit
