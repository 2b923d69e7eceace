#pragma once
// Resource strings: named message texts that error routines take as records and format.
// The framework's own texts are German; the run-time's are English. Texts are exact: callers
// and tests compare them literally.

namespace quorvel {

struct TResourceString {
  const char* Name;
  const char* Text;
};
using PResStringRec = const TResourceString*;

inline const char* LoadResString(PResStringRec r) { return r ? r->Text : ""; }

// Run-time library.
inline constexpr TResourceString SInvalidFormat{"SInvalidFormat",
                                                "Format '%s' invalid or incompatible with argument"};
inline constexpr TResourceString SArgumentMissing{"SArgumentMissing", "No argument for format '%s'"};
inline constexpr TResourceString SInvalidInteger{"SInvalidInteger", "'%s' is not a valid integer value"};
inline constexpr TResourceString SInvalidFloat{"SInvalidFloat", "'%s' is not a valid floating point value"};
inline constexpr TResourceString SInvalidGUID{"SInvalidGUID", "'%s' is not a valid GUID value"};
inline constexpr TResourceString SInvalidDateTime{"SInvalidDateTime", "'%s' is not a valid date and time"};
inline constexpr TResourceString SDateEncodeError{"SDateEncodeError", "Invalid argument to date encode"};
inline constexpr TResourceString STimeEncodeError{"STimeEncodeError", "Invalid argument to time encode"};
inline constexpr TResourceString SInvalidOp{"SInvalidOp", "Invalid floating point operation"};
inline constexpr TResourceString SNoMappingForUnicodeCharacter{
    "SNoMappingForUnicodeCharacter", "No mapping for the Unicode character exists in the target multi-byte code page"};
inline constexpr TResourceString SErrorDecodingURLText{
    "SErrorDecodingURLText", "Error decoding URL style (%%XX) encoded string at position %d"};
inline constexpr TResourceString SListIndexError{"SListIndexError", "List index out of bounds (%d)"};
inline constexpr TResourceString SDuplicateString{"SDuplicateString", "String list does not allow duplicates"};
inline constexpr TResourceString SSortedListError{"SSortedListError",
                                                  "Operation not allowed on sorted list"};

// Framework (3D context): German, as the product ships them.
inline constexpr TResourceString SErrorInContextMethod{"SErrorInContextMethod", "Fehler im Kontext: Methode='%s'."};
inline constexpr TResourceString SCannotCreateVertexShader{
    "SCannotCreateVertexShader", "Vertex-Schattierer für '%s' kann nicht erstellt werden."};
inline constexpr TResourceString SCannotCreatePixelShader{
    "SCannotCreatePixelShader", "Pixel-Schattierer für '%s' kann nicht erstellt werden."};
inline constexpr TResourceString SCannotCreateShader{"SCannotCreateShader",
                                                     "Schattierer für '%s' kann nicht erstellt werden."};
inline constexpr TResourceString SCannotActivateShaderProgram{
    "SCannotActivateShaderProgram", "Schattiererprogramm für '%s' kann nicht aktiviert werden."};
inline constexpr TResourceString SCannotFindShaderVariable{"SCannotFindShaderVariable",
                                                           "Schattierervariable \"%s\" nicht gefunden."};
inline constexpr TResourceString SCannotCreateTexture{"SCannotCreateTexture",
                                                      "Textur für '%s' kann nicht erstellt werden."};
inline constexpr TResourceString SCannotUploadTexture{
    "SCannotUploadTexture", "Pixel-Daten können nicht für '%s' zu Textur hochgeladen werden."};

}  // namespace quorvel
