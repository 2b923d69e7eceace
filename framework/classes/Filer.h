#pragma once
// Form streaming: TFiler with DefineProperty / DefineBinaryProperty, TReader (reads the text
// form syntax into components) and TWriter (writes it).
//
// A class streams values that are not published properties from its DefineProperties:
//
//   void TControl3D::DefineProperties(TFiler* Filer) {
//     TFwObject::DefineProperties(Filer);
//     Filer->DefineProperty("Quanternion",
//         [this](TReader* r) { SetQuaternionText(r->ReadString()); },
//         [this](TWriter* w) { w->WriteString(QuaternionText()); }, true);
//   }
//
// Set-typed published properties need their set type made known once (before a form that
// uses them is read): RegisterSetPropertyType<TFormFactorDevice>().
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeindex>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/classes/FormText.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

class TCollection;
class TStream;
class TReader;
class TWriter;

using TReaderProc = std::function<void(TReader* Reader)>;
using TWriterProc = std::function<void(TWriter* Writer)>;
using TStreamProc = std::function<void(TStream* Stream)>;

// What the next value of a form text is.
enum class TValueType : uint8_t { vaNull, vaList, vaInt, vaExtended, vaString, vaIdent, vaFalse, vaTrue, vaBinary, vaSet, vaNil, vaCollection };

class TFiler : public TObject {
public:
  // ReadData consumes exactly one value; WriteData writes exactly one; HasData tells the
  // writer whether to write the property at all.
  virtual void DefineProperty(const std::string& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) = 0;
  // The value is binary data ({hex}); the procs read / write it from / to a stream.
  virtual void DefineBinaryProperty(const std::string& Name, TStreamProc ReadData, TStreamProc WriteData,
                                    bool HasData) = 0;
  TComponent* GetRoot() const { return FRoot; }

protected:
  TComponent* FRoot = nullptr;
};

class TReader : public TFiler {
public:
  TReader(TComponent* Root, std::string_view Text);
  ~TReader() override;

  void DefineProperty(const std::string& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // Reads the whole text into the root (ReadComponentResource).
  void ReadRootComponent();

  // Value readers for defined properties. A value of another kind raises EReadError
  // naming the property and the line.
  TValueType NextValue() const;
  std::string ReadString();
  int32_t ReadInteger();
  int64_t ReadInt64();
  double ReadFloat();  // integers too
  float ReadSingle() { return static_cast<float>(ReadFloat()); }
  double ReadDouble() { return ReadFloat(); }
  bool ReadBoolean();
  std::string ReadIdent();
  void ReadListBegin();  // "("
  bool EndOfList() const;  // ")" (or ">" in a collection) is next
  void ReadListEnd();
  // Clears the collection and reads "<item … end …>" into it (Add per item).
  void ReadCollection(TCollection* Collection);
  // Skips one value of any kind (for defined properties that drop their data).
  void SkipValue();

  // The line of the current token.
  int Line() const;

  struct TFixup;
  struct TState;  // the parser and what the reading collects

private:
  std::unique_ptr<TState> FState;

  friend struct TReaderAccess;
};

class TWriter : public TFiler {
public:
  explicit TWriter(TComponent* Root);
  ~TWriter() override;

  void DefineProperty(const std::string& Name, TReaderProc ReadData, TWriterProc WriteData, bool HasData) override;
  void DefineBinaryProperty(const std::string& Name, TStreamProc ReadData, TStreamProc WriteData,
                            bool HasData) override;

  // Writes the root and its streamed components; answers the text.
  std::string WriteRootComponent();

  void WriteString(std::string_view Value);
  void WriteInteger(int64_t Value);
  void WriteFloat(double Value);
  void WriteSingle(float Value) { WriteFloat(Value); }
  void WriteDouble(double Value) { WriteFloat(Value); }
  void WriteBoolean(bool Value);
  void WriteIdent(std::string_view Ident);
  void WriteListBegin();
  void WriteListEnd();
  void WriteCollection(TCollection* Collection);
  void WriteBinary(const void* Data, size_t Size);

  struct TState;  // the text and its layout

private:
  std::unique_ptr<TState> FState;
};

namespace filer_detail {
// Reading and writing of a set-typed property value, keyed by the set's C++ type.
struct TSetType {
  TValue (*FromText)(std::string_view Text) = nullptr;  // "[A,B]"; EConvertError for bad names
};
void RegisterSetType(std::type_index Type, const TSetType& Info);
const TSetType* FindSetType(std::type_index Type);
}  // namespace filer_detail

template <class E>
void RegisterSetPropertyType() {
  filer_detail::RegisterSetType(typeid(TSet<E>),
                                {[](std::string_view text) { return TValue::From(TSet<E>::FromString(text)); }});
}

}  // namespace quorvel
