#pragma once
// Typed little-endian reads and writes over a TStream. Reading past the end raises
// EReadError ("Stream read error"). Strings carry a 7-bit-encoded byte-length prefix
// followed by their UTF-8 bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/io/Stream.h"

namespace quorvel {

class TBinaryReader : public TObject {
public:
  // ownsStream: the reader frees the stream when it is freed.
  explicit TBinaryReader(TStream* stream, bool ownsStream = false);
  ~TBinaryReader() override;

  TStream* GetBaseStream() const { return FStream; }
  void Close();

  // The next byte without consuming it, -1 at the end.
  int PeekByte();
  bool ReadBoolean() { return ReadByte() != 0; }
  uint8_t ReadByte() { return Read<uint8_t>(); }
  int8_t ReadShortInt() { return Read<int8_t>(); }
  int8_t ReadSByte() { return Read<int8_t>(); }
  int16_t ReadInt16() { return Read<int16_t>(); }
  int16_t ReadSmallInt() { return Read<int16_t>(); }
  uint16_t ReadUInt16() { return Read<uint16_t>(); }
  uint16_t ReadWord() { return Read<uint16_t>(); }
  int32_t ReadInt32() { return Read<int32_t>(); }
  int32_t ReadInteger() { return Read<int32_t>(); }
  uint32_t ReadUInt32() { return Read<uint32_t>(); }
  uint32_t ReadCardinal() { return Read<uint32_t>(); }
  int64_t ReadInt64() { return Read<int64_t>(); }
  uint64_t ReadUInt64() { return Read<uint64_t>(); }
  float ReadSingle() { return Read<float>(); }
  double ReadDouble() { return Read<double>(); }
  // Exactly count bytes or EReadError.
  TBytes ReadBytes(int64_t count);
  void Read(void* buffer, int64_t count) { Stream().ReadBuffer(buffer, count); }
  // Length-prefixed UTF-8 string.
  std::string ReadString();
  // Bytes up to (not including) a zero byte, which is consumed; EReadError when the
  // stream ends first.
  std::string ReadZeroTerminatedString();
  int32_t Read7BitEncodedInt();

  template <class T>
  T Read() {
    T v;
    Stream().ReadBuffer(&v, sizeof(T));
    return v;
  }

private:
  TStream& Stream() const;

  TStream* FStream;
  bool FOwnsStream;
};

class TBinaryWriter : public TObject {
public:
  explicit TBinaryWriter(TStream* stream, bool ownsStream = false);
  ~TBinaryWriter() override;

  TStream* GetBaseStream() const { return FStream; }
  void Close();
  int64_t Seek(int64_t offset, TSeekOrigin origin) { return Stream().Seek(offset, origin); }

  void Write(bool v) { WriteByte(v ? 1 : 0); }
  void Write(uint8_t v) { WriteRaw(v); }
  void Write(int8_t v) { WriteRaw(v); }
  void Write(int16_t v) { WriteRaw(v); }
  void Write(uint16_t v) { WriteRaw(v); }
  void Write(int32_t v) { WriteRaw(v); }
  void Write(uint32_t v) { WriteRaw(v); }
  void Write(int64_t v) { WriteRaw(v); }
  void Write(uint64_t v) { WriteRaw(v); }
  void Write(float v) { WriteRaw(v); }
  void Write(double v) { WriteRaw(v); }
  void Write(const TBytes& bytes) { Write(bytes.data(), static_cast<int64_t>(bytes.size())); }
  void Write(const void* buffer, int64_t count) { Stream().WriteBuffer(buffer, count); }
  // Length-prefixed UTF-8 string (the form ReadString reads).
  void Write(std::string_view s);
  void Write(const char* s) { Write(std::string_view(s)); }
  void Write(const std::string& s) { Write(std::string_view(s)); }

  void WriteByte(uint8_t v) { WriteRaw(v); }
  void WriteInt32(int32_t v) { WriteRaw(v); }
  void WriteUInt32(uint32_t v) { WriteRaw(v); }
  void WriteInt64(int64_t v) { WriteRaw(v); }
  void WriteDouble(double v) { WriteRaw(v); }
  void WriteSingle(float v) { WriteRaw(v); }
  // The bytes of s followed by a zero byte.
  void WriteZeroTerminatedString(std::string_view s);
  void Write7BitEncodedInt(int32_t value);

private:
  template <class T>
  void WriteRaw(const T& v) {
    Stream().WriteBuffer(&v, sizeof(T));
  }
  TStream& Stream() const;

  TStream* FStream;
  bool FOwnsStream;
};

}  // namespace quorvel
