#include "shell/dialogs.h"

#include "shell/modSHBrowseForFolder.h"

namespace quarnel {
namespace {

class RealDialogs final : public Dialogs {
 public:
  int Message(HWND owner, const std::wstring& text, const std::wstring& title,
              UINT flags) override {
    return MessageBoxW(IsWindow(owner) ? owner : GetActiveWindow(), text.c_str(), title.c_str(), flags);
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
DialogRun* running = nullptr;

}  // namespace

DialogRun::DialogRun(IdeHolder* holder) noexcept : started_(running == nullptr), holder_(holder) {
  if (started_) running = this;
}

DialogRun::~DialogRun() {
  if (started_) running = nullptr;
}

void DialogRun::ThrowIfAbandoned() const {
  if (abandoned_) throw RunAbandoned{};
}

// A dialog of the run: none opens once the run is abandoned, and whatever one
// that was open when it was gives (an answer, a failure) is dropped.
template <class Show>
auto DialogRun::Shown(Show show) const {
  ThrowIfAbandoned();
  try {
    auto answer = show();
    ThrowIfAbandoned();
    return answer;
  } catch (...) {
    ThrowIfAbandoned();
    throw;
  }
}

int DialogRun::Message(HWND owner, const std::wstring& text, const std::wstring& title, UINT flags) const {
  return Shown([&] { return current->Message(owner, text, title, flags); });
}

std::wstring DialogRun::BrowseForFolder(HWND owner, const std::wstring& prompt,
                                        const std::wstring& initial_folder, UINT flags) const {
  return Shown([&] { return current->BrowseForFolder(owner, prompt, initial_folder, flags); });
}

bool DialogRun::Abandon() noexcept {
  DialogRun* run = running;
  if (!run || run->abandoned_) return false;
  run->abandoned_ = true;
  if (run->holder_) run->holder_->LetGoOfTheIde();
  return true;
}

Dialogs& CurrentDialogs() { return *current; }

ScopedDialogs::ScopedDialogs(Dialogs& dialogs) : previous_(current) { current = &dialogs; }
ScopedDialogs::~ScopedDialogs() { current = previous_; }

}  // namespace quarnel
