#pragma once
// Shared by the OBJ tests: a scratch folder for OBJ/MTL pairs and a compact text form of a
// loaded mesh tree that golden checks compare against.
#include <filesystem>
#include <string>

#include "framework/rtl/Object.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/obj/OBJModel.h"

namespace quorvel::testkit {

// A fresh folder under the temp path, removed with the object.
class TScratchDir {
public:
  TScratchDir();
  ~TScratchDir();
  const std::filesystem::path& Path() const { return FPath; }
  std::string Write(const std::string& AName, const std::string& AText) const;

private:
  std::filesystem::path FPath;
};

// "id[material] v<vertices> t<triangles>" with the children in "( ... )", separated by "; ".
std::string DescribeMesh(const TMeshDef* AMesh);
// The tree below the model (its root meshes).
std::string DescribeModel(const TModelDef* AModel);

// Reads AObj (and, when given, AMtl as "lib.mtl" next to it) into a new model.
TOwned<TOBJModel> LoadObjText(const std::string& AObj, const std::string& AMtl = {});

// The message of what ALoad throws, or "" when it loads.
template <class F>
std::string ErrorOf(F&& ALoad) {
  try {
    ALoad();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

}  // namespace quorvel::testkit
