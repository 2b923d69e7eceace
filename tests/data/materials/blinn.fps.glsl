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
  vec4 LightDir;
  vec3 LightVec;
  int LightType;
  float LightDist;
  float Attenuation;
  float SceneAttenuation;
  vec3 Ambient;
  vec3 Diffuse;
  vec3 Specular;
  vec3 Emissive;
  vec2 TexCoord0;
  vec3 TransfVertPos;
  float FragDepth;
  vec3 Normal;
  vec3 FragViewDir;
  vec3 SpecularColor;
  vec4 BaseColor;
  vec3 SumColor;
  float Alpha;
  vec2 Shading;
  vec2 BumpSum;
};

uniform sampler2D _Texture0;
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
in TVaryingStruct vars;
float GetDirLightDir(in Light p_Light, in vec3 p_TransVertPos, inout vec4 p_LightDir){
  vec3 l_VP = p_Light._Position.xyz - p_TransVertPos;
  p_LightDir = -p_Light._Direction;
  return length(l_VP);
}

float GetPointLightDir(in Light p_Light, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){
  vec3 l_VP = p_Light._Position.xyz - p_TransVertPos;
  p_LightDir = vec4(normalize(l_VP), 0.0);
  p_HalfVector = normalize(l_VP + (-p_TransVertPos));
  return length(l_VP);
}

float GetSpotLightDir(in Light p_Light, in vec3 p_TransVertPos, inout vec4 p_LightDir, inout vec3 p_HalfVector){
  vec3 l_VP = p_Light._Position.xyz - p_TransVertPos.xyz;
  p_LightDir = -p_Light._Direction;
  p_HalfVector = normalize(l_VP);
  return length(l_VP);
}

float GetLightDir(in Light p_Light, in vec3 p_TransVertPos, out vec4 p_LightDir, out vec3 p_HalfVector){
  if(p_Light._LightType == 0){
    p_HalfVector = vec3(0.0);
    return GetDirLightDir(p_Light, p_TransVertPos, p_LightDir);
  }else if(p_Light._LightType == 1){
    return GetPointLightDir(p_Light, p_TransVertPos, p_LightDir, p_HalfVector);
  }
  return GetSpotLightDir(p_Light, p_TransVertPos, p_LightDir, p_HalfVector);
}

float computeSpotFalloff(in vec4 p_LightDirection, in vec3 p_HalfVector){
  vec3 l_L = normalize(p_HalfVector);
  vec3 l_SpotDir = normalize(p_LightDirection.xyz);
  float l_Cur = dot(-l_L, l_SpotDir);
  float l_W = p_LightDirection.w;
  float l_Inner = floor(l_W) * 0.001;
  float l_Outer = fract(l_W);
  return clamp((l_Cur - l_Outer) / (l_Inner - l_Outer), step(l_W, 0.001), 1.0);
}

float getAttenuation(in Light p_Light, in float p_Distance, in vec3 p_HalfVector){
  float l_Att = 1.0 / (p_Light._ConstantAttenuation + p_Light._LinearAttenuation * p_Distance + p_Light._QuadraticAttenuation * p_Distance * p_Distance);
  if(p_Light._LightType == 2){
    float l_Spot = dot(-p_HalfVector, normalize(p_Light._Direction.xyz));
    if(l_Spot < p_Light._SpotCosCutoff){
      l_Att = 0.0;
    }else{
      l_Att *= pow(l_Spot, p_Light._SpotExponent);
    }
  }
  return l_Att;
}

float lightComputeDiffuse(in vec3 p_Normal, in vec3 p_LightDir){
  return max(0.0, dot(p_Normal, p_LightDir));
}

float lightComputeSpecular(in vec3 p_Normal, in vec3 p_ViewDir, in vec3 p_LightDir, in float p_Shiny){
  vec3 l_H = normalize(p_ViewDir + p_LightDir);
  return pow(max(0.0, dot(l_H, p_Normal)), p_Shiny);
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

#define GLI_FOG_ENABLED        1
#define GLI_FOG_MODE_LINEAR    2
#define GLI_FOG_MODE_EXP       4
#define GLI_FOG_MODE_EXP2      8

float computeFog(in int p_FogMode, in float p_FogStart, in float p_FogEnd, in float p_FogDensity, vec3 p_VertPos, vec3 p_EyePos){
  if((p_FogMode & GLI_FOG_ENABLED) != GLI_FOG_ENABLED){
    return 1.0;
  }
  float l_Dist = length(p_VertPos - p_EyePos);
  float l_Fog;
  if((p_FogMode & GLI_FOG_MODE_LINEAR) == GLI_FOG_MODE_LINEAR){
    l_Fog = (p_FogEnd - l_Dist) / (p_FogEnd - p_FogStart);
  }else if((p_FogMode & GLI_FOG_MODE_EXP) == GLI_FOG_MODE_EXP){
    l_Fog = exp(-(l_Dist * p_FogDensity));
  }else{
    l_Fog = exp(-((l_Dist * p_FogDensity) * (l_Dist * p_FogDensity)));
  }
  return clamp(l_Fog, 0.0, 1.0);
}

void SurfaceShader(inout TLocals DATA){

}
layout (location = 0) out vec4 o_Albedo;

layout (location = 1) out float o_Alpha;

layout (location = 2) out vec4 o_Position;

layout (location = 3) out vec3 o_Normals;

layout (location = 4) out vec3 o_Emissive;

void main(){
  TLocals LOCALS;
  const int c_ClipPlaneFlag = 0x01;
  if(((_Options & c_ClipPlaneFlag) == c_ClipPlaneFlag) && (vars.v_ClipDistance < 0.0)){ discard; }
  LOCALS.Attenuation = 1.0;
  LOCALS.SceneAttenuation = 0.0;
  LOCALS.Ambient = vec3(0.00, 0.00, 0.00);
  LOCALS.Diffuse = vec3(0.00, 0.00, 0.00);
  LOCALS.Specular = vec3(0.00, 0.00, 0.00);
  LOCALS.Emissive = vec3(0.00, 0.00, 0.00);
  LOCALS.SpecularColor = vec3(0.00, 0.00, 0.00);
  LOCALS.BaseColor = vec4(1.00, 1.00, 1.00, 1.00);
  LOCALS.SumColor = vec3(1.00, 1.00, 1.00);
  LOCALS.Alpha = 1.0;
  LOCALS.BumpSum = vec2(1.00, 1.00);
  LOCALS.SpecularColor = _Material[0]._Specular.rgb;
  LOCALS.Emissive = (_Material[0]._Emissive.rgb * _Material[0]._Emissive.a);
  LOCALS.TransfVertPos = vars.v_TransfVertPos.xyz;
  LOCALS.FragDepth = gl_FragCoord.z;
  LOCALS.Normal = vars.v_TBN[2];
  LOCALS.FragViewDir = normalize(_EyePos.xyz - LOCALS.TransfVertPos.xyz);
  LOCALS.TexCoord0 = vars.v_TexCoord0;
  vec2 l_Tiling0 = _Material[0]._Texture[0]._Tiling;
  LOCALS.TexCoord0 = vec2(mod(LOCALS.TexCoord0.x * l_Tiling0.x, 1.0), mod(LOCALS.TexCoord0.y * l_Tiling0.y, 1.0));
  for(int i = 0; i < _LightsCount; i++){
    LOCALS.LightType = _Lights[i]._LightType;
    LOCALS.LightDist = GetLightDir(_Lights[i], vars.v_TransfVertPos, LOCALS.LightDir, LOCALS.LightVec);
    float l_Falloff = 1.0;
    if(LOCALS.LightType == 2){
      l_Falloff = computeSpotFalloff(LOCALS.LightDir, LOCALS.LightVec);
    }
    if(LOCALS.LightType == 0){
      LOCALS.Attenuation = 1.0;
    }else{
      LOCALS.Attenuation = getAttenuation(_Lights[i], LOCALS.LightDist, LOCALS.LightVec);
    }
    LOCALS.SceneAttenuation += LOCALS.Attenuation;

    LOCALS.Shading.x = lightComputeDiffuse(LOCALS.Normal, LOCALS.LightDir.xyz);
    LOCALS.Shading.y = 0.0;
    if(_Material[0]._Shininess <= 0.001){
      LOCALS.Shading.y = 0.0;
    }else{
      LOCALS.Shading.y = lightComputeSpecular(LOCALS.Normal, LOCALS.FragViewDir, LOCALS.LightDir.xyz, _Material[0]._Shininess);
    }
    LOCALS.Shading = LOCALS.Shading * vec2(LOCALS.Attenuation) * vec2(l_Falloff);
    LOCALS.Shading *= _ShadingIntensity;
    LOCALS.Ambient += _Lights[i]._Ambient.rgb;
    LOCALS.Diffuse += _Lights[i]._Diffuse.rgb * _Lights[i]._Intensity * LOCALS.Shading.x;
    LOCALS.Specular += _Lights[i]._Specular.rgb * LOCALS.Shading.y;

  }
  LOCALS.BaseColor = tex2D(_Texture0, LOCALS.TexCoord0);
  LOCALS.Alpha = LOCALS.BaseColor.a;
  SurfaceShader(LOCALS);
  LOCALS.Specular *= LOCALS.SpecularColor;
  LOCALS.SumColor = (_Material[0]._Ambient.rgb * LOCALS.Ambient) + (_Material[0]._Diffuse.rgb * LOCALS.Diffuse) + LOCALS.Specular;
  LOCALS.SumColor = clamp(LOCALS.SceneAttenuation, 0.0, 1.0) * (LOCALS.SumColor * LOCALS.BaseColor.rgb);
  LOCALS.SumColor += LOCALS.Emissive;
  LOCALS.SumColor *= _Brightness;
  LOCALS.Alpha *= _Material[0]._Features.x;
  o_Albedo = vec4(LOCALS.SumColor, LOCALS.Alpha);
  o_Albedo = mix(o_Albedo, _FogColor, 1.0 - computeFog(_FogMode, _FogStart, _FogEnd, _FogDensity, LOCALS.TransfVertPos.xyz, _EyePos.xyz));
  const int c_IsTranslucent = 0x02;
  if((_Options & c_IsTranslucent) == c_IsTranslucent){
    if(LOCALS.Alpha >= 0.003){
      o_Position = vec4(LOCALS.TransfVertPos.xyz, LOCALS.FragDepth);
      o_Normals = LOCALS.Normal.xyz;
      o_Emissive = LOCALS.Emissive;
    }else{
      discard;
    }
  }
  if((_Options & c_IsTranslucent) == c_IsTranslucent){
    vec4 l_WBOITColor = o_Albedo;
    float l_Depth = abs(vars.v_WorldViewProjVertPos.z / _EyePos.z);
    float l_DistWeight = clamp(0.03 / (1e-5 + pow(l_Depth, 4.0)), 1e-2, 3e3);
    float l_Weight = max(min(1.0, max(max(l_WBOITColor.r, l_WBOITColor.g), l_WBOITColor.b) * LOCALS.Alpha), LOCALS.Alpha) * l_DistWeight;
    o_Albedo = vec4(l_WBOITColor.rgb * LOCALS.Alpha, LOCALS.Alpha) * l_Weight;
    o_Alpha = LOCALS.Alpha;
    o_Emissive = LOCALS.Emissive;
  }else{
    o_Position = vec4(LOCALS.TransfVertPos.xyz, vars.v_WorldViewProjVertPos.z);
    o_Normals = LOCALS.Normal.xyz;
    o_Emissive = LOCALS.Emissive;
    o_Alpha = 1.0;
  }

}
