#pragma once
// A builder without tree or driver defines, and a node that prints its id, for tests of the
// node graph itself.
#include <string>

#include "lib/materials/MaterialDefaultNodes.h"

namespace quorvel::node_test {

class TBareBuilder : public TQuorvelNodeBuilder {
public:
  TBareBuilder() : TQuorvelNodeBuilder(nullptr) {}
  void SetupDefines() override {}
  void BuildTree() override {}
  using TQuorvelNodeBuilder::SetEntryPoint;
  using TQuorvelNodeBuilder::SetGlobals;
};

class TTextNode : public TQuorvelNodeEntity {
public:
  TTextNode(TQuorvelNodeBuilder* ABuilder, std::string AText) : TQuorvelNodeEntity(ABuilder) {
    SetId(std::move(AText));
  }
  void AppendText(std::string& AOut) const override { AOut += GetId(); }
};

inline TOwned<TQuorvelNodeEntity> Text(TQuorvelNodeBuilder* ABuilder, std::string AText) {
  return MakeNode<TTextNode>(ABuilder, std::move(AText));
}

// The message of the exception f raises, or "" when it raises none.
template <class E = Exception, class F>
std::string MessageOf(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return "";
}

}  // namespace quorvel::node_test
