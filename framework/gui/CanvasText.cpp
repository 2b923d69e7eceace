// Outlines and text of TCanvas. Text is rasterised with FreeType from DejaVu Sans, the one
// font the system ships for its overlays.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "framework/gui/Canvas.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

constexpr const char* kDefaultFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// One face for the process, loaded on first use; FreeType faces are not thread-safe, so every
// use holds the lock.
struct TFontFace {
  std::mutex Lock;
  FT_Library Library = nullptr;
  FT_Face Face = nullptr;
  bool Tried = false;
  unsigned PixelSize = 0;

  bool Ready(float ASize) {
    if (!Tried) {
      Tried = true;
      const char* path = std::getenv("QUORVEL_FONT");
      if (path == nullptr || *path == 0) path = kDefaultFont;
      if (FT_Init_FreeType(&Library) != 0) {
        Library = nullptr;
        Log::d("canvas text: FreeType failed to start");
      } else if (FT_New_Face(Library, path, 0, &Face) != 0) {
        Face = nullptr;
        Log::d(std::string("canvas text: font not found: ") + path);
      }
    }
    if (Face == nullptr) return false;
    const unsigned px = unsigned(std::lround(ASize));
    if (px != PixelSize) {
      if (FT_Set_Pixel_Sizes(Face, 0, px) != 0) return false;
      PixelSize = px;
    }
    return true;
  }
  ~TFontFace() {
    if (Face) FT_Done_Face(Face);
    if (Library) FT_Done_FreeType(Library);
  }
};

TFontFace& Font() {
  static TFontFace font;
  return font;
}

float Advance(FT_Face AFace, char32_t ACp) {
  if (FT_Load_Char(AFace, ACp, FT_LOAD_DEFAULT) != 0) return 0;
  return float(AFace->glyph->advance.x) / 64;
}

float TextWidth(FT_Face AFace, std::string_view AText) {
  float w = 0;
  for (char32_t cp : Utf8CodePoints(AText)) w += Advance(AFace, cp);
  return w;
}

// Paragraphs at CR LF or LF (a lone CR too), each broken between words when it would pass
// AWidth.
std::vector<std::string> LayoutLines(FT_Face AFace, const std::string& AText, bool AWrap, float AWidth) {
  std::vector<std::string> paragraphs(1);
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') ++i;
      paragraphs.emplace_back();
    } else {
      paragraphs.back() += c;
    }
  }
  if (!AWrap) return paragraphs;
  std::vector<std::string> lines;
  for (const std::string& p : paragraphs) {
    std::string line;
    size_t pos = 0;
    while (pos <= p.size()) {
      size_t end = p.find(' ', pos);
      if (end == std::string::npos) end = p.size();
      const std::string word = p.substr(pos, end - pos);
      const std::string candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && TextWidth(AFace, candidate) > AWidth) {
        lines.push_back(line);
        line = word;
      } else {
        line = candidate;
      }
      pos = end + 1;
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

void TCanvas::StrokeLine(const TRectF& ARect, TAlphaColor AColor, float AOpacity, float AThickness, bool ADashed) {
  CheckScene();
  const float opacity = AOpacity > 0 ? (AOpacity < 1 ? AOpacity : 1) : 0;
  if (opacity <= 0 || !(AThickness > 0)) return;
  TRectF r = ARect;
  r.Offset(FOffset.X, FOffset.Y);
  r = TRectF(r.Left * FScale, r.Top * FScale, r.Right * FScale, r.Bottom * FScale);
  const float t = AThickness * FScale;
  if (!std::isfinite(r.Left) || !std::isfinite(r.Top) || !std::isfinite(r.Right) || !std::isfinite(r.Bottom) ||
      !std::isfinite(t))
    return;
  // Pixels whose centre lies within t/2 of an edge (clamped to the target).
  const auto clampTo = [](double v, int32_t hi) { return int32_t(std::clamp(v, 0.0, double(hi))); };
  const double half = t / 2;
  const int32_t x0 = clampTo(std::floor(r.Left - half + 0.5), FTarget.Width);
  const int32_t x1 = clampTo(std::floor(r.Right + half + 0.5), FTarget.Width);
  const int32_t y0 = clampTo(std::floor(r.Top - half + 0.5), FTarget.Height);
  const int32_t y1 = clampTo(std::floor(r.Bottom + half + 0.5), FTarget.Height);
  for (int32_t y = y0; y < y1; ++y) {
    const double cy = y + 0.5;
    const bool onHorizontal = std::fabs(cy - r.Top) <= half || std::fabs(cy - r.Bottom) <= half;
    for (int32_t x = x0; x < x1; ++x) {
      const double cx = x + 0.5;
      const bool onVertical = std::fabs(cx - r.Left) <= half || std::fabs(cx - r.Right) <= half;
      if (!onHorizontal && !onVertical) continue;
      if (ADashed && ((onHorizontal ? x : y) / 3) % 2 == 1) continue;
      BlendPixel(x, y, AColor, opacity);
    }
  }
}

void TCanvas::DrawRect(const TRectF& ARect, float XRadius, float YRadius, const TCorners& ACorners, float AOpacity) {
  DrawRect(ARect, XRadius, YRadius, ACorners, AOpacity, FStroke);
}

void TCanvas::DrawRect(const TRectF& ARect, float, float, const TCorners&, float AOpacity, const TCanvasBrush& ABrush) {
  StrokeLine(ARect, ABrush.Color, AOpacity, ABrush.Thickness, false);
}

void TCanvas::DrawDashRect(const TRectF& ARect, float, float, const TCorners&, float AOpacity, TAlphaColor AColor) {
  StrokeLine(ARect, AColor, AOpacity, 1, true);
}

TSizeF TCanvas::TextExtent(const std::string& AText) {
  TFontFace& font = Font();
  std::lock_guard<std::mutex> guard(font.Lock);
  if (!font.Ready(FFontSize)) return {};
  const std::vector<std::string> lines = LayoutLines(font.Face, AText, false, 0);
  float w = 0;
  for (const std::string& l : lines) w = std::max(w, TextWidth(font.Face, l));
  return {w, float(font.Face->size->metrics.height) / 64 * float(lines.size())};
}

void TCanvas::FillText(const TRectF& ARect, const std::string& AText, bool WordWrap, float AOpacity,
                       const TFillTextFlags&, TTextAlign ATextAlign, TTextAlign AVTextAlign) {
  CheckScene();
  const float opacity = AOpacity > 0 ? (AOpacity < 1 ? AOpacity : 1) : 0;
  if (opacity <= 0 || AText.empty() || !(ARect.Width() > 0) || !(ARect.Height() > 0)) return;
  TFontFace& font = Font();
  std::lock_guard<std::mutex> guard(font.Lock);
  // Glyphs are rasterised at the canvas scale, so a scaled canvas gets sharp text.
  if (!font.Ready(FFontSize * FScale)) return;
  FT_Face face = font.Face;
  TRectF r = ARect;
  r.Offset(FOffset.X, FOffset.Y);
  r = TRectF(r.Left * FScale, r.Top * FScale, r.Right * FScale, r.Bottom * FScale);
  if (!std::isfinite(r.Left) || !std::isfinite(r.Top) || !std::isfinite(r.Right) || !std::isfinite(r.Bottom)) return;

  const std::vector<std::string> lines = LayoutLines(face, AText, WordWrap, r.Width());
  const float lineHeight = float(face->size->metrics.height) / 64;
  const float ascender = float(face->size->metrics.ascender) / 64;
  const float blockHeight = lineHeight * float(lines.size());
  float top = r.Top;
  if (AVTextAlign == TTextAlign::Center) top = r.Top + (r.Height() - blockHeight) / 2;
  else if (AVTextAlign == TTextAlign::Trailing) top = r.Bottom - blockHeight;
  const TAlphaColor color = FFill.Color;
  const auto clipX0 = int32_t(std::max(0.0f, std::floor(r.Left)));
  const auto clipY0 = int32_t(std::max(0.0f, std::floor(r.Top)));
  const auto clipX1 = int32_t(std::min(float(FTarget.Width), std::ceil(r.Right)));
  const auto clipY1 = int32_t(std::min(float(FTarget.Height), std::ceil(r.Bottom)));

  for (size_t i = 0; i < lines.size(); ++i) {
    const float baseline = top + lineHeight * float(i) + ascender;
    if (baseline - ascender > float(clipY1)) break;
    const float width = TextWidth(face, lines[i]);
    float pen = r.Left;
    if (ATextAlign == TTextAlign::Center) pen = r.Left + (r.Width() - width) / 2;
    else if (ATextAlign == TTextAlign::Trailing) pen = r.Right - width;
    for (char32_t cp : Utf8CodePoints(lines[i])) {
      if (FT_Load_Char(face, cp, FT_LOAD_RENDER) != 0) continue;
      const FT_GlyphSlot g = face->glyph;
      const FT_Bitmap& bm = g->bitmap;
      const int32_t gx = int32_t(std::lround(pen)) + g->bitmap_left;
      const int32_t gy = int32_t(std::lround(baseline)) - g->bitmap_top;
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && bm.num_grays > 1) {
        for (unsigned row = 0; row < bm.rows; ++row) {
          const int32_t y = gy + int32_t(row);
          if (y < clipY0 || y >= clipY1) continue;
          const unsigned char* src = bm.buffer + std::ptrdiff_t(row) * bm.pitch;
          for (unsigned col = 0; col < bm.width; ++col) {
            const int32_t x = gx + int32_t(col);
            if (x < clipX0 || x >= clipX1 || src[col] == 0) continue;
            BlendPixel(x, y, color, opacity * float(src[col]) / float(bm.num_grays - 1));
          }
        }
      }
      pen += float(g->advance.x) / 64;
    }
  }
}

}  // namespace quorvel
