#include "framework/rtl/Containers.h"

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace containers_detail {

void RaiseOutOfRange() { throw EArgumentOutOfRangeException("Argument out of range"); }
void RaiseDuplicateKey() { throw EDuplicateKey("Duplicates not allowed"); }
void RaiseItemNotFound() { throw EListError("Item not found"); }

void SwallowInDestructor(const std::function<void()>& cleanup) noexcept {
  // A destructor must not throw.
  Quietly("container destructor", cleanup);
}

}  // namespace containers_detail

size_t TTextHash::operator()(std::string_view s) const noexcept {
  // FNV-1a over the lower-cased ASCII bytes.
  uint64_t h = 1469598103934665603ull;
  for (char c : s) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool TTextEqual::operator()(std::string_view a, std::string_view b) const { return SameText(a, b); }

}  // namespace quorvel
