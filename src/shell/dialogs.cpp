#include "shell/dialogs.h"

#include "shell/modSHBrowseForFolder.h"

namespace quarnel {
namespace {

class RealDialogs final : public Dialogs {
 public:
  int Message(HWND owner, const std::wstring& text, const std::wstring& title,
              UINT flags) override {
    return MessageBoxW(owner ? owner : GetActiveWindow(), text.c_str(), title.c_str(), flags);
  }
  std::wstring BrowseForFolder(HWND owner, const std::wstring& prompt,
                               const std::wstring& initial_folder, UINT flags) override {
    return quarnel::BrowseForFolder(owner, prompt, initial_folder, flags);
  }
  std::wstring GetSpecialFolderPath(HWND owner, int folder) override {
    return quarnel::GetSpecialFolderPath(owner, folder);
  }
};

RealDialogs real_dialogs;
Dialogs* current = &real_dialogs;
// Everything runs on the IDE's one user-interface thread.
bool running = false;

}  // namespace

DialogRun::DialogRun() noexcept : started_(!running) { running = true; }
DialogRun::~DialogRun() {
  if (started_) running = false;
}

Dialogs& CurrentDialogs() { return *current; }

ScopedDialogs::ScopedDialogs(Dialogs& dialogs) : previous_(current) { current = &dialogs; }
ScopedDialogs::~ScopedDialogs() { current = previous_; }

}  // namespace quarnel
