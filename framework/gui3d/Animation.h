#pragma once
// Property animations of the 3D framework: the easing curves, the animation clock (delay, loop,
// auto-reverse, inverse) ticked by the animation thread or explicitly, timed keys, and the
// animation thread itself (a main-loop tick that tests step by hand).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/FwObject.h"
#include "framework/rtl/Enum.h"

namespace quorvel {

// Stored in files by ordinal.
enum class TInterpolationType : int32_t {
  Linear = 0,
  Quadratic = 1,
  Cubic = 2,
  Quartic = 3,
  Quintic = 4,
  Sinusoidal = 5,
  Exponential = 6,
  Circular = 7,
  Elastic = 8,
  Back = 9,
  Bounce = 10
};
FW_ENUM(TInterpolationType, Linear, Quadratic, Cubic, Quartic, Quintic, Sinusoidal, Exponential, Circular, Elastic,
        Back, Bounce)

enum class TAnimationType : int32_t { In = 0, Out = 1, InOut = 2 };
FW_ENUM(TAnimationType, In, Out, InOut)

// The eased fraction of ATime in ADuration (0 at the start, 1 at the end; Elastic and Back leave
// 0..1 on the way). ADuration must be positive.
double InterpolateValue(TInterpolationType AInterpolation, TAnimationType AType, double ATime, double ADuration);

class TAnimation : public TFwObject {
  FW_CLASS(TAnimation, TFwObject)

public:
  explicit TAnimation(TComponent* AOwner);
  ~TAnimation() override;

  bool GetEnabled() const { return FEnabled; }
  // On starts (outside loading), off stops.
  void SetEnabled(bool Value);
  float Duration = 0.2f;
  float Delay = 0;
  bool Loop = false;
  bool AutoReverse = false;
  bool Inverse = false;
  bool Pause = false;
  TInterpolationType Interpolation = TInterpolationType::Linear;
  TAnimationType AnimationType = TAnimationType::In;
  std::string Trigger;
  std::string TriggerInverse;
  std::function<void(TObject*)> OnProcess;
  std::function<void(TObject*)> OnFinish;

  bool GetRunning() const { return FRunning; }
  float GetCurrentTime() const { return FTime; }
  // The time over Duration through the easing curve; 0 while Duration is not positive or a
  // delay remains.
  float NormalizedTime() const;

  virtual void Start();
  virtual void Stop();
  // The animation thread's tick: the explicit tick behind the running and pause gates; a
  // non-looping animation that reaches its end stops and finishes.
  void ProcessTick(float ATime, float ADeltaTime);
  // Time, delay and tick count back to 0, then the first frame.
  void ResetClock();
  // The clock step without the running and pause gates, for baking (OnFinish fires on every
  // step).
  void ProcessExplicitTick(float ADeltaTime);
  int32_t GetTickCount() const { return FTickCount; }
  float GetDelayTime() const { return FDelayTime; }
  // For a clock that drives other animations: its tick count, remaining delay and time taken
  // over, then one process step of this animation.
  void CopyClockFrom(const TAnimation& AClock) {
    FTickCount = AClock.FTickCount;
    FDelayTime = AClock.FDelayTime;
    FTime = AClock.FTime;
  }
  void StepProcess() { ProcessAnimation(); }

protected:
  virtual void FirstFrame() {}
  virtual void ProcessAnimation() {}
  virtual void DoProcess();
  virtual void DoFinish();

  float FTime = 0;
  float FDelayTime = 0;
  int32_t FTickCount = 0;
  bool FRunning = false;
  bool FEnabled = false;

private:
  // Moves the time by ADeltaTime; answers whether a non-looping animation reached its end.
  bool AdvanceTime(float ADeltaTime);
};

// A property reached by a path, and the object that carries it.
struct TPropertyTarget {
  TObject* Instance = nullptr;
  const TPropInfo* Prop = nullptr;
  explicit operator bool() const { return Instance && Prop; }
};

// Resolves APath ("Position.Point", "TransformMatrix", "Child.Position.Point") from ARoot: each
// token before a "." moves to the object a class-typed property holds or, on a TFwObject, to
// the child named like the token (any case) whose class has the next token as a property; a
// token that leads nowhere is skipped. Empty for an empty path or no property.
TPropertyTarget ResolvePropertyPath(TObject* ARoot, std::string_view APath);

// Whether AProp holds a record of type ATypeName ("TPoint3D", ...).
bool IsRecordProperty(const TPropInfo* AProp, std::string_view ATypeName);

class TCustomPropertyAnimation : public TAnimation {
  FW_CLASS(TCustomPropertyAnimation, TAnimation)

public:
  explicit TCustomPropertyAnimation(TComponent* AOwner) : TAnimation(AOwner) {}
  std::string PropertyName;

  // Resolves PropertyName against the parent and keeps what it found.
  bool FindProperty();
  // Starts only when the property is found.
  void Start() override;
  void Stop() override;

protected:
  TPropertyTarget FTarget;  // of the last FindProperty
};

class TKey : public TObject {
  FW_CLASS(TKey, TObject)

public:
  explicit TKey(float AKey = 0) : Key(AKey) {}
  float Key;
};

// Owns its keys, in the order added.
class TKeys : public TObject {
  FW_CLASS(TKeys, TObject)

public:
  TKeys() = default;
  ~TKeys() override { Clear(); }
  TKey* Add(TKey* AKey);
  void Clear();
  int32_t Count() const { return int32_t(FItems.size()); }
  TKey* Items(int32_t AIndex) const { return FItems.at(size_t(AIndex)); }
  // The first neighbouring pair with Key1.Key <= ATime <= Key2.Key; false with fewer than two
  // keys or ATime outside their range.
  bool FindKeys(float ATime, TKey*& AKey1, TKey*& AKey2) const;

private:
  std::vector<TKey*> FItems;
};

// The animations that run: ticked on every message pass of the application (Tick, on the timer
// service's clock); Step drives them in tests with a tick of the test's choice.
class TAniThread {
public:
  static TAniThread& Instance();
  // Whether Instance has made the thread: asking does not make it.
  static bool Exists();
  bool Enabled = true;
  void Add(TAnimation* AAnimation);
  void Remove(TAnimation* AAnimation);
  bool Contains(const TAnimation* AAnimation) const;
  // Ticks every running animation by the time since the previous tick (ATick in seconds); the
  // first tick only sets the origin. Nothing while disabled.
  void Step(double ATick);
  // Step with the timer service's tick.
  void Tick();
  // One step whether enabled or not: running animations ticked from the last to the first
  // (a tick may remove animations); an animation styled "caret" counts its Tag up and is
  // ticked on every twelfth step only.
  void ProcessStep(double ATick);
  double GetTime() const { return FLastTick < 0 ? 0 : FLastTick; }
  double GetDeltaTime() const { return FDeltaTime; }
  int32_t Count() const { return int32_t(FAnimations.size()); }

private:
  TAniThread() = default;
  std::vector<TAnimation*> FAnimations;  // not owned
  double FLastTick = -1;
  double FDeltaTime = 0;
};

}  // namespace quorvel
