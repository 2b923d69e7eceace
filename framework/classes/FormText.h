#pragma once
// The text form syntax: its tokenizer, the form-resource registry, and the
// entry points that read a resource into an existing root component and write one back.
//
//   object Form1: TForm1
//     Caption = 'Form1'
//     object Viewport1: TViewport           <- created through the class registry
//       Camera = Camera1                     <- references and events resolve at the end
//       Position.X = -5.000000000000000000   <- dotted paths, in file order, via setters
//     end
//   end
//
// Values: integers, floats (with exponent), $hex, 'strings' (with '' and #nn, joined by +),
// identifiers, [sets], (lists), <item … end> collections and {hex} binary data.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class TComponent;

enum class TFormTokenKind : uint8_t { EndOfText, Symbol, Ident, String, Integer, Float, Binary };

struct TFormToken {
  TFormTokenKind Kind = TFormTokenKind::EndOfText;
  char Symbol = 0;    // Symbol: the character
  std::string Text;   // Ident (dotted), String (decoded UTF-8), number text, Binary hex digits
  int64_t Int = 0;    // Integer
  double Float = 0;   // Float
  int Line = 1;
  int Column = 1;
};

// Splits form text into tokens. Errors raise EParserError "<what> on line %d, column %d".
class TFormParser {
public:
  explicit TFormParser(std::string_view Text);

  const TFormToken& Token() const { return FToken; }
  // Moves to the next token.
  void Next();
  bool IsSymbol(char c) const { return FToken.Kind == TFormTokenKind::Symbol && FToken.Symbol == c; }
  // Whether the token is the identifier Word (ASCII case-insensitive).
  bool IsIdent(std::string_view Word) const;
  // Raises unless the token is symbol c; then moves on.
  void Expect(char c);
  // Raises unless the token is an identifier; answers it and moves on.
  std::string ExpectIdent();
  [[noreturn]] void Error(const std::string& Message) const;
  int Line() const { return FToken.Line; }

private:
  void SkipBlanks();
  void ReadString();
  void ReadNumber();
  void ReadBinary();
  char Peek(size_t Ahead = 0) const { return FPos + Ahead < FText.size() ? FText[FPos + Ahead] : '\0'; }
  void Advance();

  std::string_view FText;
  size_t FPos = 0;
  int FLine = 1;
  int FColumn = 1;
  TFormToken FToken;
};

// Reads the form text into Root, which already exists: the top object's properties go to
// Root, nested objects are created through the registry (owner Root, parent the enclosing
// object) and bound to Root's published fields of the same name; references and events are
// resolved after the whole tree, then Loaded runs in creation order. Raises EReadError (an
// unknown property, a bad value, an unresolved reference: each named, with its line),
// EParserError (bad syntax) or EClassNotFound. Components created before an error stay
// owned by Root.
void ReadComponentResource(TComponent* Root, std::string_view Text);
// Writes Root and the components it streams in the same syntax.
std::string WriteComponentResource(TComponent* Root);

// Form resources compiled into the program (cmake/FormResources.cmake), found by the form's
// class name, ASCII case-insensitive ("TFORM1").
void RegisterFormResource(std::string_view ClassName, std::string_view Text);
void UnregisterFormResource(std::string_view ClassName);
// The resource text, or null when none is registered.
const std::string* FindFormResource(std::string_view ClassName);
// Reads the resource registered under Root's class name; false when there is none.
bool ReadFormResource(TComponent* Root);

}  // namespace quorvel
