#pragma once
// The stand-in IDE program's state and its script of steps.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standin/ide.h"

struct _IDTExtensibility2;

namespace ideapp {

// An add-in as the IDE's registry lists it.
struct Addin {
  std::wstring prog_id;
  std::wstring friendly_name;
  std::wstring description;
  DWORD load_behavior = 0;
  _IDTExtensibility2* instance = nullptr;  // set while connected
  bool at_startup = false;                 // connected at start-up (mode Startup)
  std::wstring module_path;                // its DLL, once created
};

// One line of a script: its keyword and the words after it ("quoted words" keep
// their spaces), with %VARIABLES% of the environment expanded.
struct Step {
  int line = 0;
  std::wstring keyword;
  std::vector<std::wstring> args;
};

// The message by which a "meanwhile" step reaches the program's window:
// lParam is the Step; the result is 1 when it did what it should.
inline constexpr UINT kRunStepMessage = WM_APP + 2;

bool ReadScript(const std::wstring& path, std::vector<Step>& steps, std::wstring& error);
std::wstring Hex(HRESULT hr);
std::wstring KindName(int type);

struct App {
  std::unique_ptr<standin::Ide> ide;
  HWND window = nullptr;
  HWND tree = nullptr;
  std::vector<Addin> addins;
  std::vector<Step> steps;
  std::wstring output = L".";  // where screenshots go
  int exit_code = 0;

  static void Print(const std::wstring& line);
  void FindAddins();
  bool Connect(Addin& addin, long mode);
  void Disconnect(Addin& addin, long mode);
  // Start-up as the IDE does it: the add-ins marked to load are connected before
  // any project is open; then the command-line project is opened; then those
  // add-ins hear that start-up is complete.
  void StartUp(const std::wstring& project_path);
  // The IDE's exit: OnBeginShutdown, then OnDisconnection (HostShutdown) to each
  // connected add-in, then the IDE's objects die; what an add-in still held of
  // them then is reported and fails the run.
  void ShutDown();
  // After the program's loop: a call an add-in made of the IDE after its exit,
  // a dialog opened after it, or an add-in's DLL that COM could not unload, is
  // reported and fails the run.
  void AfterExit();
  Addin* FindAddin(const std::wstring& prog_id);
  void RebuildMenus();
  void RefreshTree();
  std::wstring SelectedComponent() const;
  standin::ClickResult Click(const std::wstring& bar, int position);
  bool OpenProject(const std::wstring& path);
  bool Change(const std::wstring& component, const std::wstring& text);
  // Runs the script's steps in order; returns the exit status (0: every step
  // did what it should).
  int RunScript();
  // Runs one step that a script does while a dialog is open ("meanwhile"), on
  // the program's thread, as the user's action reaches the IDE then.
  bool RunMeanwhile(const Step& step);

 private:
  bool RunStep(const Step& step, std::vector<size_t>& pending);
  // Runs `run` (a click, a button pressed) while the msgbox/folder lines
  // waiting in `pending` answer the dialogs it opens, in order, each printed and
  // photographed, and the meanwhile lines after each run while it is open.
  // False when the dialogs were not as the lines say.
  bool AnswerDialogs(std::vector<size_t>& pending, const std::function<void()>& run);
  static void PrintAtExit(const std::wstring& text);
  bool MenuScreenshot(const std::wstring& bar, const std::wstring& name);
  bool Screenshot(HWND target, const std::wstring& name) const;
  // The user's input (a key, a mouse click) as this program's loops took it
  // from the queue: during a click of an add-in's command, or after.
  static LRESULT CALLBACK WatchInput(int code, WPARAM removed, LPARAM lparam);
  bool clicking_ = false;
  int input_during_click_ = 0, input_after_click_ = 0;
  HHOOK input_watch_ = nullptr;
  bool shut_down_ = false;
  HHOOK dialogs_watch_ = nullptr;  // from the exit on
  std::vector<HBITMAP> bitmaps_;
  std::vector<std::wstring> tree_items_;
};

// Writes the screen's pixels inside `rect` to a 24-bit BMP file.
bool SaveScreenBmp(const RECT& rect, const std::wstring& path);

}  // namespace ideapp
