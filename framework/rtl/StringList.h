#pragma once
// TStrings / TStringList: an indexed list of UTF-8 strings, each with an optional object.
// Text joins the lines with LineBreak (CR LF by default, the product's line break) and
// splits at CR LF, CR or LF. Case-insensitive comparisons are ASCII-only.
// DelimitedText joins and splits at Delimiter (',' by default). Without StrictDelimiter, control
// characters and blanks also separate entries and are trimmed around them; with it only the
// delimiter separates. An entry that holds a separator or QuoteChar ('"') is written quoted,
// doubling the quote character inside, and a quoted entry is read back whole.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/Persistent.h"

namespace quorvel {

class TStrings : public TPersistent {
  FW_CLASS(TStrings, TPersistent)

public:
  virtual int GetCount() const = 0;
  int Count() const { return GetCount(); }
  // Out-of-range indexes raise EStringListError ("List index out of bounds (%d)").
  virtual const std::string& Get(int index) const = 0;
  const std::string& operator[](int index) const { return Get(index); }
  const std::string& GetStrings(int index) const { return Get(index); }
  virtual void Put(int index, std::string s) = 0;
  void SetStrings(int index, std::string s) { Put(index, std::move(s)); }
  virtual TObject* GetObject(int index) const = 0;
  virtual void PutObject(int index, TObject* obj) = 0;

  int Add(std::string s) { return AddObject(std::move(s), nullptr); }
  virtual int AddObject(std::string s, TObject* obj);
  void Insert(int index, std::string s) { InsertObject(index, std::move(s), nullptr); }
  virtual void InsertObject(int index, std::string s, TObject* obj) = 0;
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;
  virtual void Exchange(int index1, int index2);
  virtual void Move(int curIndex, int newIndex);

  // First index of s (case rule of CaseSensitive), -1 when absent.
  virtual int IndexOf(std::string_view s) const;
  int IndexOfObject(const TObject* obj) const;
  void AddStrings(const TStrings& src);
  void AddStrings(const std::vector<std::string>& src);
  // Replaces the lines (and objects) with those of src; another source class raises as
  // TPersistent::Assign does.
  void Assign(TPersistent* Source) override;
  void Assign(const TStrings& src);
  bool Equals(const TStrings& other) const;  // same strings in the same order
  std::vector<std::string> ToStringArray() const;

  std::string GetText() const;
  virtual void SetText(std::string_view text);
  const std::string& GetLineBreak() const { return FLineBreak; }
  void SetLineBreak(std::string lineBreak) { FLineBreak = std::move(lineBreak); }
  bool GetTrailingLineBreak() const { return FTrailingLineBreak; }
  void SetTrailingLineBreak(bool v) { FTrailingLineBreak = v; }

  char GetDelimiter() const { return FDelimiter; }
  void SetDelimiter(char v) { FDelimiter = v; }
  char GetQuoteChar() const { return FQuoteChar; }
  void SetQuoteChar(char v) { FQuoteChar = v; }
  bool GetStrictDelimiter() const { return FStrictDelimiter; }
  void SetStrictDelimiter(bool v) { FStrictDelimiter = v; }
  std::string GetDelimitedText() const;
  // Replaces the lines with the entries of text.
  void SetDelimitedText(std::string_view text);

  bool GetCaseSensitive() const { return FCaseSensitive; }
  virtual void SetCaseSensitive(bool v) { FCaseSensitive = v; }

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() {
    if (FUpdateCount > 0) --FUpdateCount;
  }
  int GetUpdateCount() const { return FUpdateCount; }

protected:
  int CompareStrings(std::string_view a, std::string_view b) const;
  [[noreturn]] static void RaiseIndexError(int index);

private:
  std::string FLineBreak = "\r\n";
  bool FTrailingLineBreak = true;
  bool FCaseSensitive = false;
  char FDelimiter = ',';
  char FQuoteChar = '"';
  bool FStrictDelimiter = false;
  int FUpdateCount = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
  FW_CLASS(TStringList, TStrings)

public:
  TStringList() = default;
  explicit TStringList(bool ownsObjects) : FOwnsObjects(ownsObjects) {}
  ~TStringList() override;

  int GetCount() const override { return static_cast<int>(FItems.size()); }
  const std::string& Get(int index) const override;
  void Put(int index, std::string s) override;
  TObject* GetObject(int index) const override;
  void PutObject(int index, TObject* obj) override;
  int AddObject(std::string s, TObject* obj) override;
  // Raises EStringListError on a sorted list ("Operation not allowed on sorted list").
  void InsertObject(int index, std::string s, TObject* obj) override;
  void Delete(int index) override;
  void Clear() override;
  void Exchange(int index1, int index2) override;
  // Raises EStringListError on a sorted list.
  void Move(int curIndex, int newIndex) override;
  int IndexOf(std::string_view s) const override;
  void SetCaseSensitive(bool v) override;

  // Binary search of a sorted list: true when found; index = position of s or where it goes.
  bool Find(std::string_view s, int& index) const;
  void Sort();
  // compare(list, i, j) < 0 when item i goes before item j.
  void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);

  bool GetSorted() const { return FSorted; }
  void SetSorted(bool v);
  TDuplicates GetDuplicates() const { return FDuplicates; }
  void SetDuplicates(TDuplicates v) { FDuplicates = v; }
  bool GetOwnsObjects() const { return FOwnsObjects; }
  void SetOwnsObjects(bool v) { FOwnsObjects = v; }

  void Reserve(int capacity) { FItems.reserve(static_cast<size_t>(capacity > 0 ? capacity : 0)); }

private:
  struct TItem {
    std::string S;
    TObject* Obj = nullptr;
  };
  void CheckIndex(int index) const;
  void FreeObject(TObject* obj);

  std::vector<TItem> FItems;
  bool FSorted = false;
  bool FOwnsObjects = false;
  TDuplicates FDuplicates = TDuplicates::dupIgnore;
};

}  // namespace quorvel
