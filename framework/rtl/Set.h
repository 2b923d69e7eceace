#pragma once
// TSet<E>: the run-time's "set of enum" over an enumeration with ordinals 0..255
//: + (union), - (difference), * (intersection), Contains / In,
// Include / Exclude, {A, B} construction, ascending iteration, "[A,B]" text.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "framework/rtl/Enum.h"
#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace set_detail {
[[noreturn]] void RaiseSetRange(int64_t ordinal);
// Splits "[A, B]" into names; raises EConvertError for text that is not a set.
std::vector<std::string> SplitSetText(std::string_view text);
}  // namespace set_detail

template <class E>
class TSet {
  static_assert(std::is_enum_v<E>, "TSet is a set of an enumeration");

public:
  using TElement = E;
  static constexpr int MaxOrdinal = 255;

  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> elements) {
    for (E e : elements) Include(e);
  }

  constexpr bool Contains(E e) const {
    const int64_t o = Ord(e);
    return o >= 0 && o <= MaxOrdinal && (FBits[o >> 6] >> (o & 63) & 1u) != 0;
  }
  constexpr TSet& Include(E e) {
    const size_t o = Index(e);
    FBits[o >> 6] |= uint64_t(1) << (o & 63);
    return *this;
  }
  constexpr TSet& Exclude(E e) {
    const int64_t o = Ord(e);
    if (o >= 0 && o <= MaxOrdinal) FBits[o >> 6] &= ~(uint64_t(1) << (o & 63));
    return *this;
  }
  constexpr void Clear() { FBits = {}; }
  constexpr bool IsEmpty() const { return (FBits[0] | FBits[1] | FBits[2] | FBits[3]) == 0; }
  constexpr size_t Count() const {
    size_t n = 0;
    for (uint64_t w : FBits) n += size_t(std::popcount(w));
    return n;
  }

  constexpr TSet& operator+=(const TSet& o) {
    for (size_t i = 0; i < 4; ++i) FBits[i] |= o.FBits[i];
    return *this;
  }
  constexpr TSet& operator-=(const TSet& o) {
    for (size_t i = 0; i < 4; ++i) FBits[i] &= ~o.FBits[i];
    return *this;
  }
  constexpr TSet& operator*=(const TSet& o) {
    for (size_t i = 0; i < 4; ++i) FBits[i] &= o.FBits[i];
    return *this;
  }
  constexpr TSet& operator+=(E e) { return Include(e); }
  constexpr TSet& operator-=(E e) { return Exclude(e); }
  friend constexpr TSet operator+(TSet a, const TSet& b) { return a += b; }
  friend constexpr TSet operator-(TSet a, const TSet& b) { return a -= b; }
  friend constexpr TSet operator*(TSet a, const TSet& b) { return a *= b; }
  friend constexpr TSet operator+(TSet a, E e) { return a.Include(e); }
  friend constexpr TSet operator-(TSet a, E e) { return a.Exclude(e); }
  friend constexpr bool operator==(const TSet&, const TSet&) = default;
  // Subset / superset, as the run-time's <= and >= on sets.
  friend constexpr bool operator<=(const TSet& a, const TSet& b) { return (a - b).IsEmpty(); }
  friend constexpr bool operator>=(const TSet& a, const TSet& b) { return b <= a; }

  class iterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = E;
    using difference_type = std::ptrdiff_t;
    using pointer = const E*;
    using reference = E;
    constexpr iterator() = default;
    constexpr E operator*() const { return static_cast<E>(FPos); }
    constexpr iterator& operator++() {
      FPos = FSet->NextFrom(FPos + 1);
      return *this;
    }
    constexpr iterator operator++(int) {
      iterator t = *this;
      ++*this;
      return t;
    }
    friend constexpr bool operator==(const iterator& a, const iterator& b) { return a.FPos == b.FPos; }

  private:
    friend class TSet;
    constexpr iterator(const TSet* s, int pos) : FSet(s), FPos(pos) {}
    const TSet* FSet = nullptr;
    int FPos = MaxOrdinal + 1;
  };
  // Ascending ordinal order.
  constexpr iterator begin() const { return iterator(this, NextFrom(0)); }
  constexpr iterator end() const { return iterator(this, MaxOrdinal + 1); }

  // The first 64 ordinals as bits (bit n = ordinal n), for ordinals that are persisted.
  constexpr uint64_t ToBits() const { return FBits[0]; }
  static constexpr TSet FromBits(uint64_t bits) {
    TSet s;
    s.FBits[0] = bits;
    return s;
  }

  // "[A,B]" with the enumeration's names (numbers for values without a name), ascending.
  std::string ToString() const {
    std::string s = "[";
    bool first = true;
    for (E e : *this) {
      if (!first) s += ',';
      s += EnumToString(e);
      first = false;
    }
    return s + "]";
  }
  // Reads "[A,B]" (blanks allowed, names ASCII case-insensitive); an unknown name raises
  // EConvertError.
  static TSet FromString(std::string_view text) {
    TSet s;
    for (const std::string& name : set_detail::SplitSetText(text)) s.Include(StringToEnum<E>(name));
    return s;
  }

private:
  static constexpr size_t Index(E e) {
    const int64_t o = Ord(e);
    if (o < 0 || o > MaxOrdinal) set_detail::RaiseSetRange(o);
    return size_t(o);
  }
  constexpr int NextFrom(int pos) const {
    while (pos <= MaxOrdinal) {
      const uint64_t w = FBits[size_t(pos) >> 6] >> (pos & 63);
      if (w != 0) return pos + std::countr_zero(w);
      pos = (pos | 63) + 1;
    }
    return MaxOrdinal + 1;
  }

  std::array<uint64_t, 4> FBits{};
};

template <class E>
constexpr bool In(E e, const TSet<E>& s) {
  return s.Contains(e);
}

template <class T>
inline constexpr bool IsTSet = false;
template <class E>
inline constexpr bool IsTSet<TSet<E>> = true;

}  // namespace quorvel
