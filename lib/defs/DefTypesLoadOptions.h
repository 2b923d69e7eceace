#pragma once
// Unit Quorvel.DefTypes, load options: the value record that travels with every load of a
// model or asset. It names the file, the package and asset, what to import, extra animation
// files, how to bake animations, whom to tell about progress, bitmaps already decoded and
// in-memory streams to read instead of files. It owns none of the objects it names.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/math/Point.h"
#include "framework/rtl/Object.h"
#include "lib/defs/DefTypesAnimation.h"

namespace quorvel {

class TStream;
class TQuorvelBitmapCache;

enum class TQuorvelFileOpenFormat : uint8_t { fofLocal = 0, fofDownload = 1 };
FW_ENUM(TQuorvelFileOpenFormat, fofLocal, fofDownload)
enum class TQuorvelOAuthMode : uint8_t { Default = 0, AuthCode = 1 };
FW_ENUM(TQuorvelOAuthMode, Default, AuthCode)

struct TQuorvelFileInfo {
  std::string PathOrUID;
  bool StrictFilename = false;
  std::string Ext;  // with its dot (".q3m"); empty: the extension of PathOrUID
  TQuorvelFileOpenFormat OpenFormat = TQuorvelFileOpenFormat::fofLocal;
  TQuorvelOAuthMode OAuthMode = TQuorvelOAuthMode::Default;
  std::string URL;
  std::string Username;
  std::string Password;
  std::string ClientId;
  std::string ClientSecret;
  std::string AuthorizationEndpoint;
  std::string AccessTokenEndpoint;
  std::string RedirectionEndpoint;
};

struct TQuorvelLoadStorage {
  std::string Name;
  TStream* Stream = nullptr;  // not owned
};

// Progress of a load; ALoader is the loader reporting.
using TQuorvelLoadingStatus = std::function<void(TObject* ALoader)>;

struct TQuorvelLoadOptions {
  TQuorvelFileInfo FileInfo;
  TObject* Package = nullptr;  // a TQuorvelAssetsPackage or null; not owned
  TObject* Asset = nullptr;    // a package asset or null; not owned
  bool ImportLights = true;
  bool ImportCameras = true;
  bool ImportAnimations = true;
  std::vector<std::string> AdditionalAnimations;
  TAnimationCachingFlags Caching;
  TQuorvelLoadingStatus OnStatus;
  std::string ExtractDirectory;
  TQuorvelBitmapCache* BitmapCache = nullptr;  // not owned
  TPoint TextureLimits;
  std::vector<TQuorvelLoadStorage> Storage;

  TQuorvelLoadOptions() = default;
  static TQuorvelLoadOptions Create(const std::string& APathOrUID, TObject* APackage, TObject* AAsset);
  static TQuorvelLoadOptions Create(const std::string& APathOrUID, const std::string& AExt, TObject* APackage,
                                    TObject* AAsset);
  static TQuorvelLoadOptions Create(const std::string& APathOrUID, const TAnimationCachingFlags& ACaching,
                                    TObject* APackage, TObject* AAsset);
  static TQuorvelLoadOptions Create(const std::string& APathOrUID, const TAnimationCachingFlags& ACaching,
                                    TQuorvelLoadingStatus AOnStatus, TObject* APackage, TObject* AAsset);

  // FileInfo.Ext when set; else the extension of PathOrUID with its dot (from the last "."
  // after the last "/", "\" or ":"), empty when there is none.
  std::string GetExtension() const;
  // -1 (nothing changed) when no such file exists; else appends it, switches animation
  // import on and answers its index.
  int32_t AddAnimation(const std::string& AFilename);
  // -1 for a null stream; else appends (the stream stays the caller's) and answers the index.
  int32_t AddStorage(const std::string& AName, TStream* AStream);
  // The stream of the first entry named exactly AName; null when none.
  TStream* GetStorage(const std::string& AName) const;
};

}  // namespace quorvel
