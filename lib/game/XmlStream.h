#pragma once
// The XML library's text carriers. TMz_StreamReader decodes a byte stream into UTF-16 code
// units and keeps every unit decoded so far, so a position is a plain index the parser may save
// and restore at will (and error positions count UTF-16 units: a character outside the BMP
// counts two). TMz_StreamWriter collects the serialised text, with tab indentation when
// beautified, and copies it as UTF-8 into its stream on flush.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/Stream.h"
#include "framework/rtl/Encoding.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TMz_StreamReader : public TObject {
public:
  static constexpr int32_t DefaultBufferSize = 4096;
  static constexpr int32_t MinBufferSize = 128;

  // A nil stream or encoding raises EArgumentNilException naming the parameter. The stream
  // stays the caller's; the file forms open the file for reading and own it.
  explicit TMz_StreamReader(TStream* AStream, bool ADetectBOM = true);
  TMz_StreamReader(TStream* AStream, const TEncoding* AEncoding, bool ADetectBOM, int32_t ABufferSize);
  explicit TMz_StreamReader(const std::string& AFileName, bool ADetectBOM = true);
  TMz_StreamReader(const std::string& AFileName, const TEncoding* AEncoding, bool ADetectBOM, int32_t ABufferSize);
  ~TMz_StreamReader() override;

  // The character at the position, which then moves one on; -1 at or beyond the end (the
  // position still moves), -1 without moving for a stream that yields no character at all.
  int32_t Read();
  // Up to ACount characters from the position into ABuffer from AIndex (which must hold them);
  // answers the count copied, -1 for a stream without any character.
  int32_t Read(std::u16string& ABuffer, int32_t AIndex, int32_t ACount);
  // As Read, growing ABuffer to ACount characters first when it is shorter.
  int32_t ReadBlock(std::u16string& ABuffer, int32_t AIndex, int32_t ACount);
  int32_t ReadBlock(std::u16string& ABuffer, int32_t ACount) { return ReadBlock(ABuffer, 0, ACount); }
  // The character after Current, without moving; beyond the decoded text raises
  // EArgumentOutOfRangeException.
  int32_t Peek();
  // The character at the position without moving or filling; -1 at or beyond the end.
  int32_t Current() const;
  // Up to the next "\n", "\r" or "\r\n"; the position moves past the line end.
  std::u16string ReadLine();
  std::u16string ReadToEnd();
  void Rewind() {}
  // Moves back; below 0 raises Exception "invalid internal index revert".
  void revert(int64_t ACount);
  void forward(int64_t ACount);
  // At or beyond the end of what is decoded so far.
  bool eod() const { return FInternalIndex >= static_cast<int64_t>(FBufferedData.size()); }
  // The stream is exhausted and never yielded a character.
  bool EndOfStream();
  void DiscardBufferedData();
  void Close();
  void OwnStream() { FOwnsStream = true; }
  // Whether a fill is needed for ACount characters from the position plus AOffset.
  bool IsDataToBuffer(int64_t ACount, int64_t AOffset) const;

  int64_t position() const { return FInternalIndex; }
  void setPosition(int64_t AValue) { FInternalIndex = AValue; }
  const TEncoding* CurrentEncoding() const { return FEncoding; }
  TStream* BaseStream() const { return FStream; }

  // Decodes the rest of the stream (the parser works on the whole text).
  void FillAll();
  // Every character decoded so far.
  const std::u16string& BufferedData() const { return FBufferedData; }

private:
  void Init(TStream* AStream, const TEncoding* AEncoding, bool ADetectBOM, int32_t ABufferSize);
  // One block of bytes from the stream, decoded; false when the stream had nothing more.
  bool Fill();
  void Decode(const uint8_t* p, size_t n, bool AFinal);

  int64_t FInternalIndex = 0;
  std::u16string FBufferedData;
  int32_t FBufferSize = DefaultBufferSize;
  bool FDetectBOM = true;
  const TEncoding* FEncoding = nullptr;
  bool FNoDataInStream = false;
  bool FOwnsStream = false;
  bool FSkipPreamble = false;
  TStream* FStream = nullptr;
  // Bytes of a character that the last block cut in two, decoded with the next block.
  std::vector<uint8_t> FPending;
  std::vector<uint8_t> FBlock;
};

// Appends AText escaped for element text, or for a double-quoted attribute value.
void Mz_AppendEscaped(std::string& AOut, std::string_view AText, bool AAttribute);

class TMz_StreamWriter : public TObject {
public:
  // AStream stays the caller's.
  TMz_StreamWriter(TStream* AStream, bool ABeautify) : fBeautified(ABeautify), fStream(AStream) {}

  // Appends the indentation first when AIndent and beautified.
  void write(std::string_view AData, bool AIndent = false) {
    if (AIndent && fBeautified) fText += fIndent;
    fText += AData;
  }
  // Appends AData with "&", "<" and ">" (text) or "&", "<", '"', tab and line ends
  // (attribute) as references.
  void writeEscaped(std::string_view AData, bool AAttribute) { Mz_AppendEscaped(fText, AData, AAttribute); }
  void crlf() { fText += "\r\n"; }
  void indent() {
    if (fBeautified) fIndent += '\t';
  }
  void outdent() {
    if (fBeautified && !fIndent.empty()) fIndent.pop_back();
  }
  // Copies the text to the start of the stream as UTF-8 without a mark. The stream is not
  // truncated: a longer stream keeps its bytes beyond the text.
  void flush();

  bool beautified() const { return fBeautified; }
  const std::string& Text() const { return fText; }

private:
  bool fBeautified;
  std::string fIndent;
  std::string fText;
  TStream* fStream;
};

// Appends the UTF-16 units as UTF-8 (an unpaired surrogate becomes U+FFFD).
void AppendUtf16AsUtf8(std::string& AOut, const char16_t* AText, size_t ACount);
std::string Utf16ToUtf8(std::u16string_view AText);
std::u16string Utf8ToUtf16(std::string_view AText);

}  // namespace quorvel
