#include "lib/defs/DefTypesBitmapCache.h"

#include "framework/rtl/Finally.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelBitmapCacheEntry, "Quorvel.DefTypes")
void TQuorvelBitmapCacheEntry::Register(ClassBuilder<TQuorvelBitmapCacheEntry>& b) {
  b.Prop("Filename", &Self::GetFilename, &Self::SetFilename).Prop("Bitmap", &Self::GetBitmap, &Self::SetBitmap);
}
FW_CLASS_IMPL(TQuorvelBitmapCache, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TQuorvelBitmapCache)

TQuorvelBitmapCacheEntry::TQuorvelBitmapCacheEntry(TCollection* ACollection)
    : TCollectionItem(ACollection), FBitmap(New<TBitmap>()) {}

TQuorvelBitmapCacheEntry::~TQuorvelBitmapCacheEntry() {
  if (!FIsOnlyRef) FreeQuietly(FBitmap, "bitmap cache entry");
  FBitmap = nullptr;
}

void TQuorvelBitmapCacheEntry::SetBitmap(TBitmap* AValue) {
  if (FIsOnlyRef || AValue == FBitmap) return;
  FBitmap->Assign(AValue);
}

void TQuorvelBitmapCacheEntry::SetBitmapReference(const std::string& AFilename, TBitmap* AReference) {
  if (!FIsOnlyRef) FreeAndNil(FBitmap);
  FIsOnlyRef = true;
  FBitmap = AReference;
  FFilename = AFilename;
}

void TQuorvelBitmapCacheEntry::AssignTo(TPersistent* Dest) {
  auto* entry = dynamic_cast<TQuorvelBitmapCacheEntry*>(Dest);
  if (!entry) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  if (entry->FBitmap && entry->FBitmap != FBitmap) entry->FBitmap->Assign(FBitmap);
}

std::string_view BitmapCacheFileNamePart(std::string_view APath) {
  const size_t pos = APath.find_last_of("/\\:");
  return pos == std::string_view::npos ? APath : APath.substr(pos + 1);
}

TQuorvelBitmapCacheEntry* TQuorvelBitmapCache::FindBitmap(std::string_view AFilename) const {
  for (TCollectionItem* item : ItemList())
    if (auto* entry = dynamic_cast<TQuorvelBitmapCacheEntry*>(item); entry && entry->GetFilename() == AFilename)
      return entry;
  const std::string_view name = BitmapCacheFileNamePart(AFilename);
  for (TCollectionItem* item : ItemList())
    if (auto* entry = dynamic_cast<TQuorvelBitmapCacheEntry*>(item);
        entry && BitmapCacheFileNamePart(entry->GetFilename()) == name)
      return entry;
  return nullptr;
}

}  // namespace quorvel
