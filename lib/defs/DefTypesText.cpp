#include "lib/defs/DefTypesText.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "framework/classes/Component.h"
#include "framework/classes/FwObject.h"
#include "framework/gui3d/MeshData.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

constexpr int PositionDecimals = 7;
constexpr int ColorDecimals = 4;

// The common case: a single below 1E8. Its value times 10^decimals is exact in a double
// (24 + 24 bits), so rounding half away from zero on it, as the pattern formatter does, is
// exact as well (to_chars would round exact ties to even).
bool AppendFixedSingle(std::string& AOut, double AValue, int ADecimals) {
  const double magnitude = std::fabs(AValue);
  if (!(magnitude < 1e8) || static_cast<double>(static_cast<float>(AValue)) != AValue) return false;
  const double scale = ADecimals == ColorDecimals ? 1e4 : 1e7;
  const auto scaled = static_cast<uint64_t>(magnitude * scale + 0.5);
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof(digits), scaled);
  size_t len = static_cast<size_t>(end - digits);
  const auto decimals = static_cast<size_t>(ADecimals);
  if (AValue < 0 && scaled != 0) AOut += '-';
  if (len <= decimals) {
    AOut += "0.";
    AOut.append(decimals - len, '0');
    AOut.append(digits, len);
  } else {
    AOut.append(digits, len - decimals);
    AOut += '.';
    AOut.append(digits + len - decimals, decimals);
  }
  return true;
}

// Appends AValue with exactly ADecimals decimals, "." as decimal point and no thousands
// separator (the patterns "0.0000000" and "0.0000").
void AppendFixed(std::string& AOut, double AValue, int ADecimals) {
  if (AppendFixedSingle(AOut, AValue, ADecimals)) return;
  if (!std::isfinite(AValue)) {
    AOut += FloatToStr(AValue);
    return;
  }
  char buf[400];  // the largest double has 309 integer digits
  auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), AValue, std::chars_format::fixed, ADecimals);
  if (ec != std::errc()) {
    AOut += FormatFloat(ADecimals == ColorDecimals ? "0.0000" : "0.0000000", AValue);
    return;
  }
  const char* begin = buf;
  // A value that rounds to zero is written without its sign, as the pattern formatter does.
  if (*begin == '-') {
    bool zero = true;
    for (const char* p = begin + 1; p < end && zero; ++p) zero = *p == '0' || *p == '.';
    if (zero) ++begin;
  }
  AOut.append(begin, static_cast<size_t>(end - begin));
}

void AppendInt(std::string& AOut, int64_t AValue) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), AValue);
  AOut.append(buf, end);
}

std::string Fixed(std::initializer_list<float> AValues, char ASeparator, int ADecimals = PositionDecimals) {
  std::string s;
  s.reserve(AValues.size() * 12);
  bool first = true;
  for (float v : AValues) {
    if (!first) s += ASeparator;
    first = false;
    AppendFixed(s, v, ADecimals);
  }
  return s;
}

inline bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimmedView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsTrimmed(s[b])) ++b;
  while (e > b && IsTrimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Calls AOnPiece for every non-empty trimmed piece of AText split at ASeparator.
template <class F>
void ForEachPiece(std::string_view AText, char ASeparator, F&& AOnPiece) {
  size_t start = 0;
  while (start <= AText.size()) {
    size_t stop = AText.find(ASeparator, start);
    if (stop == std::string_view::npos) stop = AText.size();
    const std::string_view piece = TrimmedView(AText.substr(start, stop - start));
    if (!piece.empty()) AOnPiece(piece);
    start = stop + 1;
  }
}

// A float in the en-US format; 0 when the piece does not parse or does not fit a Single.
float ParseSingle(std::string_view APiece) {
  double d = 0;
  if (!TryStrToFloat(APiece, d)) return 0;
  // "nan", "inf" and values beyond the single range are no finite single either.
  if (!(std::fabs(d) <= std::numeric_limits<float>::max())) return 0;
  return static_cast<float>(d);
}

int32_t ParseInteger(std::string_view APiece) {
  int32_t v = 0;
  auto [end, ec] = std::from_chars(APiece.data(), APiece.data() + APiece.size(), v);
  if (ec == std::errc() && end == APiece.data() + APiece.size()) return v;
  return TryStrToInt(APiece, v) ? v : 0;
}

// Fills up to ACount floats from AText: split at commas when there is one, else at blanks.
template <size_t N>
std::array<float, N> ReadFixed(std::string_view AText) {
  std::array<float, N> r{};
  size_t n = 0;
  const char separator = AText.find(',') != std::string_view::npos ? ',' : ' ';
  ForEachPiece(AText, separator, [&](std::string_view piece) {
    if (n < N) r[n] = ParseSingle(piece);
    ++n;
  });
  return r;
}

template <class T, size_t Block, class Parse>
std::vector<T> ReadList(std::string_view AText, Parse&& AParse) {
  std::vector<T> r;
  size_t n = 0;
  ForEachPiece(AText, ' ', [&](std::string_view piece) {
    if (n == r.size()) r.resize(r.size() + Block);
    r[n++] = AParse(piece);
  });
  r.resize(n);
  r.shrink_to_fit();
  return r;
}

const char* const VertexFormatNames[16] = {
    "Vertex",   "Normal",    "Color0",    "Color1",    "Color2",    "Color3",   "ColorF0",  "ColorF1",
    "ColorF2",  "ColorF3",   "TexCoord0", "TexCoord1", "TexCoord2", "TexCoord3", "BiNormal", "Tangent"};
const char* const TextureFlippingNames[2] = {"Vertical", "Horizontal"};

template <class E, size_t N>
std::string SetToStr(const TSet<E>& ASet, const char* const (&ANames)[N]) {
  std::string s;
  for (size_t i = 0; i < N; ++i) {
    if (!ASet.Contains(static_cast<E>(i))) continue;
    if (!s.empty()) s += ',';
    s += ANames[i];
  }
  return s;
}

template <class E, size_t N>
TSet<E> StrToSet(std::string_view AText, const char* const (&ANames)[N]) {
  TSet<E> r;
  size_t start = 0;
  while (start <= AText.size()) {
    size_t stop = AText.find(',', start);
    if (stop == std::string_view::npos) stop = AText.size();
    const std::string_view piece = AText.substr(start, stop - start);
    for (size_t i = 0; i < N; ++i)
      if (SameText(piece, ANames[i])) r.Include(static_cast<E>(i));
    start = stop + 1;
  }
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Formatters

std::string Point3DToStr(const TPoint3D& APoint, char ASeparator) {
  return Fixed({APoint.X, APoint.Y, APoint.Z}, ASeparator);
}

std::string PointFToStr(const TPointF& APoint, char ASeparator) { return Fixed({APoint.X, APoint.Y}, ASeparator); }

std::string Vector3DToStr(const TVector3D& AVector, char ASeparator) {
  return Fixed({AVector.X, AVector.Y, AVector.Z, AVector.W}, ASeparator);
}

std::string Quaternion3DToStr(const TQuaternion3D& AQuaternion, char ASeparator) {
  return Vector3DToStr(
      TVector3D(AQuaternion.ImagPart.X, AQuaternion.ImagPart.Y, AQuaternion.ImagPart.Z, AQuaternion.RealPart),
      ASeparator);
}

std::string AlphaColorFToStr(const TAlphaColorF& AColor, bool AWithAlpha, char ASeparator) {
  if (AWithAlpha) return Fixed({AColor.R, AColor.G, AColor.B, AColor.A}, ASeparator, ColorDecimals);
  return Fixed({AColor.R, AColor.G, AColor.B}, ASeparator, ColorDecimals);
}

std::string SingleArrayToStr(const std::vector<float>& AValues, char ASeparator) {
  std::string s;
  s.reserve(AValues.size() * 11);
  for (size_t i = 0; i < AValues.size(); ++i) {
    if (i) s += ASeparator;
    AppendFixed(s, AValues[i], PositionDecimals);
  }
  return s;
}

std::string IntegerArrayToStr(const std::vector<int32_t>& AValues, char ASeparator) {
  std::string s;
  s.reserve(AValues.size() * 6);
  for (size_t i = 0; i < AValues.size(); ++i) {
    if (i) s += ASeparator;
    AppendInt(s, AValues[i]);
  }
  return s;
}

std::string Matrix3DToStr(const TMatrix3D& AMatrix, std::string* ABuilder, char ASeparator) {
  std::string own;
  std::string& out = ABuilder ? *ABuilder : own;
  out.reserve(out.size() + 16 * 11);
  for (int i = 0; i < 16; ++i) {
    if (i) out += ASeparator;
    AppendFixed(out, AMatrix.Get(i / 4, i % 4), PositionDecimals);
  }
  return out;
}

std::string Point3DArrayToStr(const std::vector<TPoint3D>& APoints, char ASeparator) {
  std::string s;
  s.reserve(APoints.size() * 33);
  for (size_t i = 0; i < APoints.size(); ++i) {
    if (i) s += ASeparator;
    AppendFixed(s, APoints[i].X, PositionDecimals);
    s += ' ';
    AppendFixed(s, APoints[i].Y, PositionDecimals);
    s += ' ';
    AppendFixed(s, APoints[i].Z, PositionDecimals);
  }
  return s;
}

std::string TextureFlippingsToStr(const TTextureFlippings& ASet) { return SetToStr(ASet, TextureFlippingNames); }

std::string VertexFormatsToStr(const TVertexFormats& ASet) { return SetToStr(ASet, VertexFormatNames); }

std::string BytesToStr(const uint8_t* AData, int64_t ACount) {
  std::string s;
  if (!AData || ACount <= 0) return s;
  s.reserve(static_cast<size_t>(ACount) * 4);
  for (int64_t i = 0; i < ACount; ++i) {
    AppendInt(s, AData[i]);
    s += ' ';
  }
  return s;
}

// ---------------------------------------------------------------------------------------
// Readers

TPoint3D StrToPoint3D(std::string_view AText) {
  const auto v = ReadFixed<3>(AText);
  return {v[0], v[1], v[2]};
}

TPointF StrToPointF(std::string_view AText) {
  const auto v = ReadFixed<2>(AText);
  return {v[0], v[1]};
}

TVector3D StrToVector3D(std::string_view AText) {
  const auto v = ReadFixed<4>(AText);
  return {v[0], v[1], v[2], v[3]};
}

TQuaternion3D StrToQuaternion3D(std::string_view AText) {
  const TVector3D v = StrToVector3D(AText);
  return {v.X, v.Y, v.Z, v.W};
}

TAlphaColorF StrToAlphaColorF(std::string_view AText) {
  const auto v = ReadFixed<4>(AText);
  return {v[0], v[1], v[2], v[3]};
}

std::vector<float> StrToSingleArray(std::string_view AText) { return ReadList<float, 256>(AText, ParseSingle); }

std::vector<int32_t> StrToIntegerArray(std::string_view AText) {
  return ReadList<int32_t, 256>(AText, ParseInteger);
}

std::vector<uint8_t> StrToBytes(std::string_view AText) {
  return ReadList<uint8_t, 512>(AText, [](std::string_view p) {
    return static_cast<uint8_t>(static_cast<uint32_t>(ParseInteger(p)) & 0xFFu);
  });
}

TMatrix3D StrToMatrix3D(std::string_view AText) {
  const std::vector<float> v = StrToSingleArray(AText);
  if (v.empty()) return TMatrix3D::Identity();
  TMatrix3D m;
  const size_t n = std::min<size_t>(v.size(), 16);
  for (size_t i = 0; i < n; ++i) m.At(static_cast<int>(i / 4), static_cast<int>(i % 4)) = v[i];
  return m;
}

std::vector<TPoint3D> StrToPoint3DArray(std::string_view AText) {
  return SingleArrayToPoint3DArray(StrToSingleArray(AText));
}

std::vector<TPoint3D> SingleArrayToPoint3DArray(const std::vector<float>& AValues) {
  std::vector<TPoint3D> r(AValues.size() / 3);
  for (size_t i = 0; i < r.size(); ++i) r[i] = {AValues[3 * i], AValues[3 * i + 1], AValues[3 * i + 2]};
  return r;
}

TTextureFlippings StrToTextureFlippings(std::string_view AText) {
  return StrToSet<TTextureFlipping>(AText, TextureFlippingNames);
}

TVertexFormats StrToVertexFormats(std::string_view AText) { return StrToSet<TVertexFormat>(AText, VertexFormatNames); }

// ---------------------------------------------------------------------------------------
// Names

std::string SanitizeIdentifier(std::string_view AName) {
  std::string r;
  r.reserve(AName.size() + 1);
  size_t i = 0;
  while (i < AName.size()) {
    const auto c = static_cast<unsigned char>(AName[i]);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') {
      r += static_cast<char>(c);
      ++i;
      continue;
    }
    // One "_" per character: skip a whole UTF-8 sequence (a stray byte counts alone).
    size_t len = 1;
    if (c >= 0xF0 && c <= 0xF4) len = 4;
    else if (c >= 0xE0) len = 3;
    else if (c >= 0xC2 && c <= 0xDF) len = 2;
    size_t k = 1;
    while (k < len && i + k < AName.size() && (static_cast<unsigned char>(AName[i + k]) & 0xC0) == 0x80) ++k;
    r += '_';
    i += k;
  }
  if (!r.empty() && r[0] >= '0' && r[0] <= '9') r.insert(r.begin(), '_');
  return r;
}

bool IsUniqueComponentName(const TComponent* AComponent, const std::string& AName) {
  if (const TIsUniqueGlobalComponentNameProc hook = GetIsUniqueGlobalComponentNameProc()) return hook(AName);
  if (FindGlobalComponent(AName)) return false;
  const TComponent* c = AComponent;
  while (c) {
    if (c->FindComponent(AName)) return false;
    const TComponent* next = dynamic_cast<const TComponent*>(c->GetOwner());
    if (!next) {
      const auto* fw = dynamic_cast<const TFwObject*>(c);
      next = fw ? fw->GetParent() : nullptr;
    }
    c = next;
  }
  return true;
}

std::string GetUniqueComponentName(const TComponent* AComponent, std::string_view AName) {
  std::string name = SanitizeIdentifier(AName);
  while (!IsUniqueComponentName(AComponent, name)) name += "_1";
  return name;
}

int64_t GetStringSize(std::string_view AText) {
  int64_t units = 0;
  for (char ch : AText) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c & 0xC0) != 0x80) ++units;  // a character starts here
    if (c >= 0xF0) ++units;           // beyond the 16-bit plane: a surrogate pair
  }
  return 2 * units;
}

void DirtyHackApplyMeshDataBuffers(TMeshData* AMeshData, const TVertexBuffer* AVertexBuffer,
                                   const TIndexBuffer* AIndexBuffer) {
  if (!AMeshData) return;
  try {
    // The settings always move; the contents only when there are any (Assign does both).
    if (AVertexBuffer) AMeshData->SetVertexBuffer(AVertexBuffer);
    if (AIndexBuffer && AIndexBuffer->Length() > 0) AMeshData->SetIndexBuffer(AIndexBuffer);
  } catch (const std::exception& e) {
    throw Exception(std::string("DirtyHackApplyMeshDataBuffers() : ") + e.what());
  }
}

}  // namespace quorvel
