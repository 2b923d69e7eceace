#include "lib/game/XmlStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

namespace {

// Length of the UTF-8 sequence a lead byte starts, 0 for a byte that cannot lead.
int Utf8SequenceLength(uint8_t b) {
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 0;
}

// Decodes one sequence of n bytes at p (n from Utf8SequenceLength); false when malformed.
bool Utf8DecodeSequence(const uint8_t* p, int n, char32_t& cp) {
  for (int i = 1; i < n; ++i)
    if ((p[i] & 0xC0) != 0x80) return false;
  switch (n) {
    case 2: cp = char32_t(p[0] & 0x1F) << 6 | (p[1] & 0x3F); return true;
    case 3:
      cp = char32_t(p[0] & 0x0F) << 12 | char32_t(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
      return cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
    default:
      cp = char32_t(p[0] & 0x07) << 18 | char32_t(p[1] & 0x3F) << 12 | char32_t(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
      return cp >= 0x10000 && cp <= 0x10FFFF;
  }
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

// Decodes UTF-8 into out; answers the bytes consumed. A sequence cut at the end stays
// unconsumed unless AFinal; a malformed byte becomes U+FFFD, as the platform's decoder does.
size_t DecodeUtf8(const uint8_t* p, size_t n, bool AFinal, std::u16string& out) {
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    if (b < 0x80) {
      // Runs of ASCII, the common case of markup.
      size_t j = i + 1;
      while (j < n && p[j] < 0x80) ++j;
      const size_t start = out.size();
      out.resize(start + (j - i));
      for (size_t k = i; k < j; ++k) out[start + k - i] = p[k];
      i = j;
      continue;
    }
    const int len = Utf8SequenceLength(b);
    if (len == 0) {
      out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    if (i + size_t(len) > n) {
      // Cut at the end: keep it for the next block when the bytes so far may still be valid.
      bool prefixValid = true;
      for (size_t k = i + 1; k < n; ++k) prefixValid = prefixValid && (p[k] & 0xC0) == 0x80;
      if (!AFinal && prefixValid) return i;
      out += char16_t(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp;
    if (Utf8DecodeSequence(p + i, len, cp)) {
      AppendCodePoint(out, cp);
      i += size_t(len);
    } else {
      out += char16_t(0xFFFD);
      ++i;
    }
  }
  return i;
}

size_t DecodeUtf16(const uint8_t* p, size_t n, bool ABigEndian, bool AFinal, std::u16string& out) {
  const size_t units = n / 2;
  for (size_t k = 0; k < units; ++k) {
    const uint8_t a = p[2 * k], b = p[2 * k + 1];
    out += ABigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
  }
  if (n % 2 == 0) return n;
  if (!AFinal) return n - 1;
  out += char16_t(0xFFFD);  // an odd last byte
  return n;
}

}  // namespace

void AppendUtf16AsUtf8(std::string& AOut, const char16_t* AText, size_t ACount) {
  size_t i = 0;
  while (i < ACount) {
    char16_t c = AText[i];
    if (c < 0x80) {
      size_t j = i + 1;
      while (j < ACount && AText[j] < 0x80) ++j;
      const size_t start = AOut.size();
      AOut.resize(start + (j - i));
      for (size_t k = i; k < j; ++k) AOut[start + k - i] = static_cast<char>(AText[k]);
      i = j;
      continue;
    }
    char32_t cp = c;
    ++i;
    if (c >= 0xD800 && c <= 0xDBFF && i < ACount && AText[i] >= 0xDC00 && AText[i] <= 0xDFFF) {
      cp = 0x10000 + (char32_t(c - 0xD800) << 10) + (AText[i] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      cp = 0xFFFD;
    }
    char buf[4];
    size_t n;
    if (cp < 0x800) {
      buf[0] = char(0xC0 | (cp >> 6));
      buf[1] = char(0x80 | (cp & 0x3F));
      n = 2;
    } else if (cp < 0x10000) {
      buf[0] = char(0xE0 | (cp >> 12));
      buf[1] = char(0x80 | ((cp >> 6) & 0x3F));
      buf[2] = char(0x80 | (cp & 0x3F));
      n = 3;
    } else {
      buf[0] = char(0xF0 | (cp >> 18));
      buf[1] = char(0x80 | ((cp >> 12) & 0x3F));
      buf[2] = char(0x80 | ((cp >> 6) & 0x3F));
      buf[3] = char(0x80 | (cp & 0x3F));
      n = 4;
    }
    AOut.append(buf, n);
  }
}

std::string Utf16ToUtf8(std::u16string_view AText) {
  std::string out;
  AppendUtf16AsUtf8(out, AText.data(), AText.size());
  return out;
}

std::u16string Utf8ToUtf16(std::string_view AText) {
  std::u16string out;
  DecodeUtf8(reinterpret_cast<const uint8_t*>(AText.data()), AText.size(), true, out);
  return out;
}

void Mz_AppendEscaped(std::string& AOut, std::string_view AText, bool AAttribute) {
  // The reader trims blanks around element text, so blanks at either end of it are written
  // as references, which it decodes after trimming.
  const auto blank = [](char c) { return c == 8 || c == 9 || c == 10 || c == 13 || c == 32; };
  size_t lead = 0, trail = AText.size();
  if (!AAttribute) {
    while (lead < trail && blank(AText[lead])) ++lead;
    while (trail > lead && blank(AText[trail - 1])) --trail;
  }
  size_t from = 0;
  char reference[8];
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    const char* with = nullptr;
    switch (c) {
      case '&': with = "&amp;"; break;
      case '<': with = "&lt;"; break;
      case '>': with = AAttribute ? nullptr : "&gt;"; break;
      case '"': with = AAttribute ? "&quot;" : nullptr; break;
      // Kept as references so that readers that normalise attribute blanks read them back.
      case '\t': with = AAttribute ? "&#9;" : nullptr; break;
      case '\n': with = AAttribute ? "&#10;" : nullptr; break;
      case '\r': with = AAttribute ? "&#13;" : nullptr; break;
      default: break;
    }
    if (i < lead || i >= trail) {
      std::snprintf(reference, sizeof reference, "&#%d;", int(c));
      with = reference;
    }
    if (!with) continue;
    AOut.append(AText.data() + from, i - from);
    AOut += with;
    from = i + 1;
  }
  AOut.append(AText.data() + from, AText.size() - from);
}

// ---------------------------------------------------------------------------------------------
// TMz_StreamReader

TMz_StreamReader::TMz_StreamReader(TStream* AStream, bool ADetectBOM) {
  Init(AStream, &TEncoding::UTF8(), ADetectBOM, DefaultBufferSize);
}

TMz_StreamReader::TMz_StreamReader(TStream* AStream, const TEncoding* AEncoding, bool ADetectBOM,
                                   int32_t ABufferSize) {
  Init(AStream, AEncoding, ADetectBOM, ABufferSize);
}

TMz_StreamReader::TMz_StreamReader(const std::string& AFileName, bool ADetectBOM) {
  Init(New<TFileStream>(AFileName, fmOpenRead | fmShareDenyNone), &TEncoding::UTF8(), ADetectBOM,
       DefaultBufferSize);
  FOwnsStream = true;
}

TMz_StreamReader::TMz_StreamReader(const std::string& AFileName, const TEncoding* AEncoding, bool ADetectBOM,
                                   int32_t ABufferSize) {
  if (!AEncoding) throw EArgumentNilException("Encoding");
  Init(New<TFileStream>(AFileName, fmOpenRead | fmShareDenyNone), AEncoding, ADetectBOM, ABufferSize);
  FOwnsStream = true;
}

void TMz_StreamReader::Init(TStream* AStream, const TEncoding* AEncoding, bool ADetectBOM, int32_t ABufferSize) {
  if (!AStream) throw EArgumentNilException("Stream");
  if (!AEncoding) throw EArgumentNilException("Encoding");
  FStream = AStream;
  FEncoding = AEncoding;
  FDetectBOM = ADetectBOM;
  FSkipPreamble = !ADetectBOM;
  FBufferSize = std::max(ABufferSize, MinBufferSize);
}

TMz_StreamReader::~TMz_StreamReader() { Close(); }

void TMz_StreamReader::Close() {
  if (FOwnsStream) {
    TStream* stream = FStream;
    FStream = nullptr;
    FOwnsStream = false;
    Free(stream);
  }
  FBufferedData.clear();
  FBufferedData.shrink_to_fit();
}

bool TMz_StreamReader::IsDataToBuffer(int64_t ACount, int64_t AOffset) const {
  const int64_t index = FInternalIndex + std::max<int64_t>(AOffset, 0);
  if (index + ACount < static_cast<int64_t>(FBufferedData.size())) return false;
  return !FNoDataInStream;
}

void TMz_StreamReader::Decode(const uint8_t* p, size_t n, bool AFinal) {
  size_t used;
  if (FEncoding == &TEncoding::UTF8()) {
    used = DecodeUtf8(p, n, AFinal, FBufferedData);
  } else if (FEncoding == &TEncoding::Unicode() || FEncoding == &TEncoding::BigEndianUnicode()) {
    used = DecodeUtf16(p, n, FEncoding == &TEncoding::BigEndianUnicode(), AFinal, FBufferedData);
  } else {
    // Single-byte code pages: every byte is a character of its own.
    std::string utf8;
    FEncoding->TryAppendString(p, n, utf8);
    DecodeUtf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), true, FBufferedData);
    used = n;
  }
  FPending.assign(p + used, p + n);
}

bool TMz_StreamReader::Fill() {
  if (FNoDataInStream || !FStream) return false;
  const size_t keep = FPending.size();
  FBlock.resize(keep + size_t(FBufferSize));
  std::copy(FPending.begin(), FPending.end(), FBlock.begin());
  const int64_t got = FStream->Read(FBlock.data() + keep, FBufferSize);
  if (got < FBufferSize) FNoDataInStream = true;
  size_t n = keep + size_t(std::max<int64_t>(got, 0));
  const uint8_t* p = FBlock.data();
  if (FDetectBOM) {
    const TEncoding* found = &TEncoding::UTF8();
    const size_t mark = TEncoding::GetBufferEncoding(p, n, found);
    FEncoding = found;
    p += mark;
    n -= mark;
    FDetectBOM = false;
  } else if (FSkipPreamble) {
    const std::vector<uint8_t> preamble = FEncoding->GetPreamble();
    if (!preamble.empty() && n >= preamble.size() && std::memcmp(p, preamble.data(), preamble.size()) == 0) {
      p += preamble.size();
      n -= preamble.size();
    }
    FSkipPreamble = false;
  }
  Decode(p, n, FNoDataInStream);
  return got > 0;
}

void TMz_StreamReader::FillAll() {
  // One allocation for the whole text (a character takes at least one byte).
  if (FStream && !FNoDataInStream) {
    const int64_t left = FStream->GetSize() - FStream->GetPosition();
    if (left > 0) FBufferedData.reserve(FBufferedData.size() + size_t(left));
  }
  while (Fill()) {
  }
}

int32_t TMz_StreamReader::Read() {
  while ((FBufferedData.empty() || IsDataToBuffer(1, 0)) && Fill()) {
  }
  if (FBufferedData.empty()) return -1;
  const int64_t at = FInternalIndex++;
  if (at >= 0 && at < static_cast<int64_t>(FBufferedData.size())) return FBufferedData[size_t(at)];
  return -1;
}

int32_t TMz_StreamReader::Current() const {
  if (FInternalIndex >= 0 && FInternalIndex < static_cast<int64_t>(FBufferedData.size()))
    return FBufferedData[size_t(FInternalIndex)];
  return -1;
}

int32_t TMz_StreamReader::Peek() {
  while (IsDataToBuffer(1, 1) && Fill()) {
  }
  const int64_t at = FInternalIndex + 1;
  if (at < 0 || at >= static_cast<int64_t>(FBufferedData.size()))
    throw EArgumentOutOfRangeException("Argument out of range");
  return FBufferedData[size_t(at)];
}

int32_t TMz_StreamReader::Read(std::u16string& ABuffer, int32_t AIndex, int32_t ACount) {
  if (AIndex < 0 || ACount < 0 || int64_t(AIndex) + ACount > int64_t(ABuffer.size()))
    throw EArgumentOutOfRangeException("Argument out of range");
  while (!FNoDataInStream && IsDataToBuffer(ACount, 0) && Fill()) {
  }
  if (FBufferedData.empty()) return -1;
  const int64_t size = static_cast<int64_t>(FBufferedData.size());
  if (FInternalIndex < 0 || FInternalIndex >= size) return 0;
  const int64_t count = std::min<int64_t>(ACount, size - FInternalIndex);
  std::copy_n(FBufferedData.begin() + FInternalIndex, count, ABuffer.begin() + AIndex);
  FInternalIndex += count;
  return static_cast<int32_t>(count);
}

int32_t TMz_StreamReader::ReadBlock(std::u16string& ABuffer, int32_t AIndex, int32_t ACount) {
  if (ACount > 0 && static_cast<int32_t>(ABuffer.size()) < ACount) ABuffer.resize(size_t(ACount));
  return Read(ABuffer, AIndex, ACount);
}

std::u16string TMz_StreamReader::ReadLine() {
  std::u16string line;
  for (;;) {
    const int32_t c = Read();
    if (c < 0) break;
    if (c == '\n') break;
    if (c == '\r') {
      if (Current() == '\n' || (eod() && IsDataToBuffer(1, 0) && Fill() && Current() == '\n')) ++FInternalIndex;
      break;
    }
    line += static_cast<char16_t>(c);
  }
  return line;
}

std::u16string TMz_StreamReader::ReadToEnd() {
  FillAll();
  const int64_t size = static_cast<int64_t>(FBufferedData.size());
  std::u16string rest;
  if (FInternalIndex >= 0 && FInternalIndex < size) rest.assign(FBufferedData, size_t(FInternalIndex));
  FInternalIndex = std::max(FInternalIndex, size);
  return rest;
}

void TMz_StreamReader::revert(int64_t ACount) {
  if (FInternalIndex - ACount < 0) throw Exception("invalid internal index revert");
  FInternalIndex -= ACount;
}

void TMz_StreamReader::forward(int64_t ACount) {
  FInternalIndex += ACount;
  if (FBufferedData.empty() || IsDataToBuffer(1, 0)) Fill();
}

bool TMz_StreamReader::EndOfStream() {
  if (FBufferedData.empty() && !FNoDataInStream) Fill();
  return FNoDataInStream && FBufferedData.empty();
}

void TMz_StreamReader::DiscardBufferedData() {
  FInternalIndex = 0;
  FBufferedData.clear();
  FPending.clear();
  FNoDataInStream = false;
}

// ---------------------------------------------------------------------------------------------
// TMz_StreamWriter

void TMz_StreamWriter::flush() {
  if (!fStream) return;
  constexpr size_t Piece = 1048576;
  fStream->SetPosition(0);
  for (size_t at = 0; at < fText.size(); at += Piece)
    fStream->WriteBuffer(fText.data() + at, int64_t(std::min(Piece, fText.size() - at)));
}

}  // namespace quorvel
