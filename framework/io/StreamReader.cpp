#include "framework/io/StreamReader.h"

#include <cstring>

#include "framework/rtl/Encoding.h"
#include "framework/rtl/Utf8.h"

namespace quorvel {

namespace {

// Appends UTF-8 bytes, each malformed byte replaced by U+FFFD.
void AppendUtf8Lenient(const char* p, size_t n, std::string& out) {
  std::string_view s(p, n);
  while (!s.empty()) {
    const size_t bad = Utf8FindInvalid(s);
    if (bad == std::string_view::npos) {
      out.append(s);
      return;
    }
    out.append(s.substr(0, bad));
    Utf8Append(out, kReplacementChar);
    s.remove_prefix(bad + 1);
  }
}

// Length of the prefix of UTF-8 bytes that holds no cut-off sequence at its end.
size_t Utf8CompletePrefix(const uint8_t* p, size_t n) {
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const uint8_t b = p[n - back];
    if ((b & 0xC0) == 0x80) continue;  // continuation byte: look further back
    const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return len > back ? n - back : n;
  }
  return n;  // malformed or complete: the decoder deals with it
}

size_t Utf16CompletePrefix(const uint8_t* p, size_t n, bool bigEndian) {
  n &= ~size_t{1};
  if (n >= 2) {
    const unsigned unit = bigEndian ? (p[n - 2] << 8 | p[n - 1]) : (p[n - 1] << 8 | p[n - 2]);
    if (unit >= 0xD800 && unit <= 0xDBFF) n -= 2;  // high surrogate waits for its partner
  }
  return n;
}

}  // namespace

TStreamReader::TStreamReader(TStream* stream, bool detectBOM) {
  Init(stream, false, TEncoding::UTF8(), detectBOM, 4096);
}

TStreamReader::TStreamReader(TStream* stream, const TEncoding& encoding, bool detectBOM, int32_t bufferSize) {
  Init(stream, false, encoding, detectBOM, bufferSize);
}

TStreamReader::TStreamReader(const std::string& fileName, bool detectBOM)
    : TStreamReader(fileName, TEncoding::UTF8(), detectBOM, 4096) {}

TStreamReader::TStreamReader(const std::string& fileName, const TEncoding& encoding, bool detectBOM,
                             int32_t bufferSize) {
  Init(new TFileStream(fileName, fmOpenRead | fmShareDenyWrite), true, encoding, detectBOM, bufferSize);
}

TStreamReader::~TStreamReader() { Close(); }

void TStreamReader::Init(TStream* stream, bool owns, const TEncoding& encoding, bool detectBOM, int32_t bufferSize) {
  if (!stream) throw EArgumentNilException("Stream");
  FStream = stream;
  FOwnsStream = owns;
  FEncoding = FInitialEncoding = &encoding;
  FDetectBOM = detectBOM;
  FBufferSize = bufferSize < 128 ? 128 : bufferSize;
  FReadBuffer.reset(new uint8_t[static_cast<size_t>(FBufferSize)]);
}

void TStreamReader::Close() {
  if (FOwnsStream) delete FStream;
  FOwnsStream = false;
  FStream = nullptr;
  DiscardBufferedData();
}

TStream& TStreamReader::Stream() const {
  if (!FStream) throw EInvalidOperation("Cannot read from a closed TStreamReader");
  return *FStream;
}

void TStreamReader::DiscardBufferedData() {
  FText.clear();
  FTextPos = 0;
  FPending.clear();
  FNoDataInStream = false;
}

void TStreamReader::Rewind() {
  Stream().SetPosition(0);
  DiscardBufferedData();
  FFirstFill = true;
  FEncoding = FInitialEncoding;
}

void TStreamReader::DecodePending(bool atEnd) {
  const auto* p = reinterpret_cast<const uint8_t*>(FPending.data());
  size_t n = FPending.size();
  const bool utf8 = FEncoding == &TEncoding::UTF8();
  if (!atEnd) {
    if (utf8) n = Utf8CompletePrefix(p, n);
    else if (FEncoding == &TEncoding::Unicode()) n = Utf16CompletePrefix(p, n, false);
    else if (FEncoding == &TEncoding::BigEndianUnicode()) n = Utf16CompletePrefix(p, n, true);
  }
  if (n == 0) return;
  if (utf8) AppendUtf8Lenient(FPending.data(), n, FText);
  else if (!FEncoding->TryAppendString(p, n, FText))
    throw EEncodingError("No mapping for the bytes of the text in the target encoding (" + FEncoding->Name() + ")");
  FPending.erase(0, n);
}

bool TStreamReader::Fill() {
  if (FNoDataInStream) return false;
  const size_t before = FText.size();
  int64_t n = Stream().Read(FReadBuffer.get(), FBufferSize);
  if (n > 0) FPending.append(reinterpret_cast<const char*>(FReadBuffer.get()), static_cast<size_t>(n));
  else FNoDataInStream = true;
  if (FFirstFill) {
    // A mark needs up to three bytes even when the stream hands them out one by one.
    while (!FNoDataInStream && FPending.size() < 3) {
      n = Stream().Read(FReadBuffer.get(), FBufferSize);
      if (n > 0) FPending.append(reinterpret_cast<const char*>(FReadBuffer.get()), static_cast<size_t>(n));
      else FNoDataInStream = true;
    }
    FFirstFill = false;
    const auto* p = reinterpret_cast<const uint8_t*>(FPending.data());
    size_t skip = 0;
    if (FDetectBOM) {
      skip = TEncoding::GetBufferEncoding(p, FPending.size(), FEncoding);
    } else {
      const TBytes preamble = FEncoding->GetPreamble();
      if (!preamble.empty() && FPending.size() >= preamble.size() &&
          std::memcmp(p, preamble.data(), preamble.size()) == 0)
        skip = preamble.size();
    }
    FPending.erase(0, skip);
  }
  DecodePending(FNoDataInStream);
  return FText.size() > before || !FNoDataInStream;
}

void TStreamReader::Compact() {
  // Drop consumed text once it dominates the buffer; keeps memory bounded on long files.
  if (FTextPos > 65536 && FTextPos * 2 > FText.size()) {
    FText.erase(0, FTextPos);
    FTextPos = 0;
  }
}

bool TStreamReader::ReadLine(std::string& line) {
  line.clear();
  Compact();
  size_t scan = FTextPos;
  for (;;) {
    const char* data = FText.data();
    const size_t size = FText.size();
    size_t i = scan;
    while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
    if (i < size) {
      line.assign(FText, FTextPos, i - FTextPos);
      size_t next = i + 1;
      if (FText[i] == '\r') {
        while (next >= FText.size() && Fill()) {
        }
        if (next < FText.size() && FText[next] == '\n') ++next;
      }
      FTextPos = next;
      return true;
    }
    scan = size;
    if (!Fill()) break;
  }
  if (FTextPos < FText.size()) {
    line.assign(FText, FTextPos, std::string::npos);
    FTextPos = FText.size();
    return true;
  }
  return false;
}

std::string TStreamReader::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

std::string TStreamReader::ReadToEnd() {
  while (Fill()) {
  }
  std::string rest = FText.substr(FTextPos);
  FTextPos = FText.size();
  return rest;
}

bool TStreamReader::GetEndOfStream() {
  while (FTextPos >= FText.size())
    if (!Fill()) return true;
  return false;
}

int32_t TStreamReader::Peek() {
  if (GetEndOfStream()) return -1;
  // Decoded text holds whole code points only, so one is complete here.
  size_t pos = FTextPos;
  char32_t cp;
  Utf8Decode(FText, pos, cp);
  return static_cast<int32_t>(cp);
}

int32_t TStreamReader::Read() {
  if (GetEndOfStream()) return -1;
  char32_t cp;
  Utf8Decode(FText, FTextPos, cp);
  return static_cast<int32_t>(cp);
}

}  // namespace quorvel
