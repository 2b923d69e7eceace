#include "framework/io/Json.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_JSON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_JSON_ASAN 1
#endif
#endif
#ifdef QUORVEL_JSON_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include "framework/io/JsonParseError.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace json_detail {

void RaiseNotFound(std::string_view path) {
  throw EJSONException("Value '" + std::string(path) + "' not found");
}

void RaiseNumberRange(std::string_view text, const char* type) {
  throw EConvertError("JSON number " + std::string(text) + " is out of the range of " + type);
}

[[noreturn]] void RaiseOutOfRange() { throw EArgumentOutOfRangeException("Argument out of range"); }

}  // namespace json_detail

// ---- node storage ----

namespace {

#ifdef QUORVEL_JSON_ASAN
// The header also keeps the node's size, so that freed nodes inside a block can be poisoned.
constexpr size_t kNodeHeader = 16;
#else
constexpr size_t kNodeHeader = 8;
#endif

struct TJSONBlock {
  std::atomic<int64_t> Live;
  size_t Size;
  TJSONBlock* Next;  // while in the cache
};
constexpr size_t kBlockHeader = 32;
static_assert(sizeof(TJSONBlock) <= kBlockHeader);
// An open block cannot reach zero while the arena is still counting its nodes.
constexpr int64_t kOpenBias = int64_t(1) << 62;
// Blocks grow to this size; blocks of this size are reused across parses.
constexpr size_t kLargeBlock = size_t(256) << 10;
// Freed blocks kept for later parses: fresh pages cost more to touch than parsing fills them,
// so a program that parses large documents again reuses these instead. Bounded so that a
// program that parsed one large model does not keep holding its memory.
constexpr size_t kCacheLimit = size_t(64) << 20;

class TBlockCache {
public:
  TJSONBlock* Take() noexcept {
    std::lock_guard lock(FMutex);
    TJSONBlock* b = FHead;
    if (b) {
      FHead = b->Next;
      FBytes -= b->Size;
    }
    return b;
  }
  bool Put(TJSONBlock* b) noexcept {
    if (b->Size != kLargeBlock) return false;
    std::lock_guard lock(FMutex);
    if (FBytes + b->Size > kCacheLimit) return false;
    b->Next = FHead;
    FHead = b;
    FBytes += b->Size;
    return true;
  }

private:
  std::mutex FMutex;
  TJSONBlock* FHead = nullptr;
  size_t FBytes = 0;
};

// Never destroyed: blocks may be released during static destruction.
TBlockCache& Cache() {
  static TBlockCache* cache = new TBlockCache;
  return *cache;
}

void FreeBlock(TJSONBlock* b) noexcept {
#ifdef QUORVEL_JSON_ASAN
  ASAN_UNPOISON_MEMORY_REGION(b, b->Size);
#endif
  if (Cache().Put(b)) {
#ifdef QUORVEL_JSON_ASAN
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<char*>(b) + kBlockHeader, b->Size - kBlockHeader);
#endif
    return;
  }
  b->~TJSONBlock();
  std::free(b);
}

// Hands out node memory from growing blocks during one parse on one thread.
class TJSONArena {
public:
  TJSONArena() = default;
  TJSONArena(const TJSONArena&) = delete;
  TJSONArena& operator=(const TJSONArena&) = delete;
  ~TJSONArena() { Close(); }

  void* Allocate(size_t size) {
    const size_t n = (size + kNodeHeader + 7) & ~size_t(7);
    if (static_cast<size_t>(FEnd - FPos) < n) Grow(n);
    char* raw = FPos;
    FPos += n;
    ++FCount;
    *reinterpret_cast<TJSONBlock**>(raw) = FBlock;
#ifdef QUORVEL_JSON_ASAN
    *reinterpret_cast<size_t*>(raw + 8) = n;
#endif
    return raw + kNodeHeader;
  }

  void Close() noexcept {
    if (!FBlock) return;
    const int64_t open = kOpenBias - FCount;
    if (FBlock->Live.fetch_sub(open, std::memory_order_acq_rel) == open) FreeBlock(FBlock);
    FBlock = nullptr;
    FPos = FEnd = nullptr;
    FCount = 0;
  }

private:
  void Grow(size_t n) {
    Close();
    TJSONBlock* b = n + kBlockHeader <= kLargeBlock ? Cache().Take() : nullptr;
    if (b) {
#ifdef QUORVEL_JSON_ASAN
      ASAN_UNPOISON_MEMORY_REGION(b, b->Size);
#endif
      b->Live.store(kOpenBias, std::memory_order_relaxed);
      FNextSize = kLargeBlock;
    } else {
      const size_t size = std::max(FNextSize, n + kBlockHeader);
      FNextSize = std::min(FNextSize * 2, kLargeBlock);
      void* mem = std::malloc(size);
      if (!mem) throw std::bad_alloc();
      b = new (mem) TJSONBlock{{kOpenBias}, size, nullptr};
    }
    FBlock = b;
    FPos = reinterpret_cast<char*>(b) + kBlockHeader;
    FEnd = reinterpret_cast<char*>(b) + b->Size;
    FCount = 0;
  }

  TJSONBlock* FBlock = nullptr;
  char* FPos = nullptr;
  char* FEnd = nullptr;
  int64_t FCount = 0;
  size_t FNextSize = 4096;
};

thread_local TJSONArena* tArena = nullptr;

class TArenaScope {
public:
  explicit TArenaScope(TJSONArena* a) : FPrevious(tArena) { tArena = a; }
  ~TArenaScope() { tArena = FPrevious; }

private:
  TJSONArena* FPrevious;
};

void* AllocateNode(size_t size) {
  if (TJSONArena* a = tArena) return a->Allocate(size);
  char* raw = static_cast<char*>(::operator new(size + kNodeHeader));
  *reinterpret_cast<TJSONBlock**>(raw) = nullptr;
  return raw + kNodeHeader;
}

TJSONBlock* BlockOf(const void* p) noexcept {
  return *reinterpret_cast<TJSONBlock* const*>(static_cast<const char*>(p) - kNodeHeader);
}

// Gives back `count` nodes of one block at once (releasing leaves one atomic operation each
// is what made freeing a large document slow).
void ReleaseBlockNodes(TJSONBlock* b, int64_t count) noexcept {
  if (b && count && b->Live.fetch_sub(count, std::memory_order_acq_rel) == count) FreeBlock(b);
}

// Frees the memory of a node whose destructor has run; block nodes are only counted into
// pending (flushed with ReleaseBlockNodes when the block changes).
void ReleaseNodeBatched(void* p, TJSONBlock*& pending, int64_t& count) noexcept {
  char* raw = static_cast<char*>(p) - kNodeHeader;
  TJSONBlock* b = BlockOf(p);
  if (!b) {
    ::operator delete(raw);
    return;
  }
#ifdef QUORVEL_JSON_ASAN
  ASAN_POISON_MEMORY_REGION(raw, *reinterpret_cast<size_t*>(raw + 8));
#endif
  if (b != pending) {
    ReleaseBlockNodes(pending, count);
    pending = b;
    count = 0;
  }
  ++count;
}

void ReleaseNode(void* p) noexcept {
  if (!p) return;
  char* raw = static_cast<char*>(p) - kNodeHeader;
  TJSONBlock* b = *reinterpret_cast<TJSONBlock**>(raw);
  if (!b) {
    ::operator delete(raw);
    return;
  }
#ifdef QUORVEL_JSON_ASAN
  ASAN_POISON_MEMORY_REGION(raw, *reinterpret_cast<size_t*>(raw + 8));
#endif
  if (b->Live.fetch_sub(1, std::memory_order_acq_rel) == 1) FreeBlock(b);
}

}  // namespace

void* json_detail::AllocateStorage(size_t bytes) { return AllocateNode(bytes); }
void json_detail::ReleaseStorage(void* p) noexcept { ReleaseNode(p); }

void* TJSONValue::operator new(size_t size) { return AllocateNode(size); }
void TJSONValue::operator delete(void* p) noexcept { ReleaseNode(p); }
void* TJSONPair::operator new(size_t size) { return AllocateNode(size); }
void TJSONPair::operator delete(void* p) noexcept { ReleaseNode(p); }

namespace {

// Copies at most 24 bytes with a few word moves instead of a call into the library.
inline void CopyShort(char* dst, const char* src, size_t n) noexcept {
  if (n >= 8) {
    uint64_t a, b, c = 0;
    std::memcpy(&a, src, 8);
    std::memcpy(&b, src + n - 8, 8);
    if (n > 16) std::memcpy(&c, src + 8, 8);
    std::memcpy(dst, &a, 8);
    if (n > 16) std::memcpy(dst + 8, &c, 8);
    std::memcpy(dst + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, src, 4);
    std::memcpy(&b, src + n - 4, 4);
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + n - 4, &b, 4);
  } else {
    for (size_t i = 0; i < n; ++i) dst[i] = src[i];
  }
}

}  // namespace

// Nodes of the parser, made in its arena. Strings longer than the inline buffer get their text
// right behind the node.
class TJSONNodeFactory {
public:
  static TJSONValue* Make(TJSONArena& arena, TJSONValue::TKind kind, const char* text, size_t length) {
    constexpr size_t kObject = std::max(sizeof(TJSONString), sizeof(TJSONNumber));
    const bool isShort = length <= TJSONString::kInlineSize;
    void* mem = arena.Allocate(kObject + (isShort ? 0 : length));
    const char* copy = text;
    if (!isShort) {
      char* behind = static_cast<char*>(mem) + kObject;
      std::memcpy(behind, text, length);
      copy = behind;
    }
    TJSONString* s = kind == TJSONValue::TKind::Number
                         ? ::new (mem) TJSONNumber(copy, length, TJSONString::TBorrowed{})
                         : ::new (mem) TJSONString(kind, copy, length, TJSONString::TBorrowed{});
    if (isShort) {
      CopyShort(s->FData, text, length);
      s->FSize = static_cast<uint16_t>(length);
    }
    return s;
  }
};

json_detail::TNodeArena::~TNodeArena() { delete static_cast<TJSONArena*>(FArena); }

void* json_detail::TNodeArena::Get() {
  if (!FArena) FArena = new TJSONArena;
  return FArena;
}

json_detail::TNodeArena::TScope::TScope(TNodeArena& arena) : FPrevious(tArena) {
  tArena = static_cast<TJSONArena*>(arena.Get());
}

json_detail::TNodeArena::TScope::~TScope() { tArena = static_cast<TJSONArena*>(FPrevious); }

TJSONValue* json_detail::TNodeArena::NewString(std::string_view text) {
  return TJSONNodeFactory::Make(*static_cast<TJSONArena*>(Get()), TJSONValue::TKind::String, text.data(),
                                text.size());
}

TJSONValue* json_detail::TNodeArena::NewNumberText(std::string_view text) {
  return TJSONNodeFactory::Make(*static_cast<TJSONArena*>(Get()), TJSONValue::TKind::Number, text.data(),
                                text.size());
}

// ---- tree walks without recursion ----

namespace {

template <class Out>
void AppendJSONStringTo(Out& out, std::string_view text, bool encodeAbove127);

// Stands in for the output string in a first pass of the writer that only counts its bytes, so
// that the text is allocated once at its final size: growing it by doubling would hold the old
// and the new copy at once, up to three times the text's size at the peak.
struct TJSONSizeCounter {
  size_t Size = 0;
  TJSONSizeCounter& operator+=(char) noexcept {
    ++Size;
    return *this;
  }
  TJSONSizeCounter& operator+=(std::string_view s) noexcept {
    Size += s.size();
    return *this;
  }
  void append(const char*, size_t n) noexcept { Size += n; }
  void append(size_t n, char) noexcept { Size += n; }
};

}  // namespace

class TJSONTreeOps {
public:
  static bool IsContainer(const TJSONValue* v) noexcept {
    return v->Kind() == TJSONValue::TKind::Object || v->Kind() == TJSONValue::TKind::Array;
  }

  static size_t ChildCount(const TJSONValue* v) noexcept {
    if (v->Kind() == TJSONValue::TKind::Object) return static_cast<const TJSONObject*>(v)->FPairs.size();
    if (v->Kind() == TJSONValue::TKind::Array) return static_cast<const TJSONArray*>(v)->FElements.size();
    return 0;
  }

  // Empties a container: leaves are freed at once, non-empty containers go onto work so that
  // their own destructors find nothing left to free.
  static void Detach(TJSONValue* v, std::vector<TJSONValue*>& work) noexcept {
    TJSONBlock* pending = nullptr;
    int64_t count = 0;
    auto take = [&](TJSONValue* child) {
      if (IsContainer(child) && ChildCount(child) != 0) {
        work.push_back(child);
      } else {
        child->~TJSONValue();
        ReleaseNodeBatched(child, pending, count);
      }
    };
    if (v->Kind() == TJSONValue::TKind::Object) {
      auto& pairs = static_cast<TJSONObject*>(v)->FPairs;
      for (TJSONPair* p : pairs) {
        if (TJSONValue* child = p->FValue) {
          p->FValue = nullptr;
          take(child);
        }
        p->~TJSONPair();
        ReleaseNodeBatched(p, pending, count);
      }
      pairs.clear();
    } else if (v->Kind() == TJSONValue::TKind::Array) {
      auto& elements = static_cast<TJSONArray*>(v)->FElements;
      for (TJSONValue* child : elements) take(child);
      elements.clear();
    }
    ReleaseBlockNodes(pending, count);
  }

  // Gives a parsed container its children at once, in a list of the exact size.
  template <class It>
  static void AdoptPairs(TJSONValue* object, It first, It last) {
    static_cast<TJSONObject*>(object)->FPairs.assign(first, last);
  }
  template <class It>
  static void AdoptElements(TJSONValue* array, It first, It last) {
    static_cast<TJSONArray*>(array)->FElements.assign(first, last);
  }

  static void FreeChildren(TJSONValue* container) noexcept {
    std::vector<TJSONValue*> work;
    try {
      Detach(container, work);
      while (!work.empty()) {
        TJSONValue* v = work.back();
        work.pop_back();
        Detach(v, work);
        delete v;
      }
    } catch (...) {
      // Only the work list's growth can throw; what is left on it leaks rather than
      // letting a destructor throw.
      LogCurrentException("TJSONValue destructor");
    }
  }

  static TJSONValue* Clone(const TJSONValue* source) {
    std::unique_ptr<TJSONValue> root(source->CloneShallow());
    std::vector<std::pair<const TJSONValue*, TJSONValue*>> work;
    if (IsContainer(source)) work.emplace_back(source, root.get());
    while (!work.empty()) {
      auto [src, dst] = work.back();
      work.pop_back();
      if (src->Kind() == TJSONValue::TKind::Object) {
        auto* d = static_cast<TJSONObject*>(dst);
        const auto& pairs = static_cast<const TJSONObject*>(src)->FPairs;
        d->FPairs.reserve(pairs.size());
        for (const TJSONPair* p : pairs) {
          std::unique_ptr<TJSONValue> c(p->FValue->CloneShallow());
          auto* pair = new TJSONPair(p->FName, c.get());
          TJSONValue* raw = c.release();
          d->FPairs.push_back(pair);  // reserved: cannot throw
          if (IsContainer(p->FValue)) work.emplace_back(p->FValue, raw);
        }
      } else {
        auto* d = static_cast<TJSONArray*>(dst);
        const auto& elements = static_cast<const TJSONArray*>(src)->FElements;
        d->FElements.reserve(elements.size());
        for (const TJSONValue* e : elements) {
          std::unique_ptr<TJSONValue> c(e->CloneShallow());
          d->FElements.push_back(c.get());
          TJSONValue* raw = c.release();
          if (IsContainer(e)) work.emplace_back(e, raw);
        }
      }
    }
    return root.release();
  }

  // indent < 0 writes compact text; appends to out at its final size.
  static void Write(const TJSONValue* root, std::string& out, bool encodeAbove127, int indent) {
    TJSONSizeCounter size;
    WriteTo(root, size, encodeAbove127, indent);
    out.reserve(out.size() + size.Size);
    WriteTo(root, out, encodeAbove127, indent);
  }

  template <class Out>
  static void WriteTo(const TJSONValue* root, Out& out, bool encodeAbove127, int indent) {
    struct Frame {
      const TJSONValue* Container;
      size_t Index;
    };
    std::vector<Frame> stack;
    auto newline = [&](size_t depth) {
      out += '\n';
      out.append(depth * static_cast<size_t>(indent), ' ');
    };
    auto emit = [&](const TJSONValue* v) {
      switch (v->Kind()) {
        case TJSONValue::TKind::Null:
          out += "null";
          break;
        case TJSONValue::TKind::Bool:
          out += static_cast<const TJSONBool*>(v)->AsBoolean() ? "true" : "false";
          break;
        case TJSONValue::TKind::Number:
          out += static_cast<const TJSONNumber*>(v)->Text();
          break;
        case TJSONValue::TKind::String:
          AppendJSONStringTo(out, static_cast<const TJSONString*>(v)->Text(), encodeAbove127);
          break;
        case TJSONValue::TKind::Object:
          if (ChildCount(v) == 0) {
            out += "{}";
          } else {
            out += '{';
            stack.push_back({v, 0});
          }
          break;
        case TJSONValue::TKind::Array:
          if (ChildCount(v) == 0) {
            out += "[]";
          } else {
            out += '[';
            stack.push_back({v, 0});
          }
          break;
      }
    };
    emit(root);
    while (!stack.empty()) {
      Frame& f = stack.back();
      const TJSONValue* c = f.Container;
      const bool isObject = c->Kind() == TJSONValue::TKind::Object;
      if (f.Index == ChildCount(c)) {
        stack.pop_back();
        if (indent >= 0) newline(stack.size());
        out += isObject ? '}' : ']';
        continue;
      }
      if (f.Index > 0) out += ',';
      if (indent >= 0) newline(stack.size());
      const TJSONValue* child;
      if (isObject) {
        const TJSONPair* p = static_cast<const TJSONObject*>(c)->FPairs[f.Index];
        AppendJSONStringTo(out, p->FName, encodeAbove127);
        out += indent >= 0 ? ": " : ":";
        child = p->FValue;
      } else {
        child = static_cast<const TJSONArray*>(c)->FElements[f.Index];
      }
      ++f.Index;
      emit(child);  // may push: f is not used after this
    }
  }
};

// ---- string escaping ----

namespace {

// RapidJSON's texts end in a full stop; ours continue with the position.
// 0: copied as is; 'u': \u00XX; otherwise the letter of the short escape.
constexpr auto kEscapes = [] {
  std::array<char, 256> t{};
  for (int c = 0; c < 0x20; ++c) t[c] = 'u';
  t['\b'] = 'b';
  t['\f'] = 'f';
  t['\n'] = 'n';
  t['\r'] = 'r';
  t['\t'] = 't';
  t['"'] = '"';
  t['\\'] = '\\';
  return t;
}();

constexpr char kHex[] = "0123456789abcdef";

template <class Out>
void AppendU16(Out& out, unsigned unit) {
  char buf[6] = {'\\', 'u', kHex[(unit >> 12) & 15], kHex[(unit >> 8) & 15], kHex[(unit >> 4) & 15],
                 kHex[unit & 15]};
  out.append(buf, 6);
}

// Decodes one UTF-8 sequence at s[i]; malformed input (bad lead or continuation byte, overlong
// form, surrogate, beyond U+10FFFF) gives U+FFFD for one byte.
unsigned DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned cp, min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 1, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 2, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + n >= s.size()) {
    ++i;
    return 0xFFFD;
  }
  for (size_t k = 1; k <= n; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += n + 1;
  return cp;
}

template <class Out>
void AppendJSONStringTo(Out& out, std::string_view text, bool encodeAbove127) {
  out += '"';
  const char* p = text.data();
  const size_t n = text.size();
  size_t run = 0;  // start of the pending run of plain bytes
  size_t i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(p[i]);
    const char e = kEscapes[c];
    if (e == 0 && (c < 0x80 || !encodeAbove127)) {
      ++i;
      continue;
    }
    out.append(p + run, i - run);
    if (c >= 0x80) {
      unsigned cp = DecodeUtf8(text, i);
      if (cp >= 0x10000) {
        cp -= 0x10000;
        AppendU16(out, 0xD800 + (cp >> 10));
        AppendU16(out, 0xDC00 + (cp & 0x3FF));
      } else {
        AppendU16(out, cp);
      }
    } else if (e == 'u') {
      AppendU16(out, c);
      ++i;
    } else {
      out += '\\';
      out += e;
      ++i;
    }
    run = i;
  }
  out.append(p + run, n - run);
  out += '"';
}

}  // namespace

void AppendJSONString(std::string& out, std::string_view text, bool encodeAbove127) {
  AppendJSONStringTo(out, text, encodeAbove127);
}

// ---- TJSONValue ----

void TJSONValue::RaiseInvalidCast(const TJSONValue*, const char*) {
  throw EInvalidCast("Invalid class typecast");
}

std::string TJSONValue::ToJSON(TJSONOutputOptions options) const {
  std::string out;
  ToJSON(out, options);
  return out;
}

void TJSONValue::ToJSON(std::string& out, TJSONOutputOptions options) const {
  TJSONTreeOps::Write(this, out, options == TJSONOutputOptions::EncodeAbove127, -1);
}

std::string TJSONValue::Format(int indentation, TJSONOutputOptions options) const {
  std::string out;
  TJSONTreeOps::Write(this, out, options == TJSONOutputOptions::EncodeAbove127,
                      indentation < 0 ? 0 : indentation);
  return out;
}

TJSONValue* TJSONValue::Clone() const { return TJSONTreeOps::Clone(this); }

TJSONValue* TJSONValue::FindValue(std::string_view path) const {
  const TJSONValue* cur = this;
  size_t i = 0;
  const size_t n = path.size();
  while (i < n && cur) {
    if (path[i] == '.') {
      ++i;
      continue;
    }
    if (path[i] == '[') {
      ++i;
      if (i < n && (path[i] == '"' || path[i] == '\'')) {
        const char quote = path[i++];
        const size_t close = path.find(quote, i);
        if (close == std::string_view::npos || close + 1 >= n || path[close + 1] != ']') return nullptr;
        if (cur->Kind() != TKind::Object) return nullptr;
        cur = static_cast<const TJSONObject*>(cur)->GetValue(path.substr(i, close - i));
        i = close + 2;
      } else {
        const size_t close = path.find(']', i);
        if (close == std::string_view::npos || cur->Kind() != TKind::Array) return nullptr;
        size_t index = 0;
        auto [end, ec] = std::from_chars(path.data() + i, path.data() + close, index);
        if (ec != std::errc() || end != path.data() + close || close == i) return nullptr;
        const auto* a = static_cast<const TJSONArray*>(cur);
        if (index >= static_cast<size_t>(a->Count())) return nullptr;
        cur = a->Items(static_cast<int>(index));
        i = close + 1;
      }
      continue;
    }
    size_t stop = i;
    while (stop < n && path[stop] != '.' && path[stop] != '[') ++stop;
    if (cur->Kind() != TKind::Object) return nullptr;
    cur = static_cast<const TJSONObject*>(cur)->GetValue(path.substr(i, stop - i));
    i = stop;
  }
  return const_cast<TJSONValue*>(cur);
}

// ---- TJSONNumber ----

namespace {

std::string IntegerText(auto value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, end);
}

// Whether the number's magnitude is below 1 (so that a range error is an underflow to zero).
bool IsTinyNumberText(std::string_view s) {
  size_t i = (!s.empty() && s[0] == '-') ? 1 : 0;
  long long magnitude = 0;  // decimal exponent of the first significant digit
  bool found = false;
  long long intDigits = 0, leadingFractionZeros = 0;
  bool inFraction = false;
  for (; i < s.size() && s[i] != 'e' && s[i] != 'E'; ++i) {
    if (s[i] == '.') {
      inFraction = true;
      continue;
    }
    if (!found) {
      if (s[i] != '0') {
        found = true;
      } else if (inFraction) {
        ++leadingFractionZeros;
        continue;
      } else {
        continue;
      }
    }
    if (!inFraction) ++intDigits;
  }
  if (!found) return true;
  magnitude = intDigits > 0 ? intDigits - 1 : -(leadingFractionZeros + 1);
  if (i < s.size()) {
    long long e = 0;
    size_t k = i + 1;
    bool neg = false;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) neg = s[k++] == '-';
    for (; k < s.size(); ++k) e = std::min<long long>(e * 10 + (s[k] - '0'), 1000000000LL);
    magnitude += neg ? -e : e;
  }
  return magnitude < 0;
}

bool IsIntegerText(std::string_view s) {
  return s.find_first_of(".eE") == std::string_view::npos;
}

}  // namespace

// ---- TJSONString ----

static_assert(sizeof(TJSONString) == 40 && sizeof(TJSONNumber) == 40, "number nodes stay small");


TJSONString::TJSONString(TKind kind, const char* text, size_t length) : TJSONValue(kind) {
  static_assert(kInlineSize >= sizeof(const char*) + sizeof(size_t) && kInlineSize <= 24 &&
                    kInlineSize < kExternal,
                "a longer text's address and length fit in place of the inline characters");
  if (length <= kInlineSize) {
    CopyShort(FData, text, length);
    FSize = static_cast<uint16_t>(length);
  } else {
    Assign(text, length);
  }
}

void TJSONString::Assign(const char* text, size_t length) {
  if (length > UINT32_MAX) throw EArgumentOutOfRangeException("JSON string longer than 4 GiB");
  char* heap = nullptr;
  if (length > kInlineSize) {
    heap = new char[length];
    std::memcpy(heap, text, length);
  }
  if (FOwnsText) {
    delete[] ExternalText();
    FOwnsText = false;
  }
  if (heap) {
    SetExternal(heap, length);
    FOwnsText = true;
  } else {
    CopyShort(FData, text, length);
    FSize = static_cast<uint16_t>(length);
  }
}

TJSONString::~TJSONString() {
  if (FOwnsText) delete[] ExternalText();
}

TJSONNumber::TJSONNumber(double value) : TJSONString(TKind::Number, nullptr, 0) {
  if (!std::isfinite(value))
    throw EConvertError("JSON has no number for " + FloatToStr(value));
  char buf[FloatToStrBufSize];
  Assign(buf, FloatToStrBuf(value, buf));
}

TJSONNumber::TJSONNumber(int32_t value) : TJSONString(TKind::Number, nullptr, 0) {
  const std::string t = IntegerText(value);
  Assign(t.data(), t.size());
}
TJSONNumber::TJSONNumber(int64_t value) : TJSONString(TKind::Number, nullptr, 0) {
  const std::string t = IntegerText(value);
  Assign(t.data(), t.size());
}
TJSONNumber::TJSONNumber(uint32_t value) : TJSONString(TKind::Number, nullptr, 0) {
  const std::string t = IntegerText(value);
  Assign(t.data(), t.size());
}
TJSONNumber::TJSONNumber(uint64_t value) : TJSONString(TKind::Number, nullptr, 0) {
  const std::string t = IntegerText(value);
  Assign(t.data(), t.size());
}

TJSONNumber* TJSONNumber::FromText(std::string_view text) {
  if (!IsNumberText(text)) throw EConvertError("'" + std::string(text) + "' is not a JSON number");
  return new TJSONNumber(text.data(), text.size());
}

bool TJSONNumber::IsNumberText(std::string_view s) noexcept {
  size_t i = 0;
  const size_t n = s.size();
  auto digits = [&] {
    const size_t start = i;
    while (i < n && s[i] >= '0' && s[i] <= '9') ++i;
    return i > start;
  };
  if (i < n && s[i] == '-') ++i;
  if (i < n && s[i] == '0') {
    ++i;
  } else if (i < n && s[i] >= '1' && s[i] <= '9') {
    digits();
  } else {
    return false;
  }
  if (i < n && s[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == n;
}

bool TJSONNumber::TryAsDouble(double& value) const noexcept {
  const std::string_view t = Text();
  const char* b = t.data();
  const char* e = b + t.size();
  double v = 0;
  auto [end, ec] = std::from_chars(b, e, v);
  if (end != e) return false;
  if (ec == std::errc::result_out_of_range) {
    if (!IsTinyNumberText(Text())) return false;
    v = *b == '-' ? -0.0 : 0.0;
  } else if (ec != std::errc()) {
    return false;
  }
  value = v;
  return true;
}

bool TJSONNumber::TryAsInt64(int64_t& value) const noexcept {
  if (IsIntegerText(Text())) {
    int64_t v = 0;
    const std::string_view t = Text();
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size()) return false;
    value = v;
    return true;
  }
  double d = 0;
  if (!TryAsDouble(d) || std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
    return false;
  value = static_cast<int64_t>(d);
  return true;
}

bool TJSONNumber::TryAsInt(int32_t& value) const noexcept {
  int64_t v = 0;
  if (!TryAsInt64(v) || v < INT32_MIN || v > INT32_MAX) return false;
  value = static_cast<int32_t>(v);
  return true;
}

double TJSONNumber::AsDouble() const {
  double v = 0;
  if (!TryAsDouble(v)) throw EConvertError("'" + Value() + "' is not a valid floating point value");
  return v;
}

int64_t TJSONNumber::AsInt64() const {
  int64_t v = 0;
  if (!TryAsInt64(v)) throw EConvertError("'" + Value() + "' is not a valid integer value");
  return v;
}

int32_t TJSONNumber::AsInt() const {
  int32_t v = 0;
  if (!TryAsInt(v)) throw EConvertError("'" + Value() + "' is not a valid integer value");
  return v;
}

// ---- TJSONPair ----

TJSONPair::TJSONPair(std::string name, TJSONValue* value) : FName(std::move(name)), FValue(value) {
  if (!value) throw EArgumentNilException("JSON pair \"" + FName + "\" without a value");
}

TJSONPair::~TJSONPair() { delete FValue; }

void TJSONPair::SetJsonValue(TJSONValue* value) {
  if (!value) throw EArgumentNilException("JSON pair \"" + FName + "\" without a value");
  if (value == FValue) return;
  delete FValue;
  FValue = value;
}

TJSONValue* TJSONPair::DetachJsonValue() noexcept {
  TJSONValue* v = FValue;
  FValue = nullptr;
  return v;
}

// ---- TJSONObject ----

TJSONObject::~TJSONObject() { TJSONTreeOps::FreeChildren(this); }

void TJSONObject::Clear() noexcept { TJSONTreeOps::FreeChildren(this); }

TJSONPair* TJSONObject::Pairs(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= FPairs.size()) json_detail::RaiseOutOfRange();
  return FPairs[static_cast<size_t>(index)];
}

TJSONPair* TJSONObject::Get(std::string_view name) const noexcept {
  for (TJSONPair* p : FPairs)
    if (p->GetName() == name) return p;
  return nullptr;
}

TJSONValue* TJSONObject::GetValue(std::string_view name) const noexcept {
  TJSONPair* p = Get(name);
  return p ? p->GetJsonValue() : nullptr;
}

TJSONObject* TJSONObject::AddPair(TJSONPair* pair) {
  if (!pair) throw EArgumentNilException("AddPair: no pair");
  std::unique_ptr<TJSONPair> guard(pair);
  FPairs.push_back(pair);
  guard.release();
  return this;
}

TJSONObject* TJSONObject::AddPair(std::string name, TJSONValue* value) {
  std::unique_ptr<TJSONValue> guard(value);
  auto* pair = new TJSONPair(std::move(name), value);  // raises on null before owning
  guard.release();
  return AddPair(pair);
}

TJSONObject* TJSONObject::AddPair(std::string name, std::string value) {
  return AddPair(std::move(name), new TJSONString(std::move(value)));
}
TJSONObject* TJSONObject::AddPair(std::string name, const char* value) {
  return AddPair(std::move(name), new TJSONString(value));
}
TJSONObject* TJSONObject::AddPair(std::string name, int32_t value) {
  return AddPair(std::move(name), new TJSONNumber(value));
}
TJSONObject* TJSONObject::AddPair(std::string name, int64_t value) {
  return AddPair(std::move(name), new TJSONNumber(value));
}
TJSONObject* TJSONObject::AddPair(std::string name, double value) {
  return AddPair(std::move(name), new TJSONNumber(value));
}
TJSONObject* TJSONObject::AddPair(std::string name, bool value) {
  return AddPair(std::move(name), new TJSONBool(value));
}

TJSONPair* TJSONObject::RemovePair(std::string_view name) {
  for (auto it = FPairs.begin(); it != FPairs.end(); ++it) {
    if ((*it)->GetName() == name) {
      TJSONPair* p = *it;
      FPairs.erase(it);
      return p;
    }
  }
  return nullptr;
}

// ---- TJSONArray ----

TJSONArray::~TJSONArray() { TJSONTreeOps::FreeChildren(this); }

void TJSONArray::Clear() noexcept { TJSONTreeOps::FreeChildren(this); }

TJSONValue* TJSONArray::Items(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= FElements.size()) json_detail::RaiseOutOfRange();
  return FElements[static_cast<size_t>(index)];
}

TJSONArray* TJSONArray::AddElement(TJSONValue* value) {
  if (!value) throw EArgumentNilException("JSON array element without a value");
  std::unique_ptr<TJSONValue> guard(value);
  FElements.push_back(value);
  guard.release();
  return this;
}

TJSONArray* TJSONArray::Add(std::string value) { return AddElement(new TJSONString(std::move(value))); }
TJSONArray* TJSONArray::Add(const char* value) { return AddElement(new TJSONString(value)); }
TJSONArray* TJSONArray::Add(int32_t value) { return AddElement(new TJSONNumber(value)); }
TJSONArray* TJSONArray::Add(int64_t value) { return AddElement(new TJSONNumber(value)); }
TJSONArray* TJSONArray::Add(double value) { return AddElement(new TJSONNumber(value)); }
TJSONArray* TJSONArray::Add(bool value) { return AddElement(new TJSONBool(value)); }

TJSONValue* TJSONArray::Remove(int index) {
  if (index < 0 || static_cast<size_t>(index) >= FElements.size()) json_detail::RaiseOutOfRange();
  TJSONValue* v = FElements[static_cast<size_t>(index)];
  FElements.erase(FElements.begin() + index);
  return v;
}

// ---- parsing ----

namespace {

// Children wait on two lists shared by all open containers until their container ends; then
// they move into a list of the exact size (no growth, no copies, no slack).
class TDomBuilder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, TDomBuilder> {
public:
  explicit TDomBuilder(TJSONArena& arena) : FArena(arena) {}
  ~TDomBuilder() {
    // After a failed parse: open containers are still empty, their children wait here.
    for (TJSONPair* p : FPairs) delete p;
    for (TJSONValue* v : FValues) delete v;
    delete FRoot;
  }

  TJSONValue* Release() {
    TJSONValue* r = FRoot;
    FRoot = nullptr;
    return r;
  }
  bool DepthExceeded() const { return FDepthExceeded; }

  bool Null() { return Add(new TJSONNull); }
  bool Bool(bool b) { return Add(b ? static_cast<TJSONValue*>(new TJSONTrue) : new TJSONFalse); }
  bool RawNumber(const char* str, rapidjson::SizeType length, bool) {
    return Add(TJSONNodeFactory::Make(FArena, TJSONValue::TKind::Number, str, length));
  }
  bool String(const char* str, rapidjson::SizeType length, bool) {
    return Add(TJSONNodeFactory::Make(FArena, TJSONValue::TKind::String, str, length));
  }
  bool Key(const char* str, rapidjson::SizeType length, bool) {
    FKey.assign(str, length);
    return true;
  }
  bool StartObject() { return Open(new TJSONObject); }
  bool StartArray() { return Open(new TJSONArray); }
  bool EndObject(rapidjson::SizeType) {
    const size_t start = FStack.back().Start;
    TJSONTreeOps::AdoptPairs(FStack.back().Container, FPairs.begin() + static_cast<ptrdiff_t>(start), FPairs.end());
    FPairs.resize(start);
    FStack.pop_back();
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    const size_t start = FStack.back().Start;
    TJSONTreeOps::AdoptElements(FStack.back().Container, FValues.begin() + static_cast<ptrdiff_t>(start),
                                FValues.end());
    FValues.resize(start);
    FStack.pop_back();
    return true;
  }

private:
  struct TFrame {
    TJSONValue* Container;
    size_t Start;  // of its children in FPairs or FValues
  };

  bool Open(TJSONValue* container) {
    if (FStack.size() >= static_cast<size_t>(JSONMaxDepth)) {
      delete container;
      FDepthExceeded = true;
      return false;
    }
    Add(container);
    const bool isObject = container->Kind() == TJSONValue::TKind::Object;
    FStack.push_back({container, isObject ? FPairs.size() : FValues.size()});
    return true;
  }

  bool Add(TJSONValue* v) {
    std::unique_ptr<TJSONValue> guard(v);
    if (FStack.empty()) {
      FRoot = guard.release();
      return true;
    }
    if (FStack.back().Container->Kind() == TJSONValue::TKind::Object) {
      std::unique_ptr<TJSONPair> pair(new TJSONPair(std::move(FKey), v));
      guard.release();
      FPairs.push_back(pair.get());
      pair.release();
    } else {
      FValues.push_back(v);
      guard.release();
    }
    return true;
  }

  TJSONArena& FArena;
  TJSONValue* FRoot = nullptr;
  std::vector<TFrame> FStack;
  std::vector<TJSONPair*> FPairs;
  std::vector<TJSONValue*> FValues;
  std::string FKey;
  bool FDepthExceeded = false;
};

bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

[[noreturn]] void RaiseParseError(std::string_view text, size_t offset, const std::string& what) {
  throw EJSONParseException(what + JsonPositionText(text, offset));
}

}  // namespace

std::string JsonPositionText(std::string_view text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return " at offset " + std::to_string(offset) + " (line " + std::to_string(line) + ", column " +
         std::to_string(column) + ")";
}

TJSONValue* TJSONObject::ParseJSONValue(std::string_view text, bool raiseExc) {
  const size_t bom = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  // Not in situ: that needs a writable copy of the text, and first-touching a copy of a large
  // document costs more than the reader's own copying of each number.
  rapidjson::MemoryStream stream(text.data() + bom, text.size() - bom);
  rapidjson::Reader reader;
  TJSONArena arena;
  TArenaScope scope(&arena);
  TDomBuilder builder(arena);
  constexpr unsigned kFlags =
      rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  if (result.IsError()) {
    if (!raiseExc) return nullptr;
    const size_t offset = bom + result.Offset();
    if (builder.DepthExceeded())
      RaiseParseError(text, offset, "JSON nested deeper than " + std::to_string(JSONMaxDepth) + " levels");
    RaiseParseError(text, offset, "Invalid JSON: " + ParseErrorText(result.Code()));
  }
  size_t rest = bom + stream.Tell();
  while (rest < text.size() && IsJsonSpace(text[rest])) ++rest;
  if (rest != text.size()) {
    if (!raiseExc) return nullptr;
    RaiseParseError(text, rest, "Invalid JSON: unexpected text after the value");
  }
  return builder.Release();
}

}  // namespace quorvel
