// The benchmarks: what the add-in costs the IDE. Prints one table, each figure
// the median of repeated runs beside its target, and marks those that miss.
// It measures and does not judge: the exit code is 0 unless it cannot measure.
// --smoke makes every measure once with the fewest repetitions, judging nothing:
// the test command runs it, so that a benchmark that cannot measure fails there.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quarnel_h.h"
#include "addin/Connect.h"
#include "common/app.h"
#include "common/later_windows.h"
#include "common/owners.h"
#include "footprint.h"
#include "reference_addin.h"
#include "shell/dialogs.h"
#include "standin/ide.h"
#include "support/process_usage.h"
#include "support/scripted_dialogs.h"
#include "support/temp_folder.h"

namespace quarnel::bench {
namespace {

using test::MeasureProcess;
using test::ProcessUsage;

struct Row {
  std::string figure;
  std::string value;
  std::string target;
  bool met = true;
};
std::vector<Row> rows;
bool smoke = false;

// How many repetitions: `full` in a real run, `fewest` in a smoke run.
int Repeat(int full, int fewest = 1) { return smoke ? fewest : full; }

std::string Format(const char* format, double a, double b = 0, double c = 0) {
  char text[256];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

double Now() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / frequency;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void Progress(const char* text) {
  std::fprintf(stderr, "bench: %s\n", text);
  std::fflush(stderr);
}

// --- 1. Footprint ---------------------------------------------------------------------

// The shipped DLL, the 32-bit build's, read as a file whichever build measures.
void MeasureFootprint() {
  const std::string path = QUARNEL_SHIPPED_DLL;
  const auto footprint = ReadFootprint(std::wstring(path.begin(), path.end()));
  if (!footprint) throw std::runtime_error("the shipped Quarnel.dll cannot be read: " + path);
  const double kb = static_cast<double>(footprint->bytes) / 1024.0;
  rows.push_back({std::string("Footprint: Quarnel.dll size") + (footprint->has_symbols ? " (NOT stripped)" : " (stripped)"),
                  Format("%.1f KB", kb), "<= 184 KB", kb <= 184 && !footprint->has_symbols});
  std::string imports;
  bool system_only = true;
  for (const auto& name : footprint->imports) {
    imports += (imports.empty() ? "" : " ") + name;
    if (!IsSystemDll(name)) {
      system_only = false;
      imports += "(!)";
    }
  }
  rows.push_back({"Footprint: imported DLLs", imports, "system DLLs only", system_only});
}

// --- Quarnel.dll as the IDE loads it ---------------------------------------------------------

class LoadedDll {
 public:
  LoadedDll() : module_(LoadLibraryW((AppPath() + L"\\Quarnel.dll").c_str())) {
    if (!module_) throw std::runtime_error("Quarnel.dll does not load");
    auto get = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(GetProcAddress(module_.get(), "DllGetClassObject")));
    if (!get || FAILED(get(CLSID_Connect, IID_IClassFactory, &factory_))) {
      throw std::runtime_error("Quarnel.dll gives no class factory");
    }
  }
  ~LoadedDll() { factory_.Reset(); }
  com_ptr<_IDTExtensibility2> Create() const {
    com_ptr<_IDTExtensibility2> addin;
    if (FAILED(factory_->CreateInstance(nullptr, IID__IDTExtensibility2, &addin))) {
      throw std::runtime_error("Quarnel.dll makes no Connect");
    }
    return addin;
  }

 private:
  unique_hmodule module_;
  com_ptr<IClassFactory> factory_;
};

void ConnectOnce(_IDTExtensibility2* addin, IDispatch* application) {
  SAFEARRAY* custom = nullptr;
  addin->OnConnection(application, ext_cm_Startup, nullptr, &custom);
}

void DisconnectOnce(_IDTExtensibility2* addin) {
  SAFEARRAY* custom = nullptr;
  addin->OnDisconnection(ext_dm_HostShutdown, &custom);
}

// --- 2. Connection cost ----------------------------------------------------------------------

void MeasureConnection(const LoadedDll& dll) {
  Progress("connection cost");
  standin::Ide ide;
  const com_ptr<IDispatch> application = ide.application();
  const com_ptr<_IDTExtensibility2> addin = dll.Create();
  ReferenceAddin reference;
  const auto quarnel_cycle = [&] {
    ConnectOnce(addin.Get(), application.Get());
    DisconnectOnce(addin.Get());
  };
  const auto reference_cycle = [&] {
    reference.Connect(application.Get());
    reference.Disconnect();
  };
  const auto batch = [&](const std::function<void()>& cycle) {
    const int kCycles = Repeat(20, 2);
    const double start = Now();
    for (int i = 0; i < kCycles; ++i) cycle();
    const double seconds = (Now() - start) / kCycles;
    ide.clear_calls();
    return seconds;
  };
  batch(quarnel_cycle);
  batch(reference_cycle);
  if (ide.controls(L"File").size() != 13) throw std::runtime_error("a connection left a control behind");
  std::vector<double> quarnel, ref, ratios;
  for (int run = 0; run < Repeat(11); ++run) {
    quarnel.push_back(batch(quarnel_cycle));
    ref.push_back(batch(reference_cycle));
    ratios.push_back(quarnel.back() / ref.back());
  }
  const double ratio = Median(ratios);
  rows.push_back({"Connection: connect + disconnect",
                  Format("%.0f us vs reference %.0f us: ratio %.2f", Median(quarnel) * 1e6, Median(ref) * 1e6, ratio),
                  "ratio <= 1.25", ratio <= 1.25});
}

// The IDE's start with the add-in: Quarnel.dll loaded, its first Connect made,
// connected and disconnected, and the DLL unloaded again (it may be: nothing is
// left of it). The functions of later Windows are looked up when first needed,
// not at load.
void MeasureStart() {
  Progress("start");
  standin::Ide ide;
  const com_ptr<IDispatch> application = ide.application();
  std::vector<double> starts;
  for (int run = 0; run < Repeat(9); ++run) {
    const double start = Now();
    {
      const LoadedDll dll;
      const com_ptr<_IDTExtensibility2> addin = dll.Create();
      ConnectOnce(addin.Get(), application.Get());
      DisconnectOnce(addin.Get());
    }
    starts.push_back(Now() - start);
    ide.clear_calls();
  }
  if (GetModuleHandleW(L"Quarnel.dll")) throw std::runtime_error("Quarnel.dll stayed loaded");
  rows.push_back({"Start: load, first connection, disconnection, unload", Format("%.1f ms", Median(starts) * 1e3),
                  "(shown)", true});
}

// --- 5. Memory and handles over connect/disconnect cycles ------------------------------------

// The heap and private memory are compared with the reference add-in's: Wine's
// clipboard itself keeps about 1 KB each time the host reads a picture from it
// (PasteFace), whoever put it there. The reference add-in's cycles show that
// growth, and the add-in's own growth is what it adds beyond them. GDI objects,
// kernel handles and windows must come back to where they were.
void MeasureCycles(const LoadedDll& dll) {
  Progress("memory and handles over 1,000 cycles (3 rounds, and the reference's)");
  standin::Ide ide;
  const com_ptr<IDispatch> application = ide.application();
  const auto quarnel_cycles = [&](int n) {
    for (int i = 0; i < n; ++i) {
      const com_ptr<_IDTExtensibility2> addin = dll.Create();
      ConnectOnce(addin.Get(), application.Get());
      DisconnectOnce(addin.Get());
      ide.clear_calls();
    }
  };
  const auto reference_cycles = [&](int n) {
    for (int i = 0; i < n; ++i) {
      ReferenceAddin reference;
      reference.Connect(application.Get());
      reference.Disconnect();
      ide.clear_calls();
    }
  };
  quarnel_cycles(Repeat(100, 2));  // first-use allocations: caches, the clipboard's, the heap's own
  reference_cycles(Repeat(100, 2));
  std::vector<double> heap, reference_heap, bytes, reference_bytes, gdi, handles, windows;
  const int cycles = Repeat(1000, 10);
  for (int round = 0; round < Repeat(3); ++round) {
    ProcessUsage before = MeasureProcess();
    quarnel_cycles(cycles);
    ProcessUsage after = MeasureProcess();
    heap.push_back(static_cast<double>(after.heap_bytes) - static_cast<double>(before.heap_bytes));
    bytes.push_back(static_cast<double>(after.private_bytes) - static_cast<double>(before.private_bytes));
    gdi.push_back(after.gdi_objects - before.gdi_objects);
    handles.push_back(after.kernel_handles - before.kernel_handles);
    windows.push_back(after.windows - before.windows);
    before = MeasureProcess();
    reference_cycles(cycles);
    after = MeasureProcess();
    reference_heap.push_back(static_cast<double>(after.heap_bytes) - static_cast<double>(before.heap_bytes));
    reference_bytes.push_back(static_cast<double>(after.private_bytes) - static_cast<double>(before.private_bytes));
  }
  const double own_kb = (Median(heap) - Median(reference_heap)) / 1024.0;
  rows.push_back({"Memory: heap growth / 1,000 cycles, beyond reference",
                  Format("%+.1f KB (add-in %+.1f KB, reference %+.1f KB)", own_kb, Median(heap) / 1024.0,
                         Median(reference_heap) / 1024.0),
                  "< 64 KB", own_kb < 64});
  // Private memory is committed 64 KB at a time.
  const double own_private_kb = (Median(bytes) - Median(reference_bytes)) / 1024.0;
  rows.push_back({"Memory: private bytes growth / 1,000 cycles, beyond reference",
                  Format("%+.0f KB (add-in %+.0f KB, reference %+.0f KB)", own_private_kb, Median(bytes) / 1024.0,
                         Median(reference_bytes) / 1024.0),
                  "<= 64 KB", own_private_kb <= 64});
  if (MeasureProcess().gdi_objects >= 0) {
    rows.push_back({"Handles: GDI objects growth / 1,000 cycles", Format("%+.0f", Median(gdi)), "0", Median(gdi) <= 0});
  } else {
    rows.push_back({"Handles: GDI objects", "cannot be counted here", "0", true});
  }
  rows.push_back({"Handles: kernel handles growth / 1,000 cycles", Format("%+.0f", Median(handles)), "0",
                  Median(handles) <= 0});
  rows.push_back({"Handles: windows growth / 1,000 cycles", Format("%+.0f", Median(windows)), "0",
                  Median(windows) <= 0});
}

// --- 3 and 4. The click against project size -------------------------------------------------

constexpr int kKinds[] = {5, 1, 2};  // form, module, class
const wchar_t* ExtensionOf(int kind) { return kind == 5 ? L".frm" : kind == 1 ? L".bas" : L".cls"; }
std::wstring ComponentName(int i) { return L"C" + std::to_wstring(100000 + i); }

void BuildProject(standin::Ide& ide, int n) {
  auto project = ide.project(L"Big");
  for (int i = 0; i < n; ++i) project.component(ComponentName(i), kKinds[i % 3]).code(L"Option Explicit");
  project.build();
}

struct Click {
  double seconds = 0;
  std::vector<standin::Call> calls;
};

class ClickBench {
 public:
  ClickBench() : destination_(AppPath() + L"\\saved") {
    CreateDirectoryW(destination_.c_str(), nullptr);
    // The Default folder is set: the click goes straight to the destination picker.
    const std::string folder(destination_.begin(), destination_.end());
    const std::string ini = "[FOLDER]\r\nDefaultFolder=" + folder + "\r\n";
    unique_handle file(CreateFileW((AppPath() + L"\\Quarnel.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), ini.data(), static_cast<DWORD>(ini.size()), &written, nullptr)) {
      throw std::runtime_error("the settings file cannot be written");
    }
  }

  // One click of Connect made in this program, the picker answered with the
  // destination, a new folder. `again`: the project was saved there by a click
  // before and every component changed since, so every file the click writes
  // exists and is its writer's own. `delay_ms`: each file takes that long more
  // to write (a slow disk).
  Click Quarnel(int n, bool again = false, DWORD delay_ms = 0) {
    NewDestination();
    standin::Ide ide;
    BuildProject(ide, n);
    ide.set_save_delay(delay_ms);
    com_ptr<_IDTExtensibility2> addin;
    if (FAILED(Connect::Create(IID__IDTExtensibility2, &addin))) throw std::runtime_error("no Connect");
    test::ScriptedDialogs dialogs;
    dialogs.answers = {destination_, destination_};
    const ScopedDialogs in_force(dialogs);
    ConnectOnce(addin.Get(), ide.application().Get());
    const auto saved = [&](size_t clicks, const standin::ClickResult& result) {
      const auto project = ide.find_project(L"Big");
      if (result.result != S_OK || !dialogs.messages.empty() || dialogs.pickers.size() != clicks || !project ||
          !project->saved) {
        throw std::runtime_error(again ? "the click did not save the project again as expected"
                                       : "the click did not save the project as expected");
      }
    };
    if (again) {
      saved(1, ide.click(L"File", 7));
      for (int i = 0; i < n; ++i) ide.change(L"Big", ComponentName(i));
    }
    ide.clear_calls();
    const double start = Now();
    const standin::ClickResult result = ide.click(L"File", 7);
    Click click{Now() - start, ide.calls()};
    DisconnectOnce(addin.Get());
    saved(again ? 2 : 1, result);
    return click;
  }

  // SaveAs of every component and of the project into a new folder; `again`:
  // into the files of the same loop run there before.
  double Reference(int n, bool again = false, DWORD delay_ms = 0) {
    NewDestination();
    standin::Ide ide;
    BuildProject(ide, n);
    ide.set_save_delay(delay_ms);
    const com_ptr<IDispatch> project = GetObjectProperty(ide.application().Get(), L"ActiveVBProject");
    const com_ptr<IDispatch> components = GetObjectProperty(project.Get(), L"VBComponents");
    const DISPID item = IdOf(components.Get(), L"Item");
    std::vector<SaveItem> items;
    for (int i = 0; i < n; ++i) {
      VARIANT index;
      VariantInit(&index);
      index.vt = VT_I4;
      index.lVal = i + 1;
      DISPPARAMS params{&index, nullptr, 1, 0};
      VARIANT result;
      VariantInit(&result);
      if (FAILED(components->Invoke(item, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &params, &result,
                                    nullptr, nullptr)) || result.vt != VT_DISPATCH) {
        throw std::runtime_error("VBComponents.Item failed");
      }
      items.push_back({com_ptr<IDispatch>(result.pdispVal), destination_ + L"\\" + ComponentName(i) + ExtensionOf(kKinds[i % 3])});
      VariantClear(&result);
    }
    const std::wstring project_file = destination_ + L"\\Big.vbp";
    if (again) ReferenceSave(items, project.Get(), project_file);
    const double start = Now();
    ReferenceSave(items, project.Get(), project_file);
    return Now() - start;
  }

 private:
  // Each run saves into a new, empty folder: the files of an earlier run would
  // be another project's to the add-in, which then asks before replacing them.
  void NewDestination() const {
    test::RemoveTree(destination_);
    CreateDirectoryW(destination_.c_str(), nullptr);
  }

  std::wstring destination_;
};

void MeasureHostCalls(ClickBench& bench) {
  Progress("host calls per click");
  // The process's first click, at 1,000 components: every name is new to it.
  const Click big = bench.Quarnel(1000);
  const Click small = bench.Quarnel(10);
  const auto invokes = [](const Click& click) {
    return static_cast<double>(std::count_if(click.calls.begin(), click.calls.end(), [](const standin::Call& c) {
      return c.kind == standin::Call::Kind::kInvoke;
    }));
  };
  const double per_component = (invokes(big) - invokes(small)) / 990.0;
  rows.push_back({"Host calls: Invoke per changed component", Format("%.2f", per_component), "<= 5",
                  per_component <= 5});
  std::size_t lookups = 0;
  std::set<std::wstring> distinct;
  for (const auto& call : big.calls) {
    if (call.kind != standin::Call::Kind::kGetIDsOfNames) continue;
    ++lookups;
    std::wstring key = call.object + L"." + call.member + L"(" + call.args + L")";
    CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    distinct.insert(key);
  }
  const double repeated = static_cast<double>(lookups - distinct.size());
  rows.push_back({"Host calls: GetIDsOfNames in the first click (N=1,000)",
                  Format("%.0f, of them repeated: %.0f", static_cast<double>(lookups), repeated),
                  "none repeated", repeated == 0});
  const double again = static_cast<double>(std::count_if(small.calls.begin(), small.calls.end(), [](const standin::Call& c) {
    return c.kind == standin::Call::Kind::kGetIDsOfNames;
  }));
  rows.push_back({"Host calls: GetIDsOfNames in a later click (N=10)", Format("%.0f", again), "0", again == 0});
}

void MeasureClicks(ClickBench& bench) {
  struct Size {
    int n;
    int runs;
  };
  const Size sizes[] = {{10, 9}, {100, 7}, {1000, 5}, {5000, 3}};
  std::vector<double> quarnel_per, reference_per;
  for (const Size& size : sizes) {
    Progress(("click at N=" + std::to_string(size.n)).c_str());
    std::vector<double> quarnel, ref, ratios;
    for (int run = 0; run < Repeat(size.runs); ++run) {
      quarnel.push_back(bench.Quarnel(size.n).seconds);
      ref.push_back(bench.Reference(size.n));
      ratios.push_back(quarnel.back() / ref.back());
    }
    const double ratio = Median(ratios);
    const double per = Median(quarnel) / size.n;
    quarnel_per.push_back(per);
    reference_per.push_back(Median(ref) / size.n);
    const bool judged = size.n == 5000;
    rows.push_back({Format("Click: N=%.0f, per component", size.n),
                    Format("%.0f us vs reference %.0f us: ratio %.2f", per * 1e6, Median(ref) / size.n * 1e6, ratio),
                    judged ? "ratio <= 1.10" : "(shown)", !judged || ratio <= 1.10});
  }
  // The stand-in's own saving (files in one folder) may grow with N; what the
  // add-in adds must not: its growth is judged beside the reference loop's.
  const double growth = quarnel_per[3] / quarnel_per[2];
  const double reference_growth = reference_per[3] / reference_per[2];
  rows.push_back({"Click: cost per component, N=5,000 / N=1,000",
                  Format("add-in %.2f, reference %.2f: %.2f beyond it", growth, reference_growth,
                         growth / reference_growth),
                  "flat (<= 1.25 beyond)", growth / reference_growth <= 1.25});

  // The same project saved again into its own folder: every target exists, and
  // the add-in asks for each component's file and compares it with the target.
  // Then the same as on Windows XP: the functions of later Windows missing (names
  // compared and the folder listed the XP way).
  for (const bool xp : {false, true}) {
    Progress(xp ? "the same as on Windows XP" : "click again into the project's own folder at N=5000");
    PretendWindowsXp(xp);
    std::vector<double> again, ref, ratios;
    for (int run = 0; run < Repeat(3); ++run) {
      again.push_back(bench.Quarnel(5000, true).seconds);
      ref.push_back(bench.Reference(5000, true));
      ratios.push_back(again.back() / ref.back());
    }
    PretendWindowsXp(false);
    const double ratio = Median(ratios);
    rows.push_back({xp ? "Click again into its own folder, as on Windows XP: N=5000, per component"
                       : "Click again into its own folder: N=5000, per component",
                    Format("%.0f us vs reference %.0f us: ratio %.2f", Median(again) / 5000 * 1e6,
                           Median(ref) / 5000 * 1e6, ratio),
                    "ratio <= 1.25", ratio <= 1.25});
  }
}

// A slow disk (a network share): 20 ms more a file, at N=500, a save of ten
// seconds that shows its progress and lets Windows see the IDE alive between
// two files. What the add-in adds beyond the disk's time, beside the reference
// loop on the same disk.
void MeasureSlowDisk(ClickBench& bench) {
  Progress("click with a slow disk at N=500");
  std::vector<double> quarnel, ref, ratios;
  for (int run = 0; run < Repeat(3); ++run) {
    quarnel.push_back(bench.Quarnel(500, false, 20).seconds);
    ref.push_back(bench.Reference(500, false, 20));
    ratios.push_back(quarnel.back() / ref.back());
  }
  const double ratio = Median(ratios);
  rows.push_back({"Click with a slow disk (20 ms a file): N=500",
                  Format("%.2f s vs reference %.2f s: the add-in's %+.0f ms", Median(quarnel), Median(ref),
                         (Median(quarnel) - Median(ref)) * 1e3),
                  "ratio <= 1.10", ratio <= 1.10});
}

void PrintTable() {
  std::size_t w1 = 6, w2 = 6, w3 = 6;
  for (const Row& row : rows) {
    w1 = std::max(w1, row.figure.size());
    w2 = std::max(w2, row.value.size());
    w3 = std::max(w3, row.target.size());
  }
  const int a = static_cast<int>(w1), b = static_cast<int>(w2), c = static_cast<int>(w3);
  if (smoke) std::printf("Smoke run: every measure made once, nothing judged.\n");
  if (sizeof(void*) == 8) {
    std::printf("The 64-bit build, for a machine that cannot run 32-bit programs: but for the footprint (the shipped\n"
                "32-bit DLL's), its figures are a regression check of the same code against a reference built the\n"
                "same way, not the shipped DLL's figures.\n");
  } else {
    std::printf("The 32-bit build: the shipped Quarnel.dll.\n");
  }
  std::printf("%-*s | %-*s | %-*s | %s\n", a, "Figure (median of runs)", b, "Measured", c, "Target", "");
  std::printf("%s\n", std::string(w1 + w2 + w3 + 16, '-').c_str());
  for (const Row& row : rows) {
    std::printf("%-*s | %-*s | %-*s | %s\n", a, row.figure.c_str(), b, row.value.c_str(), c, row.target.c_str(),
                smoke ? "-" : row.met ? "met" : "MISSED");
  }
  std::fflush(stdout);
}

}  // namespace
}  // namespace quarnel::bench

int main(int argc, char** argv) {
  using namespace quarnel::bench;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--smoke") {
      smoke = true;
    } else {
      std::fprintf(stderr, "usage: quarnel_bench [--smoke]\n");
      return 2;
    }
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  try {
    MeasureFootprint();
    {
      ClickBench clicks;
      MeasureHostCalls(clicks);
      MeasureStart();
      const LoadedDll dll;
      MeasureConnection(dll);
      MeasureCycles(dll);
      MeasureClicks(clicks);
      MeasureSlowDisk(clicks);
    }
  } catch (const std::exception& error) {
    PrintTable();
    std::fprintf(stderr, "bench: cannot measure: %s\n", error.what());
    return 1;
  }
  PrintTable();
  CoUninitialize();
  return 0;
}
