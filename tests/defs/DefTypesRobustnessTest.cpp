#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lib/defs/DefTypes.h"
#include "tests/defs/DefTypesTestUtil.h"

namespace quorvel {
namespace {

using test::ParseObject;
using test::TakeText;

// Reads AText into a fresh definition of one kind (inside a fresh model, so that look-ups
// and registrations run too).
using TReader = std::function<void(TModelDef* AModel, const TJSONObject* AValue)>;

struct TKindCase {
  const char* Name;
  std::string Golden;
  TReader Read;
};

std::vector<TKindCase> Kinds() {
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  model->SetId("M");
  TMaterialBehaviourDef* spin = model->AddNewMaterialBehaviour();
  spin->SetId("spin");
  spin->GetProperties()->Add("P", TValue::From(TPoint3D(1, 2, 3)));
  auto* material = New<TMaterialDef>(model.get(), "Wood");
  material->AddMaterialBehaviourRef("Spin", spin);
  material->AddExtension("ext")->GetProperties()->Add("C", TValue::From(MakeAlphaColor(1, 2, 3, 4)));
  auto* group = New<TGroupDef>(model.get());
  group->SetId("g");
  group->SetTimestamp(EncodeDateTime(2020, 1, 2, 3, 4, 5, 0));
  group->GetProperties()->Add("M", TValue::From(TMatrix3D::Identity()));
  model->AddChild(group);
  auto* segment = New<TSegmentDef>(group);
  segment->SetId("s");
  segment->SetReferenceId("g");
  group->AddChild(segment);
  TOwned<TModelMetaDef> meta(New<TModelMetaDef>());
  meta->SetTitle("T");
  meta->SetPolygons(3);
  TOwned<TMaterialRefDef> ref(New<TMaterialRefDef>());
  ref->SetId("Wood");

  auto reader = [](auto make) -> TReader {
    return [make](TModelDef* AModel, const TJSONObject* AValue) {
      TOwned<TCustomDef> def(make(AModel));
      def->FromJSON(AModel, AValue);
      def->LateResolveFromJSON(AModel, AValue);
      TakeText(def->ToJSON());
    };
  };
  return {
      {"transform", TakeText(group->ToJSON()), reader([](TModelDef* m) { return New<TTransformDef>(m); })},
      {"group", TakeText(group->ToJSON()), reader([](TModelDef*) { return New<TGroupDef>(nullptr); })},
      {"segment", TakeText(segment->ToJSON()), reader([](TModelDef* m) { return New<TSegmentDef>(m); })},
      {"material", TakeText(material->ToJSON()),
       [](TModelDef* AModel, const TJSONObject* AValue) {
         auto* m = New<TMaterialDef>(AModel, "");
         try {
           m->FromJSON(AModel, AValue);
         } catch (...) {
           if (!AModel->FindMaterialById(m->GetId())) Free(m);
           throw;
         }
         if (!AModel->FindMaterialById(m->GetId())) Free(m);
       }},
      {"materialref", TakeText(ref->ToJSON()), reader([](TModelDef*) { return New<TMaterialRefDef>(); })},
      {"behaviour", TakeText(spin->ToJSON()), reader([](TModelDef*) { return New<TMaterialBehaviourDef>(); })},
      {"extension", TakeText(material->GetExtension("ext")->ToJSON()),
       reader([](TModelDef*) { return New<TExtensionDef>(); })},
      {"meta", TakeText(meta->ToJSON()), reader([](TModelDef*) { return New<TModelMetaDef>(); })},
  };
}

// Every pair of every kind's golden object replaced by a value of each other JSON kind,
// records cut short, texts emptied: a read either works or raises the run-time's exception.
TEST(DefTypesRobustness, WrongKindsAndTruncatedValuesRaiseOrReadNeverCrash) {
  const char* replacements[] = {"null", "true", "0", "-1", "2.5", "1e308", "\"\"", "\"x y,z\"", "[]", "[{}]",
                                "[1,\"a\",null]", "{}", R"({"RecordType":"TPoint3D","Value":[1]})",
                                R"([{"Name":"a","Value":{"RecordType":"TMatrix3D","Value":[1,2]}}])",
                                R"([{"Type":"Quorvel.DefTypes.TSegmentDef","Reference":5,"Children":[1]}])"};
  int reads = 0, raised = 0;
  for (const TKindCase& kind : Kinds()) {
    const auto golden = ParseObject(kind.Golden);
    for (int i = 0; i < golden->Count(); ++i) {
      for (const char* replacement : replacements) {
        const auto mutated = ParseObject(kind.Golden);
        mutated->Pairs(i)->SetJsonValue(test::ParseValue(replacement).release());
        TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
        TLateResolveScope scope(model.get());
        ++reads;
        try {
          kind.Read(model.get(), mutated.get());
          model->LateResolve();
        } catch (const Exception&) {
          ++raised;
        } catch (const std::exception& e) {
          ADD_FAILURE() << kind.Name << " pair " << i << " = " << replacement << ": " << e.what();
        }
      }
    }
  }
  EXPECT_GT(reads, 300);
  EXPECT_GT(raised, 0);
}

// Golden texts cut at every position and closed again where the parser accepts them.
TEST(DefTypesRobustness, TruncatedDocumentsRaiseOrReadNeverCrash) {
  for (const TKindCase& kind : Kinds()) {
    for (size_t cut = 1; cut < kind.Golden.size(); cut += 3) {
      std::string text = kind.Golden.substr(0, cut);
      std::string closers;
      bool inString = false;
      for (size_t k = 0; k < text.size(); ++k) {
        const char c = text[k];
        if (inString) {
          if (c == '\\') ++k;
          else if (c == '"') inString = false;
        } else if (c == '"') inString = true;
        else if (c == '{') closers += '}';
        else if (c == '[') closers += ']';
        else if ((c == '}' || c == ']') && !closers.empty()) closers.pop_back();
      }
      if (inString) text += '"';
      text.append(closers.rbegin(), closers.rend());
      TJSONValue* parsed = TJSONObject::ParseJSONValue(text);
      auto* obj = dynamic_cast<TJSONObject*>(parsed);
      if (!obj) {
        delete parsed;
        continue;
      }
      test::TJSONPtr owned(obj);
      TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
      try {
        kind.Read(model.get(), obj);
      } catch (const Exception&) {
      } catch (const std::exception& e) {
        ADD_FAILURE() << kind.Name << " cut at " << cut << ": " << e.what();
      }
    }
  }
}

}  // namespace
}  // namespace quorvel
