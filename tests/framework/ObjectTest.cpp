// Object model: TObject, metaclasses, the class registry, published members, New/Free.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/RecordInfo.h"

namespace quorvel {
namespace object_test {

// --- A small hierarchy -------------------------------------------------------------------

int GDestroyed = 0;
std::vector<std::string> GLog;

class TAnimal : public TObject {
  FW_CLASS(TAnimal, TObject)
public:
  TAnimal() = default;
  ~TAnimal() override { ++GDestroyed; }
  void AfterConstruction() override { GLog.push_back("after:" + Sound()); }
  void BeforeDestruction() override { GLog.push_back("before:" + Sound()); }
  virtual std::string Sound() const { return "..."; }

  float GetWeight() const { return FWeight; }
  void SetWeight(float v) { FWeight = v; }
  const std::string& GetName() const { return FName; }
  void SetName(const std::string& v) { FName = v; }
  int GetLegs() const { return 4; }
  std::string Speak(int times, const std::string& suffix) {
    std::string s;
    for (int i = 0; i < times; ++i) s += Sound();
    return s + suffix;
  }
  void Rename(std::string name) { FName = std::move(name); }

  float FWeight = 1.5f;
  std::string FName = "anon";
  TAnimal* FFriend = nullptr;
  std::vector<int> FScores;
};
FW_CLASS_IMPL(TAnimal, "Quorvel.Test.Animals")
void TAnimal::Register(ClassBuilder<TAnimal>& b) {
  b.Prop("Weight", &Self::GetWeight, &Self::SetWeight)
      .Prop("Name", &Self::GetName, &Self::SetName)
      .Prop("Legs", &Self::GetLegs)
      .Prop("Friend", [](const TAnimal* a) { return a->FFriend; },
            [](TAnimal* a, TAnimal* f) { a->FFriend = f; })
      .Method("Speak", &Self::Speak)
      .Method("Rename", &Self::Rename)
      .Field("FWeight", &Self::FWeight)
      .Field("FName", &Self::FName)
      .Field("FFriend", &Self::FFriend, Reference)
      .Field("FScores", &Self::FScores);
}

class TDog : public TAnimal {
  FW_CLASS(TDog, TAnimal)
public:
  std::string Sound() const override { return "woof"; }
  enum class TMood { Calm = 0, Happy = 1, Grumpy = 2 };
  FW_ENUM_MEMBER(TMood, Calm, Happy, Grumpy)
  TMood FMood = TMood::Calm;
  bool GetGood() const { return FGood; }
  void SetGood(bool v) { FGood = v; }
  bool FGood = true;
  TOwned<TAnimal> FPuppy;
};
FW_CLASS_IMPL(TDog, "Quorvel.Test.Animals")
void TDog::Register(ClassBuilder<TDog>& b) {
  b.Prop("Good", &Self::GetGood, &Self::SetGood)
      .PropField("Mood", &Self::FMood)
      .Prop("Legs", [](const TDog*) { return 3; })  // replaces the ancestor's
      .Field("FGood", &Self::FGood)
      .Field("FPuppy", &Self::FPuppy);
}

// Not registered with FW_CLASS: reports its own name, the ancestor's metaclass.
class TStrayDog : public TDog {};

// A same-named class in another unit.
namespace other {
class TDog : public TObject {
  FW_CLASS(TDog, TObject)
};
FW_CLASS_IMPL(TDog, "Quorvel.Test.Other")
FW_CLASS_NO_MEMBERS(TDog)
}  // namespace other

class TAbstractShape : public TObject {
  FW_CLASS(TAbstractShape, TObject)
public:
  virtual double Area() const = 0;
};
FW_CLASS_IMPL(TAbstractShape, "Quorvel.Test.Shapes")
FW_CLASS_NO_MEMBERS(TAbstractShape)

// --- Metaclass subclass with virtual class functions ---------------------------------------

class TContext : public TObject {
public:
  explicit TContext(int size) : FSize(size) {}
  int FSize;
};

struct TContextClass : TClass {
  using TClass::TClass;
  virtual std::string PlatformGetVendorName() const { return "none"; }
  virtual int MaxTextureSize() const { return 0; }
  // A virtual constructor with arguments of its own.
  virtual TContext* CreateWithSize(int size) const = 0;
};

class TSoftContext : public TContext {
  FW_CLASS_META(TSoftContext, TObject, TContextClass)
public:
  using TContext::TContext;
};

struct TSoftContextClass : TContextClass {
  using TContextClass::TContextClass;
  std::string PlatformGetVendorName() const override { return "Soft"; }
  int MaxTextureSize() const override { return 2048; }
  TContext* CreateWithSize(int size) const override { return New<TSoftContext>(size); }
};

class TGLContext : public TSoftContext {
  FW_CLASS_META(TGLContext, TSoftContext, TContextClass)
public:
  using TSoftContext::TSoftContext;
};

struct TGLContextClass : TSoftContextClass {
  using TSoftContextClass::TSoftContextClass;
  std::string PlatformGetVendorName() const override { return "Mesa"; }
  TContext* CreateWithSize(int size) const override { return New<TGLContext>(size); }
};

// Each class's metaclass instance is of its own metaclass type.
FW_CLASS_IMPL_META(TSoftContext, "Quorvel.Test.Context", TSoftContextClass)
FW_CLASS_NO_MEMBERS(TSoftContext)

FW_CLASS_IMPL_META(TGLContext, "Quorvel.Test.Context", TGLContextClass)
FW_CLASS_NO_MEMBERS(TGLContext)

class ObjectTest : public ::testing::Test {
protected:
  void SetUp() override {
    GDestroyed = 0;
    GLog.clear();
    RegisterClasses({TAnimal::StaticClass(), TDog::StaticClass(), other::TDog::StaticClass(),
                     TAbstractShape::StaticClass()});
  }
  void TearDown() override {
    UnRegisterClasses({TAnimal::StaticClass(), TDog::StaticClass(), other::TDog::StaticClass(),
                       TAbstractShape::StaticClass()});
  }
};

// --- Tests ---------------------------------------------------------------------------------

TEST_F(ObjectTest, ClassNamesAndInheritance) {
  TOwned<TDog> dog(New<TDog>());
  EXPECT_EQ(dog->ClassName(), "TDog");
  EXPECT_EQ(dog->QualifiedClassName(), "Quorvel.Test.Animals.TDog");
  EXPECT_EQ(dog->UnitName(), "Quorvel.Test.Animals");
  EXPECT_EQ(dog->ClassType(), TDog::StaticClass());
  EXPECT_EQ(dog->ClassType()->ClassParent(), TAnimal::StaticClass());
  EXPECT_EQ(TAnimal::StaticClass()->ClassParent(), TObject::StaticClass());
  EXPECT_EQ(TObject::StaticClass()->ClassParent(), nullptr);
  EXPECT_EQ(TObject::StaticClass()->QualifiedClassName(), "Fw.Rtl.TObject");
  EXPECT_TRUE(dog->InheritsFrom(TAnimal::StaticClass()));
  EXPECT_TRUE(dog->InheritsFrom(TObject::StaticClass()));
  EXPECT_FALSE(dog->InheritsFrom(other::TDog::StaticClass()));
  EXPECT_TRUE(dog->Is<TAnimal>());
  EXPECT_FALSE(dog->Is<other::TDog>());
  EXPECT_EQ(dog->As<TAnimal>(), dog.get());
  EXPECT_THROW(dog->As<other::TDog>(), EInvalidCast);
  try {
    dog->As<other::TDog>();
  } catch (const EInvalidCast& e) {
    EXPECT_STREQ(e.what(), "Invalid class typecast");
  }
  TObject* none = nullptr;
  EXPECT_FALSE(Is<TDog>(none));
  EXPECT_EQ(As<TDog>(none), nullptr);
}

TEST_F(ObjectTest, UnregisteredSubclassKeepsItsOwnName) {
  TOwned<TStrayDog> stray(New<TStrayDog>());
  EXPECT_EQ(stray->ClassName(), "TStrayDog");
  EXPECT_EQ(stray->ClassType(), TDog::StaticClass());
  EXPECT_TRUE(stray->InheritsFrom(TDog::StaticClass()));
}

TEST_F(ObjectTest, NewRunsAfterConstructionAndFreeRunsBeforeDestruction) {
  TDog* dog = New<TDog>();
  ASSERT_EQ(GLog.size(), 1u);
  EXPECT_EQ(GLog[0], "after:woof");  // virtual dispatch reaches the most-derived override
  Free(dog);
  ASSERT_EQ(GLog.size(), 2u);
  EXPECT_EQ(GLog[1], "before:woof");
  EXPECT_EQ(GDestroyed, 1);
  Free(nullptr);  // accepted
  TAnimal* a = New<TAnimal>();
  FreeAndNil(a);
  EXPECT_EQ(a, nullptr);
  EXPECT_EQ(GDestroyed, 2);
  FreeAndNil(a);  // null again: nothing
  EXPECT_EQ(GDestroyed, 2);
}

struct TFailing : TObject {
  static inline int Destroyed = 0;
  ~TFailing() override { ++Destroyed; }
  void AfterConstruction() override { throw EAbort("no"); }
  void BeforeDestruction() override { throw EAbort("late"); }
};

TEST_F(ObjectTest, FailedAfterConstructionFreesTheObject) {
  TFailing::Destroyed = 0;
  EXPECT_THROW(New<TFailing>(), EAbort);
  EXPECT_EQ(TFailing::Destroyed, 1);
  TFailing* f = new TFailing;
  EXPECT_THROW(Free(f), EAbort);  // still deleted
  EXPECT_EQ(TFailing::Destroyed, 2);
}

TEST_F(ObjectTest, RegistryBySimpleAndQualifiedName) {
  EXPECT_EQ(FindClass("TAnimal"), TAnimal::StaticClass());
  EXPECT_EQ(FindClass("tanimal"), TAnimal::StaticClass());  // ASCII case-insensitive
  EXPECT_EQ(FindClass("Quorvel.Test.Animals.TDog"), TDog::StaticClass());
  EXPECT_EQ(FindClass("Quorvel.Test.Other.TDog"), other::TDog::StaticClass());
  // Same simple name in two units: the first registered answers.
  EXPECT_EQ(GetClass("TDog"), TDog::StaticClass());
  EXPECT_EQ(GetClass("TCat"), nullptr);
  EXPECT_EQ(GetClass("Quorvel.Test.Animals.TCat"), nullptr);
  EXPECT_THROW(FindClass("TCat"), EClassNotFound);
  try {
    FindClass("TCat");
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_STREQ(e.what(), "Class TCat not found");
  }
}

TEST_F(ObjectTest, RegistrationIsExplicitAndRepeatable) {
  RegisterClass(TDog::StaticClass());  // again: harmless
  RegisterClasses({TDog::StaticClass(), TAnimal::StaticClass()});
  size_t dogs = 0;
  for (const TClass* c : RegisteredClasses()) dogs += c == TDog::StaticClass();
  EXPECT_EQ(dogs, 1u);
  UnRegisterClass(TDog::StaticClass());
  EXPECT_FALSE(IsClassRegistered(TDog::StaticClass()));
  EXPECT_EQ(GetClass("TDog"), other::TDog::StaticClass());  // the other unit's now answers
  EXPECT_EQ(GetClass("Quorvel.Test.Animals.TDog"), nullptr);
  UnRegisterClass(TDog::StaticClass());  // not registered: harmless
  EXPECT_EQ(GetClass("TSoftContext"), nullptr);  // never registered
  RegisterClass(TDog::StaticClass());
  EXPECT_EQ(GetClass("Quorvel.Test.Animals.TDog"), TDog::StaticClass());
}

TEST_F(ObjectTest, VirtualConstructorThroughTheClass) {
  const TClass* cls = FindClass("TDog");
  TObject* obj = cls->Create();
  EXPECT_EQ(GLog.front(), "after:woof");
  EXPECT_EQ(obj->ClassName(), "TDog");
  Free(obj);
  TAnimal* a = FindClass("TAnimal")->CreateAs<TAnimal>();
  EXPECT_EQ(a->Sound(), "...");
  Free(a);
  EXPECT_TRUE(TAbstractShape::StaticClass()->IsAbstract());
  EXPECT_THROW(TAbstractShape::StaticClass()->Create(), EAbstractError);
}

TEST_F(ObjectTest, PropertiesByNameThroughTValue) {
  TOwned<TDog> dog(New<TDog>());
  EXPECT_FLOAT_EQ(GetPropValue(dog.get(), "Weight").AsExtended(), 1.5);
  SetPropValue(dog.get(), "weight", 7);  // an integer reads as a float
  EXPECT_FLOAT_EQ(dog->GetWeight(), 7.0f);
  SetPropValue(dog.get(), "Name", "Rex");
  EXPECT_EQ(dog->GetName(), "Rex");
  EXPECT_EQ(GetPropValue(dog.get(), "Name").AsString(), "Rex");
  EXPECT_EQ(GetPropValue(dog.get(), "Legs").AsInteger(), 3);  // the descendant's
  EXPECT_EQ(GetPropValue(dog.get(), "Good").Kind(), tkEnumeration);
  SetPropValue(dog.get(), "Good", false);
  EXPECT_FALSE(dog->GetGood());
  EXPECT_THROW(SetPropValue(dog.get(), "Legs", 5), EPropertyError);  // read-only
  EXPECT_THROW(GetPropValue(dog.get(), "Tail"), EPropertyError);
  EXPECT_THROW(SetPropValue(dog.get(), "Weight", "heavy"), EInvalidCast);  // string is no float

  // Class-typed property: exposes the object, with its declared class.
  const TPropInfo* fr = dog->ClassType()->FindProperty("Friend");
  ASSERT_NE(fr, nullptr);
  EXPECT_EQ(fr->Kind, tkClass);
  EXPECT_EQ(fr->PropClass, TAnimal::StaticClass());
  EXPECT_EQ(fr->TypeName, "TAnimal");
  TOwned<TAnimal> pal(New<TAnimal>());
  SetPropValue(dog.get(), "Friend", pal.get());
  EXPECT_EQ(GetPropValue(dog.get(), "Friend").AsObject(), pal.get());
  TOwned<other::TDog> stranger(New<other::TDog>());
  EXPECT_THROW(SetPropValue(dog.get(), "Friend", stranger.get()), EInvalidCast);

  // Ancestors first; the descendant's Legs replaces the ancestor's in its place.
  std::vector<std::string> names;
  for (const TPropInfo* p : TDog::StaticClass()->GetProperties()) names.push_back(p->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"Weight", "Name", "Legs", "Friend", "Good", "Mood"}));
  EXPECT_EQ(TDog::StaticClass()->FindProperty("Legs")->Owner, TDog::StaticClass());
  EXPECT_EQ(TDog::StaticClass()->FindProperty("Weight")->TypeName, "Single");
}

TEST_F(ObjectTest, EnumerationPropertiesFromText) {
  TOwned<TDog> dog(New<TDog>());
  const TPropInfo* mood = TDog::StaticClass()->FindProperty("Mood");
  ASSERT_NE(mood, nullptr);
  EXPECT_EQ(mood->Kind, tkEnumeration);
  EXPECT_EQ(mood->TypeName, "TMood");
  ASSERT_NE(mood->ValueType->FromTextFn, nullptr);
  mood->SetValue(dog.get(), mood->ValueType->FromTextFn("Grumpy"));  // as form streaming does
  EXPECT_EQ(dog->FMood, TDog::TMood::Grumpy);
  EXPECT_EQ(GetPropValue(dog.get(), "Mood").ToString(), "Grumpy");
  EXPECT_THROW(mood->ValueType->FromTextFn("Sleepy"), EConvertError);
  EXPECT_THROW(SetPropValue(dog.get(), "Mood", "Happy"), EInvalidCast);  // a string is no enum
}

// A class whose constructor takes its owner (the component pattern): the class's factory
// passes the owner through TOwnerArg.
class TOwnerBase : public TObject {
  FW_CLASS(TOwnerBase, TObject)
public:
  using TOwnerArg = TOwnerBase*;
  explicit TOwnerBase(TOwnerBase* owner) : Owner(owner) {}
  TOwnerBase* Owner;
};
FW_CLASS_IMPL(TOwnerBase, "Quorvel.Test.Owned")
FW_CLASS_NO_MEMBERS(TOwnerBase)

class TOwnedPart : public TOwnerBase {
  FW_CLASS(TOwnedPart, TOwnerBase)
public:
  using TOwnerBase::TOwnerBase;
};
FW_CLASS_IMPL(TOwnedPart, "Quorvel.Test.Owned")
FW_CLASS_NO_MEMBERS(TOwnedPart)

TEST_F(ObjectTest, FactoryPassesTheOwner) {
  TOwned<TOwnerBase> root(TOwnerBase::StaticClass()->CreateAs<TOwnerBase>());
  EXPECT_EQ(root->Owner, nullptr);
  const TClass* cls = TOwnedPart::StaticClass();  // a class reference
  TOwned<TOwnerBase> part(cls->CreateAs<TOwnerBase>(root.get()));
  EXPECT_EQ(part->ClassName(), "TOwnedPart");
  EXPECT_EQ(part->Owner, root.get());
  TOwned<TAnimal> notAnOwner(New<TAnimal>());
  EXPECT_THROW(cls->Create(notAnOwner.get()), EInvalidCast);
}

TEST_F(ObjectTest, MethodsByNameWithTValueArguments) {
  TOwned<TDog> dog(New<TDog>());
  TValue r = InvokeMethod(dog.get(), "Speak", {2, "!"});
  EXPECT_EQ(r.AsString(), "woofwoof!");
  EXPECT_TRUE(InvokeMethod(dog.get(), "rename", {"Fido"}).IsEmpty());
  EXPECT_EQ(dog->GetName(), "Fido");
  const TMethodInfo* m = TDog::StaticClass()->FindMethod("Speak");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->ParamCount(), 2u);
  EXPECT_EQ(m->ParamTypeNames, (std::vector<std::string>{"Integer", "string"}));
  EXPECT_EQ(m->ReturnTypeName, "string");
  EXPECT_THROW(InvokeMethod(dog.get(), "Speak", {2}), EInvocationError);
  EXPECT_THROW(InvokeMethod(dog.get(), "Speak", {"two", "!"}), EInvalidCast);
  EXPECT_THROW(InvokeMethod(dog.get(), "Bark", {}), EInvocationError);
}

TEST_F(ObjectTest, FieldWalkIncludesAncestors) {
  std::vector<const TFieldInfo*> fields = TDog::StaticClass()->GetFields();
  ASSERT_EQ(fields.size(), 6u);
  EXPECT_EQ(fields[0]->Name, "FWeight");
  EXPECT_EQ(fields[0]->Kind, TFieldKind::Value);
  EXPECT_EQ(fields[0]->Owner, TAnimal::StaticClass());
  EXPECT_EQ(fields[2]->Name, "FFriend");
  EXPECT_EQ(fields[2]->Kind, TFieldKind::Class);
  EXPECT_EQ(fields[2]->DeclaredClass, TAnimal::StaticClass());
  EXPECT_TRUE(fields[2]->NonOwning);
  EXPECT_EQ(fields[3]->Name, "FScores");
  EXPECT_EQ(fields[3]->Kind, TFieldKind::DynArray);
  EXPECT_EQ(fields[4]->Name, "FGood");
  EXPECT_EQ(fields[4]->Owner, TDog::StaticClass());
  EXPECT_EQ(fields[5]->Name, "FPuppy");
  EXPECT_EQ(fields[5]->Kind, TFieldKind::Class);
  EXPECT_FALSE(fields[5]->NonOwning);

  // Read / write / copy, as the duplicator does.
  TOwned<TDog> a(New<TDog>()), b(New<TDog>());
  a->FWeight = 9;
  a->FName = "A";
  a->FScores = {1, 2, 3};
  a->FGood = false;
  TAnimal* puppy = New<TAnimal>();
  fields[5]->SetObject(a.get(), puppy);
  EXPECT_EQ(a->FPuppy.get(), puppy);
  fields[2]->SetObject(b.get(), a.get());
  EXPECT_EQ(b->FFriend, a.get());
  EXPECT_EQ(fields[2]->GetObject(b.get()), a.get());
  for (const TFieldInfo* f : fields)
    if (f->Kind != TFieldKind::Class) f->CopyValue(a.get(), b.get());
  EXPECT_FLOAT_EQ(b->FWeight, 9);
  EXPECT_EQ(b->FName, "A");
  EXPECT_EQ(b->FScores, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(b->FGood);
  EXPECT_EQ(fields[3]->GetLength(b.get()), 3u);
  EXPECT_EQ(fields[3]->GetElement(b.get(), 1).AsInteger(), 2);
  fields[3]->SetLength(b.get(), 4);
  fields[3]->SetElement(b.get(), 3, 8);
  EXPECT_EQ(b->FScores, (std::vector<int>{1, 2, 3, 8}));
  EXPECT_EQ(fields[1]->GetValue(b.get()).AsString(), "A");
  fields[1]->SetValue(b.get(), "B");
  EXPECT_EQ(b->FName, "B");
  EXPECT_THROW(fields[0]->GetObject(a.get()), EInvalidOperation);
  EXPECT_EQ(TDog::StaticClass()->FindField("fpuppy"), fields[5]);
}

TEST_F(ObjectTest, MetaclassSubclassWithVirtualClassFunctions) {
  // A class reference variable, swapped at unit initialisation in the engine.
  const TContextClass* contextClass = TSoftContext::StaticMeta();
  EXPECT_EQ(contextClass->PlatformGetVendorName(), "Soft");
  EXPECT_EQ(contextClass->MaxTextureSize(), 2048);
  contextClass = TGLContext::StaticMeta();
  EXPECT_EQ(contextClass->PlatformGetVendorName(), "Mesa");
  EXPECT_EQ(contextClass->MaxTextureSize(), 2048);  // inherited class function
  TContext* ctx = contextClass->CreateWithSize(64);
  EXPECT_EQ(ctx->FSize, 64);
  EXPECT_EQ(ctx->ClassName(), "TGLContext");
  EXPECT_EQ(ctx->QualifiedClassName(), "Quorvel.Test.Context.TGLContext");
  // From an object to its metaclass's class functions.
  const TContextClass* meta = ctx->ClassType()->MetaAs<TContextClass>();
  ASSERT_NE(meta, nullptr);
  EXPECT_EQ(meta->PlatformGetVendorName(), "Mesa");
  EXPECT_EQ(TAnimal::StaticClass()->MetaAs<TContextClass>(), nullptr);
  EXPECT_TRUE(TGLContext::StaticClass()->InheritsFrom(TSoftContext::StaticClass()));
  Free(ctx);
}

TEST_F(ObjectTest, MonitorLockIsPerObjectAndReentrant) {
  TOwned<TAnimal> a(New<TAnimal>()), b(New<TAnimal>());
  std::recursive_mutex& m = a->MonitorLock();
  EXPECT_EQ(&m, &a->MonitorLock());
  EXPECT_NE(&m, &b->MonitorLock());
  std::lock_guard outer(m);
  std::lock_guard inner(a->MonitorLock());
}


// --- Record type descriptions (use 3: arrays of records uploaded field by field) ----------

struct TInner {
  float Strength;
  int32_t Count;
};
FW_RECORD(TInner, Strength, Count)

enum class TLightKind : int32_t { Point = 0, Spot = 1 };

struct TLightRec {
  TVector3D Position;
  TAlphaColorF Color;
  float Intensity;
  int32_t Flags;
  bool Enabled;
  TLightKind Kind;
  TPointF Uv;
  TPoint3D Dir;
  TMatrix3D Transform;
  float Weights[3];
  TInner Inner;
  TInner Pair[2];
  double Precise;
  uint16_t Small;
};
FW_RECORD(TLightRec, Position, Color, Intensity, Flags, Enabled, Kind, Uv, Dir, Transform, Weights, Inner,
          Pair, Precise, Small)

// Walks records as the shader-variable upload does: "Name[i].Field", recursing into static arrays of records.
void Walk(const std::string& name, const TRecordInfo* info, int count, const void* data,
          std::vector<std::string>& out) {
  ASSERT_NE(info, nullptr);
  const char* p = static_cast<const char*>(data);
  for (int i = 0; i < count; ++i, p += info->Size())
    for (const TRecordField& f : info->Fields()) {
      const std::string u = name + "[" + std::to_string(i) + "]." + f.Name;
      char buf[96];
      switch (f.Kind()) {
        case TRecordFieldKind::Integer:
        case TRecordFieldKind::Boolean:
        case TRecordFieldKind::Enumeration:
          out.push_back(u + "=" + std::to_string(f.ReadOrdinal(p)));
          break;
        case TRecordFieldKind::Float:
          std::snprintf(buf, sizeof buf, "%g", f.ReadFloat(p));
          out.push_back(u + "=" + buf);
          break;
        case TRecordFieldKind::Vector3D: {
          auto* v = static_cast<const TVector3D*>(f.Address(p));
          std::snprintf(buf, sizeof buf, "=vec(%g,%g,%g,%g)", v->X, v->Y, v->Z, v->W);
          out.push_back(u + buf);
          break;
        }
        case TRecordFieldKind::Point3D: {
          auto* v = static_cast<const TPoint3D*>(f.Address(p));
          std::snprintf(buf, sizeof buf, "=vec(%g,%g,%g,0)", v->X, v->Y, v->Z);
          out.push_back(u + buf);
          break;
        }
        case TRecordFieldKind::StaticArray:
          if (f.Type->Element->Kind == TRecordFieldKind::Record)
            Walk(u, f.Type->Element->Record, int(f.Type->Count), f.Address(p), out);
          else
            out.push_back(u + "=array of " + std::to_string(f.Type->Count) + " " + f.Type->Element->TypeName);
          break;
        case TRecordFieldKind::Record:
          out.push_back(u + "=record " + f.Type->TypeName);
          break;
        default:
          out.push_back(u + "=" + f.Type->TypeName);
      }
    }
}

TEST(RecordInfoTest, FieldsInDeclarationOrder) {
  const TRecordInfo* info = RecordInfoOf<TLightRec>();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Name(), "TLightRec");
  EXPECT_EQ(info->Size(), sizeof(TLightRec));
  ASSERT_EQ(info->Fields().size(), 14u);
  using K = TRecordFieldKind;
  const std::vector<K> kinds = {K::Vector3D, K::AlphaColorF, K::Float,   K::Integer,     K::Boolean,
                                K::Enumeration, K::PointF,   K::Point3D, K::Matrix3D,    K::StaticArray,
                                K::Record,   K::StaticArray, K::Float,   K::Integer};
  for (size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(info->Fields()[i].Kind(), kinds[i]) << i;
  const TRecordField* w = info->FindField("Weights");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Offset, offsetof(TLightRec, Weights));
  EXPECT_EQ(w->Size(), sizeof(float) * 3);
  EXPECT_EQ(w->Type->Count, 3u);
  EXPECT_EQ(w->Type->Element->Kind, K::Float);
  EXPECT_EQ(w->Type->TypeName, "array[0..2] of Single");
  EXPECT_EQ(info->FindField("Inner")->Type->Record, RecordInfoOf<TInner>());
  EXPECT_EQ(info->FindField("Transform")->Offset, offsetof(TLightRec, Transform));
  EXPECT_EQ(info->FindField("Transform")->Type->TypeName, "TMatrix3D");
  EXPECT_EQ(info->FindField("Small")->Size(), 2u);
  EXPECT_TRUE(info->FindField("Small")->Type->IsUnsigned);
  EXPECT_EQ(info->FindField("weights"), nullptr);  // exact names
  EXPECT_EQ(RecordInfoOf<TPoint3D>(), nullptr);     // a value type, not described
  EXPECT_STREQ(TypeNameOf<TLightRec>(), "TLightRec");
}

TEST(RecordInfoTest, WalkAnArrayOfRecords) {
  TLightRec lights[2] = {};
  lights[0].Position = TVector3D(1, 2, 3, 1);
  lights[0].Intensity = 0.5f;
  lights[0].Flags = -3;
  lights[0].Enabled = true;
  lights[0].Kind = TLightKind::Spot;
  lights[0].Dir = TPoint3D(0, 0, -1);
  lights[0].Inner = {2.5f, 4};
  lights[0].Pair[1] = {7.0f, 8};
  lights[0].Precise = 0.25;
  lights[0].Small = 65535;
  lights[1].Intensity = 2;
  lights[1].Pair[0] = {1.0f, 9};
  std::vector<std::string> out;
  Walk("Lights", RecordInfoOf<TLightRec>(), 2, lights, out);
  ASSERT_EQ(out.size(), 2u * (14 - 1 + 2 * 2));  // Pair expands into 2 records of 2 fields
  const std::vector<std::string> first(out.begin(), out.begin() + 16);
  EXPECT_EQ(first, (std::vector<std::string>{
                       "Lights[0].Position=vec(1,2,3,1)", "Lights[0].Color=TAlphaColorF",
                       "Lights[0].Intensity=0.5", "Lights[0].Flags=-3", "Lights[0].Enabled=1",
                       "Lights[0].Kind=1", "Lights[0].Uv=TPointF", "Lights[0].Dir=vec(0,0,-1,0)",
                       "Lights[0].Transform=TMatrix3D", "Lights[0].Weights=array of 3 Single",
                       "Lights[0].Inner=record TInner", "Lights[0].Pair[0].Strength=0",
                       "Lights[0].Pair[0].Count=0", "Lights[0].Pair[1].Strength=7",
                       "Lights[0].Pair[1].Count=8", "Lights[0].Precise=0.25"}));
  EXPECT_EQ(out[16], "Lights[0].Small=65535");
  EXPECT_EQ(out[17], "Lights[1].Position=vec(0,0,0,0)");
  EXPECT_EQ(out[19], "Lights[1].Intensity=2");
  EXPECT_EQ(out[28], "Lights[1].Pair[0].Strength=1");
  EXPECT_EQ(out[29], "Lights[1].Pair[0].Count=9");
}

}  // namespace object_test
}  // namespace quorvel
