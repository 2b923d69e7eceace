#include "framework/rtl/Enum.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/SysUtils.h"

#include <algorithm>

namespace quorvel {

TEnumInfo::TEnumInfo(std::string typeName, std::initializer_list<TEntry> entries)
    : FTypeName(std::move(typeName)), FEntries(entries) {
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const int64_t o = FEntries[i].Ordinal;
    FMin = i == 0 ? o : std::min(FMin, o);
    FMax = i == 0 ? o : std::max(FMax, o);
  }
}

const std::string* TEnumInfo::NameOf(int64_t ordinal) const {
  for (const TEntry& e : FEntries)
    if (e.Ordinal == ordinal) return &e.Name;
  return nullptr;
}

bool TEnumInfo::TryOrdinalOf(std::string_view name, int64_t& ordinal) const {
  for (const TEntry& e : FEntries)
    if (SameText(e.Name, name)) {
      ordinal = e.Ordinal;
      return true;
    }
  return false;
}

int64_t TEnumInfo::OrdinalOf(std::string_view name) const {
  int64_t ordinal;
  if (!TryOrdinalOf(name, ordinal))
    throw EConvertError("'" + std::string(name) + "' is not a valid " + FTypeName + " value");
  return ordinal;
}

std::string OrdinalToString(const TEnumInfo* info, int64_t ordinal) {
  if (info)
    if (const std::string* name = info->NameOf(ordinal)) return *name;
  return std::to_string(ordinal);
}

namespace set_detail {

void RaiseSetRange(int64_t ordinal) {
  throw EArgumentOutOfRangeException("Set element ordinal " + std::to_string(ordinal) +
                                     " out of range 0..255");
}

std::vector<std::string> SplitSetText(std::string_view text) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  std::string_view t = trim(text);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']')
    throw EConvertError("'" + std::string(text) + "' is not a valid set");
  t = trim(t.substr(1, t.size() - 2));
  std::vector<std::string> names;
  if (t.empty()) return names;
  size_t start = 0;
  while (true) {
    const size_t comma = t.find(',', start);
    std::string_view item = trim(t.substr(start, comma == std::string_view::npos ? t.npos : comma - start));
    if (item.empty()) throw EConvertError("'" + std::string(text) + "' is not a valid set");
    names.emplace_back(item);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return names;
}

}  // namespace set_detail

}  // namespace quorvel
