#include "framework/io/Path.h"

#include "framework/rtl/SysUtils.h"

#include <fnmatch.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <system_error>

#include "framework/rtl/Encoding.h"

namespace quorvel {

namespace fs = std::filesystem;

namespace {

// ---- system folders ----

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return (v && *v) ? std::string(v) : fallback;
}

std::string HomeDir() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

// One value of user-dirs.dirs: KEY="$HOME/Name" or KEY="/absolute".
std::optional<std::string> UserDir(const char* key) {
  const std::string home = HomeDir();
  const std::string config = EnvOr("XDG_CONFIG_HOME", home + "/.config");
  std::ifstream in(config + "/user-dirs.dirs");
  if (!in) return std::nullopt;
  const std::string prefix = std::string(key) + "=";
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) != 0) continue;
    std::string v = line.substr(prefix.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
    if (v.empty() || v[0] != '/') return std::nullopt;
    while (v.size() > 1 && v.back() == '/') v.pop_back();
    return v;
  }
  return std::nullopt;
}

std::string ExecutableDir() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::current_path(ec).string();
  return exe.parent_path().string();
}

std::string DefaultFolder(TSystemFolder kind) {
  const std::string home = HomeDir();
  switch (kind) {
    case TSystemFolder::Home: return EnvOr("XDG_DATA_HOME", home + "/.local/share");
    case TSystemFolder::Documents: return UserDir("XDG_DOCUMENTS_DIR").value_or(home + "/Documents");
    case TSystemFolder::Public: return UserDir("XDG_PUBLICSHARE_DIR").value_or(home + "/Public");
    case TSystemFolder::Downloads: return UserDir("XDG_DOWNLOAD_DIR").value_or(home + "/Downloads");
    case TSystemFolder::Temp: {
      std::string t = EnvOr("TMPDIR", "/tmp");
      while (t.size() > 1 && t.back() == '/') t.pop_back();
      return t;
    }
    case TSystemFolder::Executable: return ExecutableDir();
  }
  return home;
}

constexpr size_t kFolderCount = 6;

struct FolderOverrides {
  std::mutex Lock;
  std::array<std::optional<std::string>, kFolderCount> Values;
};

FolderOverrides& Overrides() {
  static FolderOverrides o;
  return o;
}

size_t FolderIndex(TSystemFolder kind) {
  const auto i = static_cast<size_t>(kind);
  if (i >= kFolderCount) throw EArgumentOutOfRangeException("Unknown system folder");
  return i;
}

// ---- path text ----

// Index just past the last separator (0 when none).
size_t NameStart(std::string_view path) {
  for (size_t i = path.size(); i > 0; --i)
    if (TPath::IsPathDelimiter(path[i - 1])) return i;
  return 0;
}

// Index of the extension's dot inside the file-name part, npos when none.
size_t ExtensionDot(std::string_view path) {
  const size_t start = NameStart(path);
  const size_t dot = path.rfind('.');
  return (dot == std::string_view::npos || dot < start) ? std::string_view::npos : dot;
}

[[noreturn]] void RaiseIO(const std::error_code& ec, std::string_view what) {
  throw EInOutError(std::string(what) + ": " + ec.message());
}

}  // namespace

// ---- SystemFolders ----

std::string SystemFolders::Get(TSystemFolder kind) {
  const size_t i = FolderIndex(kind);
  {
    std::lock_guard<std::mutex> g(Overrides().Lock);
    if (Overrides().Values[i]) return *Overrides().Values[i];
  }
  return DefaultFolder(kind);
}

void SystemFolders::Set(TSystemFolder kind, const std::string& path) {
  const size_t i = FolderIndex(kind);
  std::lock_guard<std::mutex> g(Overrides().Lock);
  Overrides().Values[i] = path;
}

void SystemFolders::Reset(TSystemFolder kind) {
  const size_t i = FolderIndex(kind);
  std::lock_guard<std::mutex> g(Overrides().Lock);
  Overrides().Values[i].reset();
}

void SystemFolders::Reset() {
  std::lock_guard<std::mutex> g(Overrides().Lock);
  for (auto& v : Overrides().Values) v.reset();
}

// ---- TPath ----

std::string TPath::ToPosix(std::string_view path) {
  std::string r(path);
  std::replace(r.begin(), r.end(), '\\', '/');
  return r;
}

bool TPath::IsPathRooted(std::string_view path) {
  if (path.empty()) return false;
  if (IsPathDelimiter(path[0])) return true;
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string TPath::Combine(std::string_view path1, std::string_view path2) {
  if (path1.empty() || IsPathRooted(path2)) return std::string(path2);
  if (path2.empty()) return std::string(path1);
  std::string r(path1);
  if (!IsPathDelimiter(r.back())) {
    const bool windowsStyle = r.find('\\') != std::string::npos && r.find('/') == std::string::npos;
    r += windowsStyle ? '\\' : '/';
  }
  r += path2;
  return r;
}

std::string TPath::GetFileName(std::string_view path) { return std::string(path.substr(NameStart(path))); }

std::string TPath::GetFileNameWithoutExtension(std::string_view path) {
  const size_t start = NameStart(path);
  const size_t dot = ExtensionDot(path);
  return std::string(path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
}

std::string TPath::GetExtension(std::string_view path) {
  const size_t dot = ExtensionDot(path);
  return dot == std::string_view::npos ? std::string() : std::string(path.substr(dot));
}

std::string TPath::GetDirectoryName(std::string_view path) {
  const size_t start = NameStart(path);
  if (start == 0) return {};
  size_t end = start - 1;  // the separator
  while (end > 0 && IsPathDelimiter(path[end - 1])) --end;
  if (end == 0) return std::string(1, path[0]);  // a file at the root keeps the root
  return std::string(path.substr(0, end));
}

std::string TPath::ChangeExtension(std::string_view path, std::string_view ext) {
  const size_t dot = ExtensionDot(path);
  std::string r(path.substr(0, dot));
  if (!ext.empty()) {
    if (ext[0] != '.') r += '.';
    r += ext;
  }
  return r;
}

std::string TPath::IncludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  if (r.empty() || !IsPathDelimiter(r.back())) {
    const bool windowsStyle = r.find('\\') != std::string::npos && r.find('/') == std::string::npos;
    r += windowsStyle ? '\\' : '/';
  }
  return r;
}

std::string TPath::ExcludeTrailingPathDelimiter(std::string_view path) {
  std::string r(path);
  while (r.size() > 1 && IsPathDelimiter(r.back())) r.pop_back();
  return r;
}

std::string TPath::GetFullPath(std::string_view path) {
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(ToPosix(path)), ec);
  if (ec) RaiseIO(ec, "Cannot resolve \"" + std::string(path) + "\"");
  std::string r = p.lexically_normal().string();
  if (r.size() > 1 && r.back() == '/') r.pop_back();
  return r;
}

std::string TPath::ResolveCaseInsensitive(std::string_view path) {
  const std::string posix = ToPosix(path);
  std::error_code ec;
  if (posix.empty() || fs::exists(posix, ec)) return posix.empty() ? std::string(path) : posix;
  fs::path current = posix[0] == '/' ? fs::path("/") : fs::path();
  for (const fs::path& part : fs::path(posix).relative_path()) {
    const std::string name = part.string();
    fs::path exact = current / part;
    if (name == "." || name == ".." || fs::exists(exact, ec)) {
      current = exact;
      continue;
    }
    const fs::path dir = current.empty() ? fs::path(".") : current;
    bool found = false;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string candidate = it->path().filename().string();
      if (SameText(candidate, name)) {
        current /= candidate;
        found = true;
        break;
      }
    }
    if (!found) return std::string(path);
  }
  return current.string();
}

// ---- TFile ----

bool TFile::Exists(std::string_view path) {
  std::error_code ec;
  const auto st = fs::status(TPath::ToPosix(path), ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

void TFile::Delete(std::string_view path) {
  const std::string p = TPath::ToPosix(path);
  std::error_code ec;
  if (fs::is_directory(p, ec)) throw EInOutError("Cannot delete \"" + std::string(path) + "\": Is a directory");
  if (::unlink(p.c_str()) != 0 && errno != ENOENT)
    RaiseIO(std::error_code(errno, std::generic_category()), "Cannot delete \"" + std::string(path) + "\"");
}

void TFile::Copy(std::string_view source, std::string_view dest, bool overwrite) {
  std::error_code ec;
  const auto opt = overwrite ? fs::copy_options::overwrite_existing : fs::copy_options::none;
  if (!fs::copy_file(TPath::ToPosix(source), TPath::ToPosix(dest), opt, ec) || ec) {
    if (!ec) ec = std::make_error_code(std::errc::file_exists);
    RaiseIO(ec, "Cannot copy \"" + std::string(source) + "\" to \"" + std::string(dest) + "\"");
  }
}

void TFile::Move(std::string_view source, std::string_view dest) {
  std::error_code ec;
  fs::rename(TPath::ToPosix(source), TPath::ToPosix(dest), ec);
  if (ec) RaiseIO(ec, "Cannot move \"" + std::string(source) + "\" to \"" + std::string(dest) + "\"");
}

int64_t TFile::GetSize(std::string_view path) {
  TFileStream fs(std::string(path), fmOpenRead | fmShareDenyNone);
  return fs.GetSize();
}

TBytes TFile::ReadAllBytes(std::string_view path) {
  TFileStream fs(std::string(path), fmOpenRead | fmShareDenyWrite);
  TBytes bytes(static_cast<size_t>(fs.GetSize()));
  fs.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  return bytes;
}

void TFile::WriteAllBytes(std::string_view path, const void* data, size_t size) {
  TFileStream fs(std::string(path), fmCreate);
  fs.WriteBuffer(data, static_cast<int64_t>(size));
}

std::string TFile::ReadAllText(std::string_view path) { return ReadAllText(path, TEncoding::UTF8()); }

std::string TFile::ReadAllText(std::string_view path, const TEncoding& encoding) {
  const TBytes bytes = ReadAllBytes(path);
  const TEncoding* enc = &encoding;
  const size_t bom = TEncoding::GetBufferEncoding(bytes.data(), bytes.size(), enc);
  return enc->GetString(bytes.data() + bom, bytes.size() - bom);
}


void TFile::WriteAllText(std::string_view path, std::string_view text) {
  WriteAllBytes(path, text.data(), text.size());
}

void TFile::WriteAllText(std::string_view path, std::string_view text, const TEncoding& encoding) {
  TFileStream fs(std::string(path), fmCreate);
  const TBytes preamble = encoding.GetPreamble();
  const TBytes body = encoding.GetBytes(text);
  fs.WriteBuffer(preamble.data(), static_cast<int64_t>(preamble.size()));
  fs.WriteBuffer(body.data(), static_cast<int64_t>(body.size()));
}

// ---- TDirectory ----

bool TDirectory::Exists(std::string_view path) {
  std::error_code ec;
  return fs::is_directory(TPath::ToPosix(path), ec);
}

void TDirectory::CreateDirectory(std::string_view path) {
  std::error_code ec;
  const std::string p = TPath::ToPosix(path);
  fs::create_directories(p, ec);
  if (ec || !fs::is_directory(p)) {
    if (!ec) ec = std::make_error_code(std::errc::not_a_directory);
    RaiseIO(ec, "Cannot create directory \"" + std::string(path) + "\"");
  }
}

void TDirectory::Delete(std::string_view path, bool recursive) {
  std::error_code ec;
  const std::string p = TPath::ToPosix(path);
  if (!fs::exists(p, ec)) return;
  if (!fs::is_directory(p, ec)) throw EInOutError("Cannot delete \"" + std::string(path) + "\": Not a directory");
  if (recursive) fs::remove_all(p, ec);
  else fs::remove(p, ec);
  if (ec) RaiseIO(ec, "Cannot delete directory \"" + std::string(path) + "\"");
}

std::vector<std::string> TDirectory::GetFiles(std::string_view path, std::string_view pattern) {
  std::vector<std::string> result;
  const std::string pat(pattern);
  std::error_code ec;
  const fs::path dir(TPath::ToPosix(path));
  fs::directory_iterator it(dir, ec);
  if (ec) RaiseIO(ec, "Cannot list \"" + std::string(path) + "\"");
  for (fs::directory_iterator end; it != end; it.increment(ec)) {
    if (ec) RaiseIO(ec, "Cannot list \"" + std::string(path) + "\"");
    std::error_code sec;
    if (!it->is_regular_file(sec)) continue;
    const std::string name = it->path().filename().string();
    if (::fnmatch(pat.c_str(), name.c_str(), 0) == 0) result.push_back(it->path().string());
  }
  std::sort(result.begin(), result.end());
  return result;
}

}  // namespace quorvel
