#include "framework/classes/FormText.h"

#include <map>
#include <mutex>

#include "framework/classes/Filer.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TFormParser

TFormParser::TFormParser(std::string_view Text) : FText(Text) { Next(); }

void TFormParser::Error(const std::string& Message) const {
  throw EParserError(Format("%s on line %d, column %d", {Message, FToken.Line, FToken.Column}));
}

bool TFormParser::IsIdent(std::string_view Word) const {
  return FToken.Kind == TFormTokenKind::Ident && SameText(FToken.Text, Word);
}

void TFormParser::Expect(char c) {
  if (!IsSymbol(c)) Error(Format("'%s' expected", {std::string(1, c)}));
  Next();
}

std::string TFormParser::ExpectIdent() {
  if (FToken.Kind != TFormTokenKind::Ident) Error("Identifier expected");
  std::string s = std::move(FToken.Text);
  Next();
  return s;
}

void TFormParser::Advance() {
  if (FPos < FText.size()) {
    if (FText[FPos] == '\n') {
      ++FLine;
      FColumn = 1;
    } else {
      ++FColumn;
    }
    ++FPos;
  }
}

void TFormParser::SkipBlanks() {
  while (FPos < FText.size()) {
    const char c = FText[FPos];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') Advance();
    else break;
  }
}

void TFormParser::Next() {
  SkipBlanks();
  FToken = TFormToken();
  FToken.Line = FLine;
  FToken.Column = FColumn;
  if (FPos >= FText.size()) return;
  const char c = FText[FPos];
  if (IsIdentStart(c)) {
    FToken.Kind = TFormTokenKind::Ident;
    const size_t start = FPos;
    for (;;) {
      while (IsIdentChar(Peek())) Advance();
      if (Peek() == '.' && IsIdentStart(Peek(1))) Advance();
      else break;
    }
    FToken.Text.assign(FText.substr(start, FPos - start));
  } else if (c == '\'' || c == '#') {
    ReadString();
  } else if (IsDigit(c) || ((c == '-' || c == '+') && (IsDigit(Peek(1)) || Peek(1) == '.')) || c == '$') {
    ReadNumber();
  } else if (c == '{') {
    ReadBinary();
  } else if (c == '=' || c == ':' || c == '[' || c == ']' || c == '(' || c == ')' || c == '<' || c == '>' ||
             c == ',' || c == '+') {
    FToken.Kind = TFormTokenKind::Symbol;
    FToken.Symbol = c;
    Advance();
  } else {
    Error(Format("Invalid character '%s'", {std::string(1, c)}));
  }
}

void TFormParser::ReadString() {
  FToken.Kind = TFormTokenKind::String;
  std::string& s = FToken.Text;
  for (;;) {
    // One string: quoted runs and #nn codes written without blanks between them; strings
    // joined with "+" (also across lines) make one value.
    while (Peek() == '\'' || Peek() == '#') {
      if (Peek() == '\'') {
        Advance();
        for (;;) {
          if (FPos >= FText.size() || Peek() == '\n' || Peek() == '\r') Error("Unterminated string");
          if (Peek() == '\'') {
            if (Peek(1) == '\'') {
              s += '\'';
              Advance();
              Advance();
              continue;
            }
            Advance();
            break;
          }
          s += Peek();
          Advance();
        }
      } else {
        Advance();
        uint32_t code = 0;
        bool any = false;
        if (Peek() == '$') {
          Advance();
          for (int h; (h = HexValue(Peek())) >= 0; Advance()) {
            code = code * 16 + static_cast<uint32_t>(h);
            any = true;
            if (code > 0x10FFFF) Error("Invalid character code");
          }
        } else {
          for (; IsDigit(Peek()); Advance()) {
            code = code * 10 + static_cast<uint32_t>(Peek() - '0');
            any = true;
            if (code > 0x10FFFF) Error("Invalid character code");
          }
        }
        if (!any || (code >= 0xD800 && code <= 0xDFFF)) Error("Invalid character code");
        AppendUtf8(s, code);
      }
    }
    const size_t savePos = FPos;
    const int saveLine = FLine, saveColumn = FColumn;
    SkipBlanks();
    if (Peek() != '+') {
      FPos = savePos;
      FLine = saveLine;
      FColumn = saveColumn;
      return;
    }
    Advance();
    SkipBlanks();
    if (Peek() != '\'' && Peek() != '#') Error("String expected after '+'");
  }
}

void TFormParser::ReadNumber() {
  const size_t start = FPos;
  if (Peek() == '$') {
    Advance();
    uint64_t v = 0;
    int digits = 0;
    for (int h; (h = HexValue(Peek())) >= 0; Advance()) {
      if (++digits > 16) Error("Number too large");
      v = v * 16 + static_cast<uint64_t>(h);
    }
    if (digits == 0) Error("Hexadecimal number expected");
    FToken.Kind = TFormTokenKind::Integer;
    FToken.Int = static_cast<int64_t>(v);
    FToken.Text.assign(FText.substr(start, FPos - start));
    return;
  }
  if (Peek() == '-' || Peek() == '+') Advance();
  bool isFloat = false;
  while (IsDigit(Peek())) Advance();
  if (Peek() == '.' && IsDigit(Peek(1))) {
    isFloat = true;
    Advance();
    while (IsDigit(Peek())) Advance();
  }
  if ((Peek() == 'e' || Peek() == 'E') &&
      (IsDigit(Peek(1)) || ((Peek(1) == '-' || Peek(1) == '+') && IsDigit(Peek(2))))) {
    isFloat = true;
    Advance();
    if (Peek() == '-' || Peek() == '+') Advance();
    while (IsDigit(Peek())) Advance();
  }
  if (IsIdentChar(Peek()) || Peek() == '.') Error("Invalid number");
  std::string text(FText.substr(start, FPos - start));
  if (isFloat) {
    FToken.Kind = TFormTokenKind::Float;
    if (!TryStrToFloat(text, FToken.Float)) Error(Format("Invalid number %s", {text}));
  } else {
    FToken.Kind = TFormTokenKind::Integer;
    if (text[0] == '+') text.erase(0, 1);
    if (!TryStrToInt64(text, FToken.Int)) Error(Format("Number %s out of range", {text}));
  }
  FToken.Text = std::move(text);
}

void TFormParser::ReadBinary() {
  FToken.Kind = TFormTokenKind::Binary;
  Advance();
  for (;;) {
    SkipBlanks();
    if (FPos >= FText.size()) Error("Unterminated binary data");
    const char c = Peek();
    if (c == '}') {
      Advance();
      break;
    }
    if (HexValue(c) < 0) Error("Invalid binary data");
    FToken.Text += c;
    Advance();
  }
  if (FToken.Text.size() % 2 != 0) Error("Invalid binary data");
}

// ---------------------------------------------------------------------------------------
// Entry points and the resource registry

void ReadComponentResource(TComponent* Root, std::string_view Text) {
  if (!Root) throw EReadError("No root component to read into");
  TReader reader(Root, Text);
  reader.ReadRootComponent();
}

std::string WriteComponentResource(TComponent* Root) {
  if (!Root) throw EWriteError("No root component to write");
  TWriter writer(Root);
  return writer.WriteRootComponent();
}

namespace {
struct TFormResources {
  std::mutex Lock;
  std::map<std::string, std::string> Texts;  // key: upper-cased class name
};
TFormResources& FormResources() {
  static TFormResources resources;
  return resources;
}
}  // namespace

void RegisterFormResource(std::string_view ClassName, std::string_view Text) {
  TFormResources& r = FormResources();
  std::lock_guard lock(r.Lock);
  r.Texts[UpperCase(ClassName)] = std::string(Text);
}

void UnregisterFormResource(std::string_view ClassName) {
  TFormResources& r = FormResources();
  std::lock_guard lock(r.Lock);
  r.Texts.erase(UpperCase(ClassName));
}

const std::string* FindFormResource(std::string_view ClassName) {
  TFormResources& r = FormResources();
  std::lock_guard lock(r.Lock);
  auto it = r.Texts.find(UpperCase(ClassName));
  return it == r.Texts.end() ? nullptr : &it->second;
}

bool ReadFormResource(TComponent* Root) {
  if (!Root) return false;
  const std::string* text = FindFormResource(Root->ClassName());
  if (!text) return false;
  ReadComponentResource(Root, *text);
  return true;
}

}  // namespace quorvel
