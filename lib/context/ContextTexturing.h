#pragma once
// The graphics-neutral texture layer: the extended pixel formats and texture enumerations,
// the helpers that answer questions about them, the engine texture and the texture bitmap.
// GL constants are reached only through the helper class variables, which the OpenGL unit
// fills at start-up; textures and bitmaps are made through TextureClass and
// TextureBitmapClass (TQuorvelTexture::Create, TQuorvelTextureBitmap::Create).
#include <cstdint>
#include <string>
#include <vector>

#include "framework/gui3d/Texture.h"
#include "framework/io/Stream.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

// Ordinals are persisted (texture definitions) and the first 24 equal TPixelFormat's.
enum class TPixelFormatEx : uint8_t {
  None = 0, RGB = 1, RGBA = 2, BGR = 3, BGRA = 4, RGBA16 = 5, BGR_565 = 6, BGRA4 = 7, BGR4 = 8, BGR5_A1 = 9,
  BGR5 = 10, BGR10_A2 = 11, RGB10_A2 = 12, L = 13, LA = 14, LA4 = 15, L16 = 16, Alpha = 17, R16F = 18,
  RG16F = 19, RGBA16F = 20, R32F = 21, RG32F = 22, RGBA32F = 23, R = 24, R8 = 25, R8_SNORM = 26,
  RedInteger = 27, R8UI = 28, R8I = 29, R16UI = 30, R16I = 31, R32UI = 32, R32I = 33, RG = 34, RG8 = 35,
  RG8_SNORM = 36, RGInteger = 37, RG8UI = 38, RG8I = 39, RG16UI = 40, RG16I = 41, RG32UI = 42, RG32I = 43,
  RGB8 = 44, SRGB8 = 45, RGB565 = 46, RGB8_SNORM = 47, R11F_G11F_B10F = 48, RGB9_E5 = 49, RGB16F = 50,
  RGB32F = 51, RGBInteger = 52, RGB8UI = 53, RGB8I = 54, RGB16UI = 55, RGB16I = 56, RGB32UI = 57,
  RGB32I = 58, RGBA8 = 59, SRGB8_ALPHA8 = 60, RGBA8_SNORM = 61, RGB5_A1 = 62, RGBA4 = 63,
  RGBAInteger = 64, RGBA8UI = 65, RGBA8I = 66, RGB10_A2UI = 67, RGBA16UI = 68, RGBA16I = 69,
  RGBA32I = 70, RGBA32UI = 71, StencilIndex = 72, Depth = 73, Depth16 = 74, Depth24 = 75, Depth32 = 76,
  Depth24Stencil8 = 77, Depth32Stencil8 = 78, DepthStencil = 79
};
inline constexpr int PixelFormatExCount = 80;

enum class TQuorvelTextureDataType : uint8_t {
  dtByte = 0, dtUnsignedByte = 1, dtShort = 2, dtUnsignedShort = 3, dtInt = 4, dtUnsignedInt = 5, dtFloat = 6,
  dtHalfFloat = 7, dt2Bytes = 8, dt3Bytes = 9, dt4Bytes = 10, dtDouble = 11
};
FW_ENUM(TQuorvelTextureDataType, dtByte, dtUnsignedByte, dtShort, dtUnsignedShort, dtInt, dtUnsignedInt, dtFloat,
        dtHalfFloat, dt2Bytes, dt3Bytes, dt4Bytes, dtDouble)

enum class TQuorvelTextureKind : uint8_t { Texture2D = 0, Texture3D = 1, CubeMap = 2, ImageTexture3D = 3, Array2D = 4 };
FW_ENUM(TQuorvelTextureKind, Texture2D, Texture3D, CubeMap, ImageTexture3D, Array2D)

enum class TQuorvelTextureWrap : uint8_t { Clamp = 0, ClampToEdge = 1, ClampToBorder = 2, Repeated = 3, MirroredRepeat = 4 };
FW_ENUM(TQuorvelTextureWrap, Clamp, ClampToEdge, ClampToBorder, Repeated, MirroredRepeat)

enum class TQuorvelCubeMapFace : uint8_t {
  PositiveX = 0, NegativeX = 1, PositiveY = 2, NegativeY = 3, PositiveZ = 4, NegativeZ = 5
};
FW_ENUM(TQuorvelCubeMapFace, PositiveX, NegativeX, PositiveY, NegativeY, PositiveZ, NegativeZ)

enum class TQuorvelTextureBitmapState : uint8_t { bsCreating = 0, bsDestroying = 1, bsUpdating = 2 };
FW_ENUM(TQuorvelTextureBitmapState, bsCreating, bsDestroying, bsUpdating)
using TQuorvelTextureBitmapStates = TSet<TQuorvelTextureBitmapState>;

// Bytes per pixel of each TPixelFormatEx (0 outside the enumeration).
int32_t PixelFormatExBytes(TPixelFormatEx AFormat);
// Element size of a data type; an unknown ordinal raises "failed to retrieve datatype size -
// unknown datatype".
int32_t TextureDataTypeSize(TQuorvelTextureDataType AType);

// "clamp", "clamp_to_edge", "clamp_to_border", "repeat", "mirrored_repeat" (trimmed, any
// case); anything else ClampToEdge.
TQuorvelTextureWrap StrToTextureWrap(const std::string& AText);

// The helper "classes": one object per class carrying its virtual class functions. The
// static functions ask the helper installed in the class variable, so the OpenGL helper
// answers every caller; the base helpers raise EAbstractError.
class TPixelFormatExHelper {
public:
  virtual ~TPixelFormatExHelper() = default;
  virtual intptr_t DoToValue(TPixelFormatEx AFormat) const;
  virtual bool DoIsIntegerTexture(intptr_t AFormat) const;
  // The transfer type to use with a transfer format: the given one, except where the API
  // needs a packed type (the OpenGL helper's depth-stencil formats).
  virtual intptr_t DoTransferType(TPixelFormatEx AComponents, intptr_t AFormat, intptr_t AType) const;
  // Bytes one pixel takes in client memory for a transfer format and type (the API values);
  // the base helper raises EAbstractError.
  virtual int64_t DoTransferPixelSize(intptr_t AFormat, intptr_t AType) const;

  static const TPixelFormatExHelper* Base();

  static intptr_t ToValue(TPixelFormatEx AFormat);
  static intptr_t ToValue(TPixelFormat AFormat);
  static TPixelFormat ToPixelFormat(TPixelFormatEx AFormat);
  static TPixelFormatEx GetCorrespondingFormat(TPixelFormatEx AComp);
  static TQuorvelTextureDataType GetCorrespondingDataType(TPixelFormatEx AComp);
  static TPixelFormatEx CompatibleFormat(TPixelFormatEx AComp, TPixelFormatEx AFormat);
  static std::string ToString(TPixelFormatEx AFormat);
  static bool IsIntegerTexture(TPixelFormatEx AFormat);
  static bool IsIntegerTexture(intptr_t AFormat);
  static intptr_t TransferType(TPixelFormatEx AComponents, intptr_t AFormat, intptr_t AType);
  static int64_t TransferPixelSize(intptr_t AFormat, intptr_t AType);
};

class TQuorvelTextureWrapHelper {
public:
  virtual ~TQuorvelTextureWrapHelper() = default;
  virtual intptr_t DoToValue(TQuorvelTextureWrap AType) const;
  static const TQuorvelTextureWrapHelper* Base();
  static intptr_t ToValue(TQuorvelTextureWrap AType);
};

class TQuorvelTextureDataTypeHelper {
public:
  virtual ~TQuorvelTextureDataTypeHelper() = default;
  virtual intptr_t DoToValue(TQuorvelTextureDataType AType) const;
  static const TQuorvelTextureDataTypeHelper* Base();
  static intptr_t ToValue(TQuorvelTextureDataType AType);
  static std::string ToString(TQuorvelTextureDataType AType);
};

// The installed helpers; never null (the base helpers until the OpenGL unit starts).
extern const TPixelFormatExHelper* PixelFormatExHelperClass;
extern const TQuorvelTextureWrapHelper* TextureWrapHelperClass;
extern const TQuorvelTextureDataTypeHelper* TextureDataTypeHelperClass;

// --------------------------------------------------------------------------------------

// The format settings a texture and a texture bitmap share, copied between them as one part.
class TQuorvelTextureFormat {
public:
  explicit TQuorvelTextureFormat(TQuorvelTextureWrap AWrap) : FWrapS(AWrap), FWrapT(AWrap), FWrapR(AWrap) {}

  // Copies every shared setting; AKeepFormat keeps components, format and data type.
  void CopyFormatFrom(const TQuorvelTextureFormat& ASource, bool AKeepFormat = false);
  const TQuorvelTextureFormat& GetFormatSettings() const { return *this; }

  TQuorvelTextureKind GetKind() const { return FKind; }
  TPixelFormatEx GetComponents() const { return FComponents; }
  TPixelFormatEx GetFormat() const { return FFormat; }
  TQuorvelTextureDataType GetDataType() const { return FDataType; }
  TQuorvelTextureWrap GetWrapS() const { return FWrapS; }
  void SetWrapS(TQuorvelTextureWrap Value) { FWrapS = Value; }
  TQuorvelTextureWrap GetWrapT() const { return FWrapT; }
  void SetWrapT(TQuorvelTextureWrap Value) { FWrapT = Value; }
  TQuorvelTextureWrap GetWrapR() const { return FWrapR; }
  void SetWrapR(TQuorvelTextureWrap Value) { FWrapR = Value; }
  TAlphaColorF GetBorderColor() const { return FBorderColor; }
  void SetBorderColor(const TAlphaColorF& Value) { FBorderColor = Value; }
  int32_t GetDepth() const { return FDepth; }
  void SetDepth(int32_t Value) { FDepth = Value; }
  TQuorvelCubeMapFace GetAttachedCubeMapFace() const { return FAttachedCubeMapFace; }
  int32_t GetMipMapLevels() const { return FMipMapLevels; }
  void SetMipMapLevels(int32_t Value) { FMipMapLevels = Value; }

protected:
  TQuorvelTextureKind FKind = TQuorvelTextureKind::Texture2D;
  TPixelFormatEx FComponents = TPixelFormatEx::RGBA8;
  TPixelFormatEx FFormat = TPixelFormatEx::BGRA;
  TQuorvelTextureDataType FDataType = TQuorvelTextureDataType::dtUnsignedByte;
  TQuorvelTextureWrap FWrapS;
  TQuorvelTextureWrap FWrapT;
  TQuorvelTextureWrap FWrapR;
  TAlphaColorF FBorderColor{0, 0, 0, 0};
  int32_t FDepth = 0;
  TQuorvelCubeMapFace FAttachedCubeMapFace = TQuorvelCubeMapFace::PositiveX;
  int32_t FMipMapLevels = 0;
};

class TQuorvelTexture : public TTexture, public TQuorvelTextureFormat {
  FW_CLASS(TQuorvelTexture, TTexture)

public:
  TQuorvelTexture();

  // A new instance of the installed texture class (TextureClass).
  static TQuorvelTexture* Create();

  void Assign(TPersistent* Source) override;

  // Internal format, transfer format and transfer type of every API call that creates or
  // fills the texture.
  void GetFormatAndType(uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const;

  // The API part; EAbstractError here.
  virtual void GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const;
  virtual void Clear();
  virtual void GenerateMipMap();
  virtual bool RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel);

  void SetKind(TQuorvelTextureKind Value) { FKind = Value; }
  int32_t GetTextureUnit() const { return FTextureUnit; }
  void SetTextureUnit(int32_t Value) { FTextureUnit = Value; }
  void SetComponents(TPixelFormatEx Value) { FComponents = Value; }
  void SetFormat(TPixelFormatEx Value) { FFormat = Value; }
  void SetDataType(TQuorvelTextureDataType Value) { FDataType = Value; }
  TTextureStyles GetStyleEx() const { return FStyleEx; }
  void SetStyleEx(const TTextureStyles& Value) { FStyleEx = Value; }
  bool GetImageAccessable() const { return FImageAccessable; }
  void SetImageAccessable(bool Value) { FImageAccessable = Value; }
  int32_t GetCurrentMipMapLevel() const { return FCurrentMipMapLevel; }
  void SetCurrentMipMapLevel(int32_t Value) { FCurrentMipMapLevel = Value; }
  void SetAttachedCubeMapFace(TQuorvelCubeMapFace Value) { FAttachedCubeMapFace = Value; }
  bool GetIsCompressed() const { return FIsCompressed; }
  void SetIsCompressed(bool Value) { FIsCompressed = Value; }
  // Not owned.
  void* GetBuffer() const { return FBuffer; }
  void SetBuffer(void* Value) { FBuffer = Value; }
  int64_t GetBufferSize() const { return FBufferSize; }
  void SetBufferSize(int64_t Value) { FBufferSize = Value; }

protected:
  int32_t FTextureUnit = -1;
  TTextureStyles FStyleEx;
  bool FImageAccessable = false;
  int32_t FCurrentMipMapLevel = 0;
  bool FIsCompressed = false;
  void* FBuffer = nullptr;
  int64_t FBufferSize = 0;
};

class TQuorvelTextureBitmap : public TTextureBitmap, public TQuorvelTextureFormat {
  FW_CLASS(TQuorvelTextureBitmap, TTextureBitmap)

public:
  TQuorvelTextureBitmap();
  ~TQuorvelTextureBitmap() override;
  void BeforeDestruction() override;

  // New instances of the installed bitmap class (TextureBitmapClass).
  static TQuorvelTextureBitmap* Create();
  static TQuorvelTextureBitmap* Create(int32_t AWidth, int32_t AHeight);

  void Assign(TPersistent* Source) override;
  void DestroyResources() override;

  void BeginSetup();
  void EndSetup();
  void ValidateBuffer() { DoValidateBuffer(); }

  virtual void SetKind(TQuorvelTextureKind Value) { FKind = Value; }
  // Only the transfer formats (RGB, RGBA, BGR, BGRA, L, LA, Alpha, R, RedInteger, RG,
  // RGInteger, RGBInteger, RGBAInteger, StencilIndex, Depth, DepthStencil); others raise
  // "invalid texture format".
  virtual void SetFormat(TPixelFormatEx Value);
  virtual void SetComponents(TPixelFormatEx Value);
  virtual void SetDataType(TQuorvelTextureDataType Value);
  virtual void SetAttachedCubeMapFace(TQuorvelCubeMapFace Value);
  // The texture behind the bitmap (made on first use); another class raises EInvalidCast.
  virtual TQuorvelTexture* GetQuorvelTexture();
  void SetPixelFormat(TPixelFormat AValue);
  void Set3DSize(int32_t AWidth, int32_t AHeight, int32_t ADepth);

  // The texture in the slot without making one: null when empty or without a GPU handle.
  TTexture* GetTextureReference() const;
  // Shows a texture that someone else owns.
  void SetTextureReference(TTexture* Value);
  void UnsetTextureReference();

  // For a TQuorvelTexture its own values; for any other texture RGBA8, BGRA, unsigned byte.
  void GetFormatAndType(TTexture* ATexture, uint32_t& AComps, uint32_t& AFormat, uint32_t& ADataType) const;

  // Fills one face of the cube map from a square bitmap.
  void UpdateCubeMapFace(TQuorvelCubeMapFace ASide, TBitmap* ATexture);
  // The API part; EAbstractError here.
  virtual void UpdateCubeMapFace(TQuorvelCubeMapFace ASide, TTexture* ATexture, const void* ABits, int32_t APitch);
  virtual void UpdateBuffer(const void* ABuffer, int64_t ASize);
  virtual void Update3DSlice(int32_t ASlice, const void* ABuffer, int64_t ASize);

  void ClearAfterCompression() {}
  void Recompress();
  void Decompress();

  TQuorvelTextureBitmapStates GetBitmapStates() const { return FBitmapStates; }
  TTextureFilter GetMinFilter() const { return FMinFilter; }
  void SetMinFilter(TTextureFilter Value) { FMinFilter = Value; }
  TTextureFilter GetMagFilter() const { return FMagFilter; }
  void SetMagFilter(TTextureFilter Value) { FMagFilter = Value; }
  TTextureStyles GetStyle() const { return FStyle; }
  void SetStyle(const TTextureStyles& Value) { FStyle = Value; }
  bool GetProtectFormatSettings() const { return FProtectFormatSettings; }
  void SetProtectFormatSettings(bool Value) { FProtectFormatSettings = Value; }
  bool GetIsCompressed() const { return FIsCompressed; }
  void SetIsCompressed(bool) {}
  TMemoryStream* GetCompressedData() const { return FCompressedData.get(); }
  // The upload buffer when the bitmap's own pixels cannot hold the image; null when none.
  uint8_t* GetBuffer() { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  const uint8_t* GetBuffer() const { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  int64_t GetBufferSize() const { return int64_t(FBuffer.size()); }

protected:
  void BitmapChanged() override;
  virtual void DoReserved() {}
  virtual void DoValidateBuffer();
  virtual void FreeBuffer();
  virtual void CreateBitmapHandle(TPixelFormat APixelFormat);
  virtual void FreeBitmapHandle();

  TTextureFilter FMinFilter = TTextureFilter::Linear;
  TTextureFilter FMagFilter = TTextureFilter::Linear;
  TTextureStyles FStyle;
  bool FProtectFormatSettings = false;
  int32_t FSettingUp = 0;
  bool FIsCompressed = false;
  TOwned<TMemoryStream> FCompressedData;
  int32_t FIsDecompressing = 0;
  std::vector<uint8_t> FBuffer;

private:
  TQuorvelTextureBitmapStates FBitmapStates;
};

// The installed classes (TQuorvelTexture / TQuorvelTextureBitmap until the OpenGL unit starts).
extern const TClass* TextureClass;
extern const TClass* TextureBitmapClass;

}  // namespace quorvel
