// Every framework class carries a unit name of the framework's own scheme, "Fw.<Area>";
// engine classes keep "Quorvel.<Unit>".
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/classes/FwObject.h"
#include "framework/rtl/Persistent.h"
#include "framework/gui/Application.h"
#include "framework/gui/Bitmap.h"
#include "framework/gui/Control.h"
#include "framework/gui/Form.h"
#include "framework/gui/Timer.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Control3D.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Light.h"
#include "framework/gui3d/Material.h"
#include "framework/gui3d/MeshData.h"
#include "framework/gui3d/Shader.h"
#include "framework/gui3d/Texture.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/StringList.h"

namespace quorvel {
namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The framework classes by name, also those that no unit registers.
const std::vector<const TClass*>& FrameworkClasses() {
  static const std::vector<const TClass*> classes = {
      TObject::StaticClass(),         TStrings::StaticClass(),        TStringList::StaticClass(),
      TPersistent::StaticClass(),     TComponent::StaticClass(),      TFwObject::StaticClass(),
      TCollectionItem::StaticClass(), TCollection::StaticClass(),     TOwnedCollection::StaticClass(),
      TApplication::StaticClass(),    TContext3D::StaticClass(),      TContextShader::StaticClass(),
      TTexture::StaticClass(),        TTextureBitmap::StaticClass(),  TMeshData::StaticClass(),
      TMaterial::StaticClass(),       TCustomMaterial::StaticClass(), TColorMaterial::StaticClass(),
      TMaterialSource::StaticClass(), TControlPosition3D::StaticClass(), TProxyObject::StaticClass(),
      TBitmap::StaticClass(),         TTimer::StaticClass(),          TForm::StaticClass(),
      TCamera::StaticClass(),         TLight::StaticClass(),          TDummy::StaticClass(),
  };
  return classes;
}

TEST(UnitNamesTest, EveryFrameworkClassIsInAnFwUnit) {
  // The registry after every unit initialised, each class with its ancestors.
  std::set<const TClass*> seen;
  std::vector<const TClass*> classes = RegisteredClasses();
  for (const TClass* c : FrameworkClasses()) classes.push_back(c);
  size_t frameworkClasses = 0;
  for (const TClass* start : classes) {
    for (const TClass* c = start; c && seen.insert(c).second; c = c->ClassParent()) {
      const std::string& unit = c->UnitName();
      // Test programs register their own classes under "Quorvel.Test.…".
      if (StartsWith(unit, "Quorvel.")) continue;
      ++frameworkClasses;
      EXPECT_TRUE(StartsWith(unit, "Fw.") && unit.size() > 3)
          << c->ClassName() << " is in unit \"" << unit << "\"";
      EXPECT_EQ(c->QualifiedClassName(), unit + "." + c->ClassName());
    }
  }
  EXPECT_GE(frameworkClasses, FrameworkClasses().size());
}

}  // namespace
}  // namespace quorvel
