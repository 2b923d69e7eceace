#pragma once
// Text forms the game units share: numbers in the invariant en-US form, "X;Y" positions and
// whether an element carries an attribute.

#include <string>
#include <string_view>

#include "framework/math/Point.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/XmlNode.h"

namespace quorvel {

inline const TFormatSettings& EnUs() {
  static const TFormatSettings fs = TFormatSettings::Create("en-US");
  return fs;
}

inline bool HasAttribute(const TMz_XmlElement* ANode, const char* AName) {
  return ANode->attributes() && ANode->attributes()->ContainsKey(AName);
}

// "X;Y"; anything but two parts gives (0, 0), a part that does not convert 0.
inline TPointF ParsePosition(const std::string& AText) {
  const size_t semi = AText.find(';');
  if (semi == std::string::npos || AText.find(';', semi + 1) != std::string::npos) return {};
  TPointF p{};
  if (!TryStrToFloat(std::string_view(AText).substr(0, semi), p.X, EnUs())) p.X = 0;
  if (!TryStrToFloat(std::string_view(AText).substr(semi + 1), p.Y, EnUs())) p.Y = 0;
  return p;
}

}  // namespace quorvel
