// The shadow-map passes travel in forms like every other pass: their light, by name.
#include <gtest/gtest.h>

#include <string>

#include "framework/classes/Filer.h"
#include "framework/classes/FormText.h"
#include "lib/passes/ControllerPassesSMStoreDepth.h"
#include "lib/passes/ControllerPassesVSMBlur.h"
#include "lib/passes/ControllerPassesVSMStoreDepth.h"
#include "lib/scene/Light.h"

namespace quorvel {
namespace {

std::string FormWith(const std::string& AClassName, const std::string& ALines) {
  return "object Root: TComponent\n"
         "  object Light1: TQuorvelLight\n"
         "  end\n"
         "  object Map1: " + AClassName + "\n" + ALines +
         "  end\n"
         "end\n";
}

TEST(ShadowPassStreaming, TheStoreDepthPassesReadAndWriteTheirLight) {
  for (const char* name : {"TQuorvelRenderPassSMStoreDepth", "TQuorvelRenderPassVSMStoreDepth"}) {
    SCOPED_TRACE(name);
    TOwned<TComponent> root(New<TComponent>(nullptr));
    ReadComponentResource(root.get(), FormWith(name, "    Id = 'map'\n    Light = Light1\n    Iterations = 2\n"));
    auto* pass = dynamic_cast<TQuorvelRenderPassCustomDepth*>(root->FindComponent("Map1"));
    auto* light = dynamic_cast<TLight*>(root->FindComponent("Light1"));
    ASSERT_NE(pass, nullptr);
    ASSERT_NE(light, nullptr);
    EXPECT_EQ(std::string(pass->ClassName()), name);
    EXPECT_EQ(pass->GetId(), "map");
    EXPECT_EQ(pass->GetIterations(), 2);
    TLight* read = nullptr;
    if (auto* sm = dynamic_cast<TQuorvelRenderPassSMStoreDepth*>(pass)) read = sm->GetLight();
    if (auto* vsm = dynamic_cast<TQuorvelRenderPassVSMStoreDepth*>(pass)) read = vsm->GetLight();
    EXPECT_EQ(read, light);
    const std::string written = WriteComponentResource(root.get());
    for (const char* line : {"Light = Light1", "Id = 'map'", "Iterations = 2"})
      EXPECT_NE(written.find(line), std::string::npos) << line << "\n" << written;
    EXPECT_NE(written.find(std::string("object Map1: ") + name), std::string::npos) << written;
  }
}

TEST(ShadowPassStreaming, TheVarianceBlurReadsItsStoreDepthPass) {
  TOwned<TComponent> root(New<TComponent>(nullptr));
  ReadComponentResource(root.get(),
                        "object Root: TComponent\n"
                        "  object Light1: TQuorvelLight\n"
                        "  end\n"
                        "  object Map1: TQuorvelRenderPassVSMStoreDepth\n"
                        "    Light = Light1\n"
                        "  end\n"
                        "  object Blur1: TQuorvelRenderPassVSMBlur\n"
                        "    VSMStoreDepth = Map1\n"
                        "  end\n"
                        "end\n");
  auto* blur = dynamic_cast<TQuorvelRenderPassVSMBlur*>(root->FindComponent("Blur1"));
  ASSERT_NE(blur, nullptr);
  EXPECT_EQ(blur->GetVSMStoreDepth(), root->FindComponent("Map1"));
  const std::string written = WriteComponentResource(root.get());
  EXPECT_NE(written.find("VSMStoreDepth = Map1"), std::string::npos) << written;
}

}  // namespace
}  // namespace quorvel
