#include "framework/rtl/Guid.h"

#include <random>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

std::mt19937_64& Generator() {
  thread_local std::mt19937_64 gen([] {
    std::random_device rd;
    std::seed_seq seq{rd(), rd(), rd(), rd(), rd(), rd(), rd(), rd()};
    return std::mt19937_64(seq);
  }());
  return gen;
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void GUIDToBytes(const TGUID& g, uint8_t out[16]) {
  out[0] = static_cast<uint8_t>(g.D1);
  out[1] = static_cast<uint8_t>(g.D1 >> 8);
  out[2] = static_cast<uint8_t>(g.D1 >> 16);
  out[3] = static_cast<uint8_t>(g.D1 >> 24);
  out[4] = static_cast<uint8_t>(g.D2);
  out[5] = static_cast<uint8_t>(g.D2 >> 8);
  out[6] = static_cast<uint8_t>(g.D3);
  out[7] = static_cast<uint8_t>(g.D3 >> 8);
  for (int i = 0; i < 8; ++i) out[8 + i] = g.D4[i];
}

TGUID GUIDFromBytes(const uint8_t in[16]) {
  TGUID g;
  g.D1 = static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
         static_cast<uint32_t>(in[3]) << 24;
  g.D2 = static_cast<uint16_t>(in[4] | in[5] << 8);
  g.D3 = static_cast<uint16_t>(in[6] | in[7] << 8);
  for (int i = 0; i < 8; ++i) g.D4[i] = in[8 + i];
  return g;
}

TGUID TGUID::NewGuid() {
  auto& gen = Generator();
  const uint64_t a = gen(), b = gen();
  uint8_t bytes[16];
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<uint8_t>(a >> (8 * i));
    bytes[8 + i] = static_cast<uint8_t>(b >> (8 * i));
  }
  TGUID g = GUIDFromBytes(bytes);
  g.D3 = static_cast<uint16_t>((g.D3 & 0x0FFF) | 0x4000);
  g.D4[0] = static_cast<uint8_t>((g.D4[0] & 0x3F) | 0x80);
  return g;
}

bool TGUID::IsEmpty() const { return *this == TGUID{}; }

std::string TGUID::ToString() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s(38, '-');
  s[0] = '{';
  s[37] = '}';
  auto put = [&](size_t at, uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i, v >>= 4) s[at + static_cast<size_t>(i)] = kHex[v & 15];
  };
  put(1, D1, 8);
  put(10, D2, 4);
  put(15, D3, 4);
  put(20, static_cast<uint64_t>(D4[0]) << 8 | D4[1], 4);
  for (int i = 0; i < 6; ++i) put(25 + 2 * static_cast<size_t>(i), D4[2 + i], 2);
  return s;
}

bool TGUID::TryCreate(std::string_view t, TGUID& guid) {
  if (t.size() != 38 || t[0] != '{' || t[37] != '}' || t[9] != '-' || t[14] != '-' || t[19] != '-' || t[24] != '-')
    return false;
  auto read = [&](size_t at, int digits, uint64_t& v) {
    v = 0;
    for (int i = 0; i < digits; ++i) {
      const int h = Hex(t[at + static_cast<size_t>(i)]);
      if (h < 0) return false;
      v = v << 4 | static_cast<uint64_t>(h);
    }
    return true;
  };
  uint64_t d1, d2, d3, d4a, d4b;
  if (!read(1, 8, d1) || !read(10, 4, d2) || !read(15, 4, d3) || !read(20, 4, d4a) || !read(25, 12, d4b)) return false;
  guid.D1 = static_cast<uint32_t>(d1);
  guid.D2 = static_cast<uint16_t>(d2);
  guid.D3 = static_cast<uint16_t>(d3);
  guid.D4[0] = static_cast<uint8_t>(d4a >> 8);
  guid.D4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) guid.D4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  return true;
}

TGUID TGUID::Create(std::string_view text) {
  TGUID g;
  if (!TryCreate(text, g)) throw EConvertError(Format(SInvalidGUID, {text}));
  return g;
}

}  // namespace quorvel

size_t std::hash<quorvel::TGUID>::operator()(const quorvel::TGUID& g) const noexcept {
  uint8_t b[16];
  quorvel::GUIDToBytes(g, b);
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (uint8_t x : b) h = (h ^ x) * 1099511628211ull;
  return static_cast<size_t>(h);
}
