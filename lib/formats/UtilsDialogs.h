#pragma once
// Unit Quorvel.Utils.Dialogs: the windows the engine opens while a form is designed or a
// model loads. The log window is in LoggingForm.h; here are the modal progress window, which
// runs a job on the main thread while it is shown, and the dialog that edits a model's load
// options before the load. Both are built in code and live for one call.
#include <functional>
#include <memory>
#include <string>

#include "framework/gui/Form.h"
#include "framework/gui/ListBox.h"
#include "framework/gui/StdCtrls.h"
#include "lib/defs/DefTypesLoadOptions.h"
#include "lib/formats/LoggingForm.h"

namespace quorvel {

class TTask;
class TProgressForm;
using TProgressProc = std::function<void(TProgressForm* AForm)>;

class TProgressForm : public TForm {
  FW_CLASS(TProgressForm, TForm)

public:
  static constexpr int32_t DefaultWidth = 400;
  static constexpr int32_t DefaultHeight = 168;
  // How long the window shows before the job runs.
  static constexpr int32_t JobDelayMs = 1000;

  explicit TProgressForm(TComponent* AOwner);

  // Shows a modal window with AText and runs AProc with it on the main thread, JobDelayMs
  // after the window showed (waited on a pool thread, on Clock()). Errors of the run-time's
  // Exception kind go to the debug log as "<ERROR> " and the message and to a message box;
  // the label then reads "Done" and the window closes with mrOk. Any other exception closes
  // the window (mrAbort) and passes on to the caller. Returns when the job is done, also
  // when the window was closed before. Called off the main thread, it runs there
  // (Synchronize).
  static void Open(const std::string& AText, TProgressProc AProc);

  TLabel* GetLabel() const { return FLabel; }
  const std::string& GetText() const { return FLabel->GetText(); }
  void SetText(const std::string& Value) { FLabel->SetText(Value); }

protected:
  void DoShow() override;

private:
  void RunJob();

  TLabel* FLabel = nullptr;
  TProgressProc FProc;
  std::shared_ptr<TTask> FTask;
};

class TLoadOptionsForm : public TForm {
  FW_CLASS(TLoadOptionsForm, TForm)

public:
  static constexpr int32_t DefaultWidth = 640;
  static constexpr int32_t DefaultHeight = 860;
  static constexpr float Gap = 8;
  static constexpr float ControlHeight = 32;

  explicit TLoadOptionsForm(TComponent* AOwner);

  // Shows the dialog modally on a copy of AOpts and answers the edited options; however the
  // window closes, the controls are written back. Fields the dialog does not show are those
  // of AOpts.
  static TQuorvelLoadOptions Execute(const TQuorvelLoadOptions& AOpts);

  // What the dialog shows the options as and writes them back from.
  void LoadFrom(const TQuorvelLoadOptions& AOpts);
  void StoreTo(TQuorvelLoadOptions& AOpts) const;

  // Appends the files the open dialog answers to the animation list.
  void AddAnimation();
  // Deletes the list's selected entry; nothing without a selection.
  void RemoveAnimation();

  TEdit* GetFilename() const { return FFilename; }
  TCheckBox* GetImportLights() const { return FImportLights; }
  TCheckBox* GetImportCameras() const { return FImportCameras; }
  TComboBox* GetTextureLimits() const { return FTextureLimits; }
  TCheckBox* GetImportAnims() const { return FImportAnims; }
  TComboBox* GetCaching() const { return FCaching; }
  TCheckBox* GetCompressedCache() const { return FCompressedCache; }
  TListBox* GetAnimationList() const { return FAnimationList; }
  TButton* GetRemAnimBtn() const { return FRemAnimBtn; }
  TButton* GetAddAnimBtn() const { return FAddAnimBtn; }
  TButton* GetOKButton() const { return FOKButton; }

protected:
  void DoShow() override;

private:
  TGroupBox* FFileGroup = nullptr;
  TEdit* FFilename = nullptr;
  TGroupBox* FImportGroup = nullptr;
  TCheckBox* FImportLights = nullptr;
  TCheckBox* FImportCameras = nullptr;
  TGroupBox* FTexGroup = nullptr;
  TComboBox* FTextureLimits = nullptr;
  TGroupBox* FAnimGroup = nullptr;
  TCheckBox* FImportAnims = nullptr;
  TComboBox* FCaching = nullptr;
  TCheckBox* FCompressedCache = nullptr;
  TGroupBox* FAnimSubGroup = nullptr;
  TListBox* FAnimationList = nullptr;
  TButton* FRemAnimBtn = nullptr;
  TButton* FAddAnimBtn = nullptr;
  TButton* FOKButton = nullptr;
};

}  // namespace quorvel
