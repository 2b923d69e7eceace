#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "lib/utils/UtilsQuaternions.h"
#include "tests/defs/DefTypesTestUtil.h"
#include "tests/support/Raised.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;
constexpr float kInterpPi = 3.14159265358979f;

std::vector<float> Times(const TPoint3DInterpolatorDef& ATrack) {
  std::vector<float> times;
  for (const auto& key : ATrack.GetKeys()) times.push_back(key->Key);
  return times;
}

void ExpectMatrixClose(const TMatrix3D& A, const TMatrix3D& B, float ATolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(A.Get(r, c), B.Get(r, c), ATolerance) << r << "," << c;
}

// Equal up to sign (q and -q are one rotation).
void ExpectSameRotation(const TQuat& A, const TQuat& B) {
  const float sign = A.X * B.X + A.Y * B.Y + A.Z * B.Z + A.W * B.W < 0 ? -1.0f : 1.0f;
  EXPECT_NEAR(A.X, sign * B.X, 1e-4f);
  EXPECT_NEAR(A.Y, sign * B.Y, 1e-4f);
  EXPECT_NEAR(A.Z, sign * B.Z, 1e-4f);
  EXPECT_NEAR(A.W, sign * B.W, 1e-4f);
}

TEST(DefTypesInterpolators, NewTrackAndItsJSON) {
  TOwned<TPoint3DInterpolatorDef> track(New<TPoint3DInterpolatorDef>(nullptr));
  EXPECT_EQ(track->GetDuration(), 1.0f);
  EXPECT_TRUE(track->GetLoop());
  EXPECT_EQ(track->GetPath(), "");
  EXPECT_EQ(track->KeyCount(), 0);
  track->SetId("p");
  track->SetPath("Position.Point");
  track->AddKey(0.5f, TPoint3D(1, 2, 3), TInterpolationType::Bounce);
  EXPECT_EQ(TakeText(track->ToJSON()),
            R"({"Type":"Quorvel.DefTypes.TPoint3DInterpolatorDef","Id":"p","Type":"TPoint3DInterpolatorDef","Stage":null,"Duration":1,"Loop":true,"Path":"Position.Point","Keys":[{"Key":0.5,"Interpolation":10,"Value":"1.0000000 2.0000000 3.0000000"}]})");
  EXPECT_EQ(EnumToString(TInterpolationType::Elastic), "Elastic");
}

TEST(DefTypesInterpolators, AddKeysAndNormalise) {
  TOwned<TPoint3DInterpolatorDef> t(New<TPoint3DInterpolatorDef>(nullptr));
  t->AddKeys({0, 0.5f, 1}, {TPoint3D(1, 1, 1)}, {});
  ASSERT_EQ(t->KeyCount(), 3);
  for (const auto& key : t->GetKeys()) {
    EXPECT_EQ(key->Value, TPoint3D(1, 1, 1));
    EXPECT_EQ(key->Interpolation, TInterpolationType::Linear);
  }
  t->AddKeys({2}, {TPoint3D(5, 0, 0), TPoint3D(6, 0, 0)}, {TInterpolationType::Cubic, TInterpolationType::Back});
  EXPECT_EQ(t->KeyCount(), 4);  // values beyond the times are ignored, keys appended
  EXPECT_EQ(t->GetKeys()[3]->Interpolation, TInterpolationType::Cubic);
  EXPECT_EQ(MessageOf([&] { t->AddKeys({0, 1}, {}, {}); }), "failed to add multiple interpolator keys - array length differs");
  t->AddKeys({}, {TPoint3D(), TPoint3D()}, {});
  EXPECT_EQ(t->KeyCount(), 4);

  struct TCase {
    std::vector<float> Keys;
    float Duration;
    std::vector<float> Times;
    float NewDuration;
  };
  const TCase cases[] = {
      {{0.25f}, 0, {0.25f, 1}, 1},
      {{0.25f}, 3, {0.25f, 1}, 3},
      {{0, 1.5f, 3}, 1, {0, 0.5f, 1}, 3},
      {{0, 1 + 5e-7f}, 7, {0, 1 + 5e-7f}, 1 + 5e-7f},
      {{0.5f, 0}, 7, {0.5f, 0}, 0},
      {{}, 7, {}, 7},
  };
  for (const TCase& c : cases) {
    TOwned<TPoint3DInterpolatorDef> n(New<TPoint3DInterpolatorDef>(nullptr));
    n->SetDuration(c.Duration);
    for (float k : c.Keys) n->AddKey(k, TPoint3D(k, 0, 0), TInterpolationType::Quartic);
    n->NormalizeKeyTimeValues();
    EXPECT_EQ(Times(*n), c.Times);
    EXPECT_FLOAT_EQ(n->GetDuration(), c.NewDuration);
    if (c.Keys.size() == 1) {
      EXPECT_EQ(n->GetKeys()[1]->Value, n->GetKeys()[0]->Value);
      EXPECT_EQ(n->GetKeys()[1]->Interpolation, TInterpolationType::Quartic);
    }
  }
}

TEST(DefTypesInterpolators, FindKeysAndLinearPoints) {
  TOwned<TPoint3DInterpolatorDef> t(New<TPoint3DInterpolatorDef>(nullptr));
  float time = -1;
  TInterpolationType kind = TInterpolationType::Back;
  TPoint3D value(9, 9, 9);
  EXPECT_FALSE(t->ComputeInterpolatedKey(0.5f, time, kind, value));
  t->AddKey(0, TPoint3D(0, 0, 0), TInterpolationType::Cubic);
  t->AddKey(0.5f, TPoint3D(10, 0, 0), TInterpolationType::Cubic);
  t->AddKey(1, TPoint3D(20, 0, 0), TInterpolationType::Cubic);
  TPoint3DInterpolatorDef::TKey *a, *b;
  ASSERT_TRUE(t->FindKeys(0.5f, a, b));
  EXPECT_EQ(a, t->GetKeys()[0].get());  // an inner key's time selects the pair it ends
  EXPECT_EQ(b, t->GetKeys()[1].get());
  EXPECT_FALSE(t->FindKeys(1.2f, a, b));
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(b, nullptr);

  struct TCase {
    float At;
    TPoint3D Value;
  };
  for (const TCase& c : {TCase{0.75f, {15, 0, 0}}, TCase{0.5f, {10, 0, 0}}, TCase{0, {0, 0, 0}}}) {
    ASSERT_TRUE(t->ComputeInterpolatedKey(c.At, time, kind, value));
    EXPECT_EQ(value, c.Value);
    EXPECT_EQ(time, c.At);
    EXPECT_EQ(kind, TInterpolationType::Linear);
  }
  EXPECT_FALSE(t->ComputeInterpolatedKey(-0.1f, time, kind, value));
  EXPECT_EQ(value, TPoint3D(0, 0, 0));  // untouched

  // A step: two keys at one time give the first value up to it and the second after it.
  TOwned<TPoint3DInterpolatorDef> step(New<TPoint3DInterpolatorDef>(nullptr));
  step->AddKey(0, TPoint3D(1, 0, 0), TInterpolationType::Linear);
  step->AddKey(0.5f, TPoint3D(1, 0, 0), TInterpolationType::Linear);
  step->AddKey(0.5f, TPoint3D(2, 0, 0), TInterpolationType::Linear);
  step->AddKey(1, TPoint3D(2, 0, 0), TInterpolationType::Linear);
  for (const TCase& c : {TCase{0.25f, {1, 0, 0}}, TCase{0.5f, {1, 0, 0}}, TCase{0.5001f, {2, 0, 0}}}) {
    ASSERT_TRUE(step->ComputeInterpolatedKey(c.At, time, kind, value));
    EXPECT_EQ(value, c.Value) << c.At;
  }
  TOwned<TPoint3DInterpolatorDef> same(New<TPoint3DInterpolatorDef>(nullptr));
  same->AddKey(0.5f, TPoint3D(3, 0, 0), TInterpolationType::Linear);
  same->AddKey(0.5f, TPoint3D(4, 0, 0), TInterpolationType::Linear);
  ASSERT_TRUE(same->ComputeInterpolatedKey(0.5f, time, kind, value));
  EXPECT_EQ(value, TPoint3D(3, 0, 0));  // no 0/0
}

TEST(DefTypesInterpolators, RotationTracksGiveTheirKeysBack) {
  const TQuat from(0, 0, 0, 1), to(0, 0.70710678f, 0, 0.70710678f), half(0, 0.38268343f, 0, 0.92387953f);
  TOwned<TVector3DInterpolatorDef> vector(New<TVector3DInterpolatorDef>(nullptr));
  vector->AddKey(0, from.ToVector3D(), TInterpolationType::Linear);
  vector->AddKey(1, to.ToVector3D(), TInterpolationType::Linear);
  TOwned<TQuaternion3DInterpolatorDef> quaternion(New<TQuaternion3DInterpolatorDef>(nullptr));
  quaternion->AddKey(0, from.ToQuaternion3D(), TInterpolationType::Linear);
  quaternion->AddKey(1, to.ToQuaternion3D(), TInterpolationType::Linear);
  struct TCase {
    float At;
    TQuat Expected;
  };
  for (const TCase& c : {TCase{0, from}, TCase{1, to}, TCase{0.5f, half}}) {
    float time;
    TInterpolationType kind;
    TVector3D v;
    ASSERT_TRUE(vector->ComputeInterpolatedKey(c.At, time, kind, v));
    ExpectSameRotation(TQuat::Create(v), c.Expected);
    TQuaternion3D q;
    ASSERT_TRUE(quaternion->ComputeInterpolatedKey(c.At, time, kind, q));
    ExpectSameRotation(TQuat(q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart), c.Expected);
  }
  // The helper reads a framework rotation matrix back as its own quaternion.
  const TQuaternion3D q(TPoint3D(1, 2, 3), 0.7f);
  ExpectSameRotation(TQuat::FromRotationMatrix(q.ToMatrix3D()), TQuat(q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart));
  ExpectSameRotation(TQuat::FromRotationMatrix(TMatrix3D::CreateRotation({0, 1, 0}, kInterpPi / 2)), to);
}

TEST(DefTypesInterpolators, MatrixTrackBlendsTranslationRotationAndScale) {
  TOwned<TTransformationInterpolatorDef> t(New<TTransformationInterpolatorDef>(nullptr));
  t->AddKey(0, TMatrix3D::Identity(), TInterpolationType::Linear);
  t->AddKey(1, TMatrix3D::CreateRotation({0, 1, 0}, kInterpPi / 2) * TMatrix3D::CreateTranslation({2, 0, 0}),
            TInterpolationType::Linear);
  float time;
  TInterpolationType kind;
  TMatrix3D m;
  ASSERT_TRUE(t->ComputeInterpolatedKey(0.5f, time, kind, m));
  ExpectMatrixClose(m, TMatrix3D::CreateRotation({0, 1, 0}, kInterpPi / 4) * TMatrix3D::CreateTranslation({1, 0, 0}), 1e-5f);
  ASSERT_TRUE(t->ComputeInterpolatedKey(1, time, kind, m));
  ExpectMatrixClose(m, TMatrix3D::CreateRotation({0, 1, 0}, kInterpPi / 2) * TMatrix3D::CreateTranslation({2, 0, 0}), 1e-5f);

  TOwned<TTransformationInterpolatorDef> s(New<TTransformationInterpolatorDef>(nullptr));
  s->AddKey(0, TMatrix3D::Identity(), TInterpolationType::Linear);
  s->AddKey(1, TMatrix3D::CreateScaling({3, 3, 3}), TInterpolationType::Linear);
  ASSERT_TRUE(s->ComputeInterpolatedKey(0.5f, time, kind, m));
  ExpectMatrixClose(m, TMatrix3D::CreateScaling({2, 2, 2}), 1e-5f);

  TOwned<TMeshInterpolatorDef> mesh(New<TMeshInterpolatorDef>(nullptr));
  std::vector<TPoint3D> points;
  EXPECT_EQ(MessageOf([&] { mesh->ComputeInterpolatedKey(0, time, kind, points); }),
            "TMeshInterpolatorDef.ComputeInterpolatedKey not implemented yet");
}

TEST(DefTypesInterpolators, ReadingAndItsMessages) {
  TOwned<TQuaternion3DInterpolatorDef> q(New<TQuaternion3DInterpolatorDef>(nullptr));
  q->FromJSON(nullptr, ParseObject(R"({"Id":"q","Path":"Quaternion","Keys":[
      {"Key":0,"Interpolation":2.5,"Value":"0 0 0 1"},{"Key":1,"Interpolation":11,"Value":"0 1 0 0"}]})")
                           .get());
  EXPECT_FALSE(q->GetLoop());     // absent "Loop" reads false
  EXPECT_EQ(q->GetDuration(), 1);  // absent "Duration" reads 1
  ASSERT_EQ(q->KeyCount(), 2);
  EXPECT_EQ(q->GetKeys()[0]->Interpolation, TInterpolationType::Cubic);  // 2.5 to the even 2
  EXPECT_EQ(int32_t(q->GetKeys()[1]->Interpolation), 11);                // kept unchecked
  EXPECT_EQ(q->GetKeys()[1]->Value, TQuaternion3D(0, 1, 0, 0));

  // Each track kind reads what it wrote.
  TOwned<TMeshInterpolatorDef> mesh(New<TMeshInterpolatorDef>(nullptr));
  mesh->SetPath("Mesh");
  mesh->SetDuration(2.5f);
  mesh->SetLoop(false);
  mesh->AddKey(0.25f, {TPoint3D(1, 2, 3), TPoint3D(4, 5, 6)}, TInterpolationType::Sinusoidal);
  const std::string text = TakeText(mesh->ToJSON());
  TOwned<TMeshInterpolatorDef> back(New<TMeshInterpolatorDef>(nullptr));
  back->FromJSON(nullptr, ParseObject(text).get());
  EXPECT_EQ(TakeText(back->ToJSON()), text);

  struct TCase {
    const char* Json;
    const char* Message;
  };
  const TCase cases[] = {
      {R"({"Keys":[]})", "failed to load interpolator path - property path value not found"},
      {R"({"Path":null})", "failed to load interpolator path - property path value not found"},
      {R"({"Path":"p","Keys":[{"Interpolation":0,"Value":"1 2 3"}]})", "failed to load interpolator key - key value not found"},
      {R"({"Path":"p","Keys":[{"Key":0,"Value":"1 2 3"}]})",
       "failed to load interpolator key - key interpolation method not found"},
      {R"({"Path":"p","Keys":[{"Key":0,"Interpolation":0}]})", "failed to load interpolator key - key value not found"},
      {R"({"Path":"p","Keys":[{"Key":"0","Interpolation":0,"Value":"1 2 3"}]})", "Invalid class typecast"},
      {R"({"Path":"p","Keys":{}})", "Invalid class typecast"},
      {R"({"Path":"p","Duration":1e39})", "failed to load interpolator duration - value out of range"},
      {R"({"Path":"p","Keys":[{"Key":-1e300,"Interpolation":0,"Value":"1 2 3"}]})",
       "failed to load interpolator key - value out of range"},
      {R"({"Path":"p","Keys":[1]})", "Invalid class typecast"},
  };
  for (const TCase& c : cases) {
    TOwned<TPoint3DInterpolatorDef> p(New<TPoint3DInterpolatorDef>(nullptr));
    EXPECT_EQ(MessageOf([&] { p->FromJSON(nullptr, ParseObject(c.Json).get()); }), c.Message) << c.Json;
  }
}

}  // namespace
}  // namespace quorvel
