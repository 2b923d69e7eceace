#include "lib/formats/UtilsDialogs.h"

#include <memory>

#include "framework/gui/Application.h"
#include "framework/gui/Dialogs.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Task.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

// The options the dialog edits; written when the dialog closes.
std::unique_ptr<TQuorvelLoadOptions>& EditedOptions() {
  static std::unique_ptr<TQuorvelLoadOptions> options;
  return options;
}

void InitUtilsDialogsUnit() { RegisterClasses({TProgressForm::StaticClass(), TLoadOptionsForm::StaticClass()}); }
void FinUtilsDialogsUnit() {
  EditedOptions().reset();
  UnRegisterClasses({TProgressForm::StaticClass(), TLoadOptionsForm::StaticClass()});
}
const TUnitRegistration UtilsDialogsUnit{{"Quorvel.Utils.Dialogs", {"Fw.ListBox", "Quorvel.Utils.Dialogs.Log"}, &InitUtilsDialogsUnit, &FinUtilsDialogsUnit}};

const char* const kTextureItems[] = {"Unlimited",      "128 x 128 px",   "256 x 256 px",  "512 x 512 px",
                                     "1024 x 1024 px", "2048 x 2048 px", "4096 x 4096 px"};
const int32_t kTextureSizes[] = {0, 128, 256, 512, 1024, 2048, 4096};
const char* const kCachingItems[] = {"No Caching", "All Attributes", "VertexPosition Only"};

template <class T>
T* Make(TComponent* AOwner, TControl* AParent, const char* AName, TAlignLayout AAlign, float AHeight) {
  T* control = New<T>(AOwner);
  control->SetName(AName);
  control->GetMargins()->SetAll(TLoadOptionsForm::Gap);
  control->SetHeight(AHeight);
  control->SetParent(AParent);
  control->SetAlign(AAlign);
  return control;
}

}  // namespace

// ---- TProgressForm -------------------------------------------------------------------------

FW_CLASS_NO_MEMBERS(TProgressForm)
FW_CLASS_IMPL(TProgressForm, "Quorvel.Utils.Dialogs")

TProgressForm::TProgressForm(TComponent* AOwner) : TForm(AOwner) {
  SetBorderStyle(TFmxFormBorderStyle::Single);
  SetBorderIcons({});
  SetClientWidth(DefaultWidth);
  SetClientHeight(DefaultHeight);
  SetFormPosition(TFormPosition::ScreenCenter);
  FLabel = New<TLabel>(this);
  FLabel->SetName("Label");
  FLabel->SetParent(this);
  FLabel->SetAlign(TAlignLayout::Client);
  FLabel->SetTextAlign(TTextAlign::Center);
  FLabel->SetVertTextAlign(TTextAlign::Center);
  OnClose = [](TObject*, TCloseAction& Action) { Action = caHide; };
}

void TProgressForm::Open(const std::string& AText, TProgressProc AProc) {
  // Windows live on the main thread: a worker's load waits there.
  if (!IsMainThread()) {
    TThread::Synchronize(nullptr, [&] { Open(AText, std::move(AProc)); });
    return;
  }
  TOwned<TProgressForm> form(New<TProgressForm>(nullptr));
  form->SetCaption(AText);
  form->FLabel->SetText(AText);
  form->FProc = std::move(AProc);
  try {
    form->ShowModal();
  } catch (...) {
    // The job holds the window: it must be done before the window goes.
    if (form->FTask) {
      try {
        form->FTask->Wait();
      } catch (...) {
      }
    }
    throw;
  }
  // Also raises what the job let pass.
  if (form->FTask) form->FTask->Wait();
}

void TProgressForm::DoShow() {
  TForm::DoShow();
  if (FTask) return;
  FTask = TTask::Run([this] {
    TThread::Sleep(JobDelayMs);
    TThread::Synchronize(nullptr, [this] { RunJob(); });
  });
}

void TProgressForm::RunJob() {
  try {
    if (FProc) FProc(this);
  } catch (const Exception& e) {
    Log::d("<ERROR> " + e.Message());
    ShowMessage("<ERROR> " + e.Message());
  } catch (...) {
    SetModalResult(mrAbort);
    throw;
  }
  FLabel->SetText("Done");
  SetModalResult(mrOk);
}

// ---- TLoadOptionsForm ----------------------------------------------------------------------

FW_CLASS_NO_MEMBERS(TLoadOptionsForm)
FW_CLASS_IMPL(TLoadOptionsForm, "Quorvel.Utils.Dialogs")

TLoadOptionsForm::TLoadOptionsForm(TComponent* AOwner) : TForm(AOwner) {
  SetCaption("Load Options ...");
  SetBorderStyle(TFmxFormBorderStyle::Single);
  SetBorderIcons({});
  SetClientWidth(DefaultWidth);
  SetClientHeight(DefaultHeight);
  SetFormPosition(TFormPosition::ScreenCenter);

  FFileGroup = Make<TGroupBox>(this, this, "FileGroup", TAlignLayout::Top, 80);
  FFileGroup->SetText("File");
  FFilename = Make<TEdit>(this, FFileGroup, "Filename", TAlignLayout::Top, ControlHeight);
  FFilename->SetReadOnly(true);

  FTexGroup = Make<TGroupBox>(this, this, "TexGroup", TAlignLayout::Top, 80);
  FTexGroup->SetText("Textures");
  FTextureLimits = Make<TComboBox>(this, FTexGroup, "TextureLimits", TAlignLayout::Top, ControlHeight);
  for (const char* item : kTextureItems) FTextureLimits->GetItems()->Add(item);

  FImportGroup = Make<TGroupBox>(this, this, "ImportGroup", TAlignLayout::Top, 128);
  FImportGroup->SetText("Import");
  FImportLights = Make<TCheckBox>(this, FImportGroup, "ImportLights", TAlignLayout::Top, ControlHeight);
  FImportLights->SetText("Import Lights");
  FImportCameras = Make<TCheckBox>(this, FImportGroup, "ImportCameras", TAlignLayout::Top, ControlHeight);
  FImportCameras->SetText("Import Cameras");

  FAnimGroup = Make<TGroupBox>(this, this, "AnimGroup", TAlignLayout::Top, 420);
  FAnimGroup->SetText("Animations");
  FImportAnims = Make<TCheckBox>(this, FAnimGroup, "ImportAnims", TAlignLayout::Top, ControlHeight);
  FImportAnims->SetText("Import Animations");
  FCaching = Make<TComboBox>(this, FAnimGroup, "Caching", TAlignLayout::Top, ControlHeight);
  for (const char* item : kCachingItems) FCaching->GetItems()->Add(item);
  FCompressedCache = Make<TCheckBox>(this, FAnimGroup, "CompressedCache", TAlignLayout::Top, ControlHeight);
  FCompressedCache->SetText("Compressed Cache");
  FAnimSubGroup = Make<TGroupBox>(this, FAnimGroup, "AnimSubGroup", TAlignLayout::Bottom, 256);
  FAnimSubGroup->SetText("Additional Animations");
  FRemAnimBtn = Make<TButton>(this, FAnimSubGroup, "RemAnimBtn", TAlignLayout::Bottom, ControlHeight);
  FRemAnimBtn->SetText("Remove Animation");
  FRemAnimBtn->OnClick = [this](TObject*) { RemoveAnimation(); };
  FAddAnimBtn = Make<TButton>(this, FAnimSubGroup, "AddAnimBtn", TAlignLayout::Bottom, ControlHeight);
  FAddAnimBtn->SetText("Add Animation");
  FAddAnimBtn->OnClick = [this](TObject*) { AddAnimation(); };
  FAnimationList = Make<TListBox>(this, FAnimSubGroup, "AnimationList", TAlignLayout::Client, ControlHeight);

  FOKButton = Make<TButton>(this, this, "OKButton", TAlignLayout::Bottom, ControlHeight);
  FOKButton->SetText("OK");
  FOKButton->SetModalResult(mrOk);

  // However the window closes, the controls are the answer.
  OnClose = [this](TObject*, TCloseAction& Action) {
    if (!EditedOptions()) EditedOptions() = std::make_unique<TQuorvelLoadOptions>();
    StoreTo(*EditedOptions());
    SetModalResult(mrOk);
    Action = caFree;
  };
}

void TLoadOptionsForm::LoadFrom(const TQuorvelLoadOptions& AOpts) {
  FFilename->SetText(AOpts.FileInfo.PathOrUID);
  // The limits in the options are not shown: the first item whatever they hold.
  FTextureLimits->SetItemIndex(0);
  FImportLights->SetIsChecked(AOpts.ImportLights);
  FImportCameras->SetIsChecked(AOpts.ImportCameras);
  FImportAnims->SetIsChecked(AOpts.ImportAnimations);
  if (AOpts.Caching.Contains(TAnimationCachingFlag::AllAttributes))
    FCaching->SetItemIndex(1);
  else if (AOpts.Caching.Contains(TAnimationCachingFlag::VertexPosition))
    FCaching->SetItemIndex(2);
  else
    FCaching->SetItemIndex(0);
  FCompressedCache->SetIsChecked(AOpts.Caching.Contains(TAnimationCachingFlag::Compressed));
  FAnimationList->GetItems()->Clear();
  FAnimationList->SetItemIndex(-1);
}

void TLoadOptionsForm::StoreTo(TQuorvelLoadOptions& AOpts) const {
  const int32_t limit = FTextureLimits->GetItemIndex();
  const int32_t size = limit >= 0 ? kTextureSizes[limit] : 0;
  AOpts.TextureLimits = TPoint(size, size);
  AOpts.ImportLights = FImportLights->GetIsChecked();
  AOpts.ImportCameras = FImportCameras->GetIsChecked();
  AOpts.ImportAnimations = FImportAnims->GetIsChecked();
  TAnimationCachingFlags caching;
  if (FCaching->GetItemIndex() == 1) caching.Include(TAnimationCachingFlag::AllAttributes);
  if (FCaching->GetItemIndex() == 2) caching.Include(TAnimationCachingFlag::VertexPosition);
  if (FCompressedCache->GetIsChecked()) caching.Include(TAnimationCachingFlag::Compressed);
  AOpts.Caching = caching;
  if (AOpts.ImportAnimations) AOpts.AdditionalAnimations = FAnimationList->GetItems()->ToStringArray();
}

void TLoadOptionsForm::AddAnimation() {
  TOwned<TOpenDialog> dialog(New<TOpenDialog>(nullptr));
  dialog->SetTitle("Select an animation file ...");
  dialog->SetDefaultExt(".dae");
  dialog->SetOptions({ofAllowMultiSelect, ofPathMustExist, ofFileMustExist});
  if (!dialog->Execute()) return;
  for (const std::string& file : dialog->Files()) FAnimationList->GetItems()->Add(file);
  FAnimationList->Repaint();
}

void TLoadOptionsForm::RemoveAnimation() {
  const int32_t index = FAnimationList->GetItemIndex();
  if (index >= 0) FAnimationList->DeleteItem(index);
}

void TLoadOptionsForm::DoShow() {
  TForm::DoShow();
  GetApplication().ProcessMessages();
}

TQuorvelLoadOptions TLoadOptionsForm::Execute(const TQuorvelLoadOptions& AOpts) {
  if (!IsMainThread()) {
    TQuorvelLoadOptions result;
    TThread::Synchronize(nullptr, [&] { result = Execute(AOpts); });
    return result;
  }
  EditedOptions() = std::make_unique<TQuorvelLoadOptions>(AOpts);
  {
    TOwned<TLoadOptionsForm> form(New<TLoadOptionsForm>(nullptr));
    form->LoadFrom(AOpts);
    form->BringToFront();
    form->ShowModal();
  }
  return *EditedOptions();
}

}  // namespace quorvel
