#pragma once
// Paths, files, directories and the system folders.
//
// Data written on Windows carries "\" separators (".\assets\monkey.obj"): every function
// here accepts "\" as well as "/" on input. The string helpers (GetFileName, GetExtension,
// GetDirectoryName, ChangeExtension...) split at either separator and leave the text
// otherwise untouched; everything that touches the file system converts "\" to "/" first.
//
// System folders on Linux (none of them is created; all are answered without a trailing
// delimiter):
//   Home       the user's application data: $XDG_DATA_HOME, else $HOME/.local/share
//   Documents  XDG_DOCUMENTS_DIR from user-dirs.dirs, else $HOME/Documents
//   Public     public (shared) documents: XDG_PUBLICSHARE_DIR, else $HOME/Public. Linux has
//              no writable all-users data or public downloads folder; callers asking for
//              those use this one as their nearest writable counterpart
//   Downloads  XDG_DOWNLOAD_DIR, else $HOME/Downloads
//   Temp       $TMPDIR, else /tmp
//   Executable the folder of the running program (/proc/self/exe)
// user-dirs.dirs is read from $XDG_CONFIG_HOME (else $HOME/.config). Tests override any
// folder with SystemFolders::Set and undo it with SystemFolders::Reset; no environment
// variable is consulted for overrides.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "framework/io/Stream.h"

namespace quorvel {

class TEncoding;

enum class TSystemFolder : uint8_t { Home, Documents, Public, Downloads, Temp, Executable };

class SystemFolders {
public:
  static std::string Get(TSystemFolder kind);
  static void Set(TSystemFolder kind, const std::string& path);
  static void Reset(TSystemFolder kind);
  static void Reset();  // every folder
};

class TPath {
public:
  static constexpr char DirectorySeparatorChar = '/';

  static bool IsPathDelimiter(char c) { return c == '/' || c == '\\'; }
  // "\" → "/": the form handed to the operating system.
  static std::string ToPosix(std::string_view path);

  // Joins with the separator style of path1 ("\" when it uses only backslashes); a rooted
  // path2 replaces path1.
  static std::string Combine(std::string_view path1, std::string_view path2);
  static std::string GetFileName(std::string_view path);
  static std::string GetFileNameWithoutExtension(std::string_view path);
  // From the last "." of the file-name part, "" when there is none.
  static std::string GetExtension(std::string_view path);
  static bool HasExtension(std::string_view path) { return !GetExtension(path).empty(); }
  // Everything before the last separator ("" when none; "/" for a file at the root).
  static std::string GetDirectoryName(std::string_view path);
  // ext with or without its dot; an empty ext removes the extension.
  static std::string ChangeExtension(std::string_view path, std::string_view ext);
  static bool IsPathRooted(std::string_view path);
  static std::string IncludeTrailingPathDelimiter(std::string_view path);
  static std::string ExcludeTrailingPathDelimiter(std::string_view path);
  // Absolute and normalised, with "/" separators.
  static std::string GetFullPath(std::string_view path);
  // The existing file whose name matches path ignoring ASCII letter case, component by
  // component (exact matches preferred); the input unchanged when there is none.
  static std::string ResolveCaseInsensitive(std::string_view path);

  static std::string GetHomePath() { return SystemFolders::Get(TSystemFolder::Home); }
  static std::string GetDocumentsPath() { return SystemFolders::Get(TSystemFolder::Documents); }
  static std::string GetPublicPath() { return SystemFolders::Get(TSystemFolder::Public); }
  static std::string GetDownloadsPath() { return SystemFolders::Get(TSystemFolder::Downloads); }
  static std::string GetTempPath() { return SystemFolders::Get(TSystemFolder::Temp); }
  static std::string GetExecutablePath() { return SystemFolders::Get(TSystemFolder::Executable); }
};

// Whole-file operations. Open failures raise EFOpenError / EFCreateError (TFileStream);
// failed deletes, copies and moves raise EInOutError with the system's message.
class TFile {
public:
  // True for an existing non-directory.
  static bool Exists(std::string_view path);
  // A missing file is not an error.
  static void Delete(std::string_view path);
  static void Copy(std::string_view source, std::string_view dest, bool overwrite = false);
  static void Move(std::string_view source, std::string_view dest);
  static int64_t GetSize(std::string_view path);

  static TBytes ReadAllBytes(std::string_view path);
  static void WriteAllBytes(std::string_view path, const void* data, size_t size);
  static void WriteAllBytes(std::string_view path, const TBytes& bytes) {
    WriteAllBytes(path, bytes.data(), bytes.size());
  }
  // Decodes by byte-order mark, UTF-8 without one; the mark is not part of the text.
  static std::string ReadAllText(std::string_view path);
  // Decodes with encoding unless a byte-order mark names another one.
  static std::string ReadAllText(std::string_view path, const TEncoding& encoding);
  // UTF-8 without a byte-order mark, replacing the file.
  static void WriteAllText(std::string_view path, std::string_view text);
  // In encoding, preceded by its preamble (none for ANSI), replacing the file.
  static void WriteAllText(std::string_view path, std::string_view text, const TEncoding& encoding);
};

class TDirectory {
public:
  static bool Exists(std::string_view path);
  // Creates missing parents too; an existing directory is not an error.
  static void CreateDirectory(std::string_view path);
  // recursive: with everything inside. A missing directory is not an error.
  static void Delete(std::string_view path, bool recursive = false);
  // Full paths of the regular files directly inside path whose names match pattern
  // ("*", "*.zip", ...; fnmatch rules), sorted by name.
  static std::vector<std::string> GetFiles(std::string_view path, std::string_view pattern = "*");
};

}  // namespace quorvel
