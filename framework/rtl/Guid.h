#pragma once
// TGUID: the run-time's 16-byte GUID record (D1, D2, D3 little-endian in memory as on the
// original platform, then D4) and its braced upper-case text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "framework/rtl/TypeName.h"

namespace quorvel {

struct TGUID {
  uint32_t D1 = 0;
  uint16_t D2 = 0;
  uint16_t D3 = 0;
  uint8_t D4[8] = {};

  // A random (version 4) GUID.
  static TGUID NewGuid();
  static TGUID Empty() { return TGUID{}; }
  // Parses the braced text (hex digits in either case); anything else raises EConvertError
  // ("'%s' is not a valid GUID value").
  static TGUID Create(std::string_view text);
  static bool TryCreate(std::string_view text, TGUID& guid);

  bool IsEmpty() const;
  std::string ToString() const;

  friend bool operator==(const TGUID& a, const TGUID& b) = default;
};
static_assert(sizeof(TGUID) == 16, "TGUID is stored and hashed as its 16 bytes");
QUORVEL_TYPE_NAME(TGUID)

inline TGUID CreateGUID() { return TGUID::NewGuid(); }
inline std::string GUIDToString(const TGUID& g) { return g.ToString(); }
inline TGUID StringToGUID(std::string_view s) { return TGUID::Create(s); }
// Byte order as the record lies in memory on a little-endian machine (D1..D3 little-endian).
void GUIDToBytes(const TGUID& g, uint8_t out[16]);
TGUID GUIDFromBytes(const uint8_t in[16]);

}  // namespace quorvel

template <>
struct std::hash<quorvel::TGUID> {
  size_t operator()(const quorvel::TGUID& g) const noexcept;
};
