#include "framework/gui/Dialogs.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include <filesystem>

#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "framework/classes/Filer.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

std::mutex& HandlerMutex() {
  static std::mutex mutex;
  return mutex;
}

TShowMessageHandler& Handler() {
  static TShowMessageHandler handler;
  return handler;
}

TOpenDialogHandler& OpenHandler() {
  static TOpenDialogHandler handler;
  return handler;
}

void InitDialogsUnit() {
  RegisterSetPropertyType<TOpenOption>();
  RegisterClasses({TOpenDialog::StaticClass()});
}
void FinDialogsUnit() { UnRegisterClasses({TOpenDialog::StaticClass()}); }
const TUnitRegistration DialogsUnit{{"Fw.Dialogs", {}, &InitDialogsUnit, &FinDialogsUnit}};

}  // namespace

bool IsHeadless() {
  // A CI run may have a display (xvfb-run) but nobody to close a message box.
  if (!PlatformInitialized() || std::getenv("CI") != nullptr) return true;
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver == nullptr || std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0;
}

TShowMessageHandler SetShowMessageHandler(TShowMessageHandler Handler_) {
  std::lock_guard lock(HandlerMutex());
  TShowMessageHandler previous = std::move(Handler());
  Handler() = std::move(Handler_);
  return previous;
}

void ShowMessage(const std::string& Msg) {
  TShowMessageHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = Handler();
  }
  if (handler) {
    handler(Msg);
    return;
  }
  if (IsHeadless() || SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, "", Msg.c_str(), nullptr) != 0)
    Log::d("ShowMessage: " + Msg);
}

TOpenDialogHandler SetOpenDialogHandler(TOpenDialogHandler Handler_) {
  std::lock_guard lock(HandlerMutex());
  TOpenDialogHandler previous = std::move(OpenHandler());
  OpenHandler() = std::move(Handler_);
  return previous;
}

FW_CLASS_IMPL(TOpenDialog, "Fw.Dialogs")
void TOpenDialog::Register(ClassBuilder<TOpenDialog>& b) {
  b.Prop("Title", &Self::GetTitle, &Self::SetTitle)
      .Prop("DefaultExt", &Self::GetDefaultExt, &Self::SetDefaultExt)
      .Prop("Filter", &Self::GetFilter, &Self::SetFilter)
      .Prop("InitialDir", &Self::GetInitialDir, &Self::SetInitialDir)
      .Prop("FileName", &Self::GetFileName, &Self::SetFileName)
      .Prop("Options", &Self::GetOptions, &Self::SetOptions);
}

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TOpenDialog::Execute() {
  TOpenDialogHandler handler;
  {
    std::lock_guard lock(HandlerMutex());
    handler = OpenHandler();
  }
  FFiles.clear();
  if (!handler) {
    Log::d("TOpenDialog: no file chooser installed; \"" + FTitle + "\" answers no file");
    return false;
  }
  if (!handler(*this)) {
    FFiles.clear();
    return false;
  }
  if (FFiles.empty() && !FFileName.empty()) FFiles.push_back(FFileName);
  std::erase_if(FFiles, [this](const std::string& f) {
    std::error_code ec;
    const std::filesystem::path path(f);
    if (FOptions.Contains(ofFileMustExist) && !std::filesystem::is_regular_file(path, ec)) return true;
    if (FOptions.Contains(ofPathMustExist) && path.has_parent_path() &&
        !std::filesystem::is_directory(path.parent_path(), ec))
      return true;
    return f.empty();
  });
  if (!FOptions.Contains(ofAllowMultiSelect) && FFiles.size() > 1) FFiles.resize(1);
  FFileName = FFiles.empty() ? std::string() : FFiles.front();
  return !FFiles.empty();
}

}  // namespace quorvel
