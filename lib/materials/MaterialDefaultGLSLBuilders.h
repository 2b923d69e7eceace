#pragma once
// The GLSL builders: TQuorvelGLSLNodeBuilder sets the defines that describe the machine and the
// OpenGL driver; the vertex and fragment builders add their stage's defines and assemble, once,
// the fixed tree from which the stage's GLSL 4.30 source is printed.
#include <string>

#include "framework/rtl/StringList.h"
#include "lib/materials/MaterialDefaultGLSLOutput.h"

namespace quorvel {

class TQuorvelGLSLNodeBuilder : public TQuorvelNodeBuilder {
public:
  using TQuorvelNodeBuilder::TQuorvelNodeBuilder;
  // "MSWINDOWS", the upper-cased vendor and renderer, the first word of the version and every
  // extension: names kept whole (blanks, dots and slashes included) that no node tests.
  void SetupDefines() override;

  const std::string& GetVendor() const { return FVendor; }
  const std::string& GetRenderer() const { return FRenderer; }
  const std::string& GetVersion() const { return FVersion; }
  TStrings* GetExtensions() const { return FExtensions.get(); }

protected:
  // Fills the roots of a stage shared by both: the version line and the globals with the
  // struct types (the stage's locals struct last), the texture list and "ShaderData".
  TQuorvelGlobalsNode* BuildGlobals(TOwned<TQuorvelGLSLLocalsStructNode> ALocals);

private:
  void ReadContextInfo();

  std::string FVendor;
  std::string FRenderer;
  std::string FVersion;
  TOwned<TStringList> FExtensions;
};

class TQuorvelGLSLVertexShader : public TQuorvelGLSLNodeBuilder {
public:
  using TQuorvelGLSLNodeBuilder::TQuorvelGLSLNodeBuilder;
  void SetupDefines() override;
  void BuildTree() override;
};

class TQuorvelGLSLFragmentShader : public TQuorvelGLSLNodeBuilder {
public:
  using TQuorvelGLSLNodeBuilder::TQuorvelGLSLNodeBuilder;
  void SetupDefines() override;
  void BuildTree() override;
};

}  // namespace quorvel
