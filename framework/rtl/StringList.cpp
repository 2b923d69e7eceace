#include "framework/rtl/StringList.h"

#include <algorithm>

#include "framework/rtl/Finally.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

FW_CLASS_IMPL(TStrings, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TStrings)
FW_CLASS_IMPL(TStringList, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TStringList)

// ---------------------------------------------------------------------------------------------
// TStrings

void TStrings::RaiseIndexError(int index) {
  throw EStringListError(Format(SListIndexError, {index}));
}

int TStrings::CompareStrings(std::string_view a, std::string_view b) const {
  return FCaseSensitive ? CompareStr(a, b) : AsciiCompareText(a, b);
}

int TStrings::AddObject(std::string s, TObject* obj) {
  const int index = GetCount();
  InsertObject(index, std::move(s), obj);
  return index;
}

void TStrings::Exchange(int index1, int index2) {
  std::string s1 = Get(index1);
  TObject* o1 = GetObject(index1);
  Put(index1, Get(index2));
  PutObject(index1, GetObject(index2));
  Put(index2, std::move(s1));
  PutObject(index2, o1);
}

void TStrings::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  std::string s = Get(curIndex);
  TObject* o = GetObject(curIndex);
  if (newIndex < 0 || newIndex >= GetCount()) RaiseIndexError(newIndex);
  // Detach the object first: an owning list must not free it on Delete.
  PutObject(curIndex, nullptr);
  Delete(curIndex);
  InsertObject(newIndex, std::move(s), o);
}

int TStrings::IndexOf(std::string_view s) const {
  const int n = GetCount();
  for (int i = 0; i < n; ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const {
  const int n = GetCount();
  for (int i = 0; i < n; ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

void TStrings::AddStrings(const TStrings& src) {
  if (&src == this) {
    AddStrings(src.ToStringArray());
    return;
  }
  const int n = src.GetCount();
  for (int i = 0; i < n; ++i) AddObject(src.Get(i), src.GetObject(i));
}

void TStrings::AddStrings(const std::vector<std::string>& src) {
  for (const auto& s : src) Add(s);
}

void TStrings::Assign(TPersistent* Source) {
  if (auto* src = dynamic_cast<TStrings*>(Source)) {
    Assign(*src);
    return;
  }
  TPersistent::Assign(Source);
}

void TStrings::Assign(const TStrings& src) {
  if (&src == this) return;
  BeginUpdate();
  Clear();
  AddStrings(src);
  FLineBreak = src.FLineBreak;
  FTrailingLineBreak = src.FTrailingLineBreak;
  EndUpdate();
}

bool TStrings::Equals(const TStrings& other) const {
  const int n = GetCount();
  if (n != other.GetCount()) return false;
  for (int i = 0; i < n; ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

std::vector<std::string> TStrings::ToStringArray() const {
  std::vector<std::string> out;
  const int n = GetCount();
  out.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out.push_back(Get(i));
  return out;
}

std::string TStrings::GetText() const {
  const int n = GetCount();
  size_t size = 0;
  for (int i = 0; i < n; ++i) size += Get(i).size() + FLineBreak.size();
  std::string out;
  out.reserve(size);
  for (int i = 0; i < n; ++i) {
    out += Get(i);
    if (FTrailingLineBreak || i + 1 < n) out += FLineBreak;
  }
  return out;
}

void TStrings::SetText(std::string_view text) {
  BeginUpdate();
  Clear();
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t e = start;
    while (e < n && text[e] != '\r' && text[e] != '\n') ++e;
    Add(std::string(text.substr(start, e - start)));
    if (e < n && text[e] == '\r' && e + 1 < n && text[e + 1] == '\n')
      start = e + 2;
    else
      start = e + 1;
  }
  EndUpdate();
}

namespace {
bool IsBlankOrControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= ' ';
}
}  // namespace

std::string TStrings::GetDelimitedText() const {
  const int n = GetCount();
  if (n == 1 && Get(0).empty()) return std::string(2, FQuoteChar);
  std::string out;
  for (int i = 0; i < n; ++i) {
    const std::string& s = Get(i);
    // An empty entry between blank delimiters would be skipped as blanks when read back.
    const bool emptyLost = s.empty() && !FStrictDelimiter && IsBlankOrControl(FDelimiter);
    const bool quote = emptyLost || std::any_of(s.begin(), s.end(), [&](char c) {
      return c == '\0' || c == FQuoteChar || c == FDelimiter || (!FStrictDelimiter && IsBlankOrControl(c));
    });
    if (i > 0) out += FDelimiter;
    if (!quote) {
      out += s;
      continue;
    }
    out += FQuoteChar;
    for (char c : s) {
      if (c == FQuoteChar) out += FQuoteChar;
      out += c;
    }
    out += FQuoteChar;
  }
  return out;
}

void TStrings::SetDelimitedText(std::string_view text) {
  BeginUpdate();
  auto endUpdate = Finally([this] { EndUpdate(); });
  Clear();
  const size_t n = text.size();
  size_t p = 0;
  auto skipBlanks = [&] {
    if (!FStrictDelimiter)
      while (p < n && IsBlankOrControl(text[p])) ++p;
  };
  skipBlanks();
  while (p < n) {
    std::string entry;
    if (text[p] == FQuoteChar) {
      // A quoted entry runs to the next single quote character; a doubled one stands for
      // itself; an unclosed quote takes the rest of the text.
      ++p;
      while (p < n) {
        if (text[p] == FQuoteChar) {
          if (p + 1 < n && text[p + 1] == FQuoteChar) {
            entry += FQuoteChar;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        entry += text[p++];
      }
    } else {
      const size_t start = p;
      while (p < n && text[p] != FDelimiter && (FStrictDelimiter || !IsBlankOrControl(text[p]))) ++p;
      entry.assign(text.substr(start, p - start));
    }
    Add(std::move(entry));
    skipBlanks();
    if (p < n && text[p] == FDelimiter) {
      if (p + 1 == n) Add(std::string());
      ++p;
      skipBlanks();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TStringList

TStringList::~TStringList() {
  if (!FOwnsObjects) return;
  for (auto& it : FItems) FreeQuietly(it.Obj, "TStringList destructor: object");
}

void TStringList::FreeObject(TObject* obj) {
  if (FOwnsObjects) Free(obj);
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) RaiseIndexError(index);
}

const std::string& TStringList::Get(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].S;
}

void TStringList::Put(int index, std::string s) {
  if (FSorted) throw EStringListError(SSortedListError.Text);
  CheckIndex(index);
  FItems[static_cast<size_t>(index)].S = std::move(s);
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)].Obj;
}

void TStringList::PutObject(int index, TObject* obj) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)].Obj = obj;
}

int TStringList::AddObject(std::string s, TObject* obj) {
  if (!FSorted) {
    FItems.push_back(TItem{std::move(s), obj});
    return GetCount() - 1;
  }
  int index;
  if (Find(s, index)) {
    switch (FDuplicates) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError(SDuplicateString.Text);
      case TDuplicates::dupAccept:
        break;
    }
  }
  FItems.insert(FItems.begin() + index, TItem{std::move(s), obj});
  return index;
}

void TStringList::InsertObject(int index, std::string s, TObject* obj) {
  if (FSorted) throw EStringListError(SSortedListError.Text);
  if (index < 0 || index > GetCount()) RaiseIndexError(index);
  FItems.insert(FItems.begin() + index, TItem{std::move(s), obj});
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  TObject* obj = FItems[static_cast<size_t>(index)].Obj;
  FItems.erase(FItems.begin() + index);
  FreeObject(obj);
}

void TStringList::Clear() {
  std::vector<TItem> old;
  old.swap(FItems);
  if (FOwnsObjects)
    for (auto& it : old) Free(it.Obj);
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

void TStringList::Move(int curIndex, int newIndex) {
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  if (curIndex == newIndex) return;
  if (FSorted) throw EStringListError(SSortedListError.Text);
  const auto first = FItems.begin();
  if (curIndex < newIndex)
    std::rotate(first + curIndex, first + curIndex + 1, first + newIndex + 1);
  else
    std::rotate(first + newIndex, first + curIndex, first + curIndex + 1);
}

int TStringList::IndexOf(std::string_view s) const {
  if (!FSorted) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

bool TStringList::Find(std::string_view s, int& index) const {
  // First of equal items, so IndexOf agrees with the unsorted search under dupAccept.
  int lo = 0, hi = GetCount() - 1;
  bool found = false;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = CompareStrings(FItems[static_cast<size_t>(mid)].S, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [this](const TItem& a, const TItem& b) { return CompareStrings(a.S, b.S) < 0; });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
  // Sort a permutation: the comparer looks items up by index in this (unchanged) list.
  std::vector<int> order(FItems.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
  std::vector<TItem> sorted;
  sorted.reserve(FItems.size());
  for (int i : order) sorted.push_back(std::move(FItems[static_cast<size_t>(i)]));
  FItems.swap(sorted);
}

void TStringList::SetSorted(bool v) {
  if (v && !FSorted) Sort();
  FSorted = v;
}

void TStringList::SetCaseSensitive(bool v) {
  if (v == GetCaseSensitive()) return;
  TStrings::SetCaseSensitive(v);
  if (FSorted) Sort();
}

}  // namespace quorvel
