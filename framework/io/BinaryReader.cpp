#include "framework/io/BinaryReader.h"

#include <algorithm>

namespace quorvel {

// ---- TBinaryReader ----

TBinaryReader::TBinaryReader(TStream* stream, bool ownsStream) : FStream(stream), FOwnsStream(ownsStream) {
  if (!stream) throw EArgumentNilException("Stream");
}

TBinaryReader::~TBinaryReader() { Close(); }

void TBinaryReader::Close() {
  if (FOwnsStream) {
    delete FStream;
    FOwnsStream = false;
  }
  FStream = nullptr;
}

TStream& TBinaryReader::Stream() const {
  if (!FStream) throw EInvalidOperation("Cannot read from a closed TBinaryReader");
  return *FStream;
}

int TBinaryReader::PeekByte() {
  uint8_t b;
  if (Stream().Read(&b, 1) != 1) return -1;
  FStream->Seek(-1, soCurrent);
  return b;
}

TBytes TBinaryReader::ReadBytes(int64_t count) {
  if (count < 0) throw EArgumentOutOfRangeException("Count");
  // Grow as data arrives: a corrupt length must not allocate gigabytes up front.
  constexpr int64_t kChunk = 1 << 20;
  TBytes bytes;
  int64_t done = 0;
  while (done < count) {
    const int64_t n = std::min(kChunk, count - done);
    bytes.resize(static_cast<size_t>(done + n));
    Stream().ReadBuffer(bytes.data() + done, n);
    done += n;
  }
  return bytes;
}

int32_t TBinaryReader::Read7BitEncodedInt() {
  uint32_t result = 0;
  for (int shift = 0; shift < 35; shift += 7) {
    const uint8_t b = ReadByte();
    result |= static_cast<uint32_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return static_cast<int32_t>(result);
  }
  throw EReadError("Invalid 7-bit encoded integer");
}

std::string TBinaryReader::ReadString() {
  const int32_t len = Read7BitEncodedInt();
  if (len < 0) throw EReadError("Invalid string length");
  const TBytes b = ReadBytes(len);
  return std::string(b.begin(), b.end());
}

std::string TBinaryReader::ReadZeroTerminatedString() {
  std::string s;
  for (;;) {
    const uint8_t b = ReadByte();
    if (b == 0) return s;
    s.push_back(static_cast<char>(b));
  }
}

// ---- TBinaryWriter ----

TBinaryWriter::TBinaryWriter(TStream* stream, bool ownsStream) : FStream(stream), FOwnsStream(ownsStream) {
  if (!stream) throw EArgumentNilException("Stream");
}

TBinaryWriter::~TBinaryWriter() { Close(); }

void TBinaryWriter::Close() {
  if (FOwnsStream) {
    delete FStream;
    FOwnsStream = false;
  }
  FStream = nullptr;
}

TStream& TBinaryWriter::Stream() const {
  if (!FStream) throw EInvalidOperation("Cannot write to a closed TBinaryWriter");
  return *FStream;
}

void TBinaryWriter::Write7BitEncodedInt(int32_t value) {
  auto v = static_cast<uint32_t>(value);
  uint8_t buf[5];
  int n = 0;
  while (v >= 0x80) {
    buf[n++] = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  buf[n++] = static_cast<uint8_t>(v);
  Stream().WriteBuffer(buf, n);
}

void TBinaryWriter::Write(std::string_view s) {
  if (s.size() > 0x7FFFFFFF) throw EArgumentOutOfRangeException("String too long");
  Write7BitEncodedInt(static_cast<int32_t>(s.size()));
  Stream().WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void TBinaryWriter::WriteZeroTerminatedString(std::string_view s) {
  Stream().WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  WriteByte(0);
}

}  // namespace quorvel
