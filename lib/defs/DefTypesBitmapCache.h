#pragma once
// Unit Quorvel.DefTypes, bitmap cache: named, already decoded images of a model's texture
// assets, so that a model can be stored with its textures and rebuilt without reading the
// image files again. The cache is a collection; form streaming stores each entry's Filename
// and Bitmap (pixels included).
#include <string>
#include <string_view>

#include "framework/classes/Collection.h"
#include "framework/gui/Bitmap.h"

namespace quorvel {

class TQuorvelBitmapCacheEntry : public TCollectionItem {
  FW_CLASS(TQuorvelBitmapCacheEntry, TCollectionItem)

public:
  using TOwnerArg = TCollection*;
  // Joins ACollection and owns a new empty bitmap.
  explicit TQuorvelBitmapCacheEntry(TCollection* ACollection);
  ~TQuorvelBitmapCacheEntry() override;

  const std::string& GetFilename() const noexcept { return FFilename; }
  void SetFilename(const std::string& AValue) { FFilename = AValue; }
  bool GetIsOnlyRef() const noexcept { return FIsOnlyRef; }
  // Marks the entry as not owning its bitmap (someone else took it over).
  void SetIsOnlyRef(bool AValue) noexcept { FIsOnlyRef = AValue; }
  TBitmap* GetBitmap() const noexcept { return FBitmap; }
  // Copies AValue into the entry's own bitmap; a reference entry ignores it.
  void SetBitmap(TBitmap* AValue);
  // Makes the entry a reference for good: its own bitmap is freed, AReference is used as it
  // is (not copied, not owned).
  void SetBitmapReference(const std::string& AFilename, TBitmap* AReference);

  // Copies the bitmap into another entry (not the name, not the reference mark); any other
  // destination raises the assignment error.
  void AssignTo(TPersistent* Dest) override;

private:
  std::string FFilename;
  bool FIsOnlyRef = false;
  TBitmap* FBitmap;
};

class TQuorvelBitmapCache : public TOwnedCollection {
  FW_CLASS(TQuorvelBitmapCache, TOwnedCollection)

public:
  explicit TQuorvelBitmapCache(TPersistent* AOwner = nullptr)
      : TOwnedCollection(AOwner, TQuorvelBitmapCacheEntry::StaticClass()) {}

  TQuorvelBitmapCacheEntry* AddEntry() { return AddItem<TQuorvelBitmapCacheEntry>(); }
  TQuorvelBitmapCacheEntry* GetEntry(int AIndex) const { return Items<TQuorvelBitmapCacheEntry>(AIndex); }
  // The entry named exactly AFilename; else the first whose file-name part (after the last
  // "/", "\" or ":") equals that of AFilename, letter case kept; else null.
  TQuorvelBitmapCacheEntry* FindBitmap(std::string_view AFilename) const;
};

// The file-name part of a path: the text after the last "/", "\" or ":".
std::string_view BitmapCacheFileNamePart(std::string_view APath);

}  // namespace quorvel
