#pragma once
// BSON (version 1.1) in the JSON token model: TBsonWriter receives tokens like any TJsonWriter
// and writes one BSON document per root container; TBsonReader delivers a BSON document as
// tokens, which TJsonObjectWriter turns into a tree.
//
// The writer builds the document in memory and hands it to the stream when the root closes,
// so lengths are patched in place and nothing recurses per nesting level. A plain memory
// stream written at its end takes the built block itself (with the few bytes it held copied in
// front), so a large document is not copied once more. The reader reads
// the declared length of the root in bounded chunks before parsing, and checks every length
// against the bytes its container has left before it allocates anything. From a memory
// stream that holds the whole document the reader reads the stream's block in place (the
// stream is moved past the document at once), so that block must not change while it reads.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"

namespace quorvel {

class TBsonWriter : public TJsonWriter {
public:
  // Writes to stream (not owned), which must outlive the writer.
  explicit TBsonWriter(TStream* stream);
  ~TBsonWriter() override;

  using TJsonWriter::WriteValue;
  void WriteStartObject() override;
  void WriteEndObject() override;
  void WriteStartArray() override;
  void WriteEndArray() override;
  void WriteStartConstructor(const std::string& name) override;
  void WritePropertyName(const std::string& name) override;
  void WriteNull() override;
  void WriteUndefined() override;
  void WriteMinKey() override;
  void WriteMaxKey() override;
  void WriteRaw(const std::string& json) override;
  void WriteRawValue(const std::string& json) override;
  void WriteComment(const std::string& comment) override;
  void WriteValue(const std::string& value) override;
  void WriteValue(int32_t value) override;
  void WriteValue(uint32_t value) override;
  void WriteValue(int64_t value) override;
  void WriteValue(uint64_t value) override;
  void WriteValue(uint8_t value) override;
  void WriteValue(float value) override;
  void WriteValue(double value) override;
  void WriteValue(bool value) override;
  void WriteValue(char32_t value) override;
  void WriteValue(TDateTime value) override;
  void WriteValue(const TGUID& value) override;
  void WriteValue(const TBytes& value, TJsonBinaryType binaryType = TJsonBinaryType::Generic) override;
  void WriteValue(const TJsonOid& value) override;
  void WriteValue(const TJsonRegEx& value) override;
  void WriteValue(const TJsonDBRef& value) override;
  void WriteValue(const TJsonCodeWScope& value) override;
  // A JavaScript code element (0D).
  void WriteCode(const std::string& code);

  // With containers open: writes a null for a pending name, closes them and writes the
  // document out.
  void Flush() override;
  void Close() override;
  void Rewind() override;

protected:
  // The document being built. Grown with realloc, which moves a large block by remapping its
  // pages instead of copying them.
  class TBuffer {
  public:
    TBuffer() noexcept = default;
    TBuffer(const TBuffer&) = delete;
    TBuffer& operator=(const TBuffer&) = delete;
    ~TBuffer() { std::free(FData); }

    size_t size() const noexcept { return FSize; }
    char* data() noexcept { return FData; }
    void clear() noexcept { FSize = 0; }
    void append(const char* p, size_t n) {
      if (FCapacity - FSize < n) Grow(n);
      if (n) std::memcpy(FData + FSize, p, n);
      FSize += n;
    }
    void append(const char* b, const char* e) { append(b, static_cast<size_t>(e - b)); }
    // n bytes more, left as they are.
    void extend(size_t n) {
      if (FCapacity - FSize < n) Grow(n);
      FSize += n;
    }
    // Room for n bytes at the end, filled in place and taken by extend.
    char* room(size_t n) {
      if (FCapacity - FSize < n) Grow(n);
      return FData + FSize;
    }
    // Hands the block (std::realloc'd, capacity bytes) over and starts empty.
    char* release(size_t& capacity) noexcept {
      char* p = FData;
      capacity = FCapacity;
      FData = nullptr;
      FSize = FCapacity = 0;
      return p;
    }
    void append(std::string_view s) { append(s.data(), s.size()); }
    TBuffer& operator+=(char c) {
      if (FSize == FCapacity) Grow(1);
      FData[FSize++] = c;
      return *this;
    }

  private:
    void Grow(size_t n);
    char* FData = nullptr;
    size_t FSize = 0;
    size_t FCapacity = 0;
  };
  struct TContainer {
    size_t Position;  // of its length field in FBuffer
    bool IsArray;
    uint32_t Index;  // arrays: the next element's name
  };
  // Type byte and name of the next element (the pending property name in a document, the
  // index in an array); raises at the root, where there is no element.
  void ElementHeader(uint8_t type) { ElementHeader(type, FPropertyName); }
  // The same with the name given (used only inside a document).
  void ElementHeader(uint8_t type, std::string_view name);
  void Start(bool isArray);
  void End();
  // Hands the finished document to the stream.
  void Deliver();
  void PutInt32(int32_t v);
  void PutInt64(int64_t v);
  void PutCString(std::string_view s);
  void PutString(std::string_view s);
  bool IgnoreEmpty(size_t size) const;

  TStream* FStream;
  TBuffer FBuffer;
  size_t FPrefix = 0;  // room at the start of FBuffer for what the stream held before
  std::vector<TContainer> FStack;
  std::string FPropertyName;
};

class TBsonReader : public TJsonReader {
public:
  // Reads from stream (not owned) at its current position; with readRootAsArray the root
  // document is delivered as an array.
  explicit TBsonReader(TStream* stream, bool readRootAsArray = false);
  ~TBsonReader() override = default;

  bool Read() override;
  void Rewind() override;
  void Close() override;

  bool GetReadRootValueAsArray() const noexcept { return FReadRootValueAsArray; }
  void SetReadRootValueAsArray(bool v) noexcept { FReadRootValueAsArray = v; }

private:
  struct TContext {
    size_t End;  // offset of the byte after the container in FDoc
    bool IsArray;
  };
  void ReadRoot();
  void ReadValue();
  [[noreturn]] void Fail(const std::string& message) const;
  void Need(size_t count, size_t limit, const char* what) const;
  int32_t GetInt32(size_t limit, const char* what);
  int64_t GetInt64(size_t limit, const char* what);
  // Views into the document, valid while it is read.
  std::string_view GetCString(size_t limit, const char* what);
  std::string_view GetString(size_t limit, const char* what);
  size_t Limit() const { return FStack.back().End - 1; }

  TStream* FStream;
  int64_t FStart;
  bool FReadRootValueAsArray;
  std::string FDoc;             // the document, when it was read out of the stream
  const char* FData = nullptr;  // the document's bytes: FDoc's or the memory stream's
  size_t FPos = 0;
  std::vector<TContext> FStack;
  uint8_t FPendingType = 0;  // the type of the value after a delivered property name
  bool FStarted = false;
  bool FDone = false;
};

}  // namespace quorvel
