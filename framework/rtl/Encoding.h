#pragma once
// TEncoding: conversion between the engine's UTF-8 strings and the byte forms of files and
// streams (UTF-8, UTF-16 LE/BE, ANSI as Windows-1252, ASCII), with byte-order marks.
// Malformed input raises EEncodingError; characters that a single-byte encoding cannot hold
// become "?".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class TEncoding {
public:
  virtual ~TEncoding() = default;
  TEncoding(const TEncoding&) = delete;
  TEncoding& operator=(const TEncoding&) = delete;

  // Shared instances; never freed.
  static const TEncoding& UTF8();
  static const TEncoding& Unicode();           // UTF-16 little-endian
  static const TEncoding& BigEndianUnicode();  // UTF-16 big-endian
  static const TEncoding& ANSI();              // Windows-1252
  static const TEncoding& ASCII();
  // The system's default code page: UTF-8 on this platform.
  static const TEncoding& Default();

  virtual std::string Name() const = 0;
  virtual std::vector<uint8_t> GetPreamble() const = 0;
  virtual int GetMaxByteCountPerChar() const = 0;
  bool IsSingleByte() const { return GetMaxByteCountPerChar() == 1; }

  // utf8 must be valid UTF-8, else EEncodingError.
  std::vector<uint8_t> GetBytes(std::string_view utf8) const;
  void AppendBytes(std::string_view utf8, std::vector<uint8_t>& out) const;
  size_t GetByteCount(std::string_view utf8) const;

  // Malformed bytes raise EEncodingError.
  std::string GetString(const uint8_t* p, size_t n) const;
  std::string GetString(const std::vector<uint8_t>& bytes) const { return GetString(bytes.data(), bytes.size()); }
  void AppendString(const uint8_t* p, size_t n, std::string& out) const;
  // The non-raising form: false on malformed bytes (out then holds the text decoded so far).
  bool TryAppendString(const uint8_t* p, size_t n, std::string& out) const { return Decode(p, n, out); }
  // Characters (code points) in the bytes; malformed bytes raise.
  size_t GetCharCount(const uint8_t* p, size_t n) const;

  // Detects a byte-order mark of UTF-8, UTF-16 LE or UTF-16 BE at p: sets enc to that
  // encoding and answers the mark's length; without a mark answers 0 and leaves enc.
  static size_t GetBufferEncoding(const uint8_t* p, size_t n, const TEncoding*& enc);

  static std::vector<uint8_t> Convert(const TEncoding& source, const TEncoding& dest, const uint8_t* p, size_t n);

protected:
  TEncoding() = default;
  // Appends the encoded form of one code point.
  virtual void EncodeChar(char32_t cp, std::vector<uint8_t>& out) const = 0;
  // Appends UTF-8; false at the first malformed sequence.
  virtual bool Decode(const uint8_t* p, size_t n, std::string& out) const = 0;
};

}  // namespace quorvel
