#pragma once
// Message boxes and the file-open dialog. Headless (no display, the offscreen/dummy video
// driver, or CI set in the environment) message boxes go to the debug log instead, so
// nothing ever blocks a test or a CI run. The window system here has no file chooser of its
// own: TOpenDialog asks a handler that the program (or a test) installs.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/rtl/Set.h"

namespace quorvel {

void ShowMessage(const std::string& Msg);

// Replaces how ShowMessage shows its text (tests); an empty handler restores the default.
using TShowMessageHandler = std::function<void(const std::string& Msg)>;
TShowMessageHandler SetShowMessageHandler(TShowMessageHandler Handler);

// Whether messages go to the log instead of a window.
bool IsHeadless();

enum TOpenOption : uint8_t {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
  ofNoNetworkButton,
  ofNoLongNames,
  ofOldStyleDialog,
  ofNoDereferenceLinks,
  ofEnableIncludeNotify,
  ofEnableSizing,
  ofDontAddToRecent,
  ofForceShowHidden
};
FW_ENUM(TOpenOption, ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate,
        ofAllowMultiSelect, ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt, ofShareAware,
        ofNoReadOnlyReturn, ofNoTestFileCreate, ofNoNetworkButton, ofNoLongNames, ofOldStyleDialog,
        ofNoDereferenceLinks, ofEnableIncludeNotify, ofEnableSizing, ofDontAddToRecent, ofForceShowHidden)
using TOpenOptions = TSet<TOpenOption>;

class TOpenDialog;
// Chooses files for an open dialog: fills its Files (and FileName) and answers True, or
// answers False when the user cancelled.
using TOpenDialogHandler = std::function<bool(TOpenDialog& Dialog)>;
// Installs the chooser; answers the previous one. An empty handler removes it.
TOpenDialogHandler SetOpenDialogHandler(TOpenDialogHandler Handler);

class TOpenDialog : public TComponent {
  FW_CLASS(TOpenDialog, TComponent)

public:
  explicit TOpenDialog(TComponent* AOwner);

  const std::string& GetTitle() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }
  const std::string& GetDefaultExt() const { return FDefaultExt; }
  void SetDefaultExt(const std::string& Value) { FDefaultExt = Value; }
  const std::string& GetFilter() const { return FFilter; }
  void SetFilter(const std::string& Value) { FFilter = Value; }
  const std::string& GetInitialDir() const { return FInitialDir; }
  void SetInitialDir(const std::string& Value) { FInitialDir = Value; }
  TOpenOptions GetOptions() const { return FOptions; }
  void SetOptions(TOpenOptions Value) { FOptions = Value; }
  // The first chosen file; Files holds every chosen file in the order chosen.
  const std::string& GetFileName() const { return FFileName; }
  void SetFileName(const std::string& Value) { FFileName = Value; }
  std::vector<std::string>& Files() { return FFiles; }

  // Asks the installed handler. Files is emptied first; FileName becomes the first chosen
  // file. Without a handler it logs one line and answers False. With ofFileMustExist
  // (ofPathMustExist) a chosen file that does not exist (or whose folder does not) drops
  // out; nothing left answers False.
  bool Execute();

private:
  std::string FTitle;
  std::string FDefaultExt;
  std::string FFilter;
  std::string FInitialDir;
  std::string FFileName;
  TOpenOptions FOptions{ofHideReadOnly, ofEnableSizing};
  std::vector<std::string> FFiles;
};

}  // namespace quorvel
