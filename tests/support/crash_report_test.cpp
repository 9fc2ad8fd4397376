// The test run itself: a crash fails its test at once, wherever it happens. Each
// planted crash is a disabled test of this program, run again as CTest runs a
// test (the program, filtered to that one test), which must end with the crash
// exit status and a report that names the test and where it crashed.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "addin/host.h"
#include "standin/ide.h"
#include "support/crash_report.h"
#include "support/temp_folder.h"

namespace quarnel::test {
namespace {

void Fault() {
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
}

LRESULT CALLBACK FaultingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_APP) Fault();
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT CALLBACK FaultingHook(int code, WPARAM removed, LPARAM lparam) {
  if (code == HC_ACTION) Fault();
  return CallNextHookEx(nullptr, code, removed, lparam);
}

HWND MakeWindow(WNDPROC procedure) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"PlantedCrashWindow";
  RegisterClassW(&wc);
  return CreateWindowW(wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance, nullptr);
}

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

TEST(DISABLED_PlantedCrash, InAWindowProcedure) {
  PostMessageW(MakeWindow(FaultingWindowProc), WM_APP, 0, 0);
  PumpMessages();
}

TEST(DISABLED_PlantedCrash, InAHook) {
  HWND window = MakeWindow(DefWindowProcW);
  SetWindowsHookExW(WH_GETMESSAGE, FaultingHook, nullptr, GetCurrentThreadId());
  PostMessageW(window, WM_NULL, 0, 0);
  PumpMessages();
}

// A window whose procedure was in a DLL that is gone: code no module holds (an
// address kept reserved and inaccessible, so that no module is mapped there).
TEST(DISABLED_PlantedCrash, InCodeOfAnUnloadedModule) {
  void* code = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  SendMessageW(MakeWindow(reinterpret_cast<WNDPROC>(code)), WM_APP, 0, 0);
}

TEST(DISABLED_PlantedCrash, OnAnotherThread) {
  std::thread(Fault).join();
}

// A sink that faults when the stand-in IDE raises Click on it.
class FaultingSink final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    *out = iid == IID_IUnknown || iid == IID_IDispatch || iid == host::DIID_dispCommandBarControlEvents
               ? static_cast<IDispatch*>(this)
               : nullptr;
    return *out ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    Fault();
    return S_OK;
  }
};

TEST(DISABLED_PlantedCrash, InACallFromTheStandinIde) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  standin::Ide ide;
  const host::VBE vbe = host::VBE::FromApplication(ide.application().Get());
  const host::CommandBarControl control =
      host::CommandBarControl::From(vbe.CommandBars().Item(L"File").Controls().Add(7));
  FaultingSink sink;
  const host::EventConnection connection(vbe.Events().CommandBarEvents(control.get()).Get(),
                                         host::DIID_dispCommandBarControlEvents, &sink);
  ide.click(L"File", 7);
}

class DISABLED_PlantedCrashAtTearDown : public ::testing::Test {
 protected:
  void TearDown() override { Fault(); }
};

TEST_F(DISABLED_PlantedCrashAtTearDown, Passes) {}

struct ChildRun {
  DWORD exit_code = 0;
  std::string output;
};

// This program again, with one test, as CTest runs it.
ChildRun RunThisProgramWith(const std::string& test) {
  const TempFolder folder;
  const std::wstring log = folder / L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                            0, nullptr);
  wchar_t program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                         std::wstring(test.begin(), test.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = file;
  startup.hStdError = file;
  PROCESS_INFORMATION process{};
  ChildRun run;
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 0);
    GetExitCodeProcess(process.hProcess, &run.exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(file);
  run.output = ReadBytes(log);
  return run;
}

TEST(CrashReport, APlantedCrashFailsItsTestAndSaysWhere) {
  struct Place {
    const char* test;
    const char* where;
  };
  for (const Place& place : {Place{"DISABLED_PlantedCrash.InAWindowProcedure", "addin_tests.exe+0x"},
                             Place{"DISABLED_PlantedCrash.InAHook", "addin_tests.exe+0x"},
                             Place{"DISABLED_PlantedCrash.InCodeOfAnUnloadedModule", "(no module)"},
                             Place{"DISABLED_PlantedCrash.OnAnotherThread", "addin_tests.exe+0x"},
                             Place{"DISABLED_PlantedCrash.InACallFromTheStandinIde", "addin_tests.exe+0x"},
                             Place{"DISABLED_PlantedCrashAtTearDown.Passes", "addin_tests.exe+0x"}}) {
    SCOPED_TRACE(place.test);
    const ChildRun run = RunThisProgramWith(place.test);
    EXPECT_EQ(run.exit_code, static_cast<DWORD>(kCrashExitCode)) << run.output;
    const size_t report = run.output.find(kCrashMarker);
    ASSERT_NE(report, std::string::npos) << run.output;
    const std::string line = run.output.substr(report, run.output.find('\n', report) - report);
    EXPECT_NE(line.find(" at 0x"), std::string::npos) << line;
    EXPECT_NE(line.find(place.where), std::string::npos) << line;
    EXPECT_NE(line.find(std::string("test ") + place.test), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace quarnel::test
