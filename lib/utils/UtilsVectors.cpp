#include "lib/utils/UtilsVectors.h"

#include <cmath>

namespace quorvel {

float VectorLength(const TPoint3D& A) { return A.Length(); }

TPoint3D VectorNormalize(const TPoint3D& A) { return A.Normalize(); }

TPoint3D VectorDirection(const TPoint3D& A, const TPoint3D& B) { return (B - A).Normalize(); }

TPoint3D VectorAbs(const TPoint3D& A) { return {std::fabs(A.X), std::fabs(A.Y), std::fabs(A.Z)}; }

}  // namespace quorvel
