#include "tests/support/KitchenSinkModel.h"

namespace quorvel::testkit {

std::string KitchenSinkModel() {
  std::string materials;
  for (int kind = 0; kind <= 10; ++kind) {
    if (kind == 7) continue;
    materials += R"({"Id":"K)" + std::to_string(kind) + R"(","Kind":)" + std::to_string(kind) + "},";
  }
  materials += R"({"Id":"Layer","Kind":7,"Type":"Quorvel.Material.Layered.TQuorvelLayeredMaterialSource",)"
               R"("Materials":[{"Id":"Sub1","Kind":2},{"Id":"Sub2","Kind":10,"Textures":[{"Channel":11}]}]},)";
  materials += R"({"Id":"Wood","Kind":9,"ShadingModel":2,)"
               R"("Textures":[{"Channel":0,"Flipping":"Vertical,Horizontal","Tiling":"2 2","Destination":"VertexShader",)"
               R"("Sampler":{"Kind":"CubeMap","WrapS":"Repeated","MinFilter":"Nearest"},)"
               R"("Asset":{"Type":"Quorvel.AssetsManager.TQuorvelTextureAsset","Id":"{11111111-2222-3333-4444-555555555555}",)"
               R"("Filename":"wood.png"},"Extensions":[{"Id":"gltf"}]},{"Channel":4,"Asset":null},)"
               R"({"Channel":3,"Asset":{"Type":"TQuorvelTextureAsset","Id":"{11111111-2222-3333-4444-666666666666}",)"
               R"("Filename":"wood.png"}}],)"
               R"("Shaders":[{"Id":"VS","Kind":"VertexShader","SourceCode":"void main(){}"},)"
               R"({"Id":"GS","Kind":"GeometryShader","Language":"HLSL","SourceCode":"a\r\nb"}],)"
               R"("BehaviourRefs":[{"Id":"Spin","Name":"Spinning"}],"Extensions":[{"Id":"ext"}]})";
  return std::string(R"({"Id":"Sink","Children":[)") +
         R"({"Type":"Quorvel.DefTypes.TMeshDef","Id":"Body","Material":"Wood","Instances":[{"Position":"0 1 0"}],)"
         R"("Children":[{"Type":"Quorvel.DefTypes.TMeshDef","Id":"BodySub","Material":"Layer"},)"
         R"({"Type":"Quorvel.DefTypes.TVertexGroupDef","Id":"VG"}]},)"
         R"({"Type":"Quorvel.DefTypes.TTransformDef","Id":"Group","Children":[)"
         R"({"Type":"Quorvel.DefTypes.TSegmentDef","Id":"Seg"},)"
         R"({"Type":"Quorvel.DefTypes.TLightDef","Id":"TreeLight","LightType":"Spot"},)"
         R"({"Type":"Quorvel.DefTypes.TCameraDef","Id":"TreeCam","Owner":"Group"}]}],)"
         R"("Filename":"C%3A%5Csink.q3m",)"
         R"("Behaviours":[{"Type":"Quorvel.DefTypes.TMaterialBehaviourDef","Id":"Spin","PrefabClass":"TSpin"}],)"
         R"("Materials":[)" +
         materials +
         R"(],"Lights":[{"Id":"TreeLight"},{"Id":"Free","LightType":"Directional"}],)"
         R"("Cameras":[{"Id":"TreeCam","Owner":"Group"},{"Id":"FreeCam"}],)"
         R"("Armatures":[{"Id":"Rig"}],"Controllers":[{"Id":"Ctl","Mesh":"Body"}],"Animations":[{"Id":"Walk"}],)"
         R"("MetaData":{"Title":"Sink"}})";
}

}  // namespace quorvel::testkit
