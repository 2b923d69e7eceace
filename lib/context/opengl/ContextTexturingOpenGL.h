#pragma once
// The OpenGL meaning of the texture layer: GL constants for pixel formats, wraps and data
// types, the GL work of textures (binding, clear, mipmaps, read-back) and of texture bitmaps
// (uploads). The unit's initialisation installs these classes in the class variables of
// Quorvel.Context.Texturing; its finalisation puts the base classes back.
#include <cstdint>
#include <vector>

#include "lib/context/ContextTexturing.h"

namespace quorvel {

class TOpenGLPixelFormatExHelper : public TPixelFormatExHelper {
public:
  intptr_t DoToValue(TPixelFormatEx AFormat) const override;
  bool DoIsIntegerTexture(intptr_t AFormat) const override;
  // GL_DEPTH_STENCIL transfers only as GL_UNSIGNED_INT_24_8 or
  // GL_FLOAT_32_UNSIGNED_INT_24_8_REV (the latter for Depth32Stencil8 or a float type).
  intptr_t DoTransferType(TPixelFormatEx AComponents, intptr_t AFormat, intptr_t AType) const override;
  // Components of the format times the type's size, or the packed type's size; 0 when
  // either is unknown.
  int64_t DoTransferPixelSize(intptr_t AFormat, intptr_t AType) const override;
  static const TOpenGLPixelFormatExHelper* Instance();
};

class TOpenGLQuorvelTextureWrapHelper : public TQuorvelTextureWrapHelper {
public:
  intptr_t DoToValue(TQuorvelTextureWrap AType) const override;
  static const TOpenGLQuorvelTextureWrapHelper* Instance();
};

class TOpenGLQuorvelTextureDataTypeHelper : public TQuorvelTextureDataTypeHelper {
public:
  intptr_t DoToValue(TQuorvelTextureDataType AType) const override;
  static const TOpenGLQuorvelTextureDataTypeHelper* Instance();
};

class TOpenGLQuorvelTexture : public TQuorvelTexture {
  FW_CLASS(TOpenGLQuorvelTexture, TQuorvelTexture)

public:
  void GetBindingAndKind(uint32_t& ABinding, uint32_t& AKind) const override;
  // Zeroes every texel (every level with glClearTexImage, else the current level).
  void Clear() override;
  void GenerateMipMap() override;
  // Level ALevel's texels, tightly packed in the transfer format and type; a cube map gives
  // its six faces one after another (+X, -X, +Y, -Y, +Z, -Z). Answers False on every path:
  // failures raise.
  bool RequestTextureData(std::vector<uint8_t>& ABytes, int64_t& ASize, int32_t ALevel) override;
};

class TOpenGLQuorvelTextureBitmap : public TQuorvelTextureBitmap {
  FW_CLASS(TOpenGLQuorvelTextureBitmap, TQuorvelTextureBitmap)

public:
  using TQuorvelTextureBitmap::UpdateCubeMapFace;
  void UpdateCubeMapFace(TQuorvelCubeMapFace ASide, TTexture* ATexture, const void* ABits, int32_t APitch) override;
  // ABuffer holds tightly packed rows in the transfer format; a positive ASize smaller than
  // the image raises instead of reading past the buffer.
  void UpdateBuffer(const void* ABuffer, int64_t ASize) override;
  void Update3DSlice(int32_t ASlice, const void* ABuffer, int64_t ASize) override;
};

// Bytes a tightly packed image of the texture's transfer format and type takes (64 bits).
int64_t TextureTransferSize(const TQuorvelTexture* ATexture, int64_t AWidth, int64_t AHeight, int64_t ADepth);

// The face target (GL_TEXTURE_CUBE_MAP_POSITIVE_X + face).
uint32_t CubeMapFaceTarget(TQuorvelCubeMapFace AFace);

// Magnification and minification filters of the texture bound on ATarget (integer formats
// nearest), and base/max level 0/16 with mipmaps.
void SetGLTextureFiltering(TTexture* ATexture, const TTextureStyles& AStyles, uint32_t ATarget,
                           uint32_t AInternalFormat);

// Texture3D, ImageTexture3D and Array2D: the kinds with a depth.
bool IsVolumeTextureKind(TQuorvelTextureKind AKind);

// Reads the texture bound to a target (through its binding query) and binds it again at the
// end of the scope, or earlier through Restore.
// SetPixelState for a scope; UnsetPixelState in every case (a failure there is logged).
class TGLPixelStateScope {
public:
  TGLPixelStateScope(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel, int32_t APitch);
  ~TGLPixelStateScope();
  TGLPixelStateScope(const TGLPixelStateScope&) = delete;
  TGLPixelStateScope& operator=(const TGLPixelStateScope&) = delete;
};

class TGLTextureBindingRestore {
public:
  TGLTextureBindingRestore(uint32_t ABinding, uint32_t ATarget);
  ~TGLTextureBindingRestore() { Restore(); }
  void Restore() const;
  TGLTextureBindingRestore(const TGLTextureBindingRestore&) = delete;
  TGLTextureBindingRestore& operator=(const TGLTextureBindingRestore&) = delete;

private:
  uint32_t FTarget;
  int32_t FSaved = 0;
};

// Saves the pixel-store state of one direction (pack or unpack), sets tightly packed rows
// (alignment 1, no row length, image height or skips) and restores the saved state.
class TGLTightPixelStore {
public:
  explicit TGLTightPixelStore(bool APack);
  ~TGLTightPixelStore();
  TGLTightPixelStore(const TGLTightPixelStore&) = delete;
  TGLTightPixelStore& operator=(const TGLTightPixelStore&) = delete;

private:
  bool FPack;
  int32_t FSaved[6]{};
};

}  // namespace quorvel
