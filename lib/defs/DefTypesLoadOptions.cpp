#include "lib/defs/DefTypesLoadOptions.h"

#include <utility>

#include "framework/io/Path.h"

namespace quorvel {

TQuorvelLoadOptions TQuorvelLoadOptions::Create(const std::string& APathOrUID, TObject* APackage, TObject* AAsset) {
  TQuorvelLoadOptions options;
  options.FileInfo.PathOrUID = APathOrUID;
  options.Package = APackage;
  options.Asset = AAsset;
  return options;
}

TQuorvelLoadOptions TQuorvelLoadOptions::Create(const std::string& APathOrUID, const std::string& AExt,
                                                TObject* APackage, TObject* AAsset) {
  TQuorvelLoadOptions options = Create(APathOrUID, APackage, AAsset);
  options.FileInfo.Ext = AExt;
  return options;
}

TQuorvelLoadOptions TQuorvelLoadOptions::Create(const std::string& APathOrUID, const TAnimationCachingFlags& ACaching,
                                                TObject* APackage, TObject* AAsset) {
  TQuorvelLoadOptions options = Create(APathOrUID, APackage, AAsset);
  options.Caching = ACaching;
  return options;
}

TQuorvelLoadOptions TQuorvelLoadOptions::Create(const std::string& APathOrUID, const TAnimationCachingFlags& ACaching,
                                                TQuorvelLoadingStatus AOnStatus, TObject* APackage,
                                                TObject* AAsset) {
  TQuorvelLoadOptions options = Create(APathOrUID, ACaching, APackage, AAsset);
  options.OnStatus = std::move(AOnStatus);
  return options;
}

std::string TQuorvelLoadOptions::GetExtension() const {
  if (!FileInfo.Ext.empty()) return FileInfo.Ext;
  const std::string& path = FileInfo.PathOrUID;
  for (size_t i = path.size(); i-- > 0;) {
    const char c = path[i];
    if (c == '/' || c == '\\' || c == ':') break;
    if (c == '.') return path.substr(i);
  }
  return {};
}

int32_t TQuorvelLoadOptions::AddAnimation(const std::string& AFilename) {
  if (!TFile::Exists(AFilename)) return -1;
  ImportAnimations = true;
  AdditionalAnimations.push_back(AFilename);
  return static_cast<int32_t>(AdditionalAnimations.size()) - 1;
}

int32_t TQuorvelLoadOptions::AddStorage(const std::string& AName, TStream* AStream) {
  if (!AStream) return -1;
  Storage.push_back({AName, AStream});
  return static_cast<int32_t>(Storage.size()) - 1;
}

TStream* TQuorvelLoadOptions::GetStorage(const std::string& AName) const {
  for (const TQuorvelLoadStorage& entry : Storage)
    if (entry.Name == AName) return entry.Stream;
  return nullptr;
}

}  // namespace quorvel
