#include "lib/defs/DefTypesMesh.h"

#include "lib/defs/DefTypesNormalTransform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Thread.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesNormalTransform.h"
#include "lib/defs/DefTypesText.h"
#include "lib/utils/UtilsMath.h"
#if __has_include("lib/defs/DefTypesMaterial.h")
#include "lib/defs/DefTypesMaterial.h"
#define QUORVEL_MESH_HAS_MATERIALS 1
#else
#define QUORVEL_MESH_HAS_MATERIALS 0
#endif

namespace quorvel {

FW_CLASS_IMPL(TCustomMeshDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TCustomMeshDef)
FW_CLASS_IMPL(TMeshDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMeshDef)
FW_CLASS_IMPL(TVertexGroupDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TVertexGroupDef)
FW_CLASS_IMPL(TMeshInstanceDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TMeshInstanceDef)

static_assert(sizeof(TTriangleIndex) == 3 * sizeof(uint32_t), "triangle lists are read as flat index lists");

namespace {

constexpr const char* VertexArrayKeys[12] = {"Positions", "Normals",   "Binormals", "Tangents",
                                             "TexCoord0", "TexCoord1", "TexCoord2", "TexCoord3",
                                             "Color0",    "Color1",    "Color2",    "Color3"};

// The component an array of "Vertices" feeds, and the numbers per vertex.
struct TArraySlot {
  TVertexFormat Format;
  TVertexFormat FloatColor;  // same as Format unless a colour
  int Group;
};
constexpr TArraySlot VertexArraySlots[12] = {
    {TVertexFormat::Vertex, TVertexFormat::Vertex, 3},       {TVertexFormat::Normal, TVertexFormat::Normal, 3},
    {TVertexFormat::BiNormal, TVertexFormat::BiNormal, 3},   {TVertexFormat::Tangent, TVertexFormat::Tangent, 3},
    {TVertexFormat::TexCoord0, TVertexFormat::TexCoord0, 2}, {TVertexFormat::TexCoord1, TVertexFormat::TexCoord1, 2},
    {TVertexFormat::TexCoord2, TVertexFormat::TexCoord2, 2}, {TVertexFormat::TexCoord3, TVertexFormat::TexCoord3, 2},
    {TVertexFormat::Color0, TVertexFormat::ColorF0, 1},      {TVertexFormat::Color1, TVertexFormat::ColorF1, 1},
    {TVertexFormat::Color2, TVertexFormat::ColorF2, 1},      {TVertexFormat::Color3, TVertexFormat::ColorF3, 1},
};

// Largest vertex or index block a document may ask for: beyond it sizes overflow 32-bit
// lengths, and a forged count must not make us allocate gigabytes.
constexpr int64_t MaxBufferBytes = int64_t(std::numeric_limits<int32_t>::max());

const TJSONNumber* NumberOf(const TJSONValue* AValue) {
  if (AValue->Kind() != TJSONValue::TKind::Number) return AValue->As<TJSONNumber>();
  return static_cast<const TJSONNumber*>(AValue);
}

// A JSON integer of any width; a text with a fraction or exponent is rounded.
int64_t NumberToInt64(const TJSONNumber* ANumber) {
  int64_t v = 0;
  if (ANumber->TryAsInt64(v)) return v;
  const double d = ANumber->AsDouble();
  if (!(d >= -9.2e18 && d <= 9.2e18))
    throw EConvertError(Format("'%s' is not a valid integer value", {std::string(ANumber->Text())}));
  return Round(d);
}

// A double beyond the single range has no single value (the conversion is undefined).
float NumberToSingle(const TJSONNumber* ANumber) {
  const double d = ANumber->AsDouble();
  if (!(std::fabs(d) <= double(std::numeric_limits<float>::max())))
    throw EConvertError(Format("invalid vertex value %s - out of the single range", {std::string(ANumber->Text())}));
  return static_cast<float>(d);
}

uint32_t NumberToCardinal(const TJSONValue* AValue, const char* AWhat) {
  const TJSONNumber* n = NumberOf(AValue);
  const int64_t v = NumberToInt64(n);
  if (v < 0 || v > int64_t(std::numeric_limits<uint32_t>::max()))
    throw EConvertError(Format("invalid %s value %s - 0 to 4294967295 expected", {AWhat, std::string(n->Text())}));
  return static_cast<uint32_t>(v);
}

bool IsValuesForm(const TJSONObject* AValue, std::string_view AKey) {
  const TJSONValue* v = AValue->GetValue(AKey);
  return v && v->Value() == "Values";
}

bool ParseMapKey(std::string_view AName, uint32_t& AKey) {
  if (AName.empty() || AName.size() > 10) return false;
  uint64_t v = 0;
  for (char c : AName) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v > std::numeric_limits<uint32_t>::max()) return false;
  AKey = static_cast<uint32_t>(v);
  return true;
}

TPoint3D TransformPoint(const TPoint3D& APoint, const TMatrix3D& AMatrix) {
  return TPoint3D(TVector3D(APoint, 1.0f) * AMatrix);
}

std::vector<TPoint3D> PositionsOf(const TVertexBuffer* ABuffer) {
  std::vector<TPoint3D> result;
  if (!ABuffer) return result;
  result.resize(size_t(ABuffer->Length()));
  for (int32_t i = 0; i < ABuffer->Length(); ++i) result[size_t(i)] = ABuffer->GetVertices(i);
  return result;
}

void CheckRange(size_t ASize, int32_t AIndex, int32_t ACount, const char* AWhat) {
  if (AIndex < 0 || ACount < 0 || int64_t(AIndex) + ACount > int64_t(ASize))
    throw EArgumentOutOfRangeException(
        Format("invalid %s range %d..%d of %d", {AWhat, AIndex, AIndex + ACount - 1, int32_t(ASize)}));
}

// ---- material references: the material part of the unit owns their class ----

#if QUORVEL_MESH_HAS_MATERIALS
void FreeMaterialRef(TMaterialRefDef*& ARef) { FreeAndNil(ARef); }
int64_t MaterialRefSize(const TMaterialRefDef* ARef) { return ARef ? ARef->InstanceSize() : 0; }
const std::string* MaterialRefId(const TMaterialRefDef* ARef) { return ARef ? &ARef->GetId() : nullptr; }
TMaterialRefDef* NewMaterialRef(const std::string& AId, TMaterialDef* AMaterial) {
  auto* ref = New<TMaterialRefDef>();
  ref->SetId(AId);
  ref->SetReference(AMaterial);
  return ref;
}
void SetMaterialRef(TMaterialRefDef* ARef, TMaterialDef* AMaterial) {
  ARef->SetId(AMaterial->GetId());
  ARef->SetReference(AMaterial);
}
TMaterialDef* FindModelMaterial(TModelDef* AModel, const std::string& AId) {
  return AModel ? AModel->FindMaterialById(AId) : nullptr;
}
void AddLateMaterial(TModelDef* AModel, TMaterialRefDef* ARef, const TJSONObject* AValue) {
  if (AModel && AModel->GetLateResolveList()) AModel->AddLateResolve(ARef, AValue);
}
#else
void FreeMaterialRef(TMaterialRefDef*& ARef) { ARef = nullptr; }
int64_t MaterialRefSize(const TMaterialRefDef*) { return 0; }
const std::string* MaterialRefId(const TMaterialRefDef*) { return nullptr; }
TMaterialRefDef* NewMaterialRef(const std::string&, TMaterialDef*) { return nullptr; }
void SetMaterialRef(TMaterialRefDef*, TMaterialDef*) {}
TMaterialDef* FindModelMaterial(TModelDef*, const std::string&) { return nullptr; }
void AddLateMaterial(TModelDef*, TMaterialRefDef*, const TJSONObject*) {}
#endif

}  // namespace

// =======================================================================================
// TCustomMeshDef

TCustomMeshDef::TCustomMeshDef(TCustomDef* AOwner)
    : TTransformDef(AOwner),
      FVertexFormat(VertexFormatsFromMask(DefaultMeshVertexFormatMask)),
      FVertexIndexMap(New<TVertexIndexMap>()),
      FInstances(New<TInstanceList>(true)),
      FAlive(std::make_shared<TAliveToken>()) {}

TCustomMeshDef::~TCustomMeshDef() {
  {
    std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
    FAlive->Alive = false;
  }
  Quietly("mesh definition: unlink mesh buffer", [this] { UnlinkMeshBuffer(); });
  FreeQuietlyAndNil(FBufferObject, "mesh definition: buffer object");
  FreeQuietlyAndNil(FMaterial, "mesh definition: material reference");
  FreeQuietly(FInstances.release(), "mesh definition: instances");
  Quietly("mesh definition: index buffer", [this] { ReleaseIndexSource(); });
  Quietly("mesh definition: vertex buffer", [this] { ReleaseVertexSource(); });
  FreeQuietly(FVertexIndexMap.release(), "mesh definition: vertex index map");
}

void TCustomMeshDef::ReleaseVertexSource() {
  TMaybeOwned<TVertexBuffer> old = std::move(FVertexSource);
  old.Reset();
}

void TCustomMeshDef::ReleaseIndexSource() {
  TMaybeOwned<TIndexBuffer> old = std::move(FIndexSource);
  old.Reset();
}

void TCustomMeshDef::SetMaterial(TMaterialRefDef* AValue) {
  if (AValue == FMaterial) return;
  FreeMaterialRef(FMaterial);
  FMaterial = AValue;
}

void TCustomMeshDef::SetMaterialReference(TMaterialDef* AMaterial) {
  if (!AMaterial) return;
  if (!FMaterial) FMaterial = NewMaterialRef(std::string(), nullptr);
  if (FMaterial) SetMaterialRef(FMaterial, AMaterial);
}

TIndexBuffer* TCustomMeshDef::GetIndexSource() const { return FIndexSource.get(); }
TVertexBuffer* TCustomMeshDef::GetVertexSource() const { return FVertexSource.get(); }

// ---- GPU link ----

bool TCustomMeshDef::HasBufferData() const {
  return FVertexSource && FIndexSource && FVertexSource->Length() > 0 && FIndexSource->Length() > 0;
}

void TCustomMeshDef::QueueOnMain(std::function<void()> AWork) {
  std::shared_ptr<TAliveToken> token = FAlive;
  TThread::Queue(nullptr, [token, work = std::move(AWork)] {
    std::lock_guard<std::recursive_mutex> lock(token->Lock);
    if (token->Alive) work();
  });
}

void TCustomMeshDef::PushBuffers(TMeshBufferObject* ABufferObject) {
  if (FVertexSource) ABufferObject->PushData(TMeshBufferComponent::All, FVertexSource.get());
  if (FIndexSource)
    ABufferObject->PushData(TMeshBufferComponent::Indices, FIndexSource->Buffer(),
                            static_cast<intptr_t>(FIndexSource->Size()));
}

void TCustomMeshDef::QueueCreateBufferObject(TQuorvelPrimitivesKind AKind) {
  QueueOnMain([this, AKind] {
    // A request withdrawn before the queue drained.
    if (!FIsStatic) return;
    auto* obj = New<TMeshBufferObject>(nullptr);
    // Two requests queued before the queue drained: the later one replaces the earlier.
    FreeAndNil(FBufferObject);
    FBufferObject = obj;
    obj->SetKind(AKind);
    PushBuffers(obj);
    obj->SetStaticBuffer(obj);
  });
}

TMeshBufferObject* TCustomMeshDef::GetBufferObjectLocked() const {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  return FBufferObject;
}

void TCustomMeshDef::SetIsStatic(bool AValue) {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  if (!AValue) {
    FreeAndNil(FBufferObject);
    FIsStatic = false;
    return;
  }
  if (FIsStatic && FBufferObject) return;
  TQuorvelPrimitivesKind kind = FBufferObject ? FBufferObject->GetKind() : TQuorvelPrimitivesKind::Triangles;
  if (FBufferObject) {
    // The closure owns the old object from here on: nothing else can free it twice.
    TMeshBufferObject* old = FBufferObject;
    FBufferObject = nullptr;
    TThread::Queue(nullptr, [old] { Free(old); });
  }
  if (HasBufferData()) {
    FIsStatic = true;
    QueueCreateBufferObject(kind);
  }
}

void TCustomMeshDef::UpdateMeshBuffer() {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  const TQuorvelPrimitivesKind kind = FBufferObject ? FBufferObject->GetKind() : TQuorvelPrimitivesKind::Triangles;
  FreeAndNil(FBufferObject);
  if (FIsStatic && HasBufferData()) QueueCreateBufferObject(kind);
}

void TCustomMeshDef::RefreshMeshBuffer(bool ASync) {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  if (!FIsStatic || !FBufferObject || !HasBufferData()) return;
  if (ASync) {
    QueueOnMain([this] {
      if (FBufferObject && HasBufferData()) PushBuffers(FBufferObject);
    });
  } else {
    PushBuffers(FBufferObject);
  }
}

void TCustomMeshDef::LinkMeshBuffer(TMeshBufferObject* ABufferObject, TVertexBuffer* AVertices,
                                    TIndexBuffer* AIndices) {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  UnlinkMeshBuffer();
  FreeAndNil(FBufferObject);
  ReleaseVertexSource();
  ReleaseIndexSource();
  FBuffersLinked = true;
  FBufferObject = New<TMeshBufferObject>(nullptr);
  FBufferObject->AssignBufferObject(ABufferObject);
  FVertexSource.ResetBorrowed(AVertices);
  FIndexSource.ResetBorrowed(AIndices);
  FIsStatic = true;
}

void TCustomMeshDef::UnlinkMeshBuffer() {
  std::lock_guard<std::recursive_mutex> lock(FAlive->Lock);
  if (!FBuffersLinked) return;
  if (FBufferObject) {
    FBufferObject->ClearAssignedBufferObject();
    FreeAndNil(FBufferObject);
  }
  // Borrowed buffers are dropped; buffers made since the link are ours and freed.
  ReleaseVertexSource();
  ReleaseIndexSource();
}

// ---- bounds ----

void TCustomMeshDef::BoundingBoxChanged() {
  FBoundingBoxUpdateNeeded = true;
  GetBoundingBox();
}

TBoundingBox TCustomMeshDef::GetBoundingBox() {
  if (FBoundingBoxUpdateNeeded) {
    FBoundingBoxUpdateNeeded = false;
    if (!FVertexSource || FVertexSource->Length() == 0) {
      FBoundingBox = TBoundingBox::Empty();
    } else {
      const TMatrix3D& m = GetTransform();
      TPoint3D lo = TransformPoint(FVertexSource->GetVertices(0), m);
      TPoint3D hi = lo;
      for (int32_t i = 1; i < FVertexSource->Length(); ++i) {
        const TPoint3D p = TransformPoint(FVertexSource->GetVertices(i), m);
        lo = {std::min(lo.X, p.X), std::min(lo.Y, p.Y), std::min(lo.Z, p.Z)};
        hi = {std::max(hi.X, p.X), std::max(hi.Y, p.Y), std::max(hi.Z, p.Z)};
      }
      FBoundingBox = TBoundingBox(lo, hi).Normalize();
    }
  }
  return FBoundingBox;
}

void TCustomMeshDef::ApplyTransformation(const TMatrix3D& AMatrix) { SetTransform(GetTransform() * AMatrix); }

// ---- buffers ----

void TCustomMeshDef::SetVertexFormatByVertexData(const TVertexData* AVertex) {
  if (!AVertex) return;
  uint16_t mask = 0xC003;
  static constexpr uint16_t TexMasks[5] = {0, 0x0400, 0x0C00, 0x1C00, 0x3C00};
  static constexpr uint16_t ColorMasks[5] = {0, 0x0040, 0x00C0, 0x01C0, 0x03C0};
  mask |= TexMasks[std::min<size_t>(AVertex->TexCoords.size(), 4)];
  mask |= ColorMasks[std::min<size_t>(AVertex->Colors.size(), 4)];
  FVertexFormat = VertexFormatsFromMask(mask);
}

void TCustomMeshDef::CreateVertexSource(const TVertexFormats& AFormat) {
  ReleaseVertexSource();
  FVertexFormat = AFormat;
  FVertexSource.ResetOwned(New<TVertexBuffer>(AFormat, 0));
}

void TCustomMeshDef::CreateIndexSource(TIndexFormat AFormat) {
  ReleaseIndexSource();
  FIndexFormat = AFormat;
  FIndexSource.ResetOwned(New<TIndexBuffer>(0, AFormat));
}

void TCustomMeshDef::SetVertices(const TVertexBuffer* AVertices) {
  // Copy before releasing: AVertices may be our own buffer.
  TOwned<TVertexBuffer> copy(New<TVertexBuffer>(AVertices ? AVertices->Format() : FVertexFormat, 0));
  if (AVertices) copy->Assign(*AVertices);
  ReleaseVertexSource();
  FVertexSource.ResetOwned(copy.release());
}

void TCustomMeshDef::SetIndices(const TIndexBuffer* AIndices) {
  TOwned<TIndexBuffer> copy(New<TIndexBuffer>(0, AIndices ? AIndices->Format() : FIndexFormat));
  if (AIndices) copy->Assign(*AIndices);
  ReleaseIndexSource();
  FIndexSource.ResetOwned(copy.release());
}

void TCustomMeshDef::WriteVertexRecords(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount,
                                        int32_t AFirst) {
  TVertexBuffer* buf = FVertexSource.get();
  const int32_t offPos = buf->OffsetOf(TVertexFormat::Vertex);
  const int32_t offNormal = buf->OffsetOf(TVertexFormat::Normal);
  const int32_t offBinormal = buf->OffsetOf(TVertexFormat::BiNormal);
  const int32_t offTangent = buf->OffsetOf(TVertexFormat::Tangent);
  int32_t offTex[4];
  for (int j = 0; j < 4; ++j) offTex[j] = buf->OffsetOf(static_cast<TVertexFormat>(int(TVertexFormat::TexCoord0) + j));
  for (int32_t i = 0; i < ACount; ++i) {
    const TVertexData& v = AVertices[size_t(AIndex + i)];
    uint8_t* out = buf->VerticesPtr(AFirst + i);
    if (offPos >= 0) std::memcpy(out + offPos, &v.Position, 12);
    if (offNormal >= 0) std::memcpy(out + offNormal, &v.Normal, 12);
    if (offBinormal >= 0) std::memcpy(out + offBinormal, &v.Binormal, 12);
    if (offTangent >= 0) std::memcpy(out + offTangent, &v.Tangent, 12);
    const size_t nt = std::min<size_t>(v.TexCoords.size(), 4);
    for (size_t j = 0; j < nt; ++j) {
      if (offTex[j] < 0) continue;
      std::memcpy(out + offTex[j], &v.TexCoords[j].X, 4);
      std::memcpy(out + offTex[j] + 4, &v.TexCoords[j].Y, 4);
    }
    const size_t nc = std::min<size_t>(v.Colors.size(), 4);
    for (size_t j = 0; j < nc; ++j) buf->SetColor(int32_t(j), AFirst + i, v.Colors[j].ToAlphaColor());
  }
}

void TCustomMeshDef::AddVertices(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount) {
  if (AVertices.empty()) {
    ReleaseVertexSource();
    return;
  }
  CheckRange(AVertices.size(), AIndex, ACount, "vertex");
  ReleaseVertexSource();
  SetVertexFormatByVertexData(&AVertices.front());
  FVertexSource.ResetOwned(New<TVertexBuffer>(FVertexFormat, ACount));
  WriteVertexRecords(AVertices, AIndex, ACount, 0);
}

void TCustomMeshDef::AppendVertices(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount) {
  if (AVertices.empty()) return;
  if (!FVertexSource) {
    AddVertices(AVertices, AIndex, ACount);
    return;
  }
  CheckRange(AVertices.size(), AIndex, ACount, "vertex");
  SetVertexFormatByVertexData(&AVertices.front());
  const int32_t first = FVertexSource->Length();
  if (int64_t(first) + ACount > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("too many vertices for one vertex buffer");
  FVertexSource->SetLength(first + ACount);
  WriteVertexRecords(AVertices, AIndex, ACount, first);
}

void TCustomMeshDef::WriteIndexValues(const uint32_t* ASource, int64_t ACount, int32_t AOffset, int32_t AFirst) {
  for (int64_t k = 0; k < ACount; ++k) {
    const int64_t v = int64_t(ASource[k]) - AOffset;
    // A wrapped index would point at some other vertex without a word.
    if (v < 0 || v > int64_t(std::numeric_limits<uint32_t>::max()))
      throw EArgumentOutOfRangeException(
          Format("index %d minus offset %d is out of range", {int64_t(ASource[k]), int32_t(AOffset)}));
    FIndexSource->SetIndices(AFirst + int32_t(k), static_cast<uint32_t>(v));
  }
}

void TCustomMeshDef::AddIndices(const std::vector<uint32_t>& AIndices, int32_t AIndex, int32_t ACount,
                                int32_t AOffset) {
  CheckRange(AIndices.size(), AIndex, ACount, "index");
  ReleaseIndexSource();
  FIndexSource.ResetOwned(New<TIndexBuffer>(ACount, FIndexFormat));
  WriteIndexValues(AIndices.data() + AIndex, ACount, AOffset, 0);
}

void TCustomMeshDef::AddIndices(const std::vector<TTriangleIndex>& ATriangles, int32_t AIndex, int32_t ACount,
                                int32_t AOffset) {
  CheckRange(ATriangles.size(), AIndex, ACount, "triangle");
  if (int64_t(ACount) * 3 > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("too many indices for one index buffer");
  ReleaseIndexSource();
  FIndexSource.ResetOwned(New<TIndexBuffer>(ACount * 3, FIndexFormat));
  if (ACount > 0) WriteIndexValues(ATriangles[size_t(AIndex)].data(), int64_t(ACount) * 3, AOffset, 0);
}

void TCustomMeshDef::AppendIndices(const std::vector<uint32_t>& AIndices, int32_t AIndex, int32_t ACount,
                                   int32_t AOffset) {
  if (!FIndexSource) {
    AddIndices(AIndices, AIndex, ACount, AOffset);
    return;
  }
  CheckRange(AIndices.size(), AIndex, ACount, "index");
  const int32_t first = FIndexSource->Length();
  if (int64_t(first) + ACount > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("too many indices for one index buffer");
  FIndexSource->SetLength(first + ACount);
  WriteIndexValues(AIndices.data() + AIndex, ACount, AOffset, first);
}

void TCustomMeshDef::AppendIndices(const std::vector<TTriangleIndex>& ATriangles, int32_t AIndex, int32_t ACount,
                                   int32_t AOffset) {
  if (!FIndexSource) {
    AddIndices(ATriangles, AIndex, ACount, AOffset);
    return;
  }
  CheckRange(ATriangles.size(), AIndex, ACount, "triangle");
  const int32_t first = FIndexSource->Length();
  if (int64_t(first) + int64_t(ACount) * 3 > std::numeric_limits<int32_t>::max())
    throw EArgumentOutOfRangeException("too many indices for one index buffer");
  FIndexSource->SetLength(first + ACount * 3);
  if (ACount > 0) WriteIndexValues(ATriangles[size_t(AIndex)].data(), int64_t(ACount) * 3, AOffset, first);
}

std::vector<TPoint3D> TCustomMeshDef::GetVertexPositions() const { return PositionsOf(FVertexSource.get()); }

void TCustomMeshDef::AddVertexIndexMap(const TVertexIndexMap* AMap, int32_t AOffset) {
  if (!FVertexIndexMap) FVertexIndexMap.reset(New<TVertexIndexMap>());
  if (AOffset == 0) {
    FVertexIndexMap->Assign(AMap);
    return;
  }
  AppendVertexIndexMap(AMap, AOffset);
}

void TCustomMeshDef::AppendVertexIndexMap(const TVertexIndexMap* AMap, int32_t AOffset) {
  if (!FVertexIndexMap) {
    AddVertexIndexMap(AMap, AOffset);
    return;
  }
  if (!AMap) return;
  for (const auto& pair : *AMap) {
    std::vector<uint32_t> values = pair.Value;
    if (AOffset != 0)
      for (uint32_t& v : values) v += static_cast<uint32_t>(AOffset);
    FVertexIndexMap->Add(pair.Key, std::move(values));
  }
}

int64_t TCustomMeshDef::GetSize() const {
  int64_t size = TTransformDef::GetSize();
  if (FBufferObject) size += int64_t(sizeof(TMeshBufferObject));
  if (FVertexSource) size += int64_t(sizeof(TVertexBuffer)) + FVertexSource->Size();
  if (FIndexSource) size += int64_t(sizeof(TIndexBuffer)) + FIndexSource->Size();
  size += MaterialRefSize(FMaterial);
  return size;
}

// ---- JSON ----

void TCustomMeshDef::WriteVertexArrays(TJSONObject* AVertices) const {
  const TVertexBuffer* vb = FVertexSource.get();
  const int32_t n = vb->Length();
  for (int a = 0; a < 12; ++a) {
    const TArraySlot& slot = VertexArraySlots[a];
    auto* arr = new TJSONArray();
    AVertices->AddPair(VertexArrayKeys[a], arr);
    // Float colours are written through their 32-bit accessor so that they survive a
    // round trip in the stored form's "Color0".."Color3".
    const bool present = vb->HasFormat(slot.Format) || vb->HasFormat(slot.FloatColor);
    if (!present || n == 0) continue;
    arr->Reserve(size_t(n) * size_t(slot.Group));
    if (slot.Group == 1) {
      const int ch = int(slot.Format) - int(TVertexFormat::Color0);
      for (int32_t i = 0; i < n; ++i) arr->AddElement(new TJSONNumber(ToCardinal(vb->GetColor(ch, i))));
      continue;
    }
    const uint8_t* p = vb->Buffer() + vb->OffsetOf(slot.Format);
    const size_t stride = size_t(vb->VertexSize());
    for (int32_t i = 0; i < n; ++i, p += stride) {
      float f[3];
      std::memcpy(f, p, sizeof(float) * size_t(slot.Group));
      for (int c = 0; c < slot.Group; ++c) {
        // JSON has no number for it; say where it is rather than fail somewhere in the writer.
        if (!std::isfinite(f[c]))
          throw Exception(Format("mesh \"%s\": %s of vertex %d is not a finite number",
                                 {GetId(), std::string(VertexArrayKeys[a]), i}));
        arr->AddElement(new TJSONNumber(static_cast<double>(f[c])));
      }
    }
  }
}

TJSONObject* TCustomMeshDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  const TVertexBuffer* vb = FVertexSource.get();
  const TIndexBuffer* ib = FIndexSource.get();
  const int32_t n = vb ? vb->Length() : 0;
  obj->AddPair("IsStatic", FIsStatic);
  // The header describes the data written: a buffer's own format, whatever the fields say.
  obj->AddPair("VertexFormat", VertexFormatsToStr(vb ? vb->Format() : FVertexFormat));
  obj->AddPair("VertexCount", n);
  obj->AddPair("VerticesDataType", "Values");
  auto* vertices = new TJSONObject();
  obj->AddPair("Vertices", vertices);
  if (vb) WriteVertexArrays(vertices);
  obj->AddPair("IndexFormat", static_cast<int32_t>(ib ? ib->Format() : FIndexFormat));
  const int32_t m = ib ? ib->Length() : 0;
  obj->AddPair("IndexCount", m);
  obj->AddPair("IndicesDataType", "Values");
  auto* indices = new TJSONArray();
  obj->AddPair("Indices", indices);
  indices->Reserve(size_t(m));
  for (int32_t i = 0; i < m; ++i) indices->AddElement(new TJSONNumber(ib->GetIndices(i)));
  auto* map = new TJSONObject();
  obj->AddPair("VertexIndexMap", map);
  if (FVertexIndexMap) {
    for (const auto& pair : *FVertexIndexMap) {
      auto* arr = new TJSONArray();
      map->AddPair(std::to_string(pair.Key), arr);
      arr->Reserve(pair.Value.size());
      for (uint32_t v : pair.Value) arr->AddElement(new TJSONNumber(v));
    }
  }
  obj->AddPair("FaceOrientation", static_cast<int32_t>(FFaceOrientation));
  if (const std::string* id = MaterialRefId(FMaterial))
    obj->AddPair("Material", *id);
  else
    obj->AddPair("Material", new TJSONNull());
  auto* instances = new TJSONArray();
  obj->AddPair("Instances", instances);
  for (TMeshInstanceDef* inst : *FInstances) instances->AddElement(inst->ToJSON());
  return obj.release();
}

void TCustomMeshDef::ReadVertices(const TJSONObject* AValue) {
  const int32_t n = ReadJSONInteger(AValue, "VertexCount", 0);
  if (n <= 0) return;
  const bool values = IsValuesForm(AValue, "VerticesDataType");
  const TJSONValue* vv = AValue->GetValue("Vertices");
  if (!vv) return;
  int32_t vertexSize = 0;
  for (int f = 0; f < 16; ++f)
    if (FVertexFormat.Contains(TVertexFormat(f))) vertexSize += TVertexBuffer::ComponentSize(TVertexFormat(f));
  if (int64_t(n) * vertexSize > MaxBufferBytes)
    throw Exception(Format("invalid vertex count %d - the vertex data would exceed 2 GB", {n}));
  // Vertices without components hold nothing that could be read or written back.
  if (vertexSize == 0)
    throw Exception(Format("invalid vertex count %d - the vertex format holds no component", {n}));
  // A count is believed only as far as the data goes: at least one value (or byte) per vertex,
  // so that a few bytes of text can never ask for gigabytes.
  if (!values) {
    const std::vector<uint8_t> bytes = StrToBytes(vv->Value());
    if (bytes.size() < size_t(n))
      throw Exception(Format("invalid vertex count %d - \"Vertices\" supplies only %d bytes", {n, int64_t(bytes.size())}));
    ReleaseVertexSource();
    FVertexSource.ResetOwned(New<TVertexBuffer>(FVertexFormat, n));
    const size_t count = std::min<size_t>(bytes.size(), size_t(FVertexSource->Size()));
    if (count) std::memcpy(FVertexSource->Buffer(), bytes.data(), count);
    return;
  }
  if (!vv->Is<TJSONObject>()) throw Exception("invalid json data type for \"Vertices\"");
  const auto* obj = static_cast<const TJSONObject*>(vv);
  int64_t supplied = 0;
  for (int a = 0; a < 12; ++a) {
    const TJSONValue* v = obj->GetValue(VertexArrayKeys[a]);
    if (!v) continue;
    const TJSONArray* arr = v->As<TJSONArray>();
    const TArraySlot& slot = VertexArraySlots[a];
    if (FVertexFormat.Contains(slot.Format) || FVertexFormat.Contains(slot.FloatColor))
      supplied = std::max<int64_t>(supplied, arr->Count());
  }
  if (supplied < n)
    throw Exception(Format("invalid vertex count %d - \"Vertices\" supplies only %d values", {n, supplied}));
  ReleaseVertexSource();
  FVertexSource.ResetOwned(New<TVertexBuffer>(FVertexFormat, n));
  TVertexBuffer* buf = FVertexSource.get();
  for (int a = 0; a < 12; ++a) {
    const TJSONValue* v = obj->GetValue(VertexArrayKeys[a]);
    if (!v) continue;
    const TJSONArray* arr = v->As<TJSONArray>();
    const TArraySlot& slot = VertexArraySlots[a];
    if (!buf->HasFormat(slot.Format) && !buf->HasFormat(slot.FloatColor)) continue;
    const int count = arr->Count();
    const int g = slot.Group;
    if (g == 1) {
      const int ch = int(slot.Format) - int(TVertexFormat::Color0);
      for (int k = 0; k < count; ++k) {
        // Colours are unsigned 32-bit; alpha >= 128 does not fit an Integer.
        const int64_t c = NumberToInt64(NumberOf(arr->Items(k)));
        buf->SetColor(ch, k, MakeAlphaColor(static_cast<uint32_t>(c & 0xFFFFFFFF)));
      }
      continue;
    }
    const int32_t offset = buf->OffsetOf(slot.Format);
    for (int k = 0; k * g < count; ++k) {
      float f[3] = {0, 0, 0};
      for (int c = 0; c < g; ++c) f[c] = NumberToSingle(NumberOf(arr->Items(k * g + c)));
      // VerticesPtr raises the buffer's range error for a vertex beyond the count.
      std::memcpy(buf->VerticesPtr(k) + offset, f, sizeof(float) * size_t(g));
    }
  }
}

void TCustomMeshDef::ReadIndices(const TJSONObject* AValue) {
  const bool hasFormat = AValue->GetValue("IndexFormat") != nullptr;
  const int32_t format = ReadJSONInteger(AValue, "IndexFormat", 0);
  if (format != 0 && format != 1) throw Exception(Format("invalid index format %d - 0 or 1 expected", {format}));
  FIndexFormat = static_cast<TIndexFormat>(format);
  const int32_t m = ReadJSONInteger(AValue, "IndexCount", 0);
  if (m <= 0) return;
  if (int64_t(m) * 4 > MaxBufferBytes)
    throw Exception(Format("invalid index count %d - the index data would exceed 2 GB", {m}));
  const bool values = IsValuesForm(AValue, "IndicesDataType");
  if (const TJSONValue* iv = AValue->GetValue("Indices")) {
    // As for vertices: at least one value (or byte) per index.
    if (!values) {
      const std::vector<uint8_t> bytes = StrToBytes(iv->Value());
      if (bytes.size() < size_t(m))
        throw Exception(Format("invalid index count %d - \"Indices\" supplies only %d bytes", {m, int64_t(bytes.size())}));
      // Older documents carry no width: 4 bytes per index can only be 32-bit data.
      if (!hasFormat && bytes.size() == size_t(m) * 4) FIndexFormat = TIndexFormat::UInt32;
      ReleaseIndexSource();
      FIndexSource.ResetOwned(New<TIndexBuffer>(m, FIndexFormat));
      const size_t count = std::min<size_t>(bytes.size(), size_t(FIndexSource->Size()));
      if (count) std::memcpy(FIndexSource->Buffer(), bytes.data(), count);
    } else {
      const TJSONArray* arr = iv->Is<TJSONArray>() ? static_cast<const TJSONArray*>(iv) : nullptr;
      if (!arr) throw Exception("invalid json data type for \"Indices\"");
      if (arr->Count() < m)
        throw Exception(Format("invalid index count %d - \"Indices\" supplies only %d values", {m, arr->Count()}));
      if (!hasFormat) {
        // Without a width, indices above 65535 would be cut to 16 bits: read them as 32-bit.
        for (const TJSONValue* e : *arr)
          if (e->Kind() == TJSONValue::TKind::Number && NumberToInt64(static_cast<const TJSONNumber*>(e)) > 0xFFFF) {
            FIndexFormat = TIndexFormat::UInt32;
            break;
          }
      }
      ReleaseIndexSource();
      FIndexSource.ResetOwned(New<TIndexBuffer>(m, FIndexFormat));
      for (int i = 0; i < arr->Count(); ++i) FIndexSource->SetIndices(i, NumberToCardinal(arr->Items(i), "index"));
    }
  }
  if (const TJSONValue* mv = AValue->GetValue("VertexIndexMap")) ReadVertexIndexMap(mv);
}

void TCustomMeshDef::ReadVertexIndexMap(const TJSONValue* AValue) {
  const TJSONObject* obj = AValue->As<TJSONObject>();
  if (!FVertexIndexMap) FVertexIndexMap.reset(New<TVertexIndexMap>());
  for (const TJSONPair* pair : *obj) {
    const TJSONArray* arr = pair->GetJsonValue()->As<TJSONArray>();
    uint32_t key = 0;
    if (!ParseMapKey(pair->GetName(), key))
      throw Exception(Format("unexpected value in VertexIndexMap - ordinal values expected, but \"%s\" found",
                             {pair->GetName()}));
    std::vector<uint32_t> values(size_t(arr->Count()));
    for (int i = 0; i < arr->Count(); ++i) values[size_t(i)] = NumberToCardinal(arr->Items(i), "vertex index");
    FVertexIndexMap->Add(key, std::move(values));
  }
}

void TCustomMeshDef::ReadMaterial(TModelDef* AModel, const TJSONObject* AValue) {
  const TJSONValue* v = AValue->GetValue("Material");
  if (!v || !v->Is<TJSONString>()) return;
  const std::string id = v->Value();
  FreeMaterialRef(FMaterial);
  TMaterialDef* material = FindModelMaterial(AModel, id);
  FMaterial = NewMaterialRef(id, material);
  if (!material && FMaterial) AddLateMaterial(AModel, FMaterial, AValue);
}

void TCustomMeshDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  if (!AValue) return;
  FVertexFormat = StrToVertexFormats(ReadJSONString(AValue, "VertexFormat", ""));
  ReadVertices(AValue);
  ReadIndices(AValue);
  const int32_t orientation = ReadJSONInteger(AValue, "FaceOrientation", 0);
  if (orientation < 0 || orientation > 2)
    throw Exception(Format("invalid face orientation %d - 0 to 2 expected", {orientation}));
  FFaceOrientation = static_cast<TFaceOrientation>(orientation);
  ReadMaterial(AModel, AValue);
  if (const TJSONValue* v = AValue->GetValue("Instances"); v && v->Is<TJSONArray>()) {
    for (const TJSONValue* e : *static_cast<const TJSONArray*>(v)) {
      if (!e->Is<TJSONObject>()) continue;
      TOwned<TMeshInstanceDef> inst(New<TMeshInstanceDef>(this));
      inst->FromJSON(AModel, static_cast<const TJSONObject*>(e));
      FInstances->Add(inst.release());
    }
  }
}

// =======================================================================================
// TMeshDef

TMeshDef::TMeshDef(TCustomDef* AOwner) : TCustomMeshDef(AOwner) { FBoundingBoxUpdateNeeded = true; }

TMeshDef::~TMeshDef() { ReleaseOwnBVH(); }

template <class F>
void TMeshDef::ForEachMeshChild(F&& AFunc) const {
  TChildList* children = GetChildren();
  if (!children) return;
  for (int i = 0; i < children->Count(); ++i)
    if (auto* mesh = dynamic_cast<TMeshDef*>(children->Items(i))) AFunc(mesh);
}

void TMeshDef::UpdateRenderByVertexGroups() {
  bool groups = false;
  if (TChildList* children = GetChildren())
    for (TTransformDef* child : *children)
      if (dynamic_cast<TVertexGroupDef*>(child)) groups = true;
  FRenderByVertexGroups = groups;
}

void TMeshDef::AddMesh(TMeshDef* AMesh) {
  AddChild(AMesh);
  UpdateRenderByVertexGroups();
}

void TMeshDef::RemoveMesh(TMeshDef* AMesh) {
  RemoveChild(AMesh);
  UpdateRenderByVertexGroups();
}

TMeshDef* TMeshDef::FindMeshById(std::string_view AName, bool AThrowException) {
  TTransformDef* node = FindChildById(AName, AThrowException);
  if (!node) return nullptr;
  if (auto* mesh = dynamic_cast<TMeshDef*>(node)) return mesh;
  if (AThrowException)
    throw Exception(Format("transform with id \"%s\" found, but not a mesh node", {std::string(AName)}));
  return nullptr;
}

void TMeshDef::SetIsStatic(bool AValue) {
  TCustomMeshDef::SetIsStatic(AValue);
  ForEachMeshChild([AValue](TMeshDef* child) { child->SetIsStatic(AValue); });
}

int64_t TMeshDef::GetSize() const {
  int64_t size = TCustomMeshDef::GetSize();
  if (TChildList* children = GetChildren())
    for (TTransformDef* child : *children) size += int64_t(sizeof(TChildList)) + child->GetSize();
  return size;
}

TJSONObject* TMeshDef::ToJSON() const { return TCustomMeshDef::ToJSON(); }

void TMeshDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomMeshDef::FromJSON(AModel, AValue);
  if (AValue) {
    if (const TJSONValue* v = AValue->GetValue("Meshes")) {
      const TJSONArray* arr = v->As<TJSONArray>();
      for (const TJSONValue* e : *arr) ReadChild(AModel, e);
    }
  }
  UpdateRenderByVertexGroups();
}

bool TMeshDef::HasCombinedVertices() const {
  if (FVertexSource && FVertexSource->Length() > 0) return true;
  bool found = false;
  ForEachMeshChild([&found](TMeshDef* child) { found = found || child->HasCombinedVertices(); });
  return found;
}

TBoundingBox TMeshDef::GetCombinedBoundingBox() {
  TBoundingBox box = GetBoundingBox();
  ForEachMeshChild([&box](TMeshDef* child) {
    // A child without vertices (a vertex group, an empty node) has no box: its all-zero
    // stand-in would pull the union out to the origin.
    if (!child->HasCombinedVertices()) return;
    const TBoundingBox childBox = child->GetCombinedBoundingBox();
    box = box.IsEmpty(1e-4f) ? childBox : box.Union(childBox);
  });
  return box;
}

void TMeshDef::AcquireBVH() {
  ForEachMeshChild([](TMeshDef* child) { child->AcquireBVH(); });
  if (FBVH) return;
  const TVertexBuffer* vb = GetVertexSource();
  const TIndexBuffer* ib = GetIndexSource();
  const std::vector<TPoint3D> positions = PositionsOf(vb);
  auto bvh = std::make_unique<TBVHGeometry>();
  // The hierarchy is freed again unless it is handed to FBVH.
  auto freeTree = Finally([&bvh] {
    if (bvh) FreeBVH(bvh.get());
  });
  if (ib && ib->Length() >= 3) {
    // Triangles naming a vertex that does not exist are left out, as the search without a
    // tree leaves them out: both answer alike for any data read.
    std::vector<uint32_t> idx;
    idx.reserve(size_t(ib->Length()));
    for (int32_t t = 0; t + 2 < ib->Length(); t += 3) {
      const uint32_t i0 = ib->GetIndices(t), i1 = ib->GetIndices(t + 1), i2 = ib->GetIndices(t + 2);
      if (i0 >= positions.size() || i1 >= positions.size() || i2 >= positions.size()) continue;
      idx.insert(idx.end(), {i0, i1, i2});
    }
    if (!idx.empty()) *bvh = TBVHGeometry::Create(positions, idx, TMatrix3D::Identity());
  }
  BuildBVH(bvh.get());
  FBVH = bvh.release();
}

void TMeshDef::ReleaseOwnBVH() {
  if (!FBVH) return;
  FreeBVH(FBVH);
  delete FBVH;
  FBVH = nullptr;
}

void TMeshDef::ReleaseBVH() {
  ForEachMeshChild([](TMeshDef* child) { child->ReleaseBVH(); });
  ReleaseOwnBVH();
}

void TMeshDef::UpdateBVH() {
  ReleaseOwnBVH();
  AcquireBVH();
}

bool TMeshDef::RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, const TMatrix3D& AMeshMatrix,
                                const TMatrix3D& AAbsoluteMatrix, TPoint3D& AIntersection, TPoint3D& ANormal) {
  const TMatrix3D inv = AMeshMatrix.Inverse();
  const TPoint3D start = TPoint3D(TVector3D(ARayPos, 1.0f) * inv);
  const TPoint3D dir = TPoint3D(TVector3D(ARayDir, 0.0f) * inv).Normalize();
  AIntersection = TPoint3D();
  ANormal = TPoint3D();
  const TVertexBuffer* vb = GetVertexSource();
  const TIndexBuffer* ib = GetIndexSource();
  if (!vb || !ib || vb->Length() == 0 || ib->Length() == 0) return false;
  TRaycastData ray;
  ray._Set(start, dir, 1000.0f);
  auto toWorld = [&](const TPoint3D& p) { return TransformPoint(TransformPoint(p, AMeshMatrix), AAbsoluteMatrix); };
  // The hit normal is a direction: it turns by the inverse transpose, never moves.
  const TMatrix3D normalMatrix = NormalMatrixOf(AMeshMatrix * AAbsoluteMatrix);
  if (FBVH) {
    TRaycastResult hit;
    FBVH->Raycast(ray, hit);
    AIntersection = toWorld(hit.Point);
    ANormal = TurnNormal(hit.Normal, normalMatrix);
    return hit.Hit;
  }
  // The ray is in the mesh's local space: test it against the box of the local positions (the
  // cached box holds Transform, and a vertex group's holds none of the parent's vertices).
  TPoint3D lo = vb->GetVertices(0), hi = lo;
  for (int32_t i = 1; i < vb->Length(); ++i) {
    const TPoint3D p = vb->GetVertices(i);
    lo = {std::min(lo.X, p.X), std::min(lo.Y, p.Y), std::min(lo.Z, p.Z)};
    hi = {std::max(hi.X, p.X), std::max(hi.Y, p.Y), std::max(hi.Z, p.Z)};
  }
  if (TAABB::FromBoundingBox(TBoundingBox(lo, hi)).Raycast(ray) < 0) return false;
  float best = 100000.0f;
  bool result = false;
  const int32_t vertexCount = vb->Length();
  const int32_t triangles = ib->Length() / 3;
  for (int32_t t = 0; t < triangles; ++t) {
    const uint32_t i0 = ib->GetIndices(3 * t), i1 = ib->GetIndices(3 * t + 1), i2 = ib->GetIndices(3 * t + 2);
    if (i0 >= uint32_t(vertexCount) || i1 >= uint32_t(vertexCount) || i2 >= uint32_t(vertexCount)) continue;
    const TTriangle tri(vb->GetVertices(int32_t(i2)), vb->GetVertices(int32_t(i1)), vb->GetVertices(int32_t(i0)));
    TRaycastResult hit;
    if (!tri.Raycast(ray, &hit)) continue;
    if (hit.T >= 0 && hit.T < best) {
      best = hit.T;
      AIntersection = toWorld(hit.Point);
      ANormal = TurnNormal(hit.Normal, normalMatrix);
      result = true;
    }
  }
  return result;
}

void TMeshDef::ApplyTransformationMatrixToVertices(const TMatrix3D& ATransform, bool AModfiyVertices) {
  if (MatrixIsZero(GetTransform())) SetTransform(TMatrix3D::Identity());
  const TMatrix3D m = GetTransform() * ATransform;
  if (!AModfiyVertices) {
    SetTransform(m);
    return;
  }
  ForEachMeshChild([&m](TMeshDef* child) { child->ApplyTransformationMatrixToVertices(m, true); });
  if (TVertexBuffer* vb = FVertexSource.get()) {
    const bool normals = vb->HasFormat(TVertexFormat::Normal);
    const bool tangents = vb->HasFormat(TVertexFormat::Tangent);
    const bool binormals = vb->HasFormat(TVertexFormat::BiNormal);
    // Directions: normals by the inverse transpose, tangents and binormals by the 3x3 part.
    const TMatrix3D normalMatrix = NormalMatrixOf(m);
    for (int32_t i = 0; i < vb->Length(); ++i) {
      vb->SetVertices(i, TransformPoint(vb->GetVertices(i), m));
      if (normals) vb->SetNormals(i, TurnNormal(vb->GetNormals(i), normalMatrix));
      if (tangents) vb->SetTangents(i, TurnDirection(vb->GetTangents(i), m).Normalize());
      if (binormals) vb->SetBiNormals(i, TurnDirection(vb->GetBiNormals(i), m).Normalize());
    }
  }
  SetTransform(TMatrix3D::Identity());
}

void TMeshDef::MoveVerticesToPivot() {
  const TPoint3D c = GetCombinedBoundingBox().CenterPoint();
  ApplyTransformationMatrixToVertices(TMatrix3D::CreateTranslation(-c), true);
}

void TMeshDef::ApplyToMeshData(TMeshData* AData) {
  if (!AData || !FVertexSource) return;
  DirtyHackApplyMeshDataBuffers(AData, FVertexSource.get(), FIndexSource.get());
  const TVertexBuffer* vb = AData->GetVertexBuffer();
  if (!vb || vb->Length() < 1) return;
  if (Point3DIsZero(vb->GetNormals(0), 1e-7f)) AData->CalcFaceNormals(true);
  if (Point3DIsZero(AData->GetVertexBuffer()->GetTangents(0), 1e-7f)) CalcTangentBinormals(AData);
}

void TMeshDef::CalcTangentBinormals(TMeshData* AData) {
  if (AData) AData->CalcTangentBinormals();
}

void TMeshDef::ApplyFromMeshData(TMeshData* AData) {
  if (!AData) return;
  SetVertices(AData->GetVertexBuffer());
  SetIndices(AData->GetIndexBuffer());
  BoundingBoxChanged();
}

void TMeshDef::ApplyToMeshDef(TMeshDef* ADef, const TCopyVertexOptions& AOptions) {
  if (!ADef) return;
  if (ADef->GetBVH()) ADef->ReleaseBVH();
  if (ADef->FVertexIndexMap) ADef->FVertexIndexMap->Clear();
  ADef->SetVertices(GetVertexSource());
  ADef->SetIndices(GetIndexSource());
  if (TVertexBuffer* vb = ADef->FVertexSource.get()) {
    for (int32_t i = 0; i < vb->Length(); ++i) {
      TPoint3D p = vb->GetVertices(i);
      if (AOptions.Contains(TCopyVertexOption::ExchangeYZ)) std::swap(p.Y, p.Z);
      if (AOptions.Contains(TCopyVertexOption::ExchangeYX)) std::swap(p.Y, p.X);
      if (AOptions.Contains(TCopyVertexOption::ExchangeXZ)) std::swap(p.X, p.Z);
      vb->SetVertices(i, p);
    }
  }
  ADef->UpdateMeshBuffer();
}

// =======================================================================================
// TVertexGroupDef

TVertexGroupDef::TVertexGroupDef(TCustomDef* AOwner) : TMeshDef(AOwner) {
  const auto* mesh = dynamic_cast<const TMeshDef*>(AOwner);
  CreateIndexSource(mesh ? mesh->GetIndexFormat() : TIndexFormat::UInt32);
}

TVertexBuffer* TVertexGroupDef::GetVertexSource() const {
  TCustomDef* owner = GetOwnerRef();
  if (!owner) return nullptr;
  return owner->As<TMeshDef>()->GetVertexSource();
}

void TVertexGroupDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) { TMeshDef::FromJSON(AModel, AValue); }

void TVertexGroupDef::ApplyToMeshData(TMeshData* AData) {
  if (AData) DirtyHackApplyMeshDataBuffers(AData, nullptr, FIndexSource.get());
}

// =======================================================================================
// TMeshInstanceDef

TMeshInstanceDef::TMeshInstanceDef(TCustomMeshDef* AOwner) : FMeshRef(AOwner) {}

TJSONObject* TMeshInstanceDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  if (FMeshRef) obj->AddPair("MeshRef", FMeshRef->GetId());
  obj->AddPair("Position", Point3DToStr(FPosition));
  obj->AddPair("Scale", Point3DToStr(FScale));
  obj->AddPair("RotationAngle", Point3DToStr(FRotationAngle));
  obj->AddPair("RotationCenter", Point3DToStr(FRotationCenter));
  return obj.release();
}

void TMeshInstanceDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  FPosition = ReadJSONPoint3D(AValue, "Position", TPoint3D());
  FScale = ReadJSONPoint3D(AValue, "Scale", TPoint3D());
  FRotationAngle = ReadJSONPoint3D(AValue, "RotationAngle", TPoint3D());
  FRotationCenter = ReadJSONPoint3D(AValue, "RotationCenter", TPoint3D());
}

// =======================================================================================
// TVertexCache's material hook needs the mesh class.

TMaterialRefDef* TVertexCache::DoOnCreateMaterialRef(TMeshDef* AMesh, TMaterialDef* AMaterial) {
  return AMesh && AMaterial ? AMesh->GetMaterial() : nullptr;
}

}  // namespace quorvel
