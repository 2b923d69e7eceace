#include "lib/context/ContextTexturing.h"

#include <cmath>
#include <cstring>

#include "framework/gui/Canvas.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelTexture, "Quorvel.Context.Texturing")
FW_CLASS_NO_MEMBERS(TQuorvelTexture)
FW_CLASS_IMPL(TQuorvelTextureBitmap, "Quorvel.Context.Texturing")
FW_CLASS_NO_MEMBERS(TQuorvelTextureBitmap)

namespace {

using PF = TPixelFormatEx;
using DT = TQuorvelTextureDataType;

struct TFormatRow {
  const char* Name;
  int32_t Bytes;
  PF Base;
  DT Type;
};

constexpr TFormatRow FormatTable[PixelFormatExCount] = {
    {"None", 0, PF::None, DT::dtUnsignedByte},
    {"RGB", 3, PF::RGB, DT::dtUnsignedByte},
    {"RGBA", 4, PF::RGBA, DT::dtUnsignedByte},
    {"BGR", 3, PF::BGR, DT::dtUnsignedByte},
    {"BGRA", 4, PF::BGRA, DT::dtUnsignedByte},
    {"RGBA16", 8, PF::RGBA, DT::dtUnsignedShort},
    {"BGR_565", 2, PF::BGR, DT::dtUnsignedByte},
    {"BGRA4", 2, PF::BGRA, DT::dtUnsignedByte},
    {"BGR4", 2, PF::BGR, DT::dtUnsignedByte},
    {"BGR5_A1", 2, PF::BGRA, DT::dtUnsignedByte},
    {"BGR5", 2, PF::BGR, DT::dtUnsignedByte},
    {"BGR10_A2", 4, PF::BGRA, DT::dtUnsignedInt},
    {"RGB10_A2", 4, PF::RGBA, DT::dtUnsignedInt},
    {"L", 1, PF::L, DT::dtUnsignedByte},
    {"LA", 2, PF::LA, DT::dtUnsignedByte},
    {"LA4", 1, PF::LA4, DT::dtUnsignedByte},
    {"L16", 2, PF::L16, DT::dtUnsignedShort},
    {"Alpha", 1, PF::Alpha, DT::dtUnsignedByte},
    {"R16F", 2, PF::R, DT::dtHalfFloat},
    {"RG16F", 4, PF::RG, DT::dtHalfFloat},
    {"RGBA16F", 8, PF::RGBA, DT::dtHalfFloat},
    {"R32F", 4, PF::R, DT::dtFloat},
    {"RG32F", 8, PF::RG, DT::dtFloat},
    {"RGBA32F", 16, PF::RGBA, DT::dtFloat},
    {"R", 1, PF::R, DT::dtUnsignedByte},
    {"R8", 1, PF::R, DT::dtUnsignedByte},
    {"R8_SNORM", 1, PF::R, DT::dtByte},
    {"RedInteger", 1, PF::RedInteger, DT::dtInt},
    {"R8UI", 1, PF::RedInteger, DT::dtUnsignedByte},
    {"R8I", 1, PF::RedInteger, DT::dtByte},
    {"R16UI", 2, PF::RedInteger, DT::dtUnsignedShort},
    {"R16I", 2, PF::RedInteger, DT::dtShort},
    {"R32UI", 4, PF::RedInteger, DT::dtUnsignedInt},
    {"R32I", 4, PF::RedInteger, DT::dtInt},
    {"RG", 2, PF::RG, DT::dtUnsignedByte},
    {"RG8", 2, PF::RG, DT::dtUnsignedByte},
    {"RG8_SNORM", 2, PF::RG, DT::dtByte},
    {"RGInteger", 2, PF::RGInteger, DT::dtInt},
    {"RG8UI", 2, PF::RGInteger, DT::dtUnsignedByte},
    {"RG8I", 2, PF::RGInteger, DT::dtByte},
    {"RG16UI", 4, PF::RGInteger, DT::dtUnsignedShort},
    {"RG16I", 4, PF::RGInteger, DT::dtShort},
    {"RG32UI", 8, PF::RGInteger, DT::dtUnsignedInt},
    {"RG32I", 8, PF::RGInteger, DT::dtInt},
    {"RGB8", 3, PF::BGR, DT::dtUnsignedByte},
    {"SRGB8", 3, PF::RGB, DT::dtUnsignedByte},
    {"RGB565", 2, PF::RGB, DT::dtUnsignedByte},
    {"RGB8_SNORM", 3, PF::RGB, DT::dtByte},
    {"R11F_G11F_B10F", 4, PF::RGB, DT::dtHalfFloat},
    {"RGB9_E5", 4, PF::RGB, DT::dtFloat},
    {"RGB16F", 6, PF::RGB, DT::dtHalfFloat},
    {"RGB32F", 12, PF::RGB, DT::dtFloat},
    {"RGBInteger", 3, PF::RGBInteger, DT::dtInt},
    {"RGB8UI", 3, PF::RGBInteger, DT::dtUnsignedByte},
    {"RGB8I", 3, PF::RGBInteger, DT::dtByte},
    {"RGB16UI", 6, PF::RGBInteger, DT::dtUnsignedShort},
    {"RGB16I", 6, PF::RGBInteger, DT::dtShort},
    {"RGB32UI", 12, PF::RGBInteger, DT::dtUnsignedInt},
    {"RGB32I", 12, PF::RGBInteger, DT::dtInt},
    {"RGBA8", 4, PF::BGRA, DT::dtUnsignedByte},
    {"SRGB8_ALPHA8", 4, PF::RGBA, DT::dtUnsignedByte},
    {"RGBA8_SNORM", 4, PF::RGBA, DT::dtByte},
    {"RGB5_A1", 2, PF::RGBA, DT::dtUnsignedByte},
    {"RGBA4", 2, PF::RGBA, DT::dtUnsignedByte},
    {"RGBAInteger", 4, PF::RGBAInteger, DT::dtInt},
    {"RGBA8UI", 4, PF::RGBAInteger, DT::dtUnsignedByte},
    {"RGBA8I", 4, PF::RGBAInteger, DT::dtByte},
    {"RGB10_A2UI", 4, PF::RGBAInteger, DT::dtUnsignedInt},
    {"RGBA16UI", 8, PF::RGBAInteger, DT::dtUnsignedShort},
    {"RGBA16I", 8, PF::RGBAInteger, DT::dtShort},
    {"RGBA32I", 16, PF::RGBAInteger, DT::dtUnsignedInt},
    {"RGBA32UI", 16, PF::RGBAInteger, DT::dtInt},
    {"StencilIndex", 4, PF::StencilIndex, DT::dtUnsignedByte},
    {"Depth", 1, PF::Depth, DT::dtUnsignedByte},
    {"Depth16", 2, PF::Depth, DT::dtUnsignedShort},
    {"Depth24", 3, PF::Depth, DT::dtUnsignedInt},
    {"Depth32", 4, PF::Depth, DT::dtFloat},
    {"Depth24Stencil8", 4, PF::DepthStencil, DT::dtUnsignedInt},
    {"Depth32Stencil8", 5, PF::DepthStencil, DT::dtFloat},
    {"DepthStencil", 1, PF::DepthStencil, DT::dtUnsignedInt},
};

constexpr const char* DataTypeNames[] = {"Byte",  "UnsignedByte", "Short",  "UnsignedShort",
                                         "Int",   "UnsignedInt",  "Float",  "HalfFloat",
                                         "2Bytes", "3Bytes",      "4Bytes", "Double"};
constexpr int32_t DataTypeSizes[] = {1, 1, 2, 2, 4, 4, 4, 2, 2, 3, 4, 8};

const TFormatRow* Row(TPixelFormatEx AFormat) {
  const auto i = static_cast<size_t>(AFormat);
  return i < static_cast<size_t>(PixelFormatExCount) ? &FormatTable[i] : nullptr;
}

bool InRange(PF v, PF lo, PF hi) { return static_cast<int>(v) >= static_cast<int>(lo) && static_cast<int>(v) <= static_cast<int>(hi); }


}  // namespace

const TPixelFormatExHelper* PixelFormatExHelperClass = TPixelFormatExHelper::Base();
const TQuorvelTextureWrapHelper* TextureWrapHelperClass = TQuorvelTextureWrapHelper::Base();
const TQuorvelTextureDataTypeHelper* TextureDataTypeHelperClass = TQuorvelTextureDataTypeHelper::Base();
const TClass* TextureClass = TQuorvelTexture::StaticClass();
const TClass* TextureBitmapClass = TQuorvelTextureBitmap::StaticClass();

int32_t PixelFormatExBytes(TPixelFormatEx AFormat) {
  const TFormatRow* r = Row(AFormat);
  return r ? r->Bytes : 0;
}

int32_t TextureDataTypeSize(TQuorvelTextureDataType AType) {
  const auto i = static_cast<size_t>(AType);
  if (i >= std::size(DataTypeSizes)) throw Exception("failed to retrieve datatype size - unknown datatype");
  return DataTypeSizes[i];
}

TQuorvelTextureWrap StrToTextureWrap(const std::string& AText) {
  const std::string s = LowerCase(Trim(AText));
  if (s == "clamp") return TQuorvelTextureWrap::Clamp;
  if (s == "clamp_to_edge") return TQuorvelTextureWrap::ClampToEdge;
  if (s == "clamp_to_border") return TQuorvelTextureWrap::ClampToBorder;
  if (s == "repeat") return TQuorvelTextureWrap::Repeated;
  if (s == "mirrored_repeat") return TQuorvelTextureWrap::MirroredRepeat;
  return TQuorvelTextureWrap::ClampToEdge;
}

// --- helpers ------------------------------------------------------------------------------

intptr_t TPixelFormatExHelper::DoToValue(TPixelFormatEx) const { RaiseAbstractError(); }
bool TPixelFormatExHelper::DoIsIntegerTexture(intptr_t) const { RaiseAbstractError(); }
intptr_t TPixelFormatExHelper::DoTransferType(TPixelFormatEx, intptr_t, intptr_t AType) const { return AType; }
int64_t TPixelFormatExHelper::DoTransferPixelSize(intptr_t, intptr_t) const { RaiseAbstractError(); }

const TPixelFormatExHelper* TPixelFormatExHelper::Base() {
  static const TPixelFormatExHelper helper;
  return &helper;
}

intptr_t TPixelFormatExHelper::ToValue(TPixelFormatEx AFormat) { return PixelFormatExHelperClass->DoToValue(AFormat); }

intptr_t TPixelFormatExHelper::ToValue(TPixelFormat AFormat) {
  return PixelFormatExHelperClass->DoToValue(static_cast<TPixelFormatEx>(AFormat));
}

TPixelFormat TPixelFormatExHelper::ToPixelFormat(TPixelFormatEx AFormat) {
  if (static_cast<int>(AFormat) <= static_cast<int>(PF::RGBA32F)) return static_cast<TPixelFormat>(AFormat);
  throw Exception(Format("failed to convert to TPixelFormat: %s is only valid in TPixelFormatEx", ToString(AFormat)));
}

TPixelFormatEx TPixelFormatExHelper::GetCorrespondingFormat(TPixelFormatEx AComp) {
  const TFormatRow* r = Row(AComp);
  return r ? r->Base : PF::None;
}

TQuorvelTextureDataType TPixelFormatExHelper::GetCorrespondingDataType(TPixelFormatEx AComp) {
  const TFormatRow* r = Row(AComp);
  return r ? r->Type : DT::dtUnsignedByte;
}

TPixelFormatEx TPixelFormatExHelper::CompatibleFormat(TPixelFormatEx AComp, TPixelFormatEx AFormat) {
  if (AFormat != PF::BGR && AFormat != PF::BGRA) return AFormat;
  switch (AComp) {
    case PF::RGB:
    case PF::RGBA:
    case PF::RGBA16:
    case PF::RGB10_A2:
    case PF::RGBA16F:
    case PF::RGBA32F:
      return GetCorrespondingFormat(AComp);
    default:
      break;
  }
  if (InRange(AComp, PF::RGB8, PF::RGBA32UI)) return GetCorrespondingFormat(AComp);
  const TPixelFormatEx expected = GetCorrespondingFormat(AComp);
  if (expected != AFormat)
    Log::d(Format("TPixelFormatExHelper.CompatibleFormat failed, but ignored:\r\n%s (given) <> %s (expected) "
                  "(expected basis formats is different)",
                  ToString(AFormat), ToString(expected)));
  return AFormat;
}

std::string TPixelFormatExHelper::ToString(TPixelFormatEx AFormat) {
  const TFormatRow* r = Row(AFormat);
  return r ? r->Name : "?";
}

bool TPixelFormatExHelper::IsIntegerTexture(TPixelFormatEx AFormat) {
  return InRange(AFormat, PF::RedInteger, PF::R32I) || InRange(AFormat, PF::RGInteger, PF::RG32I) ||
         InRange(AFormat, PF::RGBInteger, PF::RGB32I) || InRange(AFormat, PF::RGBAInteger, PF::RGBA32UI);
}

bool TPixelFormatExHelper::IsIntegerTexture(intptr_t AFormat) {
  return PixelFormatExHelperClass->DoIsIntegerTexture(AFormat);
}

intptr_t TPixelFormatExHelper::TransferType(TPixelFormatEx AComponents, intptr_t AFormat, intptr_t AType) {
  return PixelFormatExHelperClass->DoTransferType(AComponents, AFormat, AType);
}

int64_t TPixelFormatExHelper::TransferPixelSize(intptr_t AFormat, intptr_t AType) {
  return PixelFormatExHelperClass->DoTransferPixelSize(AFormat, AType);
}

intptr_t TQuorvelTextureWrapHelper::DoToValue(TQuorvelTextureWrap) const { RaiseAbstractError(); }

const TQuorvelTextureWrapHelper* TQuorvelTextureWrapHelper::Base() {
  static const TQuorvelTextureWrapHelper helper;
  return &helper;
}

intptr_t TQuorvelTextureWrapHelper::ToValue(TQuorvelTextureWrap AType) { return TextureWrapHelperClass->DoToValue(AType); }

intptr_t TQuorvelTextureDataTypeHelper::DoToValue(TQuorvelTextureDataType) const { RaiseAbstractError(); }

const TQuorvelTextureDataTypeHelper* TQuorvelTextureDataTypeHelper::Base() {
  static const TQuorvelTextureDataTypeHelper helper;
  return &helper;
}

intptr_t TQuorvelTextureDataTypeHelper::ToValue(TQuorvelTextureDataType AType) {
  return TextureDataTypeHelperClass->DoToValue(AType);
}

std::string TQuorvelTextureDataTypeHelper::ToString(TQuorvelTextureDataType AType) {
  const auto i = static_cast<size_t>(AType);
  return i < std::size(DataTypeNames) ? DataTypeNames[i] : "?";
}

// --- TQuorvelTextureFormat ----------------------------------------------------------------

void TQuorvelTextureFormat::CopyFormatFrom(const TQuorvelTextureFormat& ASource, bool AKeepFormat) {
  FKind = ASource.FKind;
  if (!AKeepFormat) {
    FComponents = ASource.FComponents;
    FFormat = ASource.FFormat;
    FDataType = ASource.FDataType;
  }
  FWrapS = ASource.FWrapS;
  FWrapT = ASource.FWrapT;
  FWrapR = ASource.FWrapR;
  FBorderColor = ASource.FBorderColor;
  FDepth = ASource.FDepth;
  FAttachedCubeMapFace = ASource.FAttachedCubeMapFace;
  FMipMapLevels = ASource.FMipMapLevels;
}

// --- TQuorvelTexture ----------------------------------------------------------------------

TQuorvelTexture::TQuorvelTexture() : TQuorvelTextureFormat(TQuorvelTextureWrap::Repeated) {}

TQuorvelTexture* TQuorvelTexture::Create() { return TextureClass->CreateAs<TQuorvelTexture>(); }

void TQuorvelTexture::GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const {
  AComps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(FComponents));
  AFormat = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(TPixelFormatExHelper::CompatibleFormat(FComponents, FFormat)));
  ADataType = static_cast<uint32_t>(TPixelFormatExHelper::TransferType(
      FComponents, AFormat, TQuorvelTextureDataTypeHelper::ToValue(FDataType)));
}

void TQuorvelTexture::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (auto* tex = dynamic_cast<TQuorvelTexture*>(Source)) {
    CopyFormatFrom(*tex);
    FTextureUnit = tex->FTextureUnit;
    FStyleEx = tex->GetStyle();
    SetStyle(FStyleEx);
    SetMinFilter(tex->GetMinFilter());
    SetMagFilter(tex->GetMagFilter());
    FBuffer = tex->FBuffer;
    FBufferSize = tex->FBufferSize;
  } else if (auto* bmp = dynamic_cast<TQuorvelTextureBitmap*>(Source)) {
    CopyFormatFrom(bmp->GetFormatSettings());
    FStyleEx = bmp->GetStyle();
    SetStyle(bmp->GetStyle());
    SetMinFilter(bmp->GetMinFilter());
    SetMagFilter(bmp->GetMagFilter());
    FBuffer = bmp->GetBuffer();
    FBufferSize = bmp->GetBufferSize();
  }
  TTexture::Assign(Source);
}

void TQuorvelTexture::GetBindingAndKind(uint32_t&, uint32_t&) const { RaiseAbstractError(); }
void TQuorvelTexture::Clear() { RaiseAbstractError(); }
void TQuorvelTexture::GenerateMipMap() { RaiseAbstractError(); }
bool TQuorvelTexture::RequestTextureData(std::vector<uint8_t>&, int64_t&, int32_t) { RaiseAbstractError(); }

// --- TQuorvelTextureBitmap ----------------------------------------------------------------

TQuorvelTextureBitmap::TQuorvelTextureBitmap() : TQuorvelTextureFormat(TQuorvelTextureWrap::ClampToEdge) {
  FBitmapStates = {};
}

TQuorvelTextureBitmap::~TQuorvelTextureBitmap() {
  FreeQuietlyAndNil(FCompressedData, "TQuorvelTextureBitmap destructor: compressed data");
}

void TQuorvelTextureBitmap::BeforeDestruction() {
  FBitmapStates.Include(TQuorvelTextureBitmapState::bsDestroying);
  FIsCompressed = false;
  FreeAndNil(FCompressedData);
  FreeBuffer();
  TTextureBitmap::BeforeDestruction();
}

TQuorvelTextureBitmap* TQuorvelTextureBitmap::Create() {
  return TextureBitmapClass->CreateAs<TQuorvelTextureBitmap>();
}

TQuorvelTextureBitmap* TQuorvelTextureBitmap::Create(int32_t AWidth, int32_t AHeight) {
  TOwned<TQuorvelTextureBitmap> bmp(Create());
  bmp->SetSize(AWidth, AHeight);
  return bmp.release();
}

void TQuorvelTextureBitmap::BeginSetup() {
  ++FSettingUp;
  FBitmapStates.Include(TQuorvelTextureBitmapState::bsUpdating);
}

void TQuorvelTextureBitmap::EndSetup() {
  const bool last = FSettingUp == 1;
  if (FSettingUp > 0) --FSettingUp;
  FBitmapStates.Exclude(TQuorvelTextureBitmapState::bsUpdating);
  if (last) DoValidateBuffer();
}

void TQuorvelTextureBitmap::SetFormat(TPixelFormatEx Value) {
  switch (Value) {
    case PF::RGB: case PF::RGBA: case PF::BGR: case PF::BGRA: case PF::L: case PF::LA: case PF::Alpha:
    case PF::R: case PF::RedInteger: case PF::RG: case PF::RGInteger: case PF::RGBInteger:
    case PF::RGBAInteger: case PF::StencilIndex: case PF::Depth: case PF::DepthStencil:
      break;
    default:
      throw Exception("invalid texture format");
  }
  FFormat = Value;
  // Formats past the framework's range have no bitmap format of their own; the image keeps
  // its BGRA pixels and the Format field carries the value.
  SetPixelFormat(static_cast<int>(Value) <= static_cast<int>(PF::RGBA32F) ? static_cast<TPixelFormat>(Value)
                                                                             : TPixelFormat::BGRA);
}

void TQuorvelTextureBitmap::SetComponents(TPixelFormatEx Value) {
  TMonitorGuard lock(this);
  FComponents = Value;
}

void TQuorvelTextureBitmap::SetDataType(TQuorvelTextureDataType Value) {
  TMonitorGuard lock(this);
  FDataType = Value;
}

void TQuorvelTextureBitmap::SetAttachedCubeMapFace(TQuorvelCubeMapFace Value) {
  TMonitorGuard lock(this);
  FAttachedCubeMapFace = Value;
  GetQuorvelTexture()->SetAttachedCubeMapFace(Value);
}

TQuorvelTexture* TQuorvelTextureBitmap::GetQuorvelTexture() {
  TTexture* tex = GetTexture();
  if (!tex) throw EInvalidCast("Invalid class typecast");
  return tex->As<TQuorvelTexture>();
}

void TQuorvelTextureBitmap::SetPixelFormat(TPixelFormat AValue) {
  FreeBitmapHandle();
  CreateBitmapHandle(AValue);
}

void TQuorvelTextureBitmap::CreateBitmapHandle(TPixelFormat APixelFormat) {
  SetImagePixelFormat(APixelFormat);
  TPixelFormat adjusted = APixelFormat;
  SetImageHandle(GetCanvasClass().InitializeBitmap(FWidth, FHeight, FBitmapScale, adjusted));
  SetImagePixelFormat(APixelFormat);
}

void TQuorvelTextureBitmap::FreeBitmapHandle() {
  TBitmapHandle handle = GetHandle();
  GetCanvasClass().FinalizeBitmap(handle);
  SetImageHandle(0);
}

void TQuorvelTextureBitmap::Set3DSize(int32_t AWidth, int32_t AHeight, int32_t ADepth) {
  {
    TMonitorGuard lock(this);
    FDepth = ADepth;
  }
  SetSize(AWidth, AHeight);
}

TTexture* TQuorvelTextureBitmap::GetTextureReference() const {
  TTexture* tex = GetTextureSlot();
  return tex && tex->GetHandle() != 0 ? tex : nullptr;
}

void TQuorvelTextureBitmap::SetTextureReference(TTexture* Value) {
  TMonitorGuard lock(this);
  DestroyResources();
  SetTextureSlot(Value, false);
}

void TQuorvelTextureBitmap::UnsetTextureReference() {
  TMonitorGuard lock(this);
  DestroyResources();
  SetTextureSlot(nullptr, false);
}

void TQuorvelTextureBitmap::DestroyResources() {
  // A texture in use by an open canvas scene must survive until the scene ends.
  if (!FBitmapStates.Contains(TQuorvelTextureBitmapState::bsDestroying) && GetTextureSlot() && !IsEmpty() &&
      GetCanvas()->GetBeginSceneCount() > 0)
    return;
  TTextureBitmap::DestroyResources();
}

void TQuorvelTextureBitmap::BitmapChanged() {
  // The upload buffer follows the image's size; a setup validates once, at its end.
  if (FSettingUp == 0) DoValidateBuffer();
  TTextureBitmap::BitmapChanged();
}

void TQuorvelTextureBitmap::GetFormatAndType(TTexture* ATexture, uint32_t& AComps, uint32_t& AFormat,
                                             uint32_t& ADataType) const {
  if (auto* tex = dynamic_cast<TQuorvelTexture*>(ATexture)) {
    tex->GetFormatAndType(AComps, AFormat, ADataType);
    return;
  }
  AComps = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(PF::RGBA8));
  AFormat = static_cast<uint32_t>(TPixelFormatExHelper::ToValue(PF::BGRA));
  ADataType = static_cast<uint32_t>(TQuorvelTextureDataTypeHelper::ToValue(DT::dtUnsignedByte));
}

void TQuorvelTextureBitmap::UpdateCubeMapFace(TQuorvelCubeMapFace ASide, TBitmap* ATexture) {
  if (FKind != TQuorvelTextureKind::CubeMap) return;
  auto* source = dynamic_cast<TTextureBitmap*>(ATexture);
  if (!source) return;
  if (auto* qsource = dynamic_cast<TQuorvelTextureBitmap*>(source); qsource && qsource->GetBuffer()) {
    UpdateCubeMapFace(ASide, qsource->GetQuorvelTexture(), nullptr, 0);
    return;
  }
  TBitmapData data;
  if (!source->Map(TMapAccess::Read, data)) return;
  auto unmap = Finally([&] { source->Unmap(data); });
  UpdateCubeMapFace(ASide, source->GetTexture(), data.Data, data.Pitch);
}

void TQuorvelTextureBitmap::UpdateCubeMapFace(TQuorvelCubeMapFace, TTexture*, const void*, int32_t) {
  RaiseAbstractError();
}
void TQuorvelTextureBitmap::UpdateBuffer(const void*, int64_t) { RaiseAbstractError(); }
void TQuorvelTextureBitmap::Update3DSlice(int32_t, const void*, int64_t) { RaiseAbstractError(); }

void TQuorvelTextureBitmap::Recompress() { TMonitorGuard lock(this); }
void TQuorvelTextureBitmap::Decompress() { TMonitorGuard lock(this); }

void TQuorvelTextureBitmap::Assign(TPersistent* Source) {
  if (Source == this) return;
  FBitmapStates.Include(TQuorvelTextureBitmapState::bsUpdating);
  auto updated = Finally([&] { FBitmapStates.Exclude(TQuorvelTextureBitmapState::bsUpdating); });
  if (auto* bmp = dynamic_cast<TQuorvelTextureBitmap*>(Source)) {
    CopyFormatFrom(*bmp, FProtectFormatSettings);
    FMinFilter = bmp->FMinFilter;
    FMagFilter = bmp->FMagFilter;
    FStyle = bmp->FStyle;
  } else if (auto* tex = dynamic_cast<TQuorvelTexture*>(Source)) {
    CopyFormatFrom(tex->GetFormatSettings(), FProtectFormatSettings);
    FMinFilter = tex->GetMinFilter();
    FMagFilter = tex->GetMagFilter();
    FStyle = tex->GetStyle();
  } else if (auto* plain = dynamic_cast<TTexture*>(Source)) {
    FStyle = plain->GetStyle();
  }
  TTextureBitmap::Assign(Source);
}

void TQuorvelTextureBitmap::DoValidateBuffer() {
  const int64_t element = TextureDataTypeSize(FDataType);
  if (FKind == TQuorvelTextureKind::Texture3D || FKind == TQuorvelTextureKind::Array2D) {
    FreeBuffer();
    return;
  }
  // Sized by what an upload reads per pixel (packed depth-stencil types are wider than the
  // table's bytes), in 64 bits: a 32-bit product overflows for large float textures.
  int64_t pixel = element * PixelFormatExBytes(FFormat);
  if (PixelFormatExHelperClass != TPixelFormatExHelper::Base()) {
    const intptr_t format = TPixelFormatExHelper::ToValue(TPixelFormatExHelper::CompatibleFormat(FComponents, FFormat));
    const intptr_t type =
        TPixelFormatExHelper::TransferType(FComponents, format, TQuorvelTextureDataTypeHelper::ToValue(FDataType));
    pixel = TPixelFormatExHelper::TransferPixelSize(format, type);
  }
  const int64_t size = pixel * int64_t(FWidth) * int64_t(FHeight);
  if (size == int64_t(FWidth) * FHeight * 4) {
    // The bitmap's own pixels hold the image. A buffer kept from an earlier size would be
    // preferred by the uploads and read past its end, so it goes.
    FreeBuffer();
    return;
  }
  if (size == GetBufferSize()) return;
  FreeBuffer();
  FBuffer.resize(static_cast<size_t>(size));
}

void TQuorvelTextureBitmap::FreeBuffer() { std::vector<uint8_t>().swap(FBuffer); }

}  // namespace quorvel
