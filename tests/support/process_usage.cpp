#include "support/process_usage.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace quarnel::test {
namespace {

size_t PrivateBytes() {
  size_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  for (const char* at = nullptr;
       VirtualQuery(at, &region, sizeof region) == sizeof region && at + region.RegionSize > at;
       at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
  }
  return total;
}

// Kernel handles are small multiples of 4, given out lowest-free first; a
// handle left open per round soon shows below this bound.
constexpr UINT_PTR kHandleBound = 0x1000;

int KernelHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
  int open = 0;
  for (UINT_PTR value = 4; value < kHandleBound; value += 4) {
    DWORD flags = 0;
    open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != FALSE;
  }
  return open;
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Wine keeps the process's GDI handles in a table that the process block points
// to, one 24-byte entry per handle whose type byte is 0 when the entry is free.
int WineGdiObjects() {
#pragma pack(push, 1)
  struct Entry {
    unsigned long long object;
    unsigned long owner;
    unsigned short unique;
    unsigned char type;
    unsigned char flags;
    unsigned long long user;
  };
#pragma pack(pop)
  static_assert(sizeof(Entry) == 24);
  using GetPeb = void*(WINAPI*)();
  const FARPROC found = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetCurrentPeb");
  const auto current_peb = reinterpret_cast<GetPeb>(reinterpret_cast<void*>(found));
  if (!current_peb) return -1;
  const auto* process = static_cast<const char*>(current_peb());
#ifdef _WIN64
  constexpr size_t kGdiSharedHandleTable = 0xF8;
#else
  constexpr size_t kGdiSharedHandleTable = 0x94;
#endif
  const auto* table = *reinterpret_cast<const Entry* const*>(process + kGdiSharedHandleTable);
  if (!table) return -1;
  int live = 0;
  for (int i = 0; i < 0x10000; ++i) live += table[i].type != 0;
  return live;
}

int GdiObjects() {
  const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (count > 0) return static_cast<int>(count);
  return UnderWine() ? WineGdiObjects() : -1;
}

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM counter) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  ++*reinterpret_cast<int*>(counter);
  EnumChildWindows(window, CountOwnWindow, counter);  // children are this process's too
  return TRUE;
}

int Windows() {
  int count = 0;
  EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
  for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
       window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
    CountOwnWindow(window, reinterpret_cast<LPARAM>(&count));
  }
  return count;
}

}  // namespace

size_t HeapBytes() {
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
  heaps.resize(GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data()));
  size_t total = 0;
  for (HANDLE heap : heaps) {
    // Other threads (a dialog's) may use the heap meanwhile.
    if (!HeapLock(heap)) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
    }
    HeapUnlock(heap);
  }
  return total;
}

ProcessUsage MeasureProcess() {
  ProcessUsage usage;
  usage.heap_bytes = HeapBytes();
  usage.private_bytes = PrivateBytes();
  usage.kernel_handles = KernelHandles();
  usage.gdi_objects = GdiObjects();
  usage.windows = Windows();
  return usage;
}

std::string DescribeChange(const ProcessUsage& before, const ProcessUsage& after) {
  char text[256];
  std::snprintf(text, sizeof text,
                "heap bytes %llu -> %llu, private bytes %llu -> %llu, kernel handles %d -> %d, "
                "GDI objects %d -> %d, windows %d -> %d",
                static_cast<unsigned long long>(before.heap_bytes), static_cast<unsigned long long>(after.heap_bytes),
                static_cast<unsigned long long>(before.private_bytes),
                static_cast<unsigned long long>(after.private_bytes),
                before.kernel_handles, after.kernel_handles, before.gdi_objects, after.gdi_objects,
                before.windows, after.windows);
  return text;
}

}  // namespace quarnel::test
