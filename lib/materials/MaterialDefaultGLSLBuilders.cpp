#include "lib/materials/MaterialDefaultGLSLBuilders.h"

#include "framework/rtl/SysUtils.h"
#include "lib/context/Context.h"

namespace quorvel {

namespace {

// A context class that answers nothing (no engine class installed) counts as a failed read.
template <class F>
std::string ReadOrEmpty(F ARead) {
  try {
    return ARead();
  } catch (const EAbstractError&) {
    return std::string();
  }
}

}  // namespace

void TQuorvelGLSLNodeBuilder::ReadContextInfo() {
  FVendor = ReadOrEmpty([] { return TQuorvelContext::GetVendorName(); });
  FRenderer = ReadOrEmpty([] { return TQuorvelContext::GetRendererName(); });
  FVersion = ReadOrEmpty([] { return TQuorvelContext::GetVersion(); });
  FExtensions = MakeNode<TStringList>();
  FExtensions->SetDelimiter(' ');
  FExtensions->SetStrictDelimiter(true);
  FExtensions->SetDelimitedText(ReadOrEmpty([] { return TQuorvelContext::GetExtensionString(); }));
}

void TQuorvelGLSLNodeBuilder::SetupDefines() {
  AddDefine("MSWINDOWS");
  ReadContextInfo();
  AddDefine(UpperCase(FVendor));
  AddDefine(UpperCase(FRenderer));
  if (!FVersion.empty()) AddDefine(UpperCase(std::string_view(FVersion).substr(0, FVersion.find(' '))));
  const int32_t n = FExtensions->Count();
  for (int32_t i = 0; i < n; ++i) AddDefine(UpperCase(FExtensions->Get(i)));
}

TQuorvelGlobalsNode* TQuorvelGLSLNodeBuilder::BuildGlobals(TOwned<TQuorvelGLSLLocalsStructNode> ALocals) {
  TQuorvelCompositeNode* root = GetSourceCode();
  root->AddNew<TQuorvelGLSLPragma>();
  auto* globals = root->AddNew<TQuorvelGlobalsNode>();
  SetGlobals(globals);
  TQuorvelCompositeNode* types = globals->GetTypes();
  types->AddNew<TQuorvelGLSLLightType>();
  types->AddNew<TQuorvelGLSLTextureType>();
  types->AddNew<TQuorvelGLSLMaterialType>();
  types->AddNew<TQuorvelGLSLPassDataType>();
  types->Add(std::move(ALocals));
  // Made before any other block, so it takes binding 0.
  globals->GetUniforms()->AddNew<TQuorvelGLSLUBOShaderData>();
  return globals;
}

void TQuorvelGLSLVertexShader::SetupDefines() {
  TQuorvelGLSLNodeBuilder::SetupDefines();
  AddDefine("VERTEXSHADER");
  AddDefine("VARYING_STRUCTS");
  AddDefine("INOUTVARS");
}

void TQuorvelGLSLVertexShader::BuildTree() {
  TOwned<TQuorvelGLSLVertexShaderLocalsStructNode> locals = MakeNode<TQuorvelGLSLVertexShaderLocalsStructNode>(this);
  TQuorvelGLSLLocalsStructNode* localsStruct = locals.get();
  TQuorvelGlobalsNode* globals = BuildGlobals(std::move(locals));
  globals->GetAttributes()->AddNew<TQuorvelGLSLAttributesNode>();
  globals->GetVarying()->AddNew<TQuorvelGLSLInOutNode>(TQuorvelGLSLInOutMode::VaryingOut);
  TQuorvelCompositeNode* functions = globals->GetFunctions();
  functions->AddNew<TQuorvelGLSLTransformFuncsNode>();
  functions->AddNew<TQuorvelGLSLGetTextureFuncsNode>();
  functions->AddNew<TQuorvelVertexShaderFuncNode>();

  auto* main = GetSourceCode()->AddNew<TQuorvelGLSLMainNode>();
  SetEntryPoint(main);
  main->AddNew<TQuorvelGLSLVertexShaderLocalsNode>()->Struct = localsStruct;
  main->AddNew<TQuorvelGLSLMatricesOutNode>();
  main->AddNew<TQuorvelGLSLGetVertexPositionNode>();
  main->AddNew<TQuorvelGLSLDisplacementMappingGetNode>();
  main->AddNew<TQuorvelGLSLDisplacementMappingApplyNode>();
  main->AddNew<TQuorvelGLSLClippingPlaneGetNode>();
  main->AddNew<TQuorvelGLSLVertexShaderOutputNode>();
  main->AddNew<TQuorvelGLSLAdjustPointSizeNode>();
  TOwned<TQuorvelSurfaceShaderNode> surface = MakeNode<TQuorvelSurfaceShaderNode>(this);
  surface->AddNew<TQuorvelGLSLVertexShaderExec>();
  surface->AddNew<TQuorvelGLSLVertexPositionOutputNode>();
  SetSurfaceShader(std::move(surface));
}

void TQuorvelGLSLFragmentShader::SetupDefines() {
  TQuorvelGLSLNodeBuilder::SetupDefines();
  AddDefine("FRAGMENTSHADER");
  AddDefine("VARYING_STRUCTS");
  AddDefine("INOUTVARS");
  AddDefine("USE_EMISSIVE");
}

void TQuorvelGLSLFragmentShader::BuildTree() {
  using enum TQuorvelShaderNodeVariableType;
  TOwned<TQuorvelGLSLFragmentShaderLocalsStructNode> locals =
      MakeNode<TQuorvelGLSLFragmentShaderLocalsStructNode>(this);
  TQuorvelGLSLLocalsStructNode* localsStruct = locals.get();
  TQuorvelGlobalsNode* globals = BuildGlobals(std::move(locals));
  globals->GetVarying()->AddNew<TQuorvelGLSLInOutNode>(TQuorvelGLSLInOutMode::VaryingIn);
  TQuorvelCompositeNode* functions = globals->GetFunctions();
  functions->AddNew<TQuorvelGLSLPackingFuncsNode>();
  functions->AddNew<TQuorvelGLSLGetDirLightDirectionFuncNode>();
  functions->AddNew<TQuorvelGLSLGetPointLightDirectionFuncNode>();
  functions->AddNew<TQuorvelGLSLGetSpotLightDirectionFuncNode>();
  functions->AddNew<TQuorvelGLSLGetLightDirectionFuncNode>();
  functions->AddNew<TQuorvelGLSLGetSpotFalloffFuncNode>();
  functions->AddNew<TQuorvelGLSLGetLightAttenuationFuncNode>();
  functions->AddNew<TQuorvelGLSLGetShadingFuncsNode>();
  functions->AddNew<TQuorvelGLSLGetTextureFuncsNode>();
  functions->AddNew<TQuorvelGLSLGetTextureAtlasFuncNode>();
  functions->AddNew<TQuorvelGLSLBasicShadowFuncsNode>();
  functions->AddNew<TQuorvelGLSLBumpFuncsNode>();
  functions->AddNew<TQuorvelGLSLPOMFuncsNode>();
  functions->AddNew<TQuorvelGLSLPBRFuncsNode>();
  functions->AddNew<TQuorvelGLSLToneMappingFuncsNode>();
  functions->AddNew<TQuorvelGLSLFogFuncNode>();
  functions->AddNew<TQuorvelSurfaceShaderFuncNode>();

  struct TOutput {
    const char* Name;
    TQuorvelShaderNodeVariableType Type;
    bool Deferred;
  };
  const TOutput outputs[] = {
      {"o_Albedo", stVec4, false},    {"o_Alpha", stFloat, false},   {"o_Position", stVec4, false},
      {"o_Normals", stVec3, false},   {"o_Emissive", stVec3, false}, {"o_Components", stVec4, true},
      {"o_Ambient", stVec3, true},    {"o_Specular", stVec3, true},
  };
  int32_t location = 0;
  for (const TOutput& o : outputs) {
    auto* output = globals->AddNew<TQuorvelGLSLLayoutLocation>();
    output->Kind = TQuorvelGLSLLayoutKind::LayoutOutput;
    output->Index = location++;
    output->Variable = TQuorvelGLSLVariable::Build(this, o.Name, o.Type);
    if (o.Deferred) output->AddDefine("DEFERRED");
    output->AddNotDefine("DEPRECATED");
  }

  auto* main = GetSourceCode()->AddNew<TQuorvelGLSLMainNode>();
  SetEntryPoint(main);
  main->AddNew<TQuorvelGLSLClippingPlaneNode>();
  main->AddNew<TQuorvelGLSLMatricesOutNode>();
  main->AddNew<TQuorvelGLSLLightingLocalsNode>()->Struct = localsStruct;
  main->AddNew<TQuorvelGLSLSpecularColorNode>();
  main->AddNew<TQuorvelGLSLEmissiveColorNode>();
  main->AddNew<TQuorvelGLSLGetTransfVertPosNode>();
  main->AddNew<TQuorvelGLSLGetNormalNode>();
  main->AddNew<TQuorvelGLSLGetFragViewDirNode>();
  main->AddNew<TQuorvelGLSLTextureCoordsNode>();
  main->AddNew<TQuorvelGLSLPOMApplyNode>();
  main->AddNew<TQuorvelGLSLGetBumpNormalNode>();
  main->AddNew<TQuorvelGLSLPBRPrepareNode>();
  auto* lights = main->AddNew<TQuorvelGLSLLightsLoopNode>();
  lights->AddNew<TQuorvelGLSLGetLightShadingNode>();
  lights->AddNew<TQuorvelGLSLLightingSumNode>();
  lights->AddNew<TQuorvelGLSLAddShadowNode>();
  TOwned<TQuorvelSurfaceShaderNode> surface = MakeNode<TQuorvelSurfaceShaderNode>(this);
  surface->AddNew<TQuorvelGLSLGetBaseColorNode>();
  surface->AddNew<TQuorvelGLSLAlphaCutoffNode>();
  surface->AddNew<TQuorvelGLSLSpecularMapNode>();
  surface->AddNew<TQuorvelGLSLAddEnvironmentNode>();
  surface->AddNew<TQuorvelGLSLAddReflectionNode>();
  surface->AddNew<TQuorvelGLSLAddRefractionNode>();
  surface->AddNew<TQuorvelGLSLSurfaceShaderExec>();
  surface->AddNew<TQuorvelGLSLMergedColorOutputNode>();
  surface->AddNew<TQuorvelGLSLTonemappingNode>();
  surface->AddNew<TQuorvelGLSLBrightnessColorNode>();
  surface->AddNew<TQuorvelGLSLFragColorOutputNode>();
  surface->AddNew<TQuorvelGLSLColorClipNode>();
  surface->AddNew<TQuorvelGLSLFogApplyNode>();
  surface->AddNew<TQuorvelGLSLWeightedBlendedOITNode>();
  SetSurfaceShader(std::move(surface));
}

}  // namespace quorvel
