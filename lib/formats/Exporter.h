#pragma once
// Model writers by file extension. The registry owns its exporters.
#include <string>

#include "framework/rtl/Object.h"

namespace quorvel {

class TStream;
class TModelDef;
class TQuorvelExporter;

using TQuorvelExporterFactory = TQuorvelExporter* (*)();

class TQuorvelExporter : public TObject {
  FW_CLASS(TQuorvelExporter, TObject)

public:
  TQuorvelExporter() = default;

  virtual void SaveToFile(TModelDef* AModel, const std::string& AFileName) = 0;
  virtual void SaveToStream(TModelDef* AModel, TStream* AStream) = 0;

  // Exactly AExt: no lower-casing. Null when none.
  static TQuorvelExporter* GetExporter(const std::string& AExt);
  // Adds or replaces; a replaced exporter is freed, the one already held is kept.
  static void RegisterExporter(const std::string& AExt, TQuorvelExporter* AExporter);
  template <class T>
  static void RegisterExporter(const std::string& AExt) {
    RegisterExporter(AExt, New<T>());
  }
  // Removes and frees the exporter of AExt, whatever its class.
  static void UnregisterExporter(const std::string& AExt);
};

}  // namespace quorvel
