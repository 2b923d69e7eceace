#include "framework/gui/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>

#include "framework/classes/Filer.h"
#include "framework/gui/Canvas.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

#include <gif_lib.h>
#include <png.h>

#include <atomic>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>
#include <jerror.h>

#include "framework/rtl/Finally.h"

// stb reads BMP only (PNG, JPEG and GIF go to libpng, libjpeg-turbo and giflib). It is
// compiled here, with internal linkage, so that no other library's copy can clash.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_BMP
#define STBI_MAX_DIMENSIONS 65536
#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace quorvel {

namespace {
void InitBitmapUnit() { RegisterClass(TBitmap::StaticClass()); }
void FinBitmapUnit() { UnRegisterClass(TBitmap::StaticClass()); }
const TUnitRegistration BitmapUnit{{"Fw.Graphics", {}, &InitBitmapUnit, &FinBitmapUnit}};
}  // namespace

FW_CLASS_IMPL(TBitmap, "Fw.Graphics")
void TBitmap::Register(ClassBuilder<TBitmap>& b) {
  b.Prop("Width", &Self::GetWidth, &Self::SetWidth)
      .Prop("Height", &Self::GetHeight, &Self::SetHeight)
      .Prop("BitmapScale", &Self::GetBitmapScale, &Self::SetBitmapScale);
}

// ---- TBitmapData --------------------------------------------------------------------------

void* TBitmapData::GetScanline(int32_t y) const {
  if (Data == nullptr || y < 0 || y >= Height)
    throw EArgumentOutOfRangeException(Format("Scan line %d out of range (height %d)", {y, Height}));
  return static_cast<uint8_t*>(Data) + int64_t(y) * Pitch;
}

namespace {

uint8_t* PixelAddress(const TBitmapData& data, int32_t x, int32_t y) {
  if (data.PixelFormat != TPixelFormat::BGRA && data.PixelFormat != TPixelFormat::RGBA)
    throw ENotSupportedException("Pixel access needs a 32-bit colour format, not " + EnumToString(data.PixelFormat));
  if (x < 0 || x >= data.Width)
    throw EArgumentOutOfRangeException(Format("Pixel %d out of range (width %d)", {x, data.Width}));
  return static_cast<uint8_t*>(data.GetScanline(y)) + int64_t(x) * 4;
}

}  // namespace

TAlphaColor TBitmapData::GetPixel(int32_t x, int32_t y) const {
  const uint8_t* p = PixelAddress(*this, x, y);
  if (PixelFormat == TPixelFormat::RGBA) return MakeAlphaColor(p[0], p[1], p[2], p[3]);
  return MakeAlphaColor(p[2], p[1], p[0], p[3]);
}

void TBitmapData::SetPixel(int32_t x, int32_t y, TAlphaColor color) {
  uint8_t* p = PixelAddress(*this, x, y);
  const bool rgba = PixelFormat == TPixelFormat::RGBA;
  p[0] = rgba ? RedOf(color) : BlueOf(color);
  p[1] = GreenOf(color);
  p[2] = rgba ? BlueOf(color) : RedOf(color);
  p[3] = AlphaOf(color);
}

// ---- Decoders -----------------------------------------------------------------------------

namespace {

struct TDecoderEntry {
  int32_t Handle;
  TBitmapDecoder Decoder;
};

struct TDecoderList {
  std::mutex Mutex;
  std::vector<TDecoderEntry> Entries;
  int32_t NextHandle = 1;
};

TDecoderList& Decoders() {
  static TDecoderList list;
  return list;
}

bool StartsWith(std::span<const uint8_t> data, std::string_view magic) {
  return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
}

// The formats decoded here, recognised by their signatures (TGA-like data without one
// belongs to the engine's registered codecs).
const char* BuiltInFormatOf(std::span<const uint8_t> data) {
  if (StartsWith(data, "\x89PNG\r\n\x1a\n")) return "PNG";
  if (StartsWith(data, "\xFF\xD8\xFF")) return "JPEG";
  if (StartsWith(data, "GIF87a") || StartsWith(data, "GIF89a")) return "GIF";
  if (StartsWith(data, "BM")) return "BMP";
  return nullptr;
}

bool IsTiff(std::span<const uint8_t> data) {
  return StartsWith(data, std::string_view("II*\0", 4)) || StartsWith(data, std::string_view("MM\0*", 4));
}

void CheckImageSize(int64_t width, int64_t height) {
  if (width < 0 || height < 0 || width > TBitmap::MaxSide || height > TBitmap::MaxSide ||
      width * height * 4 > TBitmap::MaxBytes)
    throw EArgumentOutOfRangeException(
        Format("Bitmap size %dx%d is out of range", {int64_t(width), int64_t(height)}));
}

std::atomic<int32_t> DecodeMaxSide{TBitmap::DefaultDecodeMaxSide};
std::atomic<int64_t> DecodeMaxBytes{TBitmap::DefaultDecodeMaxBytes};

// Every decoder calls this with the size the data declares, before it allocates anything
// that grows with the image.
void CheckDecodeSize(const char* format, int64_t width, int64_t height) {
  if (width <= 0 || height <= 0)
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: corrupt %s image (size %dx%d)", {format, width, height}));
  const int64_t maxSide = DecodeMaxSide.load(std::memory_order_relaxed);
  if (width > maxSide || height > maxSide || width * height * 4 > DecodeMaxBytes.load(std::memory_order_relaxed))
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: %s image of %dx%d is too large", {format, width, height}));
}

[[noreturn]] void RaiseCorrupt(const char* format, std::string_view reason) {
  throw EBitmapLoadingFailed(Format("Cannot load bitmap: corrupt %s image (%s)", {format, std::string(reason)}));
}

// A full-size pixel buffer; running out of memory is a loading failure, not bad_alloc.
void AllocatePixels(std::vector<uint8_t>& pixels, const char* format, int64_t width, int64_t height) {
  try {
    pixels.assign(size_t(width) * size_t(height) * 4, 0);
  } catch (const std::bad_alloc&) {
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: out of memory for a %s image of %dx%d", {format, width, height}));
  }
}

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
int64_t LittleEndian(const uint8_t* p, int bytes, bool isSigned) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  if (isSigned && bytes == 4) return int32_t(uint32_t(v));
  return int64_t(v);
}

// ---- PNG (libpng) ----
// libpng reports errors by longjmp. The setjmp sits in a function of its own whose frame
// holds no object with a destructor; the buffers live in the caller, reached by reference.

struct TPngState {
  std::span<const uint8_t> Data;
  size_t Position = 0;
  char Message[200] = {};
};

void PngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<TPngState*>(png_get_error_ptr(png));
  std::snprintf(state->Message, sizeof state->Message, "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t count) {
  auto* state = static_cast<TPngState*>(png_get_io_ptr(png));
  if (count > state->Data.size() - state->Position) png_error(png, "unexpected end of data");
  std::memcpy(out, state->Data.data() + state->Position, count);
  state->Position += count;
}

// Answers false when libpng failed (the reason is in the state). Size checks and the
// allocation raise ordinary exceptions from this frame, never from inside libpng.
bool RunPng(png_structp png, png_infop info, std::vector<uint8_t>& pixels, std::vector<png_bytep>& rows,
            uint32_t& width, uint32_t& height) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_read_fn(png, png_get_error_ptr(png), &PngRead);
  const int32_t maxSide = DecodeMaxSide.load(std::memory_order_relaxed);
  png_set_user_limits(png, png_uint_32(maxSide), png_uint_32(maxSide));
  png_set_chunk_malloc_max(png, 16u << 20);  // text and profile chunks; pixels are not chunks
  png_read_info(png, info);
  width = png_get_image_width(png, info);
  height = png_get_image_height(png, info);
  CheckDecodeSize("PNG", width, height);
  const int depth = png_get_bit_depth(png, info);
  const int type = png_get_color_type(png, info);
  // Raw values as stored (no gamma): 16-bit samples keep their high byte.
  if (depth == 16) png_set_strip_16(png);
  png_set_expand(png);  // palette and low bit depths to 8 bits, tRNS to alpha
  if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 4) png_error(png, "unexpected row layout");
  AllocatePixels(pixels, "PNG", width, height);
  rows.resize(height);
  for (uint32_t y = 0; y < height; ++y) rows[y] = pixels.data() + size_t(y) * width * 4;
  png_read_image(png, rows.data());
  return true;
}

std::vector<uint8_t> DecodePng(std::span<const uint8_t> data, int32_t& width, int32_t& height) {
  TPngState state;
  state.Data = data;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, &PngError, &PngWarning);
  if (png == nullptr) throw EBitmapLoadingFailed("Cannot load bitmap: libpng could not start");
  png_infop info = png_create_info_struct(png);
  auto destroy = Finally([&] { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); });
  if (info == nullptr) throw EBitmapLoadingFailed("Cannot load bitmap: libpng could not start");
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  uint32_t w = 0, h = 0;
  if (!RunPng(png, info, pixels, rows, w, h)) RaiseCorrupt("PNG", state.Message);
  width = int32_t(w);
  height = int32_t(h);
  return pixels;
}

// ---- JPEG (libjpeg-turbo) ----
// Same longjmp discipline as PNG. Warnings that mean lost image data (a cut or damaged
// scan) fail the decode: libjpeg would fill the rest with grey and call it a success.

struct TJpegError {
  jpeg_error_mgr Manager;
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX + 64];
};

constexpr int kMaxJpegScans = 1000;  // progressive files with endless scans cost time, not data

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  auto* error = reinterpret_cast<TJpegError*>(cinfo->err);
  cinfo->err->format_message(cinfo, error->Message);
  std::longjmp(error->Jump, 1);
}

void JpegMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;  // traces
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
      JpegErrorExit(cinfo);
    default:
      ++cinfo->err->num_warnings;
  }
}

void JpegProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxJpegScans) {
    auto* error = reinterpret_cast<TJpegError*>(cinfo->err);
    std::snprintf(error->Message, sizeof error->Message, "more than %d scans", kMaxJpegScans);
    std::longjmp(error->Jump, 1);
  }
}

bool RunJpeg(jpeg_decompress_struct& cinfo, TJpegError& error, jpeg_progress_mgr& progress,
             std::span<const uint8_t> data, std::vector<uint8_t>& pixels, uint32_t& width, uint32_t& height) {
  if (setjmp(error.Jump)) return false;
  jpeg_create_decompress(&cinfo);
  cinfo.progress = &progress;
  // Whole-image coefficient buffers (progressive files) count against the pixel cap.
  cinfo.mem->max_memory_to_use = long(std::min<int64_t>(DecodeMaxBytes.load(std::memory_order_relaxed), LONG_MAX));
  jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&cinfo, TRUE);
  width = cinfo.image_width;
  height = cinfo.image_height;
  CheckDecodeSize("JPEG", width, height);
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_width != width || cinfo.output_height != height || cinfo.output_components != 4) {
    std::snprintf(error.Message, sizeof error.Message, "unexpected output layout");
    return false;
  }
  AllocatePixels(pixels, "JPEG", width, height);
  while (cinfo.output_scanline < height) {
    JSAMPROW row = pixels.data() + size_t(cinfo.output_scanline) * width * 4;
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) {
      std::snprintf(error.Message, sizeof error.Message, "no data for row %u", cinfo.output_scanline);
      return false;
    }
  }
  if (cmyk) {
    // Adobe stores inverted CMYK; K scales each channel. In place, as BGRA.
    for (size_t i = 0; i < pixels.size(); i += 4) {
      const unsigned c = pixels[i], m = pixels[i + 1], y = pixels[i + 2], k = pixels[i + 3];
      pixels[i + 0] = uint8_t((y * k + 127) / 255);
      pixels[i + 1] = uint8_t((m * k + 127) / 255);
      pixels[i + 2] = uint8_t((c * k + 127) / 255);
      pixels[i + 3] = 255;
    }
  }
  return true;
}

std::vector<uint8_t> DecodeJpeg(std::span<const uint8_t> data, int32_t& width, int32_t& height) {
  jpeg_decompress_struct cinfo{};
  TJpegError error{};
  jpeg_progress_mgr progress{};
  progress.progress_monitor = &JpegProgress;
  cinfo.err = jpeg_std_error(&error.Manager);
  error.Manager.error_exit = &JpegErrorExit;
  error.Manager.emit_message = &JpegMessage;
  auto destroy = Finally([&] { jpeg_destroy_decompress(&cinfo); });
  std::vector<uint8_t> pixels;
  uint32_t w = 0, h = 0;
  if (!RunJpeg(cinfo, error, progress, data, pixels, w, h)) {
    // libjpeg's answer when the buffers of a progressive image exceed max_memory_to_use.
    if (error.Manager.msg_code == JERR_NO_BACKING_STORE)
      throw EBitmapLoadingFailed(Format("Cannot load bitmap: JPEG image of %dx%d is too large (decoding it needs more "
                                        "memory than the limit)", {int64_t(w), int64_t(h)}));
    RaiseCorrupt("JPEG", error.Message);
  }
  width = int32_t(w);
  height = int32_t(h);
  return pixels;
}

// ---- GIF (giflib): the first frame ----

struct TGifInput {
  std::span<const uint8_t> Data;
  size_t Position = 0;
};

int GifRead(GifFileType* gif, GifByteType* out, int count) {
  auto* input = static_cast<TGifInput*>(gif->UserData);
  const size_t n = std::min(size_t(std::max(count, 0)), input->Data.size() - input->Position);
  std::memcpy(out, input->Data.data() + input->Position, n);
  input->Position += n;
  return int(n);
}

[[noreturn]] void RaiseGif(int code) {
  const char* reason = GifErrorString(code);
  RaiseCorrupt("GIF", reason ? reason : "unreadable");
}

std::vector<uint8_t> DecodeGif(std::span<const uint8_t> data, int32_t& width, int32_t& height) {
  TGifInput input{data};
  int code = 0;
  GifFileType* gif = DGifOpen(&input, &GifRead, &code);
  if (gif == nullptr) RaiseGif(code);
  auto close = Finally([&] { DGifCloseFile(gif, &code); });
  CheckDecodeSize("GIF", gif->SWidth, gif->SHeight);
  const int w = gif->SWidth, h = gif->SHeight;
  std::vector<uint8_t> pixels;
  AllocatePixels(pixels, "GIF", w, h);
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) RaiseGif(gif->Error);
    if (record == TERMINATE_RECORD_TYPE) RaiseCorrupt("GIF", "no image");
    if (record == EXTENSION_RECORD_TYPE) {
      int function = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &function, &block) == GIF_ERROR) RaiseGif(gif->Error);
      if (function == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
        transparent = (block[1] & 1) ? block[4] : -1;
      while (block != nullptr)
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) RaiseGif(gif->Error);
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif) == GIF_ERROR) RaiseGif(gif->Error);
    const GifImageDesc& frame = gif->Image;
    if (frame.Left < 0 || frame.Top < 0 || frame.Width <= 0 || frame.Height <= 0 ||
        int64_t(frame.Left) + frame.Width > w || int64_t(frame.Top) + frame.Height > h)
      RaiseCorrupt("GIF", "frame outside the screen");
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (map == nullptr || map->Colors == nullptr) RaiseCorrupt("GIF", "no colour table");
    // Outside the first frame: the background colour where one is named, else transparent.
    if (gif->SColorMap != nullptr && gif->SBackGroundColor > 0 && gif->SBackGroundColor < gif->SColorMap->ColorCount) {
      const GifColorType& bg = gif->SColorMap->Colors[gif->SBackGroundColor];
      const uint8_t fill[4] = {bg.Blue, bg.Green, bg.Red, 255};
      for (size_t i = 0; i < pixels.size(); i += 4) std::memcpy(&pixels[i], fill, 4);
    }
    std::vector<GifPixelType> line(size_t(frame.Width));
    auto drawRow = [&](int y) {
      if (DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) RaiseGif(gif->Error);
      uint8_t* out = pixels.data() + (size_t(frame.Top + y) * w + frame.Left) * 4;
      for (int x = 0; x < frame.Width; ++x, out += 4) {
        const int index = line[size_t(x)];
        if (index == transparent || index >= map->ColorCount) {
          std::memset(out, 0, 4);
        } else {
          const GifColorType& c = map->Colors[index];
          out[0] = c.Blue;
          out[1] = c.Green;
          out[2] = c.Red;
          out[3] = 255;
        }
      }
    };
    if (frame.Interlace) {
      constexpr int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < frame.Height; y += step[pass]) drawRow(y);
    } else {
      for (int y = 0; y < frame.Height; ++y) drawRow(y);
    }
    width = w;
    height = h;
    return pixels;
  }
}

// ---- BMP (stb) ----

std::vector<uint8_t> DecodeBmp(std::span<const uint8_t> data, int32_t& width, int32_t& height) {
  const int length = static_cast<int>(data.size());
  int w = 0, h = 0, comp = 0;
  if (!stbi_info_from_memory(data.data(), length, &w, &h, &comp)) RaiseCorrupt("BMP", "unreadable header");
  CheckDecodeSize("BMP", w, h);
  stbi_uc* decoded = stbi_load_from_memory(data.data(), length, &w, &h, &comp, 4);
  if (decoded == nullptr) RaiseCorrupt("BMP", stbi_failure_reason());
  auto release = Finally([&] { stbi_image_free(decoded); });
  std::vector<uint8_t> pixels;
  AllocatePixels(pixels, "BMP", w, h);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i + 0] = decoded[i + 2];
    pixels[i + 1] = decoded[i + 1];
    pixels[i + 2] = decoded[i + 0];
    pixels[i + 3] = decoded[i + 3];
  }
  width = w;
  height = h;
  return pixels;
}

// The size a header declares, where it is at a fixed place: refused before any decoder
// runs, so that the message names the real problem.
bool DeclaredSize(std::span<const uint8_t> data, std::string_view format, int64_t& width, int64_t& height) {
  if (format == "PNG" && data.size() >= 24) {
    width = BigEndian32(&data[16]);
    height = BigEndian32(&data[20]);
    return true;
  }
  if (format == "GIF" && data.size() >= 10) {
    width = LittleEndian(&data[6], 2, false);
    height = LittleEndian(&data[8], 2, false);
    return true;
  }
  if (format == "BMP" && data.size() >= 26 && LittleEndian(&data[14], 4, false) >= 40) {
    width = LittleEndian(&data[18], 4, true);
    height = LittleEndian(&data[22], 4, true);
    if (height < 0) height = -height;
    return true;
  }
  return false;
}

std::vector<uint8_t> DecodeBuiltIn(std::span<const uint8_t> data, const char* format, int32_t& width,
                                   int32_t& height) {
  int64_t declaredWidth = 0, declaredHeight = 0;
  if (DeclaredSize(data, format, declaredWidth, declaredHeight) && declaredWidth > 0 && declaredHeight > 0)
    CheckDecodeSize(format, declaredWidth, declaredHeight);
  const std::string_view name(format);
  if (name == "PNG") return DecodePng(data, width, height);
  if (name == "JPEG") return DecodeJpeg(data, width, height);
  if (name == "GIF") return DecodeGif(data, width, height);
  return DecodeBmp(data, width, height);
}

std::string LowerExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void WriteToStream(void* context, void* data, int size) {
  static_cast<TStream*>(context)->WriteBuffer(data, size);
}

}  // namespace

int32_t RegisterBitmapDecoder(TBitmapDecoder Decoder) {
  TDecoderList& list = Decoders();
  std::lock_guard lock(list.Mutex);
  const int32_t handle = list.NextHandle++;
  list.Entries.push_back({handle, std::move(Decoder)});
  return handle;
}

void UnregisterBitmapDecoder(int32_t Handle) {
  TDecoderList& list = Decoders();
  std::lock_guard lock(list.Mutex);
  std::erase_if(list.Entries, [Handle](const TDecoderEntry& e) { return e.Handle == Handle; });
}

// ---- TBitmap ------------------------------------------------------------------------------

void TBitmap::SetDecodeLimits(int32_t AMaxSide, int64_t AMaxBytes) {
  if (AMaxSide < 1 || AMaxSide > MaxSide || AMaxBytes < 4 || AMaxBytes > MaxBytes)
    throw EArgumentOutOfRangeException(Format("Bitmap decode limits %d per side and %d bytes are out of range (at most %d and %d)",
                                              {AMaxSide, AMaxBytes, MaxSide, MaxBytes}));
  DecodeMaxSide.store(AMaxSide, std::memory_order_relaxed);
  DecodeMaxBytes.store(AMaxBytes, std::memory_order_relaxed);
}

int32_t TBitmap::GetDecodeMaxSide() { return DecodeMaxSide.load(std::memory_order_relaxed); }
int64_t TBitmap::GetDecodeMaxBytes() { return DecodeMaxBytes.load(std::memory_order_relaxed); }

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth > 0 && AHeight > 0) {
    FWidth = AWidth;
    FHeight = AHeight;
    FData.assign(size_t(AWidth) * size_t(AHeight) * 4, 0);
    CreateHandle();
  }
}

TBitmap::~TBitmap() {
  FCanvas.reset();
  if (FHandle != 0) {
    Quietly("TBitmap: finalizing the bitmap", [&] { DefaultCanvasClass().FinalizeBitmap(FHandle); });
    FHandle = 0;
  }
}

const TCanvasClass& TBitmap::GetCanvasClass() const { return DefaultCanvasClass(); }

void TBitmap::CreateHandle() {
  if (IsEmpty()) return;
  TPixelFormat format = FPixelFormat;
  FHandle = GetCanvasClass().InitializeBitmap(FWidth, FHeight, FBitmapScale, format);
  FPixelFormat = format;
}

void TBitmap::FreeHandle() {
  if (FHandle != 0) GetCanvasClass().FinalizeBitmap(FHandle);
  FHandle = 0;
}

void TBitmap::SetImage(int32_t AWidth, int32_t AHeight, std::vector<uint8_t> Pixels) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == 0 || AHeight == 0) {
    AWidth = AHeight = 0;
    Pixels.clear();
  }
  if (Pixels.size() != size_t(AWidth) * size_t(AHeight) * 4)
    throw EArgumentException("Bitmap pixel data does not match its size");
  if (FMapCount > 0) throw EInvalidOperation("Cannot change the size of a mapped bitmap");
  const bool resized = AWidth != FWidth || AHeight != FHeight;
  if (resized) FreeHandle();
  FWidth = AWidth;
  FHeight = AHeight;
  FData = std::move(Pixels);
  if (resized) CreateHandle();
  BitmapChanged();
}

void TBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == 0 || AHeight == 0) AWidth = AHeight = 0;
  if (AWidth == FWidth && AHeight == FHeight) return;
  SetImage(AWidth, AHeight, std::vector<uint8_t>(size_t(AWidth) * size_t(AHeight) * 4, 0));
}

void TBitmap::SetBitmapScale(float Value) {
  if (!(Value > 0) || !std::isfinite(Value)) throw EArgumentOutOfRangeException("Bitmap scale must be positive");
  if (Value == FBitmapScale) return;
  FBitmapScale = Value;
  BitmapChanged();
}

bool TBitmap::Map(TMapAccess Access, TBitmapData& Data) {
  if (IsEmpty()) return false;
  // The pixels are stored as BGRA whatever format tag the image carries.
  Data = TBitmapData(FWidth, FHeight, TPixelFormat::BGRA);
  Data.Data = FData.data();
  Data.Pitch = FWidth * 4;
  Data.Access = Access;
  ++FMapCount;
  return true;
}

void TBitmap::Unmap(TBitmapData& Data) {
  if (Data.Data == nullptr || FMapCount == 0) return;
  const bool written = Data.Access != TMapAccess::Read;
  --FMapCount;
  Data = TBitmapData();
  if (written) BitmapChanged();
}

void TBitmap::Clear(TAlphaColor Color) {
  if (IsEmpty()) return;
  const uint32_t value = ToCardinal(Color);
  uint8_t bytes[4] = {BlueOf(Color), GreenOf(Color), RedOf(Color), AlphaOf(Color)};
  if (value == 0) {
    std::fill(FData.begin(), FData.end(), uint8_t(0));
  } else {
    for (size_t i = 0; i < FData.size(); i += 4) std::memcpy(&FData[i], bytes, 4);
  }
  BitmapChanged();
}

void TBitmap::Resize(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == FWidth && AHeight == FHeight) return;
  if (IsEmpty() || AWidth == 0 || AHeight == 0) {
    SetSize(AWidth, AHeight);
    return;
  }
  TOwned<TBitmap> scaled(New<TBitmap>(AWidth, AHeight));
  TCanvas* canvas = scaled->GetCanvas();
  if (canvas->BeginScene()) {
    canvas->DrawBitmap(this, GetBoundsF(), scaled->GetBoundsF(), 1, false);
    canvas->EndScene();
  }
  SetImage(AWidth, AHeight, scaled->FData);
}

// --- flips -------------------------------------------------------------------------------------

void TBitmap::FlipVertical() {
  if (IsEmpty()) return;
  const size_t row = size_t(FWidth) * 4;
  for (int32_t top = 0, bottom = FHeight - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(FData.begin() + std::ptrdiff_t(top * row), FData.begin() + std::ptrdiff_t((top + 1) * row),
                     FData.begin() + std::ptrdiff_t(bottom * row));
  BitmapChanged();
}

void TBitmap::FlipHorizontal() {
  if (IsEmpty()) return;
  for (int32_t y = 0; y < FHeight; ++y) {
    uint8_t* line = FData.data() + size_t(y) * size_t(FWidth) * 4;
    for (int32_t left = 0, right = FWidth - 1; left < right; ++left, --right)
      std::swap_ranges(line + size_t(left) * 4, line + size_t(left) * 4 + 4, line + size_t(right) * 4);
  }
  BitmapChanged();
}

TCanvas* TBitmap::GetCanvas() {
  if (!FCanvas) FCanvas.reset(New<TBitmapCanvas>(this));
  return FCanvas.get();
}

void TBitmap::BitmapChanged() { OnChange(this); }

void TBitmap::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (auto* source = dynamic_cast<TBitmap*>(Source)) {
    if (FMapCount > 0) throw EInvalidOperation("Cannot assign to a mapped bitmap");
    FBitmapScale = source->FBitmapScale;
    if (FPixelFormat != source->FPixelFormat) {
      FreeHandle();
      FPixelFormat = source->FPixelFormat;
      FWidth = FHeight = 0;
    }
    SetImage(source->FWidth, source->FHeight, source->FData);
    return;
  }
  TPersistent::Assign(Source);
}

void TBitmap::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TBitmap*>(Dest)) {
    dest->Assign(this);
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TBitmap::LoadFromBytes(std::span<const uint8_t> Bytes, const std::string& FileName) {
  if (Bytes.empty()) throw EBitmapLoadingFailed("Cannot load bitmap: the data is empty");
  if (Bytes.size() > size_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the data is too large");
  if (IsTiff(Bytes)) throw EBitmapLoadingFailed("Cannot load bitmap: TIFF images are not supported");
  if (const char* format = BuiltInFormatOf(Bytes)) {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels = DecodeBuiltIn(Bytes, format, width, height);
    SetImage(width, height, std::move(pixels));
    return;
  }
  std::vector<TDecoderEntry> decoders;
  {
    TDecoderList& list = Decoders();
    std::lock_guard lock(list.Mutex);
    decoders = list.Entries;
  }
  for (auto it = decoders.rbegin(); it != decoders.rend(); ++it) {
    if (it->Decoder.CanDecode && it->Decoder.Decode && it->Decoder.CanDecode(Bytes, FileName)) {
      // Decoded into a scratch bitmap so that a failing decoder leaves this one unchanged.
      TOwned<TBitmap> decoded(New<TBitmap>());
      it->Decoder.Decode(Bytes, *decoded);
      SetImage(decoded->FWidth, decoded->FHeight, std::move(decoded->FData));
      return;
    }
  }
  throw EBitmapLoadingFailed("Cannot load bitmap: unknown image format");
}

void TBitmap::LoadFromStream(TStream* Stream) {
  if (Stream == nullptr) throw EArgumentNilException("Stream is nil");
  const int64_t size = Stream->GetSize() - Stream->GetPosition();
  if (size > int64_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the data is too large");
  std::vector<uint8_t> bytes(size_t(std::max<int64_t>(size, 0)));
  if (!bytes.empty()) Stream->ReadBuffer(bytes.data(), int64_t(bytes.size()));
  LoadFromBytes(bytes);
}

void TBitmap::LoadFromFile(const std::string& FileName) {
  std::vector<uint8_t> bytes;
  {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = file.GetSize();
    if (size > int64_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the file is too large: " + FileName);
    bytes.resize(size_t(size));
    if (!bytes.empty()) file.ReadBuffer(bytes.data(), size);
  }
  try {
    LoadFromBytes(bytes, FileName);
  } catch (EBitmapLoadingFailed& e) {
    e.SetMessage(e.Message() + " (file \"" + FileName + "\")");
    throw;
  }
}

namespace {

std::vector<uint8_t> ToRGBA(const std::vector<uint8_t>& bgra) {
  std::vector<uint8_t> rgba(bgra.size());
  for (size_t i = 0; i < bgra.size(); i += 4) {
    rgba[i + 0] = bgra[i + 2];
    rgba[i + 1] = bgra[i + 1];
    rgba[i + 2] = bgra[i + 0];
    rgba[i + 3] = bgra[i + 3];
  }
  return rgba;
}

enum class TSaveFormat { Png, Jpeg, Bmp };

void Encode(const TBitmap& bitmap, TSaveFormat format, TStream* stream) {
  if (bitmap.IsEmpty()) throw EInvalidOperation("Cannot save an empty bitmap");
  const std::vector<uint8_t> rgba = ToRGBA(bitmap.Pixels());
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  int ok = 0;
  switch (format) {
    case TSaveFormat::Png:
      ok = stbi_write_png_to_func(&WriteToStream, stream, w, h, 4, rgba.data(), w * 4);
      break;
    case TSaveFormat::Jpeg:
      ok = stbi_write_jpg_to_func(&WriteToStream, stream, w, h, 4, rgba.data(), 90);
      break;
    case TSaveFormat::Bmp:
      ok = stbi_write_bmp_to_func(&WriteToStream, stream, w, h, 4, rgba.data());
      break;
  }
  if (!ok) throw EWriteError("Cannot encode the bitmap");
}

}  // namespace

void TBitmap::SaveToStream(TStream* Stream) const {
  if (Stream == nullptr) throw EArgumentNilException("Stream is nil");
  Encode(*this, TSaveFormat::Png, Stream);
}

void TBitmap::SaveToFile(const std::string& FileName) const {
  const std::string ext = LowerExtension(FileName);
  TSaveFormat format;
  if (ext == ".png")
    format = TSaveFormat::Png;
  else if (ext == ".jpg" || ext == ".jpeg")
    format = TSaveFormat::Jpeg;
  else if (ext == ".bmp")
    format = TSaveFormat::Bmp;
  else
    throw ENotSupportedException("Cannot save bitmap: unsupported file type \"" + ext + "\" (" + FileName + ")");
  if (IsEmpty()) throw EInvalidOperation("Cannot save an empty bitmap");
  // Encoded in memory first, so a failing encoder leaves no truncated file behind.
  TMemoryStream memory;
  Encode(*this, format, &memory);
  TFileStream file(FileName, fmCreate);
  memory.SaveToStream(&file);
}

// ---- Form streaming ---------------------------------------------------------------------

void TBitmap::DefineProperties(TFiler* Filer) {
  TPersistent::DefineProperties(Filer);
  Filer->DefineBinaryProperty(
      "Data",
      [this](TStream* Stream) {
        // An empty value is an empty image; anything else must decode.
        if (Stream->GetSize() - Stream->GetPosition() <= 0)
          SetSize(0, 0);
        else
          LoadFromStream(Stream);
      },
      [this](TStream* Stream) { SaveToStream(Stream); }, !IsEmpty());
}

}  // namespace quorvel
