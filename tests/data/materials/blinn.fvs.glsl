#version 430


struct Light{
  int _LightType;
  vec4 _Position;
  vec4 _Direction;
  vec4 _Ambient;
  vec4 _Diffuse;
  vec4 _Specular;
  vec4 _Scattering;
  float _SpotCutOff;
  float _SpotCosCutoff;
  float _SpotExponent;
  float _ConstantAttenuation;
  float _LinearAttenuation;
  float _QuadraticAttenuation;
  float _Intensity;
  int _Enabled;
};

struct Texture{
  vec4 _Feature;
  vec2 _Tiling;
};

struct Material{
  vec4 _Emissive;
  vec4 _Ambient;
  vec4 _Diffuse;
  vec4 _Specular;
  vec4 _Clipping;
  vec2 _AlphaCutoff;
  float _ToneMapExp;
  vec4 _Displacement;
  vec4 _Features;
  float _Shininess;
  int _Textures;
  int _PoolTexturesOffset;
  int _PoolTextures;
  Texture _Texture[16];
};

struct PassData{
  mat4 _ShadowMapMatrix[8];
  mat4 _ReflectTextureMatrix;
  mat4 _RefractTextureMatrix;
  float _ReflectionPower;
  float _RefractionPower;
  float _TranslucentDistance;
  float _NormalIntensity;
  int _ParallaxLevels;
  float _PBRMetallic;
  float _PBRRoughness;
  float _PBRAO;
};

struct TLocals{
  vec4 Position;
  vec4 TransfVertexPos;
  vec4 WorldViewProjVertPos;
  vec2 TexCoord0;
  vec4 Color0;
  vec3 Normal;
  vec3 Tangent;
  vec3 Binormal;
  vec4 ClippingPlane;
};

in vec3 a_Position;
in vec3 a_Normal;
in vec4 a_Color;
in vec4 a_Color1;
in vec4 a_Color2;
in vec4 a_Color3;
in vec2 a_TexCoord0;
in vec2 a_TexCoord1;
in vec2 a_TexCoord2;
in vec2 a_TexCoord3;
in vec3 a_Binormal;
in vec3 a_Tangent;
in mat4 a_ModelMatrix;

layout (binding=0, std140) uniform ShaderData{
  mat4 _ModelViewProjectionMatrix;
  mat4 _ViewMatrix;
  mat4 _ProjectionMatrix;
  vec4 _TimeInfo;
  vec4 _EyePos;
  vec3 _ViewDir;
  int _ShadingModel;
  Material _Material[1];
  Light _Lights[32];
  int _LightsCount;
  int _Options;
  float _ShadingIntensity;
  float _Brightness;
  int _FogMode;
  float _FogDensity;
  float _FogStart;
  float _FogEnd;
  vec4 _FogColor;
  vec4 _FrustumMin;
  vec4 _FrustumMax;
  vec4 _SceneMin;
  vec4 _SceneMax;
  vec4 _BoundaryMin;
  vec4 _BoundaryMax;
  vec4 _ViewSize;
  vec4 _ClippingPlane;
  PassData _PassData[1];
};

struct TVaryingStruct{
  vec4 v_VertPos;
  vec3 v_TransfVertPos;
  vec4 v_WorldViewProjVertPos;
  vec2 v_TexCoord0;
  vec4 v_Color0;
  mat3 v_TBN;
  mat3 v_TBN_UT;
  mat4 v_ModelMatrix;
  float v_ClipDistance;
};
out TVaryingStruct vars;
vec4 TransformModel(in mat4 p_ModelMatrix, vec4 position){
  return p_ModelMatrix * position;
}

vec4 TransformModelViewProjection(in mat4 p_ProjMatrix, in mat4 p_ViewMatrix, in mat4 p_ModelMatrix, vec4 position){
  return p_ProjMatrix * p_ViewMatrix * p_ModelMatrix * position;
}

vec3 TransformModelNormal(in mat3 p_NormalMatrix, vec3 normal){
  return normalize(p_NormalMatrix * normal);
}

const float GAMMA = 2.2;
const float INV_GAMMA = 1.0 / GAMMA;

vec3 linearTosRGB(vec3 color){
  return pow(color, vec3(INV_GAMMA));
}

vec3 sRGBToLinear(vec3 srgbIn){
  return vec3(pow(srgbIn.xyz, vec3(GAMMA)));
}

vec4 sRGBToLinear(vec4 srgbIn){
  return vec4(sRGBToLinear(srgbIn.xyz), srgbIn.w);
}

float sFloatToLinear(float srgbIn){
  return pow(srgbIn, GAMMA);
}

vec4 tex2D(in sampler2D p_Texture, in vec2 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

vec4 tex2DProj(in sampler2D p_Texture, in vec4 p_TexCoord){
  return textureProj(p_Texture, p_TexCoord);
}

vec4 tex3D(in sampler3D p_Texture, in vec3 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

vec4 texCube(in samplerCube p_Texture, in vec3 p_TexCoord){
  return texture(p_Texture, p_TexCoord);
}

void VertexShader(inout TLocals DATA){

}
void main(){
  TLocals LOCALS;

  LOCALS.Position = vec4(a_Position, 1.0);
  LOCALS.ClippingPlane = _ClippingPlane;
  LOCALS.TransfVertexPos = a_ModelMatrix * LOCALS.Position;
  LOCALS.TransfVertexPos.xyz /= LOCALS.TransfVertexPos.w;
  LOCALS.WorldViewProjVertPos = _ProjectionMatrix * _ViewMatrix * a_ModelMatrix * LOCALS.Position;
  LOCALS.TexCoord0 = a_TexCoord0;
  LOCALS.Color0 = a_Color;
  mat4 l_TIMMat = transpose(inverse(a_ModelMatrix));
  mat3 l_NormalMatrix = mat3(l_TIMMat);
  LOCALS.Normal = normalize(l_NormalMatrix * a_Normal);
  LOCALS.Tangent = normalize(l_NormalMatrix * a_Tangent);
  LOCALS.Binormal = normalize(a_ModelMatrix * vec4(cross(a_Normal, a_Tangent), 0.0)).xyz;

  VertexShader(LOCALS);
  vars.v_ClipDistance = dot(vec4(LOCALS.TransfVertexPos.xyz, 1.0), LOCALS.ClippingPlane);
  vars.v_TBN = mat3(LOCALS.Tangent, LOCALS.Binormal, LOCALS.Normal);
  vars.v_TBN_UT = mat3(a_Tangent, cross(a_Normal, a_Tangent), a_Normal);

  vars.v_TexCoord0 = LOCALS.TexCoord0;
  vars.v_Color0 = LOCALS.Color0;
  vars.v_VertPos = LOCALS.Position;
  vars.v_TransfVertPos = LOCALS.TransfVertexPos.xyz;
  vars.v_WorldViewProjVertPos = LOCALS.WorldViewProjVertPos;
  gl_Position = LOCALS.WorldViewProjVertPos;
  vars.v_ModelMatrix = a_ModelMatrix;
}
