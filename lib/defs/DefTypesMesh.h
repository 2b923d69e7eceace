#pragma once
// Unit Quorvel.DefTypes, mesh part: TCustomMeshDef (vertex and index data, material reference,
// instances, the link to the GPU buffers), TMeshDef (sub-meshes, bounds, ray casts,
// transforms), TVertexGroupDef (an index subset of its parent's vertices) and
// TMeshInstanceDef (one more placement of a mesh).
//
// Definitions never call the graphics API: GPU uploads go to a TMeshBufferObject through
// TThread::Queue, inline on the main thread and deferred from any other.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/math/BoundingBox.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Containers.h"
#include "lib/context/ContextBuffers.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesTransform.h"
#include "lib/defs/DefTypesVertexCache.h"
#include "lib/utils/UtilsGeometry.h"

namespace quorvel {

class TMeshData;
class TMaterialDef;
class TMaterialRefDef;
class TMeshInstanceDef;

enum class TFaceOrientation : uint8_t { FrontFace = 0, BackFace = 1, TwoFace = 2 };

// How CalcSmoothNormals averages: by position within a weld distance (quadratic), by shared
// index, or each face direction once per vertex.
enum class TMeshDefCalculateNormalMethod : uint8_t { cnmDefault = 0, cnmFastest = 1, cnmSlowest = 2 };

// Key of the cnmSlowest method: a vertex and a face normal rounded to a grid.
struct TMeshDefVertexSmoothNormalInfo {
  int32_t VertexId = 0;
  int32_t ScaledRoundedX = 0;
  int32_t ScaledRoundedY = 0;
  int32_t ScaledRoundedZ = 0;
  friend bool operator==(const TMeshDefVertexSmoothNormalInfo&, const TMeshDefVertexSmoothNormalInfo&) = default;
};

using TPolygon = std::vector<TPointF>;
using T3DPolygon = std::vector<TPoint3D>;

enum class TCopyVertexOption : uint8_t { ExchangeYZ = 0, ExchangeYX = 1, ExchangeXZ = 2 };
using TCopyVertexOptions = TSet<TCopyVertexOption>;

// Default layout of a mesh's vertex buffer: Vertex, Normal, ColorF0, TexCoord0, BiNormal, Tangent.
inline constexpr uint16_t DefaultMeshVertexFormatMask = 0xC443;

class TCustomMeshDef : public TTransformDef {
  QUORVEL_DEF_CLASS(TCustomMeshDef, TTransformDef)
public:
  using TInstanceList = TObjectList<TMeshInstanceDef>;

  explicit TCustomMeshDef(TCustomDef* AOwner = nullptr);
  ~TCustomMeshDef() override;

  const TVertexFormats& GetVertexFormat() const { return FVertexFormat; }
  void SetVertexFormat(const TVertexFormats& AValue) { FVertexFormat = AValue; }
  TIndexFormat GetIndexFormat() const { return FIndexFormat; }
  TFaceOrientation GetFaceOrientation() const { return FFaceOrientation; }
  void SetFaceOrientation(TFaceOrientation AValue) { FFaceOrientation = AValue; }
  bool GetIsStatic() const { return FIsStatic; }
  bool GetBuffersLinked() const { return FBuffersLinked; }
  bool GetBoundingBoxUpdateNeeded() const { return FBoundingBoxUpdateNeeded; }
  TMeshBufferObject* GetBufferObject() const { return FBufferObject; }
  // The same, read under the lock that the main thread's buffer creation holds (for readers on
  // other threads).
  TMeshBufferObject* GetBufferObjectLocked() const;
  const std::vector<TPoint3D>& GetFaceNormals() const { return FFaceNormals; }
  std::vector<TPoint3D>& FaceNormals() { return FFaceNormals; }
  TVertexIndexMap* GetVertexIndexMap() const { return FVertexIndexMap.get(); }
  TMaterialRefDef* GetMaterial() const { return FMaterial; }
  TInstanceList* GetInstances() const { return FInstances.get(); }

  // Takes ownership; the reference held before is freed (the same one is kept).
  virtual void SetMaterial(TMaterialRefDef* AValue);
  virtual void SetIsStatic(bool AValue);
  virtual TIndexBuffer* GetIndexSource() const;
  virtual TVertexBuffer* GetVertexSource() const;
  virtual void BoundingBoxChanged();
  virtual TBoundingBox GetBoundingBox();
  virtual void SetVertices(const TVertexBuffer* AVertices);
  virtual void SetIndices(const TIndexBuffer* AIndices);
  virtual void AddVertices(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount);
  virtual void AppendVertices(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount);
  // Every index is stored as its value minus AOffset.
  virtual void AddIndices(const std::vector<uint32_t>& AIndices, int32_t AIndex, int32_t ACount, int32_t AOffset);
  virtual void AddIndices(const std::vector<TTriangleIndex>& ATriangles, int32_t AIndex, int32_t ACount,
                          int32_t AOffset);
  virtual void AppendIndices(const std::vector<uint32_t>& AIndices, int32_t AIndex, int32_t ACount, int32_t AOffset);
  virtual void AppendIndices(const std::vector<TTriangleIndex>& ATriangles, int32_t AIndex, int32_t ACount,
                             int32_t AOffset);
  virtual std::vector<TPoint3D> GetVertexPositions() const;
  virtual void AddVertexIndexMap(const TVertexIndexMap* AMap, int32_t AOffset);
  virtual void AppendVertexIndexMap(const TVertexIndexMap* AMap, int32_t AOffset);
  // Transform := Transform x AMatrix; vertices and the cached box are not touched.
  virtual void ApplyTransformation(const TMatrix3D& AMatrix);
  virtual void SetMaterialReference(TMaterialDef* AMaterial);

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  // AModel resolves the material reference; without a model a "Material" stays unresolved.
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  void SetVertexFormatByVertexData(const TVertexData* AVertex);
  void CreateVertexSource(const TVertexFormats& AFormat);
  void CreateIndexSource(TIndexFormat AFormat);
  void RefreshMeshBuffer(bool ASync);
  void UpdateMeshBuffer();
  // Borrows the buffers (never freed here) and shares ABufferObject's GPU buffers.
  void LinkMeshBuffer(TMeshBufferObject* ABufferObject, TVertexBuffer* AVertices, TIndexBuffer* AIndices);
  void UnlinkMeshBuffer();

protected:
  // Guards the GPU link between the definition and the closures it queued: a closure runs
  // only while its definition lives (the destructor marks the token dead under the lock).
  struct TAliveToken {
    std::recursive_mutex Lock;
    bool Alive = true;
  };
  void QueueOnMain(std::function<void()> AWork);
  void QueueCreateBufferObject(TQuorvelPrimitivesKind AKind);
  bool HasBufferData() const;
  void PushBuffers(TMeshBufferObject* ABufferObject);
  void ReleaseVertexSource();
  void ReleaseIndexSource();
  // Writes record AIndex + i into vertex AFirst + i of the buffer, i = 0..ACount-1.
  void WriteVertexRecords(const std::vector<TVertexData>& AVertices, int32_t AIndex, int32_t ACount, int32_t AFirst);
  // Stores ACount values from ASource (a flat or triangle list) minus AOffset from AFirst on.
  void WriteIndexValues(const uint32_t* ASource, int64_t ACount, int32_t AOffset, int32_t AFirst);
  void ReadVertices(const TJSONObject* AValue);
  void ReadIndices(const TJSONObject* AValue);

  void ReadVertexIndexMap(const TJSONValue* AValue);
  void ReadMaterial(TModelDef* AModel, const TJSONObject* AValue);
  void WriteVertexArrays(TJSONObject* AVertices) const;

  TVertexFormats FVertexFormat;
  TIndexFormat FIndexFormat = TIndexFormat::UInt32;
  TFaceOrientation FFaceOrientation = TFaceOrientation::FrontFace;
  bool FIsStatic = false;
  bool FBuffersLinked = false;
  TMeshBufferObject* FBufferObject = nullptr;
  bool FBoundingBoxUpdateNeeded = false;
  TBoundingBox FBoundingBox;
  std::vector<TPoint3D> FFaceNormals;
  // Buffers handed in by LinkMeshBuffer belong to someone else.
  TMaybeOwned<TVertexBuffer> FVertexSource;
  TMaybeOwned<TIndexBuffer> FIndexSource;
  TOwned<TVertexIndexMap> FVertexIndexMap;
  TMaterialRefDef* FMaterial = nullptr;  // owned
  TOwned<TInstanceList> FInstances;
  std::shared_ptr<TAliveToken> FAlive;
};

class TMeshDef : public TCustomMeshDef {
  QUORVEL_DEF_CLASS(TMeshDef, TCustomMeshDef)
public:
  explicit TMeshDef(TCustomDef* AOwner = nullptr);
  ~TMeshDef() override;

  TModelDef* GetModelDef() const { return GetModel(); }
  TChildList* GetMeshes() const { return GetChildren(); }
  PBVHGeometry GetBVH() const { return FBVH; }
  bool GetRenderByVertexGroups() const { return FRenderByVertexGroups; }
  void SetRenderByVertexGroups(bool AValue) { FRenderByVertexGroups = AValue; }

  void AddMesh(TMeshDef* AMesh) override;
  virtual void RemoveMesh(TMeshDef* AMesh);
  // Deep search; with AThrowException a miss or a node of another class raises.
  virtual TMeshDef* FindMeshById(std::string_view AName, bool AThrowException);
  virtual void ApplyToMeshData(TMeshData* AData);
  virtual void ApplyFromMeshData(TMeshData* AData);
  virtual void ApplyToMeshDef(TMeshDef* ADef, const TCopyVertexOptions& AOptions);
  // Tangents and binormals of framework mesh data.
  virtual void CalcTangentBinormals(TMeshData* AData);

  // ---- normals, tangents, texture coordinates, polygons (triangles are index triples) ----
  // One normal per triangle into FaceNormals: Normalize((V1 - V0) x (V1 - V2)), zero for a
  // degenerate triangle; optionally onto the triangle's vertices. ASubMeshes: children first.
  virtual void CalcFaceNormals(bool PropagateFaceNormalsToVertices, bool ASubMeshes);
  virtual void CalcSmoothNormals(TMeshDefCalculateNormalMethod Method, float WeldEpsilon, bool ASubMeshes);
  virtual void CalcTangentBinormals(bool ASubMeshes);
  // Raw per-triangle tangent and binormal from TexCoord0 (read as (0, 0) when the format has
  // none), set on the triangle's three vertices; the last triangle using a vertex wins.
  // Nothing unless the format holds Normal, Tangent and BiNormal.
  static void CalcTangentBinormals(TVertexBuffer* AVertexBuffer, const TIndexBuffer* AIndexBuffer);
  // Spherical TexCoord0 around the box centre for vertices AStartIdx..AStopIdx.
  static void CalcTextureCoordinates(TVertexBuffer* AVertexBuffer, const TBoundingBox& ABoundingBox,
                                     int32_t AStartIdx, int32_t AStopIdx);
  virtual void CalcTextureCoordinates(int32_t AStartIdx, int32_t AStopIdx);
  virtual void CalcTextureCoordinates();
  // Fan-triangulates without sharing vertices and appends. Raises before changing anything
  // for fewer than 3 points or texture coordinates / normals of another count (empty: none).
  virtual void AddPolygon(const T3DPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals);
  virtual void AddPolygon(const TPolygon& APoly, const TPolygon& ATexCoords, const T3DPolygon& ANormals);
  virtual void AddPolygon(const TPolygon& APoly);
  virtual void AddPolygon(const T3DPolygon& APoly);
  // Normalize((B - A) x (C - A)): the opposite sign of CalcFaceNormals for the same corners.
  static TPoint3D GetNormalVectorFromPoints(const TPoint3D& A, const TPoint3D& B, const TPoint3D& C);
  virtual TBoundingBox GetCombinedBoundingBox();
  virtual void AcquireBVH();
  virtual void UpdateBVH();
  virtual void ReleaseBVH();
  virtual bool RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, const TMatrix3D& AMeshMatrix,
                                const TMatrix3D& AAbsoluteMatrix, TPoint3D& AIntersection, TPoint3D& ANormal);
  virtual void ApplyTransformationMatrixToVertices(const TMatrix3D& ATransform, bool AModfiyVertices);
  virtual void MoveVerticesToPivot();

  void SetIsStatic(bool AValue) override;
  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

protected:
  void UpdateRenderByVertexGroups();
  void ReleaseOwnBVH();
  // Whether this node or a mesh below it holds vertices: only those take part in a combined box.
  bool HasCombinedVertices() const;
  // Each direct child that is a mesh (vertex groups included), in list order.
  template <class F>
  void ForEachMeshChild(F&& AFunc) const;

  PBVHGeometry FBVH = nullptr;
  bool FRenderByVertexGroups = false;
};

class TVertexGroupDef : public TMeshDef {
  QUORVEL_DEF_CLASS(TVertexGroupDef, TMeshDef)
public:
  explicit TVertexGroupDef(TCustomDef* AOwner = nullptr);

  // The owner's vertex buffer (EInvalidCast when the owner is not a mesh); nil without owner.
  TVertexBuffer* GetVertexSource() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;
  // Only the group's indices go into AData.
  void ApplyToMeshData(TMeshData* AData) override;
};

class TMeshInstanceDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TMeshInstanceDef, TCustomDef)
public:
  explicit TMeshInstanceDef(TCustomMeshDef* AOwner = nullptr);

  TCustomMeshDef* GetMeshRef() const { return FMeshRef; }
  const TPoint3D& GetPosition() const { return FPosition; }
  void SetPosition(const TPoint3D& AValue) { FPosition = AValue; }
  const TPoint3D& GetScale() const { return FScale; }
  void SetScale(const TPoint3D& AValue) { FScale = AValue; }
  const TPoint3D& GetRotationAngle() const { return FRotationAngle; }
  void SetRotationAngle(const TPoint3D& AValue) { FRotationAngle = AValue; }
  const TPoint3D& GetRotationCenter() const { return FRotationCenter; }
  void SetRotationCenter(const TPoint3D& AValue) { FRotationCenter = AValue; }

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  TCustomMeshDef* FMeshRef = nullptr;  // not owned
  TPoint3D FPosition;
  TPoint3D FScale;
  TPoint3D FRotationAngle;
  TPoint3D FRotationCenter;
};

}  // namespace quorvel
