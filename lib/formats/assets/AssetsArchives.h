#pragma once
// The archives behind asset packages: a counted reference to a zip archive in a file or in
// memory, and the registry that holds the references by id. Every operation opens the
// archive, works and closes it again under the reference's lock, so between operations the
// file (or memory stream) is always a complete archive. What the archive read stays held
// between operations, checked against the file or stream at the next one.
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "framework/io/Stream.h"
#include "framework/io/ZipFile.h"
#include "framework/rtl/Object.h"

namespace quorvel {

class TQuorvelAssetsManager;
class TQuorvelAssetsPackage;
class TQuorvelArchiveReferences;

class TQuorvelArchiveReference : public TObject {
public:
  TQuorvelArchiveReference(TQuorvelAssetsManager* AMngr, TQuorvelArchiveReferences* ARegistry, std::string AId);
  ~TQuorvelArchiveReference() override;

  TQuorvelAssetsManager* GetManager() const noexcept { return FManager; }
  const std::string& GetId() const noexcept { return FId; }
  TZipFile* GetArchive() const noexcept { return FArchive; }
  virtual TStream* GetStream() const = 0;
  bool GetIsOpened() const;
  int32_t GetRefCount() const noexcept { return FRefCount.load(); }

  void IncRef();
  // The last hold removes the reference from its registry, which frees it.
  void DecRef();

  // Counted: operations inside an Open ... Close bracket share one open archive.
  virtual void Open();
  // The outermost Close writes the changes (the directory of a changed archive); the archive
  // stays held for the next Open, which uses it while the file or stream is unchanged. An
  // inner Close only counts down.
  virtual void Close();
  // Closes the archive but keeps the object.
  void CloseArchive();

  bool FileExists(const std::string& AFile);
  // The stream's content from its position on becomes entry APath (Deflate).
  void AddFromStream(TStream* AStream, const std::string& APath);
  // Entry APath appended to AStream, which is then rewound; nothing for a null stream. A
  // missing entry raises EZipException.
  void ReadToStream(const std::string& APath, TStream* AStream, TZipHeader& AHeader);
  void DeleteFile(const std::string& AFile);
  std::vector<std::string> GetFileNames();

  // Every group of APckg stores itself (and its assets) into the archive, which the kinds then
  // copy to AFilename / AStream.
  virtual void SaveToFile(TQuorvelAssetsPackage* APckg, const std::string& AFilename);
  virtual void SaveToStream(TQuorvelAssetsPackage* APckg, TStream* AStream);

protected:
  // Raises, naming the archive, when it cannot take changes.
  virtual void CheckWritable() const {}
  void FreeArchive();
  void StoreGroups(TQuorvelAssetsPackage* APckg);
  bool HeldArchiveIsCurrent() const;

  TQuorvelAssetsManager* FManager;      // not owned
  TQuorvelArchiveReferences* FRegistry;  // not owned
  std::string FId;
  std::atomic<int32_t> FRefCount{0};
  std::atomic<int32_t> FOpenCount{0};
  TZipFile* FArchive = nullptr;  // owned, while open

private:
  friend class TQuorvelArchiveReferences;
};

// Runs AWork with the archive held open, so its operations write the directory once, at the
// end. A failure closes quietly and passes on; a failing final write raises.
template <class F>
void InSession(TQuorvelArchiveReference* AArchive, F&& AWork) {
  if (!AArchive) {
    AWork();
    return;
  }
  AArchive->Open();
  try {
    AWork();
  } catch (...) {
    try {
      AArchive->Close();
    } catch (...) {
    }
    throw;
  }
  AArchive->Close();
}

class TQuorvelFileArchiveReference : public TQuorvelArchiveReference {
public:
  using TQuorvelArchiveReference::TQuorvelArchiveReference;
  ~TQuorvelFileArchiveReference() override;

  TStream* GetStream() const override { return FStream; }
  void Open() override;
  void Close() override;
  // Copies the archive file to AFilename unless that is the file itself.
  void SaveToFile(TQuorvelAssetsPackage* APckg, const std::string& AFilename) override;
  void SaveToStream(TQuorvelAssetsPackage* APckg, TStream* AStream) override;
  // The file FId opened read-write, created when missing; read only when the user may not
  // write it.
  TFileStream* CreateFileStream() const;
  // Whether FId exists and the user may not write it: such an archive opens for reading.
  bool IsReadOnlyFile() const;

protected:
  void CheckWritable() const override;

private:
  // Whether FId still names the file held open (not replaced or deleted meanwhile).
  bool StreamIsTheFile() const;
  TFileStream* FStream = nullptr;  // owned, while open
};

class TQuorvelInMemoryArchiveReference : public TQuorvelArchiveReference {
public:
  using TQuorvelArchiveReference::TQuorvelArchiveReference;
  ~TQuorvelInMemoryArchiveReference() override;

  TStream* GetStream() const override { return FStream; }
  void Open() override;
  void Close() override;
  // The memory archive becomes AStream's content from its position on (cut to that length).
  void ApplyStream(TStream* AStream);
  void SaveToFile(TQuorvelAssetsPackage* APckg, const std::string& AFilename) override;
  void SaveToStream(TQuorvelAssetsPackage* APckg, TStream* AStream) override;

private:
  TMemoryStream* FStream = nullptr;  // owned, outlives Close
};

// The references by id (exact comparison); removed references are freed. Every operation
// runs under the registry's lock, the last DecRef of a reference included, so a lookup never
// hands out a reference that is being removed.
class TQuorvelArchiveReferences : public TObject {
public:
  explicit TQuorvelArchiveReferences(TQuorvelAssetsManager* AMngr = nullptr);
  ~TQuorvelArchiveReferences() override;

  bool ArchiveExists(const std::string& AId) const;
  TQuorvelArchiveReference* GetArchive(const std::string& AId) const;
  int32_t Count() const;
  // The held reference counted once more, or a new one counted once.
  TQuorvelArchiveReference* CreateArchiveByFilename(const std::string& AFileName);
  // A held id is counted and returned unchanged (AStream is not applied to it).
  TQuorvelArchiveReference* CreateArchiveByStream(const std::string& AId, TStream* AStream);
  TQuorvelArchiveReference* CreateArchiveInMemory(const std::string& AId);
  void CloseArchive(const std::string& AId);
  void ClearArchives();

private:
  friend class TQuorvelArchiveReference;
  void Release(TQuorvelArchiveReference* ARef);

  TQuorvelAssetsManager* FManager;  // not owned
  std::map<std::string, TQuorvelArchiveReference*> FItems;  // owned
};

}  // namespace quorvel
