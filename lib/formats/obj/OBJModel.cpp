#include "lib/formats/obj/OBJModel.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/io/StreamReader.h"
#include "framework/rtl/Encoding.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesText.h"
#include "lib/formats/Loader.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

FW_CLASS_IMPL(TOBJCache, "Quorvel.OBJ.Model")
FW_CLASS_NO_MEMBERS(TOBJCache)
FW_CLASS_IMPL(TOBJModel, "Quorvel.OBJ.Model")
FW_CLASS_NO_MEMBERS(TOBJModel)

namespace {

bool StartsWith(std::string_view AText, std::string_view APrefix) {
  return AText.size() >= APrefix.size() && AText.compare(0, APrefix.size(), APrefix) == 0;
}

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char a = A[i], b = B[i];
    if (a >= 'A' && a <= 'Z') a = char(a + 32);
    if (b >= 'A' && b <= 'Z') b = char(b + 32);
    if (a != b) return false;
  }
  return true;
}

// Files named in OBJ and MTL text often come from Windows: "\" separators and any letter case.
std::string LocalFile(const std::string& AName) {
  std::string path = TPath::ToPosix(AName);
  if (!TFile::Exists(path)) path = TPath::ResolveCaseInsensitive(path);
  return path;
}

// Blanks and tabs only (or nothing): an empty line. Any other character starts a statement,
// also behind leading blanks (and is refused there).
bool IsBlankLine(std::string_view ALine) {
  return ALine.find_first_not_of(" \t") == std::string_view::npos;
}

// The run-time's integer conversion; plain digits that fit are the common case of large files
// and are read here.
int32_t IndexValue(std::string_view APiece) {
  if (!APiece.empty() && APiece.size() <= 9) {
    uint32_t value = 0;
    size_t i = 0;
    for (; i < APiece.size(); ++i) {
      const unsigned digit = unsigned(uint8_t(APiece[i])) - unsigned('0');
      if (digit > 9) break;
      value = value * 10 + digit;
    }
    if (i == APiece.size()) return int32_t(value);
  }
  return StrToInt(Trim(APiece));
}

// The file's three face-index forms; a missing index (or one not above 0) becomes -1, which
// GetVertex rejects for a position.
int32_t ReadIndex(std::string_view APiece) {
  const int64_t value = int64_t(IndexValue(APiece)) - 1;
  return value < 0 ? -1 : int32_t(value);
}

// The run-time's Trim without a copy.
std::string_view TrimView(std::string_view AText) {
  size_t b = 0, e = AText.size();
  while (b < e && uint8_t(AText[b]) <= ' ') ++b;
  while (e > b && uint8_t(AText[e - 1]) <= ' ') --e;
  return AText.substr(b, e - b);
}

enum class TStatement {
  Unknown, Object, Vertex, Group, Smooth, MergingGroup, MtlLib, UseMtl, MapLib, UseMap, Point, Line, Face, Raise
};

struct TClassified {
  TStatement Kind = TStatement::Unknown;
  const char* Message = nullptr;  // for Raise
};

struct TPrefixRow {
  const char* Prefix;
  TStatement Kind;
  const char* Message;
};

// Per first character, in the order of the tests.
TClassified Classify(const std::string& ALower) {
  static const TPrefixRow B[] = {{"bmat ", TStatement::Raise, "basis matrix for curves or surfaces (bmat) not supported"},
                                 {"bevel", TStatement::Raise, "bevel interpolation (bevel) not supported"}};
  static const TPrefixRow C[] = {{"cstype ", TStatement::Raise, "cubic bezier surfaces (cstype) not supported"},
                                 {"curv ", TStatement::Raise, "curves (curv) not supported"},
                                 {"curv2 ", TStatement::Raise, "2D curves (curv2) not supported"},
                                 {"c_interp ", TStatement::Raise, "color interpolation (c_interp) not supported"},
                                 {"con", TStatement::Raise, "Connect (con) not supported"},
                                 {"ctech", TStatement::Raise, "curve approximation technique (ctech) not supported"}};
  static const TPrefixRow D[] = {{"deg ", TStatement::Raise, "curves or surfaces (deg) not supported"},
                                 {"d_interp", TStatement::Raise, "dissolve interpolation (d_interp) not supported"}};
  static const TPrefixRow E[] = {{"end", TStatement::Raise, "statement end (end) not supported"}};
  // A bare "f" or "g" is the statement without corners or name.
  static const TPrefixRow F[] = {{"f ", TStatement::Face, nullptr}};
  static const TPrefixRow G[] = {{"g ", TStatement::Group, nullptr}};
  if (ALower == "f") return {TStatement::Face, nullptr};
  if (ALower == "g") return {TStatement::Group, nullptr};
  static const TPrefixRow H[] = {{"hole ", TStatement::Raise, "holes (hole) not supported"}};
  static const TPrefixRow L[] = {{"l ", TStatement::Line, nullptr},
                                 {"lod", TStatement::Raise, "level of detail (lo) not supported"}};
  static const TPrefixRow M[] = {{"mtllib ", TStatement::MtlLib, nullptr},
                                 {"maplib ", TStatement::MapLib, nullptr},
                                 {"mg ", TStatement::Raise, "merging groups (mg) not supported"}};
  static const TPrefixRow O[] = {{"o ", TStatement::Object, nullptr}};
  static const TPrefixRow P[] = {{"p ", TStatement::Point, nullptr},
                                 {"parm ", TStatement::Raise, "curves or surfaces (parm) not supported"}};
  static const TPrefixRow S[] = {{"s ", TStatement::Smooth, nullptr},
                                 {"shadow_obj", TStatement::Raise, "step shadow casting (shadow_obj) not supported"},
                                 {"step ", TStatement::Raise, "step size (step) not supported"},
                                 {"stech", TStatement::Raise, "surface approximation technique (stech) not supported"},
                                 {"surf ", TStatement::Raise, "surfaces (surf) not supported"},
                                 {"scrv ", TStatement::Raise, "special curves (scrv) not supported"},
                                 {"sp ", TStatement::Raise, "special points (sp) not supported"}};
  static const TPrefixRow T[] = {{"trim ", TStatement::Raise, "trimming not supported"},
                                 {"trace_obj", TStatement::Raise, "ray tracing (trace_obj) not supported"}};
  static const TPrefixRow U[] = {{"usemtl ", TStatement::UseMtl, nullptr}, {"usemap ", TStatement::UseMap, nullptr}};

  auto scan = [&](const auto& ARows) -> TClassified {
    for (const TPrefixRow& row : ARows)
      if (StartsWith(ALower, row.Prefix)) return {row.Kind, row.Message};
    return {};
  };
  switch (ALower[0]) {
    case 'b': return scan(B);
    case 'c': return scan(C);
    case 'd': return scan(D);
    case 'e': return scan(E);
    case 'f': return scan(F);
    case 'g': return scan(G);
    case 'h': return scan(H);
    case 'l': return scan(L);
    case 'm': return scan(M);
    case 'o': return scan(O);
    case 'p': return scan(P);
    case 's': return scan(S);
    case 't': return scan(T);
    case 'u': return scan(U);
    case 'v':
      if (ALower.size() > 1 && (ALower[1] == ' ' || ALower[1] == 'n' || ALower[1] == 't' || ALower[1] == 'p'))
        return {TStatement::Vertex, nullptr};
      return {};
    default:
      throw Exception(Format("undefined data type \"%s\"", {ALower}));
  }
}

// ---- MTL tables ----

struct TTextureMappingType {
  const char* N;
  const char* NLC;
  TColorChannelDef CD;
  TMaterialDefKind MK;
};

const TTextureMappingType TextureMappings[] = {
    {"map_Kd", "map_kd", TColorChannelDef::Diffuse, TMaterialDefKind::mkDefault},
    {"map_Ka", "map_ka", TColorChannelDef::Ambient, TMaterialDefKind::mkDefault},
    {"map_Ks", "map_ks", TColorChannelDef::Specular, TMaterialDefKind::mkDefault},
    {"map_Ke", "map_ke", TColorChannelDef::Emissive, TMaterialDefKind::mkDefault},
    {"map_Ns", "map_ns", TColorChannelDef::Specular, TMaterialDefKind::mkDefault},
    {"map_d", "map_d", TColorChannelDef::Opacity, TMaterialDefKind::mkDefault},
    {"map_Bump", "map_bump", TColorChannelDef::Normal, TMaterialDefKind::mkNormalMap},
    {"bump", "bump", TColorChannelDef::Normal, TMaterialDefKind::mkBumpMap},
    {"disp", "disp", TColorChannelDef::Displacement, TMaterialDefKind::mkDefault},
    {"refl", "refl", TColorChannelDef::Reflection, TMaterialDefKind::mkDefault},
    {"map_Pm", "map_pm", TColorChannelDef::Metalness, TMaterialDefKind::mkPBR},
    {"map_Pr", "map_pr", TColorChannelDef::Roughness, TMaterialDefKind::mkPBR},
};

struct TTextureOption {
  const char* Name;
  int Args;
};
const TTextureOption TextureOptions[] = {{"-blendu", 1}, {"-blendv", 1}, {"-clamp", 1}, {"-imfchan", 1},
                                         {"-mm", 2},     {"-o", 3},      {"-s", 3},     {"-t", 3},
                                         {"-texres", 1}, {"-bm", 1}};

[[noreturn]] void SyntaxError(const std::string& ALine) {
  throw Exception(Format("unexpected syntax in material library: %s", {ALine}));
}

// "," in the number's text makes it the decimal separator.
float MtlFloat(const std::string& AText, bool AComma) {
  if (AComma) {
    TFormatSettings fs;
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = '.';
    return float(StrToFloat(AText, fs));
  }
  return float(StrToFloat(AText));
}

float MtlValue(const std::vector<std::string>& AWords, size_t AIndex) {
  return MtlFloat(AWords[AIndex], AWords[AIndex].find(',') != std::string::npos);
}

TAlphaColorF MtlColor(const std::vector<std::string>& AWords) {
  const bool comma = (AWords[1] + AWords[2] + AWords[3]).find(',') != std::string::npos;
  return TAlphaColorF(MtlFloat(AWords[1], comma), MtlFloat(AWords[2], comma), MtlFloat(AWords[3], comma), 1);
}

}  // namespace

// ---- TOBJCache ----

// Only the lists an OBJ file fills get the capacity: reserving all 32 texture and 4 colour
// layers cost tens of megabytes per read, more than a small file's whole load.
TOBJCache::TOBJCache(uint32_t ADefaultCapacity) : TVertexCache(0) {
  SetUseBuffersAsArray(false);
  FPositionSource.reserve(ADefaultCapacity);
  FNormalSource.reserve(ADefaultCapacity);
  FTextureSources[0].reserve(ADefaultCapacity);
}

TMaterialDef* TOBJCache::DoOnCreateDefaultMaterial(TMeshDef*) { return nullptr; }
TMaterialRefDef* TOBJCache::DoOnCreateMaterialRef(TMeshDef*, TMaterialDef*) { return nullptr; }

TOBJCache::TCornerData TOBJCache::Resolve(int32_t APosition, int32_t ANormal, int32_t AUVCoords) const {
  if (APosition < 0 || size_t(APosition) >= FPositionSource.size())
    throw Exception("invalid index for vertex position coordinate");
  TCornerData c{&FPositionSource[size_t(APosition)], nullptr, TPointF(0, 0), AUVCoords >= 0};
  if (c.HasUV) {
    const std::vector<TPointF>& uv = FTextureSources[0];
    if (size_t(AUVCoords) < uv.size()) c.UV = uv[size_t(AUVCoords)];
  }
  if (ANormal >= 0 && size_t(ANormal) < FNormalSource.size()) c.Normal = &FNormalSource[size_t(ANormal)];
  return c;
}

TVertexData TOBJCache::GetVertex(const TOBJVertexID& AVertex) const {
  const TCornerData c = Resolve(AVertex.Position, AVertex.Normal, AVertex.UVCoords);
  TVertexData v;
  v.Position = *c.Position;
  if (c.HasUV)
    v.TexCoords.push_back(c.UV);
  else
    v.Flags.Include(TVertexDataFlag::CalcTexCoords);
  if (c.Normal) {
    v.Normal = *c.Normal;
  } else {
    v.Normal = TPoint3D(0, 0, 0);
    v.Flags.Include(TVertexDataFlag::CalcNormals);
  }
  v.Flags.Include(TVertexDataFlag::CalcTangents);
  return v;
}

int32_t TOBJCache::AddPolygon(int32_t AIndexOffset, const TOBJPolygonID& APolygon, std::vector<TVertexData>& AVertices,
                              std::vector<TTriangleIndex>& AIndices) {
  const int n = APolygon.Count;
  int32_t result = AIndexOffset;
  for (int k = 1; k + 1 < n; ++k) {
    const TOBJVertexID* corners[3] = {&APolygon.Vertices[0], &APolygon.Vertices[size_t(k + 1)],
                                      &APolygon.Vertices[size_t(k)]};
    TTriangleIndex tri{};
    for (int i = 0; i < 3; ++i) {
      AVertices.push_back(GetVertex(*corners[i]));
      tri[size_t(i)] = uint32_t(AVertices.size() - 1);
      FIndexMap->AddIndex(uint32_t(corners[i]->Position), tri[size_t(i)]);
    }
    AIndices.push_back(tri);
    result += 3;
  }
  return result;
}

// ---- TOBJSegment ----

TOBJSegment::TOBJSegment(TOBJSegment* AParent, std::string AName) : FName(std::move(AName)), FParent(AParent) {}

void TOBJSegment::AddPolygon(const TOBJPolygonID& APolygon) {
  TOBJCorner corners[OBJMaxPolygonCorners];
  for (size_t i = 0; i < APolygon.Count; ++i) {
    const TOBJVertexID& v = APolygon.Vertices[i];
    corners[i] = {v.Position, v.Normal, v.UVCoords};
  }
  AddPolygon(corners, APolygon.Count);
}

void TOBJSegment::AddPolygon(const TOBJCorner* ACorners, uint8_t ACount) {
  FCornerCounts.push_back(ACount);
  FCorners.insert(FCorners.end(), ACorners, ACorners + ACount);
}

TOBJSegment* TOBJSegment::AddChild(std::string AName) {
  FSegments.push_back(std::make_unique<TOBJSegment>(this, std::move(AName)));
  return FSegments.back().get();
}

TOBJSegment* TOBJSegment::FindSegmentByName(std::string_view AName) {
  if (SameTextAscii(FName, AName)) return this;
  for (auto& child : FSegments)
    if (TOBJSegment* found = child->FindSegmentByName(AName)) return found;
  return nullptr;
}

TMeshDef* TOBJSegment::GetMesh(TMeshDef* AParent, TOBJCache* ACache) {
  if (!ACache) throw Exception("failed to apply cache to mesh - cache not assigned");
  TOwned<TMeshDef> owned(New<TMeshDef>(AParent));
  TMeshDef* mesh = owned.get();
  mesh->SetId(SanitizeIdentifier(FName));
  if (AParent)
    AParent->AddMesh(owned.release());
  if (FMaterial) mesh->SetMaterialReference(FMaterial);

  int64_t triangles = 0;
  for (const uint8_t count : FCornerCounts) triangles += std::max(int(count) - 2, 0);
  if (triangles > 0) {
    if (MeshSplitEnabled)
      AddThroughCache(mesh, ACache);
    else
      WriteBuffers(mesh, ACache, triangles);
  }
  FCornerCounts = {};
  FCorners = {};
  for (auto& child : FSegments) child->GetMesh(mesh, ACache);
  return owned ? owned.release() : mesh;
}

void TOBJSegment::AddThroughCache(TMeshDef* AMesh, TOBJCache* ACache) const {
  std::vector<TVertexData>& vertices = ACache->GetVertices();
  std::vector<TTriangleIndex>& triangles = ACache->GetIndices();
  vertices.clear();
  triangles.clear();
  ACache->GetVertexMap().clear();
  size_t next = 0;
  TOBJPolygonID face;
  for (const uint8_t count : FCornerCounts) {
    face.Count = count;
    for (size_t i = 0; i < count; ++i, ++next) {
      const TOBJCorner& c = FCorners[next];
      face.Vertices[i] = {c.Position, c.Normal, c.UVCoords, 0};
    }
    ACache->AddPolygon(0, face, vertices, triangles);
  }
  ACache->ClearMaps();
  const TVertexDataFlags flags = vertices.front().Flags;
  ACache->SetNormalsAvailable(!flags.Contains(TVertexDataFlag::CalcNormals));
  ACache->SetTangentsAvailable(!flags.Contains(TVertexDataFlag::CalcTangents));
  ACache->SetTexCoordsAvailable(!flags.Contains(TVertexDataFlag::CalcTexCoords));
  TQuorvelLoader::LoadDefFromData(AMesh, ACache);
  vertices = {};
  triangles = {};
}

// The buffers the loader's transfer would make from the cache's vertex records: the format of
// the first vertex, every vertex written in the fan's order, and the indices 0, 1, 2, ...
void TOBJSegment::WriteBuffers(TMeshDef* AMesh, TOBJCache* ACache, int64_t ATriangles) const {
  if (ATriangles * 3 > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("mesh data too large for one definition");
  const int32_t count = int32_t(ATriangles * 3);
  size_t first = 0;
  for (const uint8_t corners : FCornerCounts) {
    if (corners >= 3) break;
    first += corners;
  }
  const TOBJCorner& c0 = FCorners[first];
  const TVertexData v0 = ACache->GetVertex(TOBJVertexID{c0.Position, c0.Normal, c0.UVCoords, 0});
  AMesh->SetVertexFormatByVertexData(&v0);
  AMesh->CreateVertexSource(AMesh->GetVertexFormat());
  TVertexBuffer* vb = AMesh->GetVertexSource();
  vb->SetLength(count);
  const size_t stride = size_t(vb->VertexSize());
  const int32_t offPosition = vb->OffsetOf(TVertexFormat::Vertex);
  const int32_t offNormal = vb->OffsetOf(TVertexFormat::Normal);
  const int32_t offUV = vb->OffsetOf(TVertexFormat::TexCoord0);
  uint8_t* out = vb->Buffer();
  auto write = [&](const TOBJCorner& ACorner) {
    const TOBJCache::TCornerData c = ACache->Resolve(ACorner.Position, ACorner.Normal, ACorner.UVCoords);
    if (offPosition >= 0) std::memcpy(out + offPosition, c.Position, 12);
    if (offNormal >= 0 && c.Normal) std::memcpy(out + offNormal, c.Normal, 12);
    if (offUV >= 0 && c.HasUV) {
      std::memcpy(out + offUV, &c.UV.X, 4);
      std::memcpy(out + offUV + 4, &c.UV.Y, 4);
    }
    out += stride;
  };
  size_t next = 0;
  for (const uint8_t corners : FCornerCounts) {
    const TOBJCorner* face = FCorners.data() + next;
    for (size_t k = 1; k + 1 < corners; ++k) {
      write(face[0]);
      write(face[k + 1]);
      write(face[k]);
    }
    next += corners;
  }
  AMesh->CreateIndexSource(AMesh->GetIndexFormat());
  TIndexBuffer* ib = AMesh->GetIndexSource();
  ib->SetLength(count);
  if (ib->Format() == TIndexFormat::UInt32) {
    uint32_t* indices = reinterpret_cast<uint32_t*>(ib->Buffer());
    for (int32_t i = 0; i < count; ++i) indices[i] = uint32_t(i);
  } else {
    for (int32_t i = 0; i < count; ++i) ib->SetIndices(i, uint32_t(i));
  }
  ACache->SetNormalsAvailable(v0.Flags.Contains(TVertexDataFlag::CalcNormals) == false);
  ACache->SetTangentsAvailable(v0.Flags.Contains(TVertexDataFlag::CalcTangents) == false);
  ACache->SetTexCoordsAvailable(v0.Flags.Contains(TVertexDataFlag::CalcTexCoords) == false);
  ACache->DoOnCreateMaterialRef(AMesh, ACache->DoOnCreateDefaultMaterial(AMesh));
  TQuorvelLoader::AutoCalculateVertexData(AMesh, ACache);
}

// ---- TOBJModel ----

struct TOBJModel::TReadState {
  std::unique_ptr<TOBJSegment> MainSegment;
  TOBJSegment* CurrentSegment = nullptr;
  int32_t SegmentCounter = 1;
  TMaterialDef* CurrentMaterial = nullptr;
  TOBJCache* Cache = nullptr;
};

TOBJModel::TOBJModel(TMeshDef* AOwner, TObject* APackage) : TModelDef(AOwner, APackage) {
  FDefaultMaterial = New<TMaterialDef>(this, "obj_default_material");
}

TOBJModel::~TOBJModel() { FDefaultMaterial = nullptr; }

std::string TOBJModel::ModelFolder() const {
  const std::string dir = TPath::GetDirectoryName(TPath::ToPosix(GetFilename()));
  return dir.empty() ? std::string() : TPath::IncludeTrailingPathDelimiter(dir);
}

void TOBJModel::LoadFromFile(const std::string& AFileName) {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, uint16_t(fmOpenRead | fmShareExclusive)));
  LoadFromStream(stream.get(), AFileName);
}

void TOBJModel::LoadFromStream(TStream* AStream, const std::string& APath) {
  SetFilename(APath);
  TOwned<TOBJCache> cache(New<TOBJCache>(65535u));
  TReadState S;
  S.Cache = cache.get();
  S.MainSegment = std::make_unique<TOBJSegment>(nullptr, Format("OBJ_%d", {S.SegmentCounter}));
  ++S.SegmentCounter;
  S.CurrentSegment = S.MainSegment.get();

  // Large reads: a big file's lines otherwise cost a read call per 4 KB.
  TOwned<TStreamReader> reader(New<TStreamReader>(AStream, TEncoding::UTF8(), true, 1 << 16));
  std::string line;
  bool afterFace = false;
  while (reader->ReadLine(line)) {
    if (line.empty() || line[0] == '#') continue;
    // Faces and vertex data are nearly every line of a large file: they skip the general
    // classification (which lower-cases a copy of the line).
    const char c0 = line[0], c1 = line.size() > 1 ? line[1] : '\0';
    if ((c0 == 'f' || c0 == 'F') && c1 == ' ') {
      ReadFace(S, line);
      afterFace = true;
      continue;
    }
    if ((c0 == 'v' || c0 == 'V') && (c1 == ' ' || c1 == 'n' || c1 == 'N' || c1 == 't' || c1 == 'T')) {
      ReadVertexData(S, line);
      afterFace = false;
      continue;
    }
    if (IsBlankLine(line)) continue;
    bool isFace = false;
    ReadLine(S, line, afterFace, isFace);
    afterFace = isFace;
  }
  TMeshDef* mesh = S.MainSegment->GetMesh(this, S.Cache);
  AddMesh(mesh);
}

void TOBJModel::ReadLine(TReadState& S, const std::string& ALine, bool AAfterFace, bool& AIsFace) {
  const std::string lower = LowerCase(ALine);
  const TClassified c = Classify(lower);
  switch (c.Kind) {
    case TStatement::Unknown:
      // A stray line after a run of faces is dropped, as the face loop does.
      if (AAfterFace) {
        AIsFace = true;
        return;
      }
      throw Exception("undefined data type");
    case TStatement::Raise: throw Exception(c.Message);
    case TStatement::Object: return;
    case TStatement::Vertex: ReadVertexData(S, ALine); return;
    case TStatement::Group: {
      const std::string name = Trim(std::string_view(ALine).substr(1));
      AddSegment(S, name.empty() ? OBJDefaultGroupName : name);
      return;
    }
    case TStatement::Smooth: {
      const std::string value = Trim(std::string_view(ALine).substr(2));
      if (LowerCase(value) != "off") (void)StrToInt64(value);
      return;
    }
    case TStatement::MergingGroup: throw Exception("merging groups (mg) not supported");
    case TStatement::MtlLib: ReadMaterialLibraryStatement(ALine); return;
    case TStatement::UseMtl: {
      const std::string trimmed = Trim(ALine);
      const std::string name = Trim(std::string_view(trimmed).substr(std::min<size_t>(6, trimmed.size())));
      S.CurrentMaterial = GetMaterial(name);
      AddSegment(S, name);
      return;
    }
    case TStatement::MapLib: Log::d("*.OBJ loading: maplib ignored"); return;
    case TStatement::UseMap: Log::d("*.OBJ loading: usemap ignored"); return;
    case TStatement::Point: Log::d("points not supported for: %s", ALine); return;
    case TStatement::Line: Log::d("lines not supported for: %s", ALine); return;
    case TStatement::Face:
      ReadFace(S, ALine);
      AIsFace = true;
      return;
  }
}

void TOBJModel::ReadVertexData(TReadState& S, std::string_view ALine) {
  const char kind = char(ALine[1] | 0x20);
  if (kind == 'p') throw Exception("parameter points on curves or surfaces not supported");
  // Missing numbers read as 0; the line's own numbers are never overrun.
  float numbers[3] = {0, 0, 0};
  TokenizeSingles(TrimView(ALine.substr(2)), numbers, 3);
  switch (kind) {
    case ' ': S.Cache->AddPositionSource(TPoint3D(numbers[0], numbers[1], numbers[2])); break;
    case 'n': S.Cache->AddNormalSource(TPoint3D(numbers[0], numbers[1], numbers[2])); break;
    default: S.Cache->AddTextureSource(0, TPointF(numbers[0], numbers[1]), false); break;
  }
}

void TOBJModel::ReadFace(TReadState& S, std::string_view ALine) {
  // The keyword and up to one corner beyond the limit are kept; the rest are only counted.
  std::string_view parts[OBJMaxPolygonCorners + 2];
  int64_t count = 0;
  size_t i = 0;
  while (i < ALine.size()) {
    while (i < ALine.size() && ALine[i] == ' ') ++i;
    if (i >= ALine.size()) break;
    const size_t start = i;
    while (i < ALine.size() && ALine[i] != ' ') ++i;
    if (size_t(count) < std::size(parts)) parts[count] = ALine.substr(start, i - start);
    ++count;
  }
  const int64_t corners = count - 1;
  if (corners <= 0) {
    Log::d("*.OBJ loading: face without corners skipped");
    return;
  }
  if (corners > OBJMaxPolygonCorners)
    throw Exception(Format("invalid polygon size %d - max. vertex count of %d per polygon exceeded",
                           {corners, int64_t(OBJMaxPolygonCorners)}));
  TOBJCorner face[OBJMaxPolygonCorners];
  for (int64_t k = 0; k < corners; ++k) {
    std::string_view corner = parts[size_t(k + 1)];
    std::string_view pieces[4];
    size_t pieceCount = 0;
    while (true) {
      const size_t slash = corner.find('/');
      if (pieceCount < 4) pieces[pieceCount] = corner.substr(0, slash);
      ++pieceCount;
      if (slash == std::string_view::npos) break;
      corner.remove_prefix(slash + 1);
    }
    TOBJCorner& v = face[size_t(k)];
    switch (pieceCount) {
      case 1:
        v.Position = ReadIndex(pieces[0]);
        v.UVCoords = -1;
        v.Normal = -1;
        break;
      case 2:
        v.Position = ReadIndex(pieces[0]);
        v.UVCoords = ReadIndex(pieces[1]);
        v.Normal = -1;
        break;
      case 3:
        v.Position = ReadIndex(pieces[0]);
        v.UVCoords = pieces[1].empty() ? -1 : ReadIndex(pieces[1]);
        v.Normal = ReadIndex(pieces[2]);
        break;
      default: throw Exception("unsupported face parts size");
    }
  }
  S.CurrentSegment->AddPolygon(face, uint8_t(corners));
}

void TOBJModel::AddSegment(TReadState& S, const std::string& AName) {
  if (!S.MainSegment) throw Exception("parent mesh not assigned to create group");
  TOBJSegment* existing = S.MainSegment->FindSegmentByName(AName);
  TOBJSegment* parent = existing ? existing : S.MainSegment.get();
  std::string name = existing ? Format("%s_%d", {AName, int64_t(existing->SegmentCount()) + 1}) : AName;
  TOBJSegment* segment = parent->AddChild(std::move(name));
  segment->SetMaterial(S.CurrentMaterial ? S.CurrentMaterial : FDefaultMaterial);
  S.CurrentSegment = segment;
}


// ---- MTL ----

void TOBJModel::ReadMaterialLibraryStatement(const std::string& ALine) {
  const size_t at = LowerCase(ALine).find("mtllib ");
  std::string name = Trim(std::string_view(ALine).substr(at + 7));
  const size_t hash = name.find('#');
  if (hash != std::string::npos) name = Trim(std::string_view(name).substr(0, hash));
  if (LowerCase(TPath::GetExtension(name)) != ".mtl") name += ".mtl";
  std::string path = LocalFile(ModelFolder() + name);
  if (!TFile::Exists(path)) path = LocalFile(TPath::ChangeExtension(path, ".mtl"));
  if (!TFile::Exists(path)) return;
  TOwned<TFileStream> stream(New<TFileStream>(path, uint16_t(fmOpenRead | fmShareExclusive)));
  LoadMaterialLibrary(stream.get());
}

void TOBJModel::LoadMaterialLibrary(TStream* AStream) {
  TOwned<TStreamReader> reader(New<TStreamReader>(AStream, true));
  TMaterialDef* material = nullptr;
  float d = 1;
  TAlphaColorF tf(0, 0, 0, 0);
  auto finish = [&] {
    if (!material) return;
    material->SetClipping(TAlphaColorF(tf.R, tf.G, tf.B, 1 - d));
    material->SetUseClipping(std::fabs(1 - (1 - d)) > 0.01f);
  };
  std::string line;
  while (reader->ReadLine(line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::vector<std::string> words = TokenizeStrings(line);
    if (words.empty()) SyntaxError(line);
    const std::string key = LowerCase(words[0]);
    auto need = [&](size_t ACount) {
      if (words.size() < ACount) SyntaxError(line);
    };
    if (key == "newmtl") {
      finish();
      material = nullptr;
      d = 1;
      tf = TAlphaColorF(0, 0, 0, 0);
      need(2);
      // The whole name, blanks included, as "usemtl" looks it up.
      const size_t start = line.find(words[0]) + words[0].size();
      const std::string name = Trim(std::string_view(line).substr(start));
      if (GetMaterial(name)) throw EDuplicateKey("Duplicates not allowed");
      material = New<TMaterialDef>(this, name);
      material->SetKind(TMaterialDefKind::mkColor);
      continue;
    }
    if (!material) continue;
    int32_t row = -1;
    for (int32_t i = 0; i < int32_t(std::size(TextureMappings)); ++i)
      if (key == TextureMappings[i].NLC) row = i;
    if (row >= 0) {
      ReadTextureMap(material, line, row);
    } else if (key == "ka" || key == "ks" || key == "kd" || key == "ke") {
      need(4);
      const TAlphaColorF color = MtlColor(words);
      if (key == "ka") material->SetAmbient(color);
      else if (key == "ks") material->SetSpecular(color);
      else if (key == "kd") material->SetDiffuse(color);
      else material->SetEmissive(color);
    } else if (key == "ns") {
      need(2);
      material->SetSpecPow(MtlValue(words, 1));
    } else if (key == "d") {
      need(2);
      d = MtlValue(words, 1);
    } else if (key == "tf") {
      need(4);
      tf = MtlColor(words);
    } else if (key == "sh") {
      need(2);
      const double value = MtlValue(words, 1);
      const double rounded = std::isfinite(value) ? std::nearbyint(value) : 0;
      TMaterialDefKind kind = TMaterialDefKind::mkDefault;
      if (rounded == 1) kind = TMaterialDefKind::mkLambert;
      else if (rounded == 2) kind = TMaterialDefKind::mkPhong;
      else if (rounded == 3) kind = TMaterialDefKind::mkBlinnPhong;
      material->SetKind(kind);
    } else if (key == "pr") {
      need(2);
      material->SetRoughness(MtlValue(words, 1));
    } else if (key == "pm") {
      need(2);
      material->SetMetallic(MtlValue(words, 1));
    }
  }
  finish();
}

void TOBJModel::ReadTextureMap(TMaterialDef* AMaterial, const std::string& ALine, int32_t ARow) {
  const TTextureMappingType& mapping = TextureMappings[ARow];
  size_t pos = std::string_view(mapping.N).size();
  // Options are skipped; the scan never leaves the line.
  while (pos < ALine.size()) {
    const size_t dash = ALine.find('-', pos);
    if (dash == std::string::npos) break;
    const size_t blank = ALine.find(' ', dash);
    if (blank == std::string::npos) break;
    const std::string word = Trim(std::string_view(ALine).substr(dash, blank - dash));
    pos = blank;
    const TTextureOption* option = nullptr;
    for (const TTextureOption& o : TextureOptions)
      if (word == o.Name) option = &o;
    if (!option) break;
    for (int i = 0; i < option->Args && pos < ALine.size(); ++i) {
      size_t start = pos;
      while (start < ALine.size() && ALine[start] == ' ') ++start;
      const size_t next = ALine.find(' ', start);
      pos = next == std::string::npos ? ALine.size() : next;
    }
  }
  const std::string file = pos < ALine.size() ? Trim(std::string_view(ALine).substr(pos)) : std::string();
  if (file.empty()) return;
  std::string path = TPath::ToPosix(file);
  if (!TPath::IsPathRooted(path)) path = ModelFolder() + path;
  path = LocalFile(path);
  // Sets found in the wild often name textures that are not beside them: the message says
  // which material asked for the missing file.
  try {
    if (auto* package = dynamic_cast<TQuorvelAssetsPackage*>(GetPackage())) {
      // The package keeps the texture (in the model asset's texture group); the material only
      // refers to it, and a plain diffuse map leaves a colour material as it is.
      auto* owner = dynamic_cast<TQuorvelAsset*>(GetAsset());
      TQuorvelAsset* texture = package->GetOwnerAssetFromFile(owner, TQuorvelTextureAsset::GetGroupId(), path);
      if (!texture) return;
      AMaterial->AddTexture(mapping.CD, texture, false);
      if (mapping.MK > AMaterial->GetKind()) AMaterial->SetKind(mapping.MK);
      return;
    }
    TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
    asset->ImportFromFile(path, {});
    asset->SetIsStandalone(true);
    // The texture owns the asset; the model's texture assets take the first asset of a file over
    // and free it, a second one of the same file stays the texture's own.
    AMaterial->AddTexture(mapping.CD, asset.get(), true);
    asset.release();
    if (mapping.MK > AMaterial->GetKind() || AMaterial->GetKind() == TMaterialDefKind::mkColor)
      AMaterial->SetKind(mapping.MK);
  } catch (Exception& e) {
    e.SetMessage(e.Message() + " (texture of material \"" + AMaterial->GetId() + "\")");
    throw;
  }
}

}  // namespace quorvel
