// The test run itself: a crash fails its test at once, wherever it happens. Each
// planted crash is a disabled test of this program, run again as CTest runs a
// test (the program, filtered to that one test); it must end with the crash
// exit status and a report that names the test and where it crashed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ide/host.h"
#include "standin/ide.h"
#include "support/crash_report.h"
#include "support/temp_folder.h"
#include "support/test_window.h"

namespace quarnel::test {
namespace {

void Fault() {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

LRESULT CALLBACK FaultingHook(int, WPARAM, LPARAM) { return Fault(), 0; }

// A system function that does not guard itself, given memory it cannot write.
LRESULT CALLBACK HookWithAFaultInTheSystem(int, WPARAM, LPARAM) {
  using Move = void(WINAPI*)(void*, const void*, SIZE_T);
  const auto move = reinterpret_cast<Move>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlMoveMemory")));
  move(nullptr, "x", 1);
  return 0;
}

LRESULT CALLBACK FaultingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) Fault();
  return DefWindowProcW(window, message, wparam, lparam);
}

HWND WindowOf(WNDPROC procedure) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PlantedCrashWindow";
  RegisterClassW(&wc);
  return CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

TEST(DISABLED_PlantedCrash, InAWindowProcedure) {
  PostMessageW(WindowOf(FaultingProc), WM_APP, 0, 0);
  Pump();
}

TEST(DISABLED_PlantedCrash, InAHook) {  // where Wine swallows it
  SetWindowsHookExW(WH_GETMESSAGE, FaultingHook, nullptr, GetCurrentThreadId());
  PostMessageW(WindowOf(DefWindowProcW), WM_NULL, 0, 0);
  Pump();
}

TEST(DISABLED_PlantedCrash, InTheSystemCalledFromAHook) {
  SetWindowsHookExW(WH_GETMESSAGE, HookWithAFaultInTheSystem, nullptr, GetCurrentThreadId());
  PostMessageW(WindowOf(DefWindowProcW), WM_NULL, 0, 0);
  Pump();
}

// A window whose procedure was in a DLL that is gone: code that no module holds
// (an address kept reserved, so that no module is mapped there meanwhile).
TEST(DISABLED_PlantedCrash, InCodeOfAnUnloadedModule) {
  SendMessageW(WindowOf(reinterpret_cast<WNDPROC>(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS))), WM_APP, 0, 0);
}

TEST(DISABLED_PlantedCrash, OnAnotherThread) { std::thread(Fault).join(); }

// A Click sink of the stand-in IDE's event object that faults.
class FaultingSink final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override { return *out = this, S_OK; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return Fault(), S_OK;
  }
};

TEST(DISABLED_PlantedCrash, InACallFromTheStandinIde) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  standin::Ide ide;
  const host::VBE vbe = host::VBE::FromApplication(ide.application().Get());
  const auto control = host::CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
  FaultingSink sink;
  const host::EventConnection connection(vbe.Events().CommandBarEvents(control.get()).Get(),
                                         host::DIID_dispCommandBarControlEvents, &sink);
  ide.click(L"File", 7);
}

class DISABLED_PlantedCrashIn : public ::testing::Test {
 protected:
  void TearDown() override { Fault(); }
};
TEST_F(DISABLED_PlantedCrashIn, TearDown) {}

// This program again with one test, as CTest runs it: its exit status and output.
std::pair<DWORD, std::string> RunThisProgramWith(const std::string& test) {
  const TempFolder folder;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE output = CreateFileW((folder / L"output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, 0, nullptr);
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                         std::wstring(test.begin(), test.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  DWORD status = 0;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 0);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(output);
  return {status, ReadBytes(folder / L"output.txt")};
}

TEST(CrashReport, APlantedCrashFailsItsTestAndSaysWhere) {
  for (const char* test : {"DISABLED_PlantedCrash.InAWindowProcedure", "DISABLED_PlantedCrash.InAHook",
                           "DISABLED_PlantedCrash.InTheSystemCalledFromAHook",
                           "DISABLED_PlantedCrash.InCodeOfAnUnloadedModule", "DISABLED_PlantedCrash.OnAnotherThread",
                           "DISABLED_PlantedCrash.InACallFromTheStandinIde", "DISABLED_PlantedCrashIn.TearDown"}) {
    SCOPED_TRACE(test);
    const auto [status, output] = RunThisProgramWith(test);
    EXPECT_EQ(status, static_cast<DWORD>(kCrashExitCode)) << output;
    const size_t report = output.find(kCrashMarker);
    ASSERT_NE(report, std::string::npos) << output;
    const std::string line = output.substr(report, output.find('\n', report) - report);
    const bool unloaded = std::string(test).find("Unloaded") != std::string::npos;
    const bool in_the_system = std::string(test).find("InTheSystem") != std::string::npos;
    EXPECT_NE(line.find(" at 0x"), std::string::npos) << line;
    EXPECT_NE(line.find(unloaded          ? "(no module)"
                        : in_the_system ? "), called from addin_tests.exe+0x"
                                        : "(addin_tests.exe+0x"),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(std::string("test ") + test), std::string::npos) << line;
  }
}

// A fault that a system function guards and handles itself (IsBadReadPtr on
// memory it cannot read) is no crash, also called from a hook.
LRESULT CALLBACK HookThatProbesMemory(int code, WPARAM wparam, LPARAM lparam) {
  static const void* const unreadable = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  EXPECT_TRUE(IsBadReadPtr(unreadable, 1));
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST(CrashReport, AFaultTheSystemHandlesItselfIsNoCrash) {
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, HookThatProbesMemory, nullptr, GetCurrentThreadId());
  PostMessageW(WindowOf(DefWindowProcW), WM_NULL, 0, 0);
  Pump();
  UnhookWindowsHookEx(hook);
}

}  // namespace
}  // namespace quarnel::test
