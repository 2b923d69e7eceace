#pragma once
// Unit Quorvel.DefTypes, animations: TAnimationDef (a named animation of a model: stages,
// duration and frame arithmetic, and the cache of baked frames), TAnimationStageDef (the
// tracks of one joint or node) and TAnimationBuffer (the baked frames of one mesh).
// Only the frame cache crosses threads: BufferingState and CachingFlags are atomic, the rest
// of the cache is guarded by the animation's monitor.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/gui3d/Animation.h"
#include "framework/gui3d/VertexBuffer.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Set.h"
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesInterpolators.h"

namespace quorvel {

class TMeshBufferObject;
class TAnimationDef;

enum class TAnimationCachingFlag : uint8_t { AllAttributes = 0, Compressed = 1, VertexPosition = 2 };
FW_ENUM(TAnimationCachingFlag, AllAttributes, Compressed, VertexPosition)
using TAnimationCachingFlags = TSet<TAnimationCachingFlag>;

enum class TAnimationBufferingState : uint8_t { None = 0, Started = 1, Caching = 2, Cached = 3, Ready = 4 };
FW_ENUM(TAnimationBufferingState, None, Started, Caching, Cached, Ready)

enum class TKeyUnifyFlag : uint8_t {
  AbsoluteKeyTransform = 0,
  EqualBaseTransformCheck = 1,
  InverseTransform = 2,
  InverseBaseTransform = 3,
  EvaluateGlobalTransform = 4
};
FW_ENUM(TKeyUnifyFlag, AbsoluteKeyTransform, EqualBaseTransformCheck, InverseTransform, InverseBaseTransform,
        EvaluateGlobalTransform)
using TKeyUnifyFlags = TSet<TKeyUnifyFlag>;

enum class TUnifyInterpolatorOption : uint8_t {
  EulerXYZ = 0,
  EulerYXZ = 1,
  EulerZXY = 2,
  EulerZYX = 3,
  EulerYZX = 4,
  EulerXZY = 5
};
FW_ENUM(TUnifyInterpolatorOption, EulerXYZ, EulerYXZ, EulerZXY, EulerZYX, EulerYZX, EulerXZY)
using TUnifyInterpolatorOptions = TSet<TUnifyInterpolatorOption>;

class TAnimationStageDef;
// May change a merged key's time, matrix and kind before it is stored.
using TUnifyInterpolatorTransformationProc =
    std::function<void(TAnimationStageDef* AStage, float& ATime, TMatrix3D& AMatrix, TInterpolationType& AKind)>;

class TAnimationStageDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TAnimationStageDef, TCustomDef)

public:
  using TInterpolatorList = TObjectList<TCustomDef>;

  // Not added to the animation here (AddStage does).
  explicit TAnimationStageDef(TAnimationDef* AAnimation = nullptr);
  ~TAnimationStageDef() override;

  TAnimationDef* GetAnimation() const noexcept { return FAnimation; }
  TCustomDef* GetReference() const noexcept { return FReference; }
  virtual void SetReference(TCustomDef* AValue) { FReference = AValue; }
  // Owned, in the order added.
  TInterpolatorList* GetInterpolators() const noexcept { return FInterpolators; }
  TKeyUnifyFlags GetKeyUnifyFlags() const noexcept { return FKeyUnifyFlags; }
  void SetKeyUnifyFlags(TKeyUnifyFlags AValue) noexcept { FKeyUnifyFlags = AValue; }

  // Takes ownership; no check for duplicates or class.
  virtual void AddInterpolator(TCustomDef* AInter);
  virtual TCustomDef* FindInterpolatorById(std::string_view AName) const;
  // The longest duration of its tracks (other definitions in the list do not count).
  float GetDurationInSeconds() const;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  // Errors after the id come as "failed to load animation stage <id> - <message>".
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  void ReadJSONBody(TModelDef* AModel, const TJSONObject* AValue);

  TAnimationDef* FAnimation;        // not owned
  TCustomDef* FReference = nullptr;  // not owned
  TInterpolatorList* FInterpolators;
  TKeyUnifyFlags FKeyUnifyFlags;
};

// The baked frames of one animation for one mesh, one mesh buffer object per frame.
class TAnimationBuffer : public TObject {
  FW_CLASS(TAnimationBuffer, TObject)

public:
  using TFrameList = TObjectList<TMeshBufferObject>;

  // Marks the mesh static (its vertices stay as baked).
  TAnimationBuffer(TMeshDef* AMesh, TAnimationDef* AAnim);
  ~TAnimationBuffer() override;

  TMeshDef* GetMesh() const noexcept { return FMesh; }
  TAnimationDef* GetAnimation() const noexcept { return FAnimation; }
  bool GetIsBuffered() const noexcept { return FIsBuffered; }
  void SetIsBuffered(bool AValue) noexcept { FIsBuffered = AValue; }
  TFrameList* GetFrames() const noexcept { return FFrames; }
  int32_t GetBufferedFrames() const noexcept { return FBufferedFrames; }
  void SetBufferedFrames(int32_t AValue) noexcept { FBufferedFrames = AValue; }

  // Under the buffer's monitor. Another count drops every stored frame and makes that many
  // empty frames on the mesh's buffer object.
  void SetFrameCount(int32_t AFrameCount);

private:
  TMeshDef* FMesh;             // not owned
  TAnimationDef* FAnimation;  // not owned
  bool FIsBuffered = false;
  TFrameList* FFrames;
  int32_t FBufferedFrames = 0;
};

class TAnimationDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TAnimationDef, TCustomDef)

public:
  using TStageList = TObjectList<TAnimationStageDef>;
  // Owns its buffers; keyed by the mesh object.
  using TBufferDictionary = TObjectDictionary<TMeshDef*, TAnimationBuffer*>;

  // The model owns the animation once it is in its list (AddAnimation); not added here.
  explicit TAnimationDef(TModelDef* AModel = nullptr);
  ~TAnimationDef() override;

  TModelDef* GetModel() const noexcept { return FModel; }
  TStageList* GetStages() const noexcept { return FStages; }
  TAnimationCachingFlags GetCachingFlags() const noexcept;
  TAnimationBufferingState GetBufferingState() const noexcept { return FBufferingState.load(); }
  // Null until caching starts; read it under the animation's monitor while a bake may run.
  TBufferDictionary* GetBuffers() const noexcept { return FBuffers; }
  int32_t GetFrameRate() const noexcept { return FFrameRate; }
  // A new rate recomputes duration and frame count (and the buffers' frame count).
  void SetFrameRate(int32_t AValue);
  int32_t GetFrameCount() const noexcept { return FFrameCount; }
  double GetDuration() const noexcept { return FDuration; }
  bool IsCached() const noexcept { return GetBufferingState() != TAnimationBufferingState::None; }
  bool IsCacheable() const noexcept { return !GetCachingFlags().IsEmpty(); }

  // Raises for a second stage of an id already present.
  void AddStage(TAnimationStageDef* AStage);
  TAnimationStageDef* FindStageById(std::string_view AId) const;
  double GetDurationInSeconds() const;
  int64_t GetDurationInMilliseconds() const;
  int32_t ComputeFrameCount(double ADurationInSeconds) const;
  int32_t ComputeFrameCountMS(int64_t ADurationInMS) const;
  int32_t ComputeFrameCount() const;
  void PrepareAnimationData();

  // Merges each stage's position, rotation and scale tracks into one matrix track.
  virtual void UnifyInterpolators(TUnifyInterpolatorOptions AOptions, const TUnifyInterpolatorTransformationProc& ACallback);

  // ---- frame cache ----
  // ACache must be a TAnimationCaching (else EInvalidCast); bakes under the monitor.
  void Cache(TObject* ACache);
  void InitializeCaching(TMeshDef* AMesh);
  TAnimationBuffer* StartCaching(TMeshDef* AMesh);
  void CacheFrame(TAnimationBuffer* ABuffer, TVertexBuffer* AVertices, TIndexBuffer* AIndices,
                  TAnimationCachingFlags AFlags);
  void StopCaching(TAnimationBuffer* ABuffer);
  void FinalizeCaching();
  // Null unless Ready; an index out of range gives the first frame.
  TMeshBufferObject* GetNextCacheFrame(TMeshDef* AMesh, int32_t AFrame);

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

private:
  void SetCachingFlags(TAnimationCachingFlags AValue) noexcept;
  void UnifyStage(TAnimationStageDef* AStage, uint8_t AOrder, const TUnifyInterpolatorTransformationProc& ACallback);

  TModelDef* FModel;  // not owned
  TStageList* FStages;
  std::atomic<uint8_t> FCachingFlags{0};
  std::atomic<TAnimationBufferingState> FBufferingState{TAnimationBufferingState::None};
  TBufferDictionary* FBuffers = nullptr;
  int32_t FFrameRate = 60;
  int32_t FFrameCount = 0;
  double FDuration = 0;
};

}  // namespace quorvel
