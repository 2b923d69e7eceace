#include "lib/formats/assets/AssetsArchives.h"

#include <sys/stat.h>
#include <unistd.h>

#include "framework/io/Path.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/SysUtils.h"
#include "lib/formats/assets/AssetsManager.h"
#include "lib/formats/assets/UtilsZip.h"

namespace quorvel {

namespace {

constexpr int64_t CopyBlock = 1 << 20;

// ACount bytes (all that is left when negative) from ASource's position to ADest's.
void CopyStream(TStream* ASource, TStream* ADest, int64_t ACount = -1) {
  if (ACount < 0) ACount = ASource->GetSize() - ASource->GetPosition();
  TBytes block(static_cast<size_t>(std::min(ACount, CopyBlock)));
  while (ACount > 0) {
    const int64_t n = std::min<int64_t>(ACount, static_cast<int64_t>(block.size()));
    ASource->ReadBuffer(block.data(), n);
    ADest->WriteBuffer(block.data(), n);
    ACount -= n;
  }
}

void CopyToNewFile(TStream* ASource, const std::string& AFilename) {
  TFile::Delete(AFilename);  // a file that cannot be deleted raises EInOutError
  TFileStream dest(AFilename, fmCreate);
  ASource->SetPosition(0);
  CopyStream(ASource, &dest);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TQuorvelArchiveReference

TQuorvelArchiveReference::TQuorvelArchiveReference(TQuorvelAssetsManager* AMngr, TQuorvelArchiveReferences* ARegistry,
                                                   std::string AId)
    : FManager(AMngr), FRegistry(ARegistry), FId(std::move(AId)) {}

TQuorvelArchiveReference::~TQuorvelArchiveReference() { FreeArchive(); }

void TQuorvelArchiveReference::FreeArchive() {
  if (!FArchive) return;
  Quietly("archive reference: closing", [&] { FArchive->Close(); });
  FreeQuietlyAndNil(FArchive, "archive");
}

bool TQuorvelArchiveReference::GetIsOpened() const {
  TMonitorGuard lock(this);
  // Between operations the archive is only kept for the next one (see Close).
  return FOpenCount > 0 && FArchive && FArchive->GetMode() != zmClosed;
}

void TQuorvelArchiveReference::IncRef() { ++FRefCount; }

void TQuorvelArchiveReference::DecRef() {
  if (FRegistry) {
    FRegistry->Release(this);
    return;
  }
  --FRefCount;
}

void TQuorvelArchiveReference::Open() { ++FOpenCount; }

void TQuorvelArchiveReference::Close() {
  TMonitorGuard lock(this);
  // Inside an outer Open (a session of several operations) the archive stays open: its
  // directory is written once, when the outermost Close comes.
  if (--FOpenCount > 0) return;
  FOpenCount = 0;
  if (!FArchive) return;
  // The changes are written (the file or stream is a complete archive again), but the
  // archive stays read: the next operation then starts from the directory held here instead
  // of reading and checking the whole archive again, unless the stream changed meanwhile.
  try {
    FArchive->Flush();
  } catch (...) {
    FreeQuietlyAndNil(FArchive, "archive");
    throw;
  }
}

bool TQuorvelArchiveReference::HeldArchiveIsCurrent() const {
  return FArchive && FArchive->GetMode() != zmClosed && FArchive->IsCurrent();
}

void TQuorvelArchiveReference::CloseArchive() {
  TMonitorGuard lock(this);
  if (FArchive) FArchive->Close();
  --FOpenCount;
}

bool TQuorvelArchiveReference::FileExists(const std::string& AFile) {
  TMonitorGuard lock(this);
  Open();
  auto close = Finally([&] { Close(); });
  return FArchive && FArchive->IndexOf(AFile) >= 0;
}

void TQuorvelArchiveReference::AddFromStream(TStream* AStream, const std::string& APath) {
  TMonitorGuard lock(this);
  CheckWritable();
  Open();
  bool closed = false;
  auto close = Finally([&] {
    if (!closed) Quietly("archive reference: closing after a failed add", [&] { Close(); });
  });
  FArchive->Add(AStream, APath, zcDeflate);
  closed = true;
  Close();  // a failing write is the caller's error
}

void TQuorvelArchiveReference::ReadToStream(const std::string& APath, TStream* AStream, TZipHeader& AHeader) {
  if (!AStream) return;
  TMonitorGuard lock(this);
  Open();
  auto close = Finally([&] { Quietly("archive reference: closing after a read", [&] { Close(); }); });
  AHeader = TZipHeader();
  TStream* data = nullptr;
  FArchive->Read(APath, data, AHeader);
  TOwned<TStream> owned(data);
  data->SetPosition(0);
  CopyStream(data, AStream, data->GetSize());
  AStream->SetPosition(0);
}

void TQuorvelArchiveReference::DeleteFile(const std::string& AFile) {
  TMonitorGuard lock(this);
  Open();
  bool closed = false;
  auto close = Finally([&] {
    if (!closed) Quietly("archive reference: closing after a failed delete", [&] { Close(); });
  });
  if (FArchive && FArchive->IndexOf(AFile) >= 0) {
    CheckWritable();
    DeleteZipEntry(FArchive, AFile);
  }
  closed = true;
  Close();
}

std::vector<std::string> TQuorvelArchiveReference::GetFileNames() {
  TMonitorGuard lock(this);
  Open();
  auto close = Finally([&] { Quietly("archive reference: closing after listing", [&] { Close(); }); });
  return FArchive ? FArchive->GetFileNames() : std::vector<std::string>();
}

void TQuorvelArchiveReference::StoreGroups(TQuorvelAssetsPackage* APckg) {
  if (!APckg) return;
  TMonitorGuard lock(this);
  InSession(this, [&] {
    for (int32_t i = 0; i < APckg->GroupCount(); ++i) APckg->GetGroups()->Group(i)->StoreToArchive(this);
  });
}

void TQuorvelArchiveReference::SaveToFile(TQuorvelAssetsPackage* APckg, const std::string&) { StoreGroups(APckg); }

void TQuorvelArchiveReference::SaveToStream(TQuorvelAssetsPackage* APckg, TStream*) { StoreGroups(APckg); }

// ---------------------------------------------------------------------------------------
// TQuorvelFileArchiveReference

TQuorvelFileArchiveReference::~TQuorvelFileArchiveReference() {
  FreeArchive();
  FreeQuietlyAndNil(FStream, "archive file");
}

bool TQuorvelFileArchiveReference::IsReadOnlyFile() const {
  return TFile::Exists(FId) && ::access(FId.c_str(), W_OK) != 0;
}

TFileStream* TQuorvelFileArchiveReference::CreateFileStream() const {
  if (IsReadOnlyFile()) return New<TFileStream>(FId, uint16_t(fmOpenRead | fmShareDenyNone));
  return New<TFileStream>(FId, TFile::Exists(FId) ? uint16_t(fmOpenReadWrite | fmShareDenyNone) : uint16_t(fmCreate));
}

void TQuorvelFileArchiveReference::CheckWritable() const {
  if (IsReadOnlyFile())
    throw Exception(Format("Cannot write package \"%s\": the file is read only", {FId}));
}

void TQuorvelFileArchiveReference::Open() {
  TQuorvelArchiveReference::Open();
  TMonitorGuard lock(this);
  if (FOpenCount > 1 && FArchive && FArchive->GetMode() != zmClosed) return;  // inside a session
  if (HeldArchiveIsCurrent() && StreamIsTheFile()) return;
  // Someone else changed or replaced the file since: it is read anew.
  FreeArchive();
  FreeQuietlyAndNil(FStream, "archive file");
  if (!FStream) FStream = CreateFileStream();
  if (!FArchive) FArchive = New<TZipFile>();
  try {
    FArchive->Open(FStream, IsReadOnlyFile() ? zmRead : zmReadWrite);
  } catch (...) {
    --FOpenCount;  // no Close follows a failed Open
    FreeQuietlyAndNil(FArchive, "archive");
    FreeQuietlyAndNil(FStream, "archive file");
    throw;
  }
}

void TQuorvelFileArchiveReference::Close() {
  auto free = Finally([&] {
    TMonitorGuard lock(this);
    if (!FArchive) FreeQuietlyAndNil(FStream, "archive file");
  });
  TQuorvelArchiveReference::Close();
}

bool TQuorvelFileArchiveReference::StreamIsTheFile() const {
  if (!FStream) return false;
  struct stat named {}, held {};
  if (::stat(FId.c_str(), &named) != 0 || ::fstat(FStream->GetHandle(), &held) != 0) return false;
  return named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

void TQuorvelFileArchiveReference::SaveToFile(TQuorvelAssetsPackage* APckg, const std::string& AFilename) {
  TQuorvelArchiveReference::SaveToFile(APckg, AFilename);
  if (AFilename == FId) return;
  TMonitorGuard lock(this);
  TOwned<TFileStream> source(CreateFileStream());
  CopyToNewFile(source.get(), AFilename);
}

void TQuorvelFileArchiveReference::SaveToStream(TQuorvelAssetsPackage* APckg, TStream* AStream) {
  TQuorvelArchiveReference::SaveToStream(APckg, AStream);
  if (!AStream) return;
  TMonitorGuard lock(this);
  TOwned<TFileStream> source(CreateFileStream());
  CopyStream(source.get(), AStream);
}

// ---------------------------------------------------------------------------------------
// TQuorvelInMemoryArchiveReference

TQuorvelInMemoryArchiveReference::~TQuorvelInMemoryArchiveReference() {
  TMemoryStream* stream = nullptr;
  {
    TMonitorGuard lock(this);
    FreeArchive();  // the archive closes on the stream before the stream goes
    stream = FStream;
    FStream = nullptr;
  }
  FreeQuietly(stream, "archive memory");
}

void TQuorvelInMemoryArchiveReference::Open() {
  TQuorvelArchiveReference::Open();
  TMonitorGuard lock(this);
  if (FOpenCount > 1 && FArchive && FArchive->GetMode() != zmClosed) return;  // inside a session
  if (HeldArchiveIsCurrent()) return;
  FreeArchive();
  if (!FStream) FStream = New<TMemoryStream>();
  if (!FArchive) FArchive = New<TZipFile>();
  try {
    FArchive->Open(FStream, zmReadWrite);
  } catch (...) {
    --FOpenCount;  // no Close follows a failed Open
    FreeQuietlyAndNil(FArchive, "archive");
    throw;
  }
}

void TQuorvelInMemoryArchiveReference::Close() {
  TQuorvelArchiveReference::Close();
  TMonitorGuard lock(this);
  if (FStream) FStream->SetPosition(0);
}

void TQuorvelInMemoryArchiveReference::ApplyStream(TStream* AStream) {
  if (!AStream) return;
  TMonitorGuard lock(this);
  FreeArchive();  // it read the bytes being replaced
  if (!FStream) FStream = New<TMemoryStream>();
  FStream->SetPosition(0);
  const int64_t count = AStream->GetSize() - AStream->GetPosition();
  CopyStream(AStream, FStream, count);
  FStream->SetSize(count);  // a longer old archive must not leave its tail behind
  FStream->SetPosition(0);
}

void TQuorvelInMemoryArchiveReference::SaveToFile(TQuorvelAssetsPackage* APckg, const std::string& AFilename) {
  TQuorvelArchiveReference::SaveToFile(APckg, AFilename);
  TMonitorGuard lock(this);
  if (!FStream) return;
  auto rewind = Finally([&] { FStream->SetPosition(0); });
  CopyToNewFile(FStream, AFilename);
}

void TQuorvelInMemoryArchiveReference::SaveToStream(TQuorvelAssetsPackage* APckg, TStream* AStream) {
  TQuorvelArchiveReference::SaveToStream(APckg, AStream);
  TMonitorGuard lock(this);
  if (!FStream || !AStream) return;
  auto rewind = Finally([&] { FStream->SetPosition(0); });
  FStream->SetPosition(0);
  CopyStream(FStream, AStream);
}

// ---------------------------------------------------------------------------------------
// TQuorvelArchiveReferences

TQuorvelArchiveReferences::TQuorvelArchiveReferences(TQuorvelAssetsManager* AMngr) : FManager(AMngr) {}

TQuorvelArchiveReferences::~TQuorvelArchiveReferences() { Quietly("archive registry: clearing", [&] { ClearArchives(); }); }

bool TQuorvelArchiveReferences::ArchiveExists(const std::string& AId) const {
  TMonitorGuard lock(this);
  return FItems.count(AId) > 0;
}

TQuorvelArchiveReference* TQuorvelArchiveReferences::GetArchive(const std::string& AId) const {
  TMonitorGuard lock(this);
  const auto it = FItems.find(AId);
  return it == FItems.end() ? nullptr : it->second;
}

int32_t TQuorvelArchiveReferences::Count() const {
  TMonitorGuard lock(this);
  return static_cast<int32_t>(FItems.size());
}

TQuorvelArchiveReference* TQuorvelArchiveReferences::CreateArchiveByFilename(const std::string& AFileName) {
  TMonitorGuard lock(this);
  TQuorvelArchiveReference*& slot = FItems[AFileName];
  if (!slot) slot = New<TQuorvelFileArchiveReference>(FManager, this, AFileName);
  slot->IncRef();
  return slot;
}

TQuorvelArchiveReference* TQuorvelArchiveReferences::CreateArchiveByStream(const std::string& AId, TStream* AStream) {
  TMonitorGuard lock(this);
  if (const auto it = FItems.find(AId); it != FItems.end()) {
    it->second->IncRef();
    return it->second;
  }
  TOwned<TQuorvelInMemoryArchiveReference> ref(New<TQuorvelInMemoryArchiveReference>(FManager, this, AId));
  ref->ApplyStream(AStream);
  ref->IncRef();
  FItems[AId] = ref.get();
  return ref.release();
}

TQuorvelArchiveReference* TQuorvelArchiveReferences::CreateArchiveInMemory(const std::string& AId) {
  return CreateArchiveByStream(AId, nullptr);
}

void TQuorvelArchiveReferences::Release(TQuorvelArchiveReference* ARef) {
  TMonitorGuard lock(this);
  if (--ARef->FRefCount <= 0) CloseArchive(ARef->FId);
}

void TQuorvelArchiveReferences::CloseArchive(const std::string& AId) {
  TMonitorGuard lock(this);
  const auto it = FItems.find(AId);
  if (it == FItems.end()) return;
  TQuorvelArchiveReference* ref = it->second;
  FItems.erase(it);
  Free(ref);
}

void TQuorvelArchiveReferences::ClearArchives() {
  TMonitorGuard lock(this);
  while (!FItems.empty()) CloseArchive(FItems.begin()->first);
}

}  // namespace quorvel
