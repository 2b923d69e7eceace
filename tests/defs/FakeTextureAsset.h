#pragma once
// A texture asset of the definition tests: a bitmap it owns, its two marks, a count of frees,
// and a reader that the tests install in place of the asset layer's.
#include <string>

#include "framework/rtl/Guid.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesTexture.h"

namespace quorvel::test {

class TFakeTextureAsset : public TObject, public ITextureAsset {
public:
  static inline int Freed = 0;
  explicit TFakeTextureAsset(TBitmap* ABitmap = nullptr) : FBitmap(ABitmap) {}
  ~TFakeTextureAsset() override { ++Freed; }
  TBitmap* GetBitmap() override { return FBitmap.get(); }
  bool GetCached() const override { return Cached; }
  bool GetIsStandalone() const override { return Standalone; }
  void SetIsStandalone(bool AValue) override { Standalone = AValue; }
  TJSONObject* AssetToJSON() const override {
    auto* obj = new TJSONObject;
    obj->AddPair("Type", "Quorvel.AssetsManager.TQuorvelTextureAsset");
    obj->AddPair("Id", Id.ToString());
    return obj;
  }
  bool Cached = false;
  bool Standalone = false;
  TGUID Id = TGUID::Create("{00000000-0000-0000-0000-000000000001}");

private:
  TOwned<TBitmap> FBitmap;
};

// Makes a stand-alone fake asset with the read id for every texture read (owned by it).
inline void ReadFakeAsset(TTextureDef* ATexture, TModelDef*, TObject*, const TGUID& AId, const TJSONObject*) {
  auto* asset = New<TFakeTextureAsset>();
  asset->Id = AId;
  ATexture->SetIsAssetOwner(true);
  ATexture->SetAssetRef(asset);
}

// Installs ReadFakeAsset for a scope.
class TFakeAssetReaderScope {
public:
  TFakeAssetReaderScope() : FPrevious(SetTextureAssetReader(&ReadFakeAsset)) {}
  ~TFakeAssetReaderScope() { SetTextureAssetReader(FPrevious); }
  TFakeAssetReaderScope(const TFakeAssetReaderScope&) = delete;
  TFakeAssetReaderScope& operator=(const TFakeAssetReaderScope&) = delete;

private:
  TTextureAssetReader FPrevious;
};

}  // namespace quorvel::test
