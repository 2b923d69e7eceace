#pragma once
// The engine's image filters: eight filters whose pixel programs are GLSL text, run by the
// framework's filter manager on the engine's context (geometry: affine, perspective, crop;
// blur: Gaussian; style: glow, inner glow, reflection; transition: swipe), the 3x3 matrix
// routines of the geometry filters, and the registry swap run at unit initialisation.
#include <cstdint>
#include <string>

#include "framework/gui3d/Filter.h"
#include "framework/math/Point.h"

namespace quorvel {

// A 3x3 matrix for row vectors (x, y, 1): translation in m31, m32, the projective terms in
// m13, m23. The fields keep their stored order.
struct TAffineMatrix {
  float m11, m12, m31;
  float m21, m22, m32;
  float m13, m23, m33;

  static TAffineMatrix Identity() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }
  friend bool operator==(const TAffineMatrix&, const TAffineMatrix&) = default;
};
static_assert(sizeof(TAffineMatrix) == 36);

// A·B, each element summed in double precision.
TAffineMatrix AffineMatrixMultiply(const TAffineMatrix& A, const TAffineMatrix& B);
TAffineMatrix CreateAffineRotation(float AAngle);
// The point undivided when w is exactly 0 or exactly 1.
TPointF AffineTransformPoint(const TPointF& P, const TAffineMatrix& M);
float AffineDeterminant(const TAffineMatrix& M);
void AffineAdjoint(TAffineMatrix& M);
void AffineScale(TAffineMatrix& M, float AFactor);
// The identity when |det| < 1e-40.
void AffineInvert(TAffineMatrix& M);

// The weights of the 19-tap Gaussian, for the taps at -9 .. +9 texels.
extern const float (&GaussianBlurWeights)[19];
// The weights of the glows' 15 taps at -7 .. +7 (their sum is above 1).
extern const float GlowWeights[15];

class TQuorvelAffineFilter : public TFilter {
  FW_CLASS_META(TQuorvelAffineFilter, TFilter, TFilterClass)

public:
  TQuorvelAffineFilter();
  static TFilterRec FilterAttr();
  void CalcSize(int32_t& W, int32_t& H) override;
  void LoadShaders() override;
  virtual void CalcMatrix(int32_t W, int32_t H);
  const TAffineMatrix& GetMatrix() const { return FMatrix; }
  const TAffineMatrix& GetInvMatrix() const { return FInvMatrix; }

protected:
  TAffineMatrix FMatrix = TAffineMatrix::Identity();
  TAffineMatrix FInvMatrix = TAffineMatrix::Identity();
};

class TQuorvelPerspectiveFilter : public TFilter {
  FW_CLASS_META(TQuorvelPerspectiveFilter, TFilter, TFilterClass)

public:
  TQuorvelPerspectiveFilter();
  static TFilterRec FilterAttr();
  void CalcSize(int32_t& W, int32_t& H) override;
  void LoadShaders() override;
  virtual void CalcMatrix(int32_t W, int32_t H);
  const TAffineMatrix& GetMatrix() const { return FMatrix; }
  const TAffineMatrix& GetInvMatrix() const { return FInvMatrix; }

protected:
  TAffineMatrix FMatrix = TAffineMatrix::Identity();
  TAffineMatrix FInvMatrix = TAffineMatrix::Identity();
};

class TQuorvelCropFilter : public TFilter {
  FW_CLASS_META(TQuorvelCropFilter, TFilter, TFilterClass)

public:
  TQuorvelCropFilter();
  static TFilterRec FilterAttr();
  void CalcSize(int32_t& W, int32_t& H) override;
};

class TQuorvelGaussianBlurFilter : public TFilter {
  FW_CLASS_META(TQuorvelGaussianBlurFilter, TFilter, TFilterClass)

public:
  TQuorvelGaussianBlurFilter();
  static TFilterRec FilterAttr();
  void LoadShaders() override;
};

class TQuorvelGlowFilter : public TFilter {
  FW_CLASS_META(TQuorvelGlowFilter, TFilter, TFilterClass)

public:
  TQuorvelGlowFilter();
  static TFilterRec FilterAttr();
  void LoadShaders() override;
};

class TQuorvelInnerGlowFilter : public TFilter {
  FW_CLASS_META(TQuorvelInnerGlowFilter, TFilter, TFilterClass)

public:
  TQuorvelInnerGlowFilter();
  static TFilterRec FilterAttr();
  void LoadShaders() override;
};

class TQuorvelReflectionFilter : public TFilter {
  FW_CLASS_META(TQuorvelReflectionFilter, TFilter, TFilterClass)

public:
  TQuorvelReflectionFilter();
  static TFilterRec FilterAttr();
};

class TQuorvelSwipeFilter : public TFilter {
  FW_CLASS_META(TQuorvelSwipeFilter, TFilter, TFilterClass)

public:
  TQuorvelSwipeFilter();
  // No internal second texture: the pages are what the caller gives.
  void AfterConstruction() override;
  static TFilterRec FilterAttr();
  void CalcSize(int32_t& W, int32_t& H) override;
  void LoadShaders() override;

  TPointF GetAPoint() const { return FAPoint; }
  TPointF GetA1Point() const { return FA1Point; }
  TPointF GetBPoint() const { return FBPoint; }
  TPointF GetCPoint() const { return FCPoint; }
  TPointF GetLineAB() const { return FLineAB; }
  TPointF GetLineAB1() const { return FLineAB1; }
  float GetK() const { return FK; }
  float GetLength() const { return FLength; }

protected:
  TPointF FAPoint, FA1Point, FBPoint, FCPoint, FLineAB, FLineAB1;
  float FK = 0;
  float FLength = 0;
};

class TFilterManagerHack : public TObject {
public:
  // Empties the framework's filter registry and registers the eight engine filters.
  static void ReregisterFilters();
};

}  // namespace quorvel
