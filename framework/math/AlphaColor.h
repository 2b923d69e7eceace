#pragma once
// 32-bit colours 0xAARRGGBB (TAlphaColor, a type of its own), their byte view (TAlphaColorRec),
// float colours (TAlphaColorF) and the named colours claXxx.
#include <bit>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/rtl/TypeName.h"

namespace quorvel {

enum class TAlphaColor : uint32_t {};

constexpr TAlphaColor MakeAlphaColor(uint32_t AARRGGBB) { return TAlphaColor(AARRGGBB); }
constexpr TAlphaColor MakeAlphaColor(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 0xFF) {
  return TAlphaColor(uint32_t(A) << 24 | uint32_t(R) << 16 | uint32_t(G) << 8 | uint32_t(B));
}
constexpr uint32_t ToCardinal(TAlphaColor c) { return uint32_t(c); }
constexpr uint8_t AlphaOf(TAlphaColor c) { return uint8_t(uint32_t(c) >> 24); }
constexpr uint8_t RedOf(TAlphaColor c) { return uint8_t(uint32_t(c) >> 16); }
constexpr uint8_t GreenOf(TAlphaColor c) { return uint8_t(uint32_t(c) >> 8); }
constexpr uint8_t BlueOf(TAlphaColor c) { return uint8_t(uint32_t(c)); }

// The colour's bytes in memory order (B, G, R, A on this little-endian platform).
struct TAlphaColorRec {
  uint8_t B = 0;
  uint8_t G = 0;
  uint8_t R = 0;
  uint8_t A = 0;

  constexpr TAlphaColorRec() = default;
  constexpr explicit TAlphaColorRec(TAlphaColor c) : B(BlueOf(c)), G(GreenOf(c)), R(RedOf(c)), A(AlphaOf(c)) {}
  constexpr TAlphaColor Color() const { return MakeAlphaColor(R, G, B, A); }
  friend constexpr bool operator==(const TAlphaColorRec&, const TAlphaColorRec&) = default;
};

struct TAlphaColorF {
  float R = 0;
  float G = 0;
  float B = 0;
  float A = 0;

  constexpr TAlphaColorF() = default;
  constexpr TAlphaColorF(float r, float g, float b, float a = 1.0f) : R(r), G(g), B(b), A(a) {}
  constexpr explicit TAlphaColorF(TAlphaColor c)
      : R(RedOf(c) / 255.0f), G(GreenOf(c) / 255.0f), B(BlueOf(c) / 255.0f), A(AlphaOf(c) / 255.0f) {}

  static constexpr TAlphaColorF Create(float r, float g, float b, float a = 1.0f) { return {r, g, b, a}; }
  static constexpr TAlphaColorF Create(TAlphaColor c) { return TAlphaColorF(c); }
  // Each channel clamped to [0, 1], scaled to 255 and rounded half to even.
  TAlphaColor ToAlphaColor() const;
  TAlphaColorF Clamp() const;

  friend constexpr TAlphaColorF operator+(const TAlphaColorF& a, const TAlphaColorF& b) {
    return {a.R + b.R, a.G + b.G, a.B + b.B, a.A + b.A};
  }
  friend constexpr TAlphaColorF operator-(const TAlphaColorF& a, const TAlphaColorF& b) {
    return {a.R - b.R, a.G - b.G, a.B - b.B, a.A - b.A};
  }
  friend constexpr TAlphaColorF operator*(const TAlphaColorF& a, const TAlphaColorF& b) {
    return {a.R * b.R, a.G * b.G, a.B * b.B, a.A * b.A};
  }
  friend constexpr TAlphaColorF operator*(const TAlphaColorF& a, float s) { return {a.R * s, a.G * s, a.B * s, a.A * s}; }
  // Channels equal within 1/65535.
  friend constexpr bool operator==(const TAlphaColorF& a, const TAlphaColorF& b) {
    auto near = [](float u, float v) { return (u > v ? u - v : v - u) <= 1.5259e-05f; };
    return near(a.R, b.R) && near(a.G, b.G) && near(a.B, b.B) && near(a.A, b.A);
  }
};

// The named colours: name without "cla", value.
#define QUORVEL_NAMED_COLORS(X)                                                                             \
  X(Null, 0x00000000) X(Aliceblue, 0xFFF0F8FF) X(Antiquewhite, 0xFFFAEBD7) X(Aqua, 0xFF00FFFF)               \
  X(Aquamarine, 0xFF7FFFD4) X(Azure, 0xFFF0FFFF) X(Beige, 0xFFF5F5DC) X(Bisque, 0xFFFFE4C4)                  \
  X(Black, 0xFF000000) X(Blanchedalmond, 0xFFFFEBCD) X(Blue, 0xFF0000FF) X(Blueviolet, 0xFF8A2BE2)           \
  X(Brown, 0xFFA52A2A) X(Burlywood, 0xFFDEB887) X(Cadetblue, 0xFF5F9EA0) X(Chartreuse, 0xFF7FFF00)           \
  X(Chocolate, 0xFFD2691E) X(Coral, 0xFFFF7F50) X(Cornflowerblue, 0xFF6495ED) X(Cornsilk, 0xFFFFF8DC)        \
  X(Crimson, 0xFFDC143C) X(Cyan, 0xFF00FFFF) X(Darkblue, 0xFF00008B) X(Darkcyan, 0xFF008B8B)                 \
  X(Darkgoldenrod, 0xFFB8860B) X(Darkgray, 0xFFA9A9A9) X(Darkgreen, 0xFF006400) X(Darkgrey, 0xFFA9A9A9)      \
  X(Darkkhaki, 0xFFBDB76B) X(Darkmagenta, 0xFF8B008B) X(Darkolivegreen, 0xFF556B2F)                          \
  X(Darkorange, 0xFFFF8C00) X(Darkorchid, 0xFF9932CC) X(Darkred, 0xFF8B0000) X(Darksalmon, 0xFFE9967A)       \
  X(Darkseagreen, 0xFF8FBC8F) X(Darkslateblue, 0xFF483D8B) X(Darkslategray, 0xFF2F4F4F)                      \
  X(Darkslategrey, 0xFF2F4F4F) X(Darkturquoise, 0xFF00CED1) X(Darkviolet, 0xFF9400D3)                        \
  X(Deeppink, 0xFFFF1493) X(Deepskyblue, 0xFF00BFFF) X(Dimgray, 0xFF696969) X(Dimgrey, 0xFF696969)           \
  X(Dodgerblue, 0xFF1E90FF) X(Firebrick, 0xFFB22222) X(Floralwhite, 0xFFFFFAF0) X(Forestgreen, 0xFF228B22)   \
  X(Fuchsia, 0xFFFF00FF) X(Gainsboro, 0xFFDCDCDC) X(Ghostwhite, 0xFFF8F8FF) X(Gold, 0xFFFFD700)              \
  X(Goldenrod, 0xFFDAA520) X(Gray, 0xFF808080) X(Green, 0xFF008000) X(Greenyellow, 0xFFADFF2F)               \
  X(Grey, 0xFF808080) X(Honeydew, 0xFFF0FFF0) X(Hotpink, 0xFFFF69B4) X(Indianred, 0xFFCD5C5C)                \
  X(Indigo, 0xFF4B0082) X(Ivory, 0xFFFFFFF0) X(Khaki, 0xFFF0E68C) X(Lavender, 0xFFE6E6FA)                    \
  X(Lavenderblush, 0xFFFFF0F5) X(Lawngreen, 0xFF7CFC00) X(Lemonchiffon, 0xFFFFFACD) X(Lightblue, 0xFFADD8E6) \
  X(Lightcoral, 0xFFF08080) X(Lightcyan, 0xFFE0FFFF) X(Lightgoldenrodyellow, 0xFFFAFAD2)                     \
  X(Lightgray, 0xFFD3D3D3) X(Lightgreen, 0xFF90EE90) X(Lightgrey, 0xFFD3D3D3) X(Lightpink, 0xFFFFB6C1)       \
  X(Lightsalmon, 0xFFFFA07A) X(Lightseagreen, 0xFF20B2AA) X(Lightskyblue, 0xFF87CEFA)                        \
  X(Lightslategray, 0xFF778899) X(Lightslategrey, 0xFF778899) X(Lightsteelblue, 0xFFB0C4DE)                  \
  X(Lightyellow, 0xFFFFFFE0) X(Lime, 0xFF00FF00) X(Limegreen, 0xFF32CD32) X(Linen, 0xFFFAF0E6)               \
  X(Magenta, 0xFFFF00FF) X(Maroon, 0xFF800000) X(Mediumaquamarine, 0xFF66CDAA) X(Mediumblue, 0xFF0000CD)     \
  X(Mediumorchid, 0xFFBA55D3) X(Mediumpurple, 0xFF9370DB) X(Mediumseagreen, 0xFF3CB371)                      \
  X(Mediumslateblue, 0xFF7B68EE) X(Mediumspringgreen, 0xFF00FA9A) X(Mediumturquoise, 0xFF48D1CC)            \
  X(Mediumvioletred, 0xFFC71585) X(Midnightblue, 0xFF191970) X(Mintcream, 0xFFF5FFFA)                        \
  X(Mistyrose, 0xFFFFE4E1) X(Moccasin, 0xFFFFE4B5) X(Navajowhite, 0xFFFFDEAD) X(Navy, 0xFF000080)            \
  X(Oldlace, 0xFFFDF5E6) X(Olive, 0xFF808000) X(Olivedrab, 0xFF6B8E23) X(Orange, 0xFFFFA500)                 \
  X(Orangered, 0xFFFF4500) X(Orchid, 0xFFDA70D6) X(Palegoldenrod, 0xFFEEE8AA) X(Palegreen, 0xFF98FB98)       \
  X(Paleturquoise, 0xFFAFEEEE) X(Palevioletred, 0xFFDB7093) X(Papayawhip, 0xFFFFEFD5)                        \
  X(Peachpuff, 0xFFFFDAB9) X(Peru, 0xFFCD853F) X(Pink, 0xFFFFC0CB) X(Plum, 0xFFDDA0DD)                       \
  X(Powderblue, 0xFFB0E0E6) X(Purple, 0xFF800080) X(Red, 0xFFFF0000) X(Rosybrown, 0xFFBC8F8F)                \
  X(Royalblue, 0xFF4169E1) X(Saddlebrown, 0xFF8B4513) X(Salmon, 0xFFFA8072) X(Sandybrown, 0xFFF4A460)        \
  X(Seagreen, 0xFF2E8B57) X(Seashell, 0xFFFFF5EE) X(Sienna, 0xFFA0522D) X(Silver, 0xFFC0C0C0)                \
  X(Skyblue, 0xFF87CEEB) X(Slateblue, 0xFF6A5ACD) X(Slategray, 0xFF708090) X(Slategrey, 0xFF708090)          \
  X(Snow, 0xFFFFFAFA) X(Springgreen, 0xFF00FF7F) X(Steelblue, 0xFF4682B4) X(Tan, 0xFFD2B48C)                 \
  X(Teal, 0xFF008080) X(Thistle, 0xFFD8BFD8) X(Tomato, 0xFFFF6347) X(Turquoise, 0xFF40E0D0)                  \
  X(Violet, 0xFFEE82EE) X(Wheat, 0xFFF5DEB3) X(White, 0xFFFFFFFF) X(Whitesmoke, 0xFFF5F5F5)                  \
  X(Yellow, 0xFFFFFF00) X(Yellowgreen, 0xFF9ACD32)

#define QUORVEL_DECLARE_COLOR(Name, Value) inline constexpr TAlphaColor cla##Name = TAlphaColor(Value##u);
QUORVEL_NAMED_COLORS(QUORVEL_DECLARE_COLOR)
#undef QUORVEL_DECLARE_COLOR

// "claTomato" (the prefix may be left out; case-insensitive) -> colour. False for an unknown name.
bool IdentToAlphaColor(std::string_view AIdent, TAlphaColor& AColor);
// The first name of a colour ("claTomato"); false when the colour has no name.
bool AlphaColorToIdent(TAlphaColor AColor, std::string& AIdent);

QUORVEL_TYPE_NAME(TAlphaColor)
QUORVEL_TYPE_NAME(TAlphaColorRec)
QUORVEL_TYPE_NAME(TAlphaColorF)

static_assert(std::endian::native == std::endian::little, "TAlphaColorRec assumes little-endian bytes");
static_assert(sizeof(TAlphaColor) == 4 && sizeof(TAlphaColorRec) == 4);
static_assert(sizeof(TAlphaColorF) == 16 && alignof(TAlphaColorF) == 4);

}  // namespace quorvel
