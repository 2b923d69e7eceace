// Package file names: placeholders for the system folders, names relative to the program,
// and the write probe that guards the package's folder.
#include <fcntl.h>
#include <unistd.h>

#include "framework/io/Path.h"
#include "framework/rtl/SysUtils.h"
#include "lib/formats/UtilsDialogs.h"
#include "lib/formats/assets/AssetsManager.h"

namespace quorvel {

namespace {

std::string Folder(TSystemFolder AKind) { return TPath::IncludeTrailingPathDelimiter(SystemFolders::Get(AKind)); }

}  // namespace

std::string TQuorvelAssetsPackage::ResolvePlaceholder(std::string_view AToken) {
  const std::string token = UpperCase(AToken);
  if (token == "{HOME}") return Folder(TSystemFolder::Home);
  if (token == "{ASSETS}") return Folder(TSystemFolder::Home) + "assets/";
  if (token == "{DOCS}") return Folder(TSystemFolder::Documents);
  if (token == "{LIB}") return Folder(TSystemFolder::Executable);
  if (token == "{DOWNLOADS}") return Folder(TSystemFolder::Downloads);
  // Linux has no all-users data or public downloads folder: the public one stands in.
  if (token == "{PUBLIC}" || token == "{SHARED_DOCS}" || token == "{SHARED_DOWNLOADS}")
    return Folder(TSystemFolder::Public);
  return token;
}

std::string TQuorvelAssetsPackage::ResolveFilename(std::string_view APath) {
  std::string text(APath);
  size_t pos = 0;
  while ((pos = text.find('{', pos)) != std::string::npos) {
    const size_t close = text.find('}', pos);
    const std::string token = text.substr(pos, close == std::string::npos ? std::string::npos : close - pos + 1);
    const std::string value = ResolvePlaceholder(token);
    // Every later occurrence goes too; scanning resumes behind the replacement, so an unknown
    // token (which comes back as "{...") or a folder holding braces cannot loop.
    for (size_t at = pos; (at = text.find(token, at)) != std::string::npos; at += value.size())
      text.replace(at, token.size(), value);
    pos += value.size();
  }
  for (char& c : text)
    if (c == '\\') c = '/';
  return text;
}

bool TQuorvelAssetsPackage::HasWriteAccess(const std::string& ADir) {
  const std::string probe = TPath::IncludeTrailingPathDelimiter(TPath::ToPosix(ADir)) + "chk.tmp";
  const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

void TQuorvelAssetsPackage::SetFilename(const std::string& AValue) {
  FFilename = AValue;
  if (AValue.empty()) return;
  std::string name = ResolveFilename(AValue);
  const size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  if (dir.empty() || dir[0] != '/') {
    dir = TPath::IncludeTrailingPathDelimiter(Folder(TSystemFolder::Executable) + dir);
    name = dir + name.substr(slash == std::string::npos ? 0 : slash + 1);
  }
  // A package the user may only read (an installed game's) opens for reading; saving it then
  // raises. Only a file yet to be made needs the folder writable.
  if (!HasWriteAccess(dir) && !(TFile::Exists(name) && ::access(name.c_str(), R_OK) == 0)) {
    FFilename.clear();
    FResolvedFilename.clear();
    throw Exception("Failed to read/write package - missing write-access in folder: " + dir);
  }
  FResolvedFilename = name;
  if (!GetManager() || !(TFile::Exists(name) || TDirectory::Exists(dir))) return;
  if (GetManager()->GetComponentState().Contains(csDesigning))
    TProgressForm::Open("Please wait, loading package ...", [this, name](TProgressForm*) { LoadFromFile(name); });
  else
    LoadFromFile(name);
}

}  // namespace quorvel
