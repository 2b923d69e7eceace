#pragma once
// Text reading from a byte stream: UTF-8 by default, a byte-order mark (UTF-8, UTF-16 LE or
// BE) switches the encoding when detection is on, and lines end at "\r\n", "\n" or "\r".
// Text comes out as UTF-8. Malformed UTF-8 bytes become U+FFFD rather than failing the
// whole read; malformed UTF-16 raises EEncodingError.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/io/Stream.h"

namespace quorvel {

class TEncoding;

class TStreamReader : public TObject {
public:
  // A nil stream raises EArgumentNilException ("Stream"). bufferSize is at least 128.
  explicit TStreamReader(TStream* stream, bool detectBOM = true);
  TStreamReader(TStream* stream, const TEncoding& encoding, bool detectBOM = true, int32_t bufferSize = 4096);
  // The file is opened for reading (shared with other readers) and owned.
  explicit TStreamReader(const std::string& fileName, bool detectBOM = true);
  TStreamReader(const std::string& fileName, const TEncoding& encoding, bool detectBOM = true,
                int32_t bufferSize = 4096);
  ~TStreamReader() override;

  TStream* GetBaseStream() const { return FStream; }
  const TEncoding& GetCurrentEncoding() const { return *FEncoding; }
  bool GetEndOfStream();
  void OwnStream() { FOwnsStream = true; }
  void Close();
  // Forgets decoded text; reading goes on from the stream's current position.
  void DiscardBufferedData();
  // Back to the stream's start, byte-order mark detection included.
  void Rewind();

  // The next line without its line end; false at the end of the stream. A final line
  // without a line end is still delivered. `line` is reused (no allocation per line).
  bool ReadLine(std::string& line);
  // The next line, "" at the end (tell them apart with GetEndOfStream()).
  std::string ReadLine();
  std::string ReadToEnd();
  // The next code point, or -1 at the end.
  int32_t Peek();
  int32_t Read();

private:
  void Init(TStream* stream, bool owns, const TEncoding& encoding, bool detectBOM, int32_t bufferSize);
  TStream& Stream() const;
  // Decodes one more block; false when the stream had nothing more.
  bool Fill();
  void DecodePending(bool atEnd);
  void Compact();

  TStream* FStream = nullptr;
  bool FOwnsStream = false;
  const TEncoding* FEncoding = nullptr;
  const TEncoding* FInitialEncoding = nullptr;
  bool FDetectBOM = true;
  bool FFirstFill = true;
  bool FNoDataInStream = false;
  int32_t FBufferSize = 4096;
  std::unique_ptr<uint8_t[]> FReadBuffer;
  std::string FPending;  // bytes read but not yet decoded (a split character)
  std::string FText;     // decoded UTF-8
  size_t FTextPos = 0;
};

}  // namespace quorvel
