#include "lib/formats/assets/AssetsLayout.h"

#include <memory>

#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/formats/assets/AssetsArchives.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel::assets_layout {

std::string GroupPath(std::string_view AOwnerAssetPath, std::string_view AGroupName) {
  if (AOwnerAssetPath.empty()) return std::string(AGroupName);
  return std::string(AOwnerAssetPath) + "/" + std::string(AGroupName);
}

std::string AssetPath(std::string_view AGroupPath, const TGUID& AId) {
  return std::string(AGroupPath) + "/" + AId.ToString();
}

std::string DescriptorEntry(std::string_view APath, const char* ADescriptorName) {
  return std::string(APath) + "/" + ADescriptorName;
}

std::string DataEntry(std::string_view AAssetPath, std::string_view AFilename) {
  return std::string(AAssetPath) + "/" + FileNamePart(AFilename);
}

std::vector<std::string> SplitPath(std::string_view APath) {
  std::vector<std::string> parts(1);
  for (char c : APath) {
    if (c == '/' || c == '\\')
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

std::string FileNamePart(std::string_view APath) {
  const size_t pos = APath.find_last_of("/\\:");
  return std::string(pos == std::string_view::npos ? APath : APath.substr(pos + 1));
}

std::string ExtensionOf(std::string_view APath) {
  const std::string name = FileNamePart(APath);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string DescriptorText(TJSONObject* AJson, const std::string& AEntry) {
  AJson->AddPair("path", AEntry);
  return AJson->ToJSON(TJSONOutputOptions::EncodeAbove127);
}

void WriteDescriptor(TQuorvelArchiveReference* AArchive, const std::string& AEntry, TJSONObject* AJson) {
  const std::string text = DescriptorText(AJson, AEntry);
  TBytesStream stream(TBytes(text.begin(), text.end()));
  AArchive->DeleteFile(AEntry);
  AArchive->AddFromStream(&stream, AEntry);
}

TJSONObject* ParseDescriptor(std::string_view AText, const std::string& AEntry) {
  std::unique_ptr<TJSONValue> value(TJSONObject::ParseJSONValue(AText));
  if (!value) throw EQuorvelAssetsException("invalid descriptor json: " + AEntry);
  auto* obj = dynamic_cast<TJSONObject*>(value.get());
  if (!obj) throw EInvalidCast("Invalid class typecast");
  value.release();
  return obj;
}

TJSONObject* ReadDescriptor(TQuorvelArchiveReference* AArchive, const std::string& AEntry) {
  if (!AArchive->FileExists(AEntry)) return nullptr;
  TMemoryStream stream;
  TZipHeader header;
  AArchive->ReadToStream(AEntry, &stream, header);
  return ParseDescriptor(std::string_view(static_cast<const char*>(stream.GetMemory()), size_t(stream.GetSize())), AEntry);
}

}  // namespace quorvel::assets_layout
