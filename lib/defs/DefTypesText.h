#pragma once
// Unit Quorvel.DefTypes, text forms of values: points, vectors, quaternions, colours, matrices
// and number lists in one fixed en-US number format (never the user's locale), set names,
// identifiers and unique component names.
//
// Readers never fail: a piece that does not parse counts as 0. Fixed-size readers split at
// commas when the text holds one, else at blanks; list readers split at blanks only. Tabs and
// line breaks are no separators.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/math/Quaternion3D.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TComponent;
class TMeshData;

enum class TTextureFlipping : uint8_t { Vertical = 0, Horizontal = 1 };
FW_ENUM(TTextureFlipping, Vertical, Horizontal)
using TTextureFlippings = TSet<TTextureFlipping>;

// ---- formatters: "0.0000000" per number ("0.0000" for colours), joined by ASeparator ----
std::string Point3DToStr(const TPoint3D& APoint, char ASeparator = ' ');
std::string PointFToStr(const TPointF& APoint, char ASeparator = ' ');
std::string Vector3DToStr(const TVector3D& AVector, char ASeparator = ' ');
// Imaginary X, Y, Z, then the real part.
std::string Quaternion3DToStr(const TQuaternion3D& AQuaternion, char ASeparator = ' ');
std::string AlphaColorFToStr(const TAlphaColorF& AColor, bool AWithAlpha = true, char ASeparator = ' ');
std::string SingleArrayToStr(const std::vector<float>& AValues, char ASeparator = ' ');
std::string IntegerArrayToStr(const std::vector<int32_t>& AValues, char ASeparator = ' ');
// The 16 entries row by row. With a builder, appends to it (no separator before the first
// number, whatever it holds) and answers its whole text.
std::string Matrix3DToStr(const TMatrix3D& AMatrix, std::string* ABuilder = nullptr, char ASeparator = ' ');
// Points with a blank inside each point, points joined by ASeparator.
std::string Point3DArrayToStr(const std::vector<TPoint3D>& APoints, char ASeparator = ' ');
// Member names in declaration order joined by "," ("" for the empty set).
std::string TextureFlippingsToStr(const TTextureFlippings& ASet);
std::string VertexFormatsToStr(const TVertexFormats& ASet);
// Each byte in decimal followed by one blank.
std::string BytesToStr(const uint8_t* AData, int64_t ACount);

// ---- readers ----
TPoint3D StrToPoint3D(std::string_view AText);
TPointF StrToPointF(std::string_view AText);
TVector3D StrToVector3D(std::string_view AText);
TQuaternion3D StrToQuaternion3D(std::string_view AText);
// Unset channels are 0, alpha included.
TAlphaColorF StrToAlphaColorF(std::string_view AText);
std::vector<float> StrToSingleArray(std::string_view AText);
std::vector<int32_t> StrToIntegerArray(std::string_view AText);
// Each integer's low 8 bits (256 gives 0, -1 gives 255).
std::vector<uint8_t> StrToBytes(std::string_view AText);
// Row by row; the identity for text without numbers; entries after the last number are 0.
TMatrix3D StrToMatrix3D(std::string_view AText);
std::vector<TPoint3D> StrToPoint3DArray(std::string_view AText);
// Consecutive triples; one or two values left over are dropped.
std::vector<TPoint3D> SingleArrayToPoint3DArray(const std::vector<float>& AValues);
// Comma-separated member names, ASCII case ignored, pieces not trimmed; unknown names skipped.
TTextureFlippings StrToTextureFlippings(std::string_view AText);
TVertexFormats StrToVertexFormats(std::string_view AText);

// Every character other than an ASCII letter, digit or "_" becomes one "_"; a leading digit
// gets "_" in front.
std::string SanitizeIdentifier(std::string_view AName);
bool IsUniqueComponentName(const TComponent* AComponent, const std::string& AName);
// The sanitised name with "_1" appended until it is unique.
std::string GetUniqueComponentName(const TComponent* AComponent, std::string_view AName);
// Two bytes per character (UTF-16 units of the text).
int64_t GetStringSize(std::string_view AText);

// Moves prepared buffers into the framework's mesh data; failures raise
// "DirtyHackApplyMeshDataBuffers() : " plus the message caught.
void DirtyHackApplyMeshDataBuffers(TMeshData* AMeshData, const TVertexBuffer* AVertexBuffer,
                                   const TIndexBuffer* AIndexBuffer);

}  // namespace quorvel
