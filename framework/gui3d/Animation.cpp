#include "framework/gui3d/Animation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numbers>

#include "framework/gui/Application.h"
#include "framework/gui/TimerService.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TAnimation)
FW_CLASS_IMPL(TCustomPropertyAnimation, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TCustomPropertyAnimation)
FW_CLASS_IMPL(TKey, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TKey)
FW_CLASS_IMPL(TKeys, "Quorvel.Animation")
FW_CLASS_NO_MEMBERS(TKeys)

namespace {

constexpr double Pi = std::numbers::pi;

// Each curve as the "in" form on 0..1; "out" and "in-out" follow from it.
double EaseIn(TInterpolationType AKind, double x) {
  switch (AKind) {
    case TInterpolationType::Linear: return x;
    case TInterpolationType::Quadratic: return x * x;
    case TInterpolationType::Cubic: return x * x * x;
    case TInterpolationType::Quartic: return x * x * x * x;
    case TInterpolationType::Quintic: return x * x * x * x * x;
    case TInterpolationType::Sinusoidal: return 1 - std::cos(x * Pi / 2);
    case TInterpolationType::Exponential: return x == 0 ? 0 : std::pow(2.0, 10 * (x - 1));
    case TInterpolationType::Circular: return 1 - std::sqrt(std::max(0.0, 1 - x * x));
    case TInterpolationType::Elastic: {
      if (x == 0 || x == 1) return x;
      const double p = 0.3, s = p / 4;
      return -std::pow(2.0, 10 * (x - 1)) * std::sin(((x - 1) - s) * (2 * Pi) / p);
    }
    case TInterpolationType::Back: {
      const double s = 1.70158;
      return x * x * ((s + 1) * x - s);
    }
    case TInterpolationType::Bounce: {
      const double y = 1 - x;  // bounce is defined by its "out" form
      double out;
      if (y < 1 / 2.75)
        out = 7.5625 * y * y;
      else if (y < 2 / 2.75)
        out = 7.5625 * (y - 1.5 / 2.75) * (y - 1.5 / 2.75) + 0.75;
      else if (y < 2.5 / 2.75)
        out = 7.5625 * (y - 2.25 / 2.75) * (y - 2.25 / 2.75) + 0.9375;
      else
        out = 7.5625 * (y - 2.625 / 2.75) * (y - 2.625 / 2.75) + 0.984375;
      return 1 - out;
    }
  }
  return x;
}

}  // namespace

double InterpolateValue(TInterpolationType AInterpolation, TAnimationType AType, double ATime, double ADuration) {
  const double x = std::clamp(ATime / ADuration, 0.0, 1.0);
  switch (AType) {
    case TAnimationType::In: return EaseIn(AInterpolation, x);
    case TAnimationType::Out: return 1 - EaseIn(AInterpolation, 1 - x);
    case TAnimationType::InOut:
      return x < 0.5 ? EaseIn(AInterpolation, 2 * x) / 2 : 1 - EaseIn(AInterpolation, 2 - 2 * x) / 2;
  }
  return x;
}

// ---- animation ----------------------------------------------------------------------------------

TAnimation::TAnimation(TComponent* AOwner) : TFwObject(AOwner) {}

TAnimation::~TAnimation() { TAniThread::Instance().Remove(this); }

void TAnimation::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  if (Value) {
    if (!GetComponentState().Contains(csLoading)) Start();
  } else {
    Stop();
  }
}

float TAnimation::NormalizedTime() const {
  if (Duration <= 0 || FDelayTime > 0) return 0;
  return float(InterpolateValue(Interpolation, AnimationType, FTime, Duration));
}

void TAnimation::Start() {
  if (FRunning) return;
  FDelayTime = Delay;
  FRunning = true;
  FTime = Inverse ? Duration : 0;
  FTickCount = 0;
  if (Delay <= 0) {
    FirstFrame();
    ProcessAnimation();
    DoProcess();
  }
  TAniThread::Instance().Add(this);
}

void TAnimation::Stop() {
  if (!FRunning) return;
  TAniThread::Instance().Remove(this);
  FRunning = false;
  FTime = Inverse ? 0 : Duration;
  FDelayTime = 0;
}

void TAnimation::ResetClock() {
  FTime = 0;
  FDelayTime = 0;
  FTickCount = 0;
  FirstFrame();
}

void TAnimation::DoProcess() {
  if (OnProcess) OnProcess(this);
}

void TAnimation::DoFinish() {
  if (OnFinish) OnFinish(this);
}

bool TAnimation::AdvanceTime(float ADeltaTime) {
  FTime += Inverse ? -ADeltaTime : ADeltaTime;
  if (FTime >= Duration) {
    FTime = Duration;
    if (Loop) {
      if (AutoReverse) {
        Inverse = true;
        FTime = Duration;
      } else {
        FTime = 0;
      }
    } else if (AutoReverse && FTickCount == 0) {
      ++FTickCount;
      Inverse = true;
      FTime = Duration;
    } else {
      return true;
    }
  } else if (FTime <= 0) {
    FTime = 0;
    if (Loop) {
      if (AutoReverse) {
        Inverse = false;
        FTime = 0;
      } else {
        FTime = Duration;
      }
    } else if (AutoReverse && FTickCount == 0) {
      ++FTickCount;
      Inverse = false;
      FTime = 0;
    } else {
      return true;
    }
  }
  return false;
}

void TAnimation::ProcessExplicitTick(float ADeltaTime) {
  if (GetComponentState().Contains(csDestroying) || GetComponentState().Contains(csDesigning)) return;
  if (Delay > 0 && FDelayTime != 0) {
    if (FDelayTime > 0) {
      FDelayTime -= ADeltaTime;
      if (FDelayTime <= 0) {
        FDelayTime = 0;
        FTime = Inverse ? Duration : 0;
        FirstFrame();
        ProcessAnimation();
        DoProcess();
      }
    }
    return;
  }
  AdvanceTime(ADeltaTime);
  ProcessAnimation();
  DoProcess();
  DoFinish();
}

void TAnimation::ProcessTick(float, float ADeltaTime) {
  if (GetComponentState().Contains(csDestroying)) return;
  if (!FRunning || Pause) return;
  if (Delay > 0 && FDelayTime != 0) {
    ProcessExplicitTick(ADeltaTime);
    return;
  }
  const bool ended = AdvanceTime(ADeltaTime);
  ProcessAnimation();
  DoProcess();
  if (ended) {
    TAniThread::Instance().Remove(this);
    FRunning = false;
    DoFinish();
  }
}

// ---- property animation ------------------------------------------------------------------------

TPropertyTarget ResolvePropertyPath(TObject* ARoot, std::string_view APath) {
  if (!ARoot || APath.empty()) return {};
  TObject* current = ARoot;
  std::string_view rest = APath;
  for (size_t dot = rest.find('.'); dot != std::string_view::npos; dot = rest.find('.')) {
    const std::string_view token = rest.substr(0, dot);
    rest = rest.substr(dot + 1);
    const TPropInfo* prop = current->ClassType()->FindProperty(token);
    if (prop && prop->Kind == tkClass && prop->IsReadable()) {
      if (TObject* held = prop->GetValue(current).AsObject()) {
        current = held;
        continue;
      }
      return {};
    }
    if (auto* fw = dynamic_cast<TFwObject*>(current)) {
      for (TFwObject* child : fw->Children())
        if (SameText(child->GetName(), token) && child->ClassType()->FindProperty(rest.substr(0, rest.find('.')))) {
          current = child;
          break;
        }
    }
  }
  const TPropInfo* prop = current->ClassType()->FindProperty(rest);
  if (!prop) return {};
  return {current, prop};
}

bool IsRecordProperty(const TPropInfo* AProp, std::string_view ATypeName) {
  return AProp && AProp->Kind == tkRecord && AProp->TypeName == ATypeName;
}

bool TCustomPropertyAnimation::FindProperty() {
  FTarget = ResolvePropertyPath(GetParent(), PropertyName);
  return bool(FTarget);
}

void TCustomPropertyAnimation::Start() {
  if (!FindProperty()) return;
  TAnimation::Start();
}

void TCustomPropertyAnimation::Stop() {
  TAnimation::Stop();
}

// ---- keys ---------------------------------------------------------------------------------------

TKey* TKeys::Add(TKey* AKey) {
  FItems.push_back(AKey);
  return AKey;
}

void TKeys::Clear() {
  std::vector<TKey*> gone;
  gone.swap(FItems);
  for (TKey* k : gone) Free(k);
}

bool TKeys::FindKeys(float ATime, TKey*& AKey1, TKey*& AKey2) const {
  AKey1 = AKey2 = nullptr;
  if (FItems.size() < 2) return false;
  for (size_t i = 0; i + 1 < FItems.size(); ++i)
    if (ATime >= FItems[i]->Key && ATime <= FItems[i + 1]->Key) {
      AKey1 = FItems[i];
      AKey2 = FItems[i + 1];
      return true;
    }
  return false;
}

// ---- animation thread ---------------------------------------------------------------------------

namespace {
std::atomic<bool> GAniThreadMade{false};
}

TAniThread& TAniThread::Instance() {
  static TAniThread instance;
  GAniThreadMade = true;
  return instance;
}

bool TAniThread::Exists() { return GAniThreadMade; }

void TAniThread::Add(TAnimation* AAnimation) {
  if (!Contains(AAnimation)) FAnimations.push_back(AAnimation);
}

void TAniThread::Remove(TAnimation* AAnimation) {
  FAnimations.erase(std::remove(FAnimations.begin(), FAnimations.end(), AAnimation), FAnimations.end());
}

bool TAniThread::Contains(const TAnimation* AAnimation) const {
  return std::find(FAnimations.begin(), FAnimations.end(), AAnimation) != FAnimations.end();
}

void TAniThread::Step(double ATick) {
  if (Enabled) ProcessStep(ATick);
}

void TAniThread::ProcessStep(double ATick) {
  const double delta = FLastTick < 0 ? 0 : ATick - FLastTick;
  FLastTick = ATick;
  FDeltaTime = delta;
  if (delta <= 0) return;
  for (int i = int(FAnimations.size()) - 1; i >= 0; i = std::min(i - 1, int(FAnimations.size()) - 1)) {
    TAnimation* a = FAnimations[size_t(i)];
    if (!a->GetRunning()) continue;
    if (SameText(a->GetStyleName(), "caret")) {
      a->SetTag(a->GetTag() + 1);
      if (a->GetTag() % 12 != 0) continue;
    }
    a->ProcessTick(float(ATick), float(delta));
  }
}

void TAniThread::Tick() {
  if (IFwTimerService* service = TPlatformServices::Current().GetTimerService()) Step(service->GetTick());
}

namespace {

// Every message pass ticks the running animations by the time gone since the pass before.
int32_t GTickHandle = 0;
void InitAnimationUnit() {
  GTickHandle = GetApplication().AddTickHandler([] { TAniThread::Instance().Tick(); });
}
void FinAnimationUnit() {
  GetApplication().RemoveTickHandler(GTickHandle);
  GTickHandle = 0;
}
const TUnitRegistration AnimationUnit{{"Fw.Ani", {"Fw.Application"}, &InitAnimationUnit, &FinAnimationUnit}};

}  // namespace

}  // namespace quorvel
