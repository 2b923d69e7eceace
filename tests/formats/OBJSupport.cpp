#include "OBJSupport.h"

#include <atomic>
#include <fstream>

#include "framework/io/Stream.h"

namespace quorvel::testkit {

TScratchDir::TScratchDir() {
  static std::atomic<int> counter{0};
  FPath = std::filesystem::temp_directory_path() /
          ("quorvel-obj-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(FPath);
}

TScratchDir::~TScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string TScratchDir::Write(const std::string& AName, const std::string& AText) const {
  const std::filesystem::path file = FPath / AName;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << AText;
  return file.string();
}

std::string DescribeMesh(const TMeshDef* AMesh) {
  std::string s = AMesh->GetId();
  if (AMesh->GetMaterial()) s += "[" + AMesh->GetMaterial()->GetId() + "]";
  const TVertexBuffer* vb = AMesh->GetVertexSource();
  const TIndexBuffer* ib = AMesh->GetIndexSource();
  s += " v" + std::to_string(vb ? vb->Length() : 0) + " t" + std::to_string(ib ? ib->Length() / 3 : 0);
  if (AMesh->ChildCount() > 0) {
    s += " (";
    for (int32_t i = 0; i < AMesh->ChildCount(); ++i) {
      if (i) s += "; ";
      s += DescribeMesh(static_cast<const TMeshDef*>(AMesh->GetChildren()->Items(i)));
    }
    s += ")";
  }
  return s;
}

std::string DescribeModel(const TModelDef* AModel) {
  std::string s;
  for (int32_t i = 0; i < AModel->ChildCount(); ++i) {
    if (i) s += "; ";
    s += DescribeMesh(static_cast<const TMeshDef*>(AModel->GetChildren()->Items(i)));
  }
  return s;
}

TOwned<TOBJModel> LoadObjText(const std::string& AObj, const std::string& AMtl) {
  TScratchDir dir;
  if (!AMtl.empty()) dir.Write("lib.mtl", AMtl);
  const std::string path = dir.Write("model.obj", AObj);
  TOwned<TOBJModel> model(New<TOBJModel>(nullptr, nullptr));
  model->LoadFromFile(path);
  return model;
}

}  // namespace quorvel::testkit
