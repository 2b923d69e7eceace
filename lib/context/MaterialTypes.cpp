#include "lib/context/MaterialTypes.h"

#include "framework/rtl/Finally.h"
#include "lib/defs/DefTypesTexture.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelTexturePoolEntry, "Quorvel.Material.Types")
void TQuorvelTexturePoolEntry::Register(ClassBuilder<TQuorvelTexturePoolEntry>& b) {
  b.Prop("Tiling", &Self::GetTiling, &Self::SetTiling)
      .Prop("Texture", &Self::GetTexture, &Self::SetTexture)
      .Prop("IsDynamic", &Self::GetIsDynamic, &Self::SetIsDynamic)
      .Prop("IgnoreInArray", &Self::GetIgnoreInArray, &Self::SetIgnoreInArray)
      .Prop("ShaderKind", &Self::GetShaderKind, &Self::SetShaderKind);
}
FW_CLASS_IMPL(TQuorvelTexturePool, "Quorvel.Material.Types")
FW_CLASS_NO_MEMBERS(TQuorvelTexturePool)
FW_CLASS_IMPL(TQuorvelBitmapPoolEntry, "Quorvel.Material.Types")
void TQuorvelBitmapPoolEntry::Register(ClassBuilder<TQuorvelBitmapPoolEntry>& b) {
  b.Prop("Name", &Self::GetName, &Self::SetName)
      .Prop("TilingX", &Self::GetTilingX, &Self::SetTilingX)
      .Prop("TilingY", &Self::GetTilingY, &Self::SetTilingY)
      .Prop("IsDynamic", &Self::GetIsDynamic, &Self::SetIsDynamic)
      .Prop("IgnoreInArray", &Self::GetIgnoreInArray, &Self::SetIgnoreInArray)
      .Prop("ShaderKind", &Self::GetShaderKind, &Self::SetShaderKind)
      .Prop("TextureKind", &Self::GetTextureKind, &Self::SetTextureKind)
      .Prop("Format", &Self::GetFormat, &Self::SetFormat)
      .Prop("InternalFormat", &Self::GetInternalFormat, &Self::SetInternalFormat)
      .Prop("DataType", &Self::GetDataType, &Self::SetDataType)
      .Prop("WrapS", &Self::GetWrapS, &Self::SetWrapS)
      .Prop("WrapT", &Self::GetWrapT, &Self::SetWrapT)
      .Prop("WrapR", &Self::GetWrapR, &Self::SetWrapR)
      .Prop("MinFilter", &Self::GetMinFilter, &Self::SetMinFilter)
      .Prop("MagFilter", &Self::GetMagFilter, &Self::SetMagFilter)
      .Prop("BorderColor", &Self::GetBorderColor, &Self::SetBorderColor)
      .Prop("ProtectFormatSettings", &Self::GetProtectFormatSettings, &Self::SetProtectFormatSettings)
      .Prop("Bitmap", &Self::GetBitmap, &Self::SetBitmap);
}
FW_CLASS_IMPL(TQuorvelBitmapPool, "Quorvel.Material.Types")
void TQuorvelBitmapPool::Register(ClassBuilder<TQuorvelBitmapPool>& b) {
  b.Prop("DeclareAsArray", &Self::GetDeclareAsArray, &Self::SetDeclareAsArray)
      .Prop("OnUpdate", &Self::GetOnUpdate, &Self::SetOnUpdate);
}

namespace {

bool Is3DKind(TQuorvelTextureKind AKind) {
  return AKind == TQuorvelTextureKind::Texture3D || AKind == TQuorvelTextureKind::ImageTexture3D;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TQuorvelTexturePoolEntry

TQuorvelTexturePoolEntry::TQuorvelTexturePoolEntry(TCollection* ACollection) : TCollectionItem(ACollection) {}

void TQuorvelTexturePoolEntry::SetDisplayName(const std::string& Value) {
  FName = Value;
  TCollectionItem::SetDisplayName(Value);
}

void TQuorvelTexturePoolEntry::SetPixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps,
                                              TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType) {
  FTextureKind = ATextureKind;
  FInternalFormat = AComps;
  FFormat = AFormat;
  FDataType = ADataType;
}

void TQuorvelTexturePoolEntry::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TQuorvelTexturePoolEntry*>(Dest)) {
    dest->FName = FName;
    dest->FTiling = FTiling;
    dest->FTexture = FTexture;
    dest->FIsDynamic = FIsDynamic;
    dest->FIgnoreInArray = FIgnoreInArray;
    dest->FShaderKind = FShaderKind;
    dest->FTextureKind = FTextureKind;
    dest->FInternalFormat = FInternalFormat;
    dest->FFormat = FFormat;
    dest->FDataType = FDataType;
    dest->FWrapping = FWrapping;
    dest->FMinMagFilter = FMinMagFilter;
    dest->FBorderColor = FBorderColor;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------
// TQuorvelTexturePool

TQuorvelTexturePool::TQuorvelTexturePool(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TQuorvelTexturePoolEntry::StaticClass()) {}

int TQuorvelTexturePool::IndexOfTexture(const TTexture* ATexture) const {
  for (int i = 0; i < GetCount(); ++i)
    if (Items(i)->GetTexture() == ATexture) return i;
  return -1;
}

// ---------------------------------------------------------------------------------------
// TQuorvelBitmapPoolEntry

TQuorvelBitmapPoolEntry::TQuorvelBitmapPoolEntry(TCollection* ACollection)
    : TCollectionItem(ACollection), FBitmap(TQuorvelTextureBitmap::Create()) {}

TQuorvelBitmapPoolEntry::~TQuorvelBitmapPoolEntry() = default;

void TQuorvelBitmapPoolEntry::AfterConstruction() {
  TCollectionItem::AfterConstruction();
  PushFormats();
  FBitmap->OnChange = [this](TObject*) { DoUpdate(); };
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::BeforeDestruction() {
  // A bitmap change while it is freed must not reach an entry that is going away.
  if (FBitmap) FBitmap->OnChange = nullptr;
  FBitmap.reset();
  TCollectionItem::BeforeDestruction();
}

void TQuorvelBitmapPoolEntry::DoUpdate() {
  auto* pool = dynamic_cast<TQuorvelBitmapPool*>(GetCollection());
  if (pool && pool->GetOnUpdate()) pool->GetOnUpdate()(this);
}

template <class F>
void TQuorvelBitmapPoolEntry::Setup(F&& AChange) {
  FBitmap->BeginSetup();
  auto end = Finally([this] { FBitmap->EndSetup(); });
  AChange(*FBitmap);
}

void TQuorvelBitmapPoolEntry::PushFormats() {
  Setup([this](TQuorvelTextureBitmap& bmp) {
    bmp.SetKind(FTextureKind);
    bmp.SetComponents(FInternalFormat);
    bmp.SetFormat(FFormat);
    bmp.SetDataType(FDataType);
  });
}

void TQuorvelBitmapPoolEntry::SetDisplayName(const std::string& Value) {
  FName = Value;
  TCollectionItem::SetDisplayName(Value);
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetTiling(const TPointF& Value) {
  FTiling = Value;
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetTilingX(float Value) {
  FTiling.X = Value;
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetTilingY(float Value) {
  FTiling.Y = Value;
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetTextureKind(TQuorvelTextureKind Value) {
  FTextureKind = Value;
  PushFormats();
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetInternalFormat(TPixelFormatEx Value) {
  FInternalFormat = Value;
  FFormat = TPixelFormatExHelper::CompatibleFormat(FInternalFormat, FFormat);
  PushFormats();
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetFormat(TPixelFormatEx Value) {
  FFormat = TPixelFormatExHelper::CompatibleFormat(Value, Value);
  PushFormats();
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetDataType(TQuorvelTextureDataType Value) {
  FDataType = Value;
  PushFormats();
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetWrapS(TQuorvelTextureWrap Value) {
  FWrapping.S = Value;
  Setup([&](TQuorvelTextureBitmap& bmp) { bmp.SetWrapS(Value); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetWrapT(TQuorvelTextureWrap Value) {
  FWrapping.T = Value;
  Setup([&](TQuorvelTextureBitmap& bmp) { bmp.SetWrapT(Value); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetWrapR(TQuorvelTextureWrap Value) {
  FWrapping.R = Value;
  Setup([&](TQuorvelTextureBitmap& bmp) { bmp.SetWrapR(Value); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetMinFilter(TTextureFilter Value) {
  FMinMagFilter.Min = Value;
  Setup([&](TQuorvelTextureBitmap& bmp) { bmp.SetMinFilter(Value); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetMagFilter(TTextureFilter Value) {
  FMinMagFilter.Mag = Value;
  Setup([&](TQuorvelTextureBitmap& bmp) { bmp.SetMagFilter(Value); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetBorderColor(TAlphaColor Value) {
  FBorderColor = TAlphaColorF(Value);
  Setup([this](TQuorvelTextureBitmap& bmp) { bmp.SetBorderColor(FBorderColor); });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetBitmap(TQuorvelTextureBitmap* Value) { FBitmap->Assign(Value); }

void TQuorvelBitmapPoolEntry::GetPixelFormat(TPixelFormatEx& AComps, TPixelFormatEx& AFormat,
                                             TQuorvelTextureDataType& ADataType) const {
  AComps = FInternalFormat;
  AFormat = FFormat;
  ADataType = FDataType;
}

bool TQuorvelBitmapPoolEntry::SameFormats(TPixelFormatEx AComps, TPixelFormatEx AFormat,
                                          TQuorvelTextureDataType ADataType) const {
  return FBitmap && !FBitmap->IsEmpty() && AComps == FInternalFormat && AFormat == FFormat && ADataType == FDataType;
}

void TQuorvelBitmapPoolEntry::StorePixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps,
                                               TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType,
                                               bool AProtectFormatSettings) {
  FTextureKind = ATextureKind;
  FInternalFormat = AComps;
  FFormat = AFormat;
  FDataType = ADataType;
  FProtectFormatSettings = AProtectFormatSettings;
}

void TQuorvelBitmapPoolEntry::SetPixelFormat(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps,
                                             TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType,
                                             bool AProtectFormatSettings) {
  if (SameFormats(AComps, AFormat, ADataType)) return;
  StorePixelFormat(ATextureKind, AComps, AFormat, ADataType, AProtectFormatSettings);
  Setup([this](TQuorvelTextureBitmap& bmp) {
    bmp.SetKind(FTextureKind);
    bmp.SetProtectFormatSettings(FProtectFormatSettings);
    bmp.SetComponents(FInternalFormat);
    bmp.SetFormat(FFormat);
    bmp.SetDataType(FDataType);
  });
  DoUpdate();
}

void TQuorvelBitmapPoolEntry::SetPixelFormatNoUpdate(TQuorvelTextureKind ATextureKind, TPixelFormatEx AComps,
                                                     TPixelFormatEx AFormat, TQuorvelTextureDataType ADataType,
                                                     bool AProtectFormatSettings) {
  if (SameFormats(AComps, AFormat, ADataType)) return;
  StorePixelFormat(ATextureKind, AComps, AFormat, ADataType, AProtectFormatSettings);
}

void TQuorvelBitmapPoolEntry::SetTextureWrapping(TQuorvelTextureWrap AWrap) {
  FWrapping = {AWrap, AWrap, AWrap};
  Setup([&](TQuorvelTextureBitmap& bmp) {
    bmp.SetWrapS(AWrap);
    bmp.SetWrapT(AWrap);
    if (Is3DKind(FTextureKind) || FTextureKind == TQuorvelTextureKind::Array2D) bmp.SetWrapR(AWrap);
  });
}

void TQuorvelBitmapPoolEntry::SetTextureWrapping(TQuorvelTextureWrap AWrapS, TQuorvelTextureWrap AWrapT,
                                                 TQuorvelTextureWrap AWrapR) {
  FWrapping = {AWrapS, AWrapT, AWrapR};
  Setup([&](TQuorvelTextureBitmap& bmp) {
    bmp.SetWrapS(AWrapS);
    bmp.SetWrapT(AWrapT);
    if (Is3DKind(FTextureKind)) bmp.SetWrapR(AWrapR);
  });
}

void TQuorvelBitmapPoolEntry::SetTextureMinMagFilter(TTextureFilter AMin, TTextureFilter AMag) {
  FMinMagFilter = {AMin, AMag};
  Setup([&](TQuorvelTextureBitmap& bmp) {
    bmp.SetMinFilter(AMin);
    bmp.SetMagFilter(AMag);
  });
}

void TQuorvelBitmapPoolEntry::SetExtendedProperties(TQuorvelTextureWrap AWrapS, TQuorvelTextureWrap AWrapT,
                                                    TQuorvelTextureWrap AWrapR, TTextureFilter AMin,
                                                    TTextureFilter AMag, TAlphaColor ABorder,
                                                    const TTextureStyles& AStyles) {
  FWrapping = {AWrapS, AWrapT, AWrapR};
  FMinMagFilter = {AMin, AMag};
  FBorderColor = TAlphaColorF(ABorder);
  Setup([&](TQuorvelTextureBitmap& bmp) {
    bmp.SetWrapS(AWrapS);
    bmp.SetWrapT(AWrapT);
    if (Is3DKind(FTextureKind)) bmp.SetWrapR(AWrapR);
    bmp.SetMinFilter(AMin);
    bmp.SetMagFilter(AMag);
    bmp.SetBorderColor(FBorderColor);
    bmp.SetStyle(AStyles);
  });
}

void TQuorvelBitmapPoolEntry::LoadFromDefinition(TCustomDef* /*ADef*/) {}

void TQuorvelBitmapPoolEntry::StoreToDefinition(TCustomDef* ADef) {
  auto* texture = dynamic_cast<TTextureDef*>(ADef);
  if (!texture) throw EInvalidCast("Invalid class typecast");
  texture->SetTiling(FTiling);
  texture->SetIsDynamic(FIsDynamic);
  texture->SetIgnoreInArray(FIgnoreInArray);
  texture->SetDestination(FShaderKind);
  TSamplerDef* sampler = texture->GetSampler();
  sampler->SetTextureKind(GetTextureKind());
  sampler->SetInternalFormat(GetInternalFormat());
  sampler->SetFormat(GetFormat());
  sampler->SetDataType(GetDataType());
  sampler->SetWrapS(GetWrapS());
  sampler->SetWrapT(GetWrapT());
  sampler->SetWrapR(GetWrapR());
  sampler->SetMinFilter(GetMinFilter());
  sampler->SetMagFilter(GetMagFilter());
  sampler->SetBorderColor(FBorderColor);
}

void TQuorvelBitmapPoolEntry::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TQuorvelTexturePoolEntry*>(Dest)) {
    dest->FName = FName;
    dest->FTiling = FTiling;
    dest->FTexture = FBitmap->GetTexture();
    dest->FIsDynamic = FIsDynamic;
    dest->FIgnoreInArray = FIgnoreInArray;
    dest->FShaderKind = FShaderKind;
    dest->FTextureKind = FTextureKind;
    dest->FInternalFormat = FInternalFormat;
    dest->FFormat = FFormat;
    dest->FDataType = FDataType;
    dest->FWrapping = FWrapping;
    dest->FMinMagFilter = FMinMagFilter;
    dest->FBorderColor = FBorderColor;
    return;
  }
  if (auto* dest = dynamic_cast<TQuorvelBitmapPoolEntry*>(Dest)) {
    dest->FName = FName;
    dest->FTiling = FTiling;
    dest->FBitmap->Assign(FBitmap.get());
    // Copied as values: the destination's bitmap got them with the image already.
    dest->FIsDynamic = FIsDynamic;
    dest->FIgnoreInArray = FIgnoreInArray;
    dest->FShaderKind = FShaderKind;
    dest->FTextureKind = FTextureKind;
    dest->FInternalFormat = FInternalFormat;
    dest->FFormat = FFormat;
    dest->FDataType = FDataType;
    dest->FWrapping = FWrapping;
    dest->FMinMagFilter = FMinMagFilter;
    dest->FBorderColor = FBorderColor;
    dest->FProtectFormatSettings = FProtectFormatSettings;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

// ---------------------------------------------------------------------------------------
// TQuorvelBitmapPool

TQuorvelBitmapPool::TQuorvelBitmapPool(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TQuorvelBitmapPoolEntry::StaticClass()) {}

}  // namespace quorvel
