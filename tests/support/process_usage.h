#pragma once
// Test support: what this process holds now (heap bytes, private memory, kernel
// handles, GDI objects, windows), read in ways that also work under Wine, where
// GetProcessMemoryInfo, GetGuiResources and GetProcessHandleCount answer 0.
#include <cstddef>
#include <string>

namespace quarnel::test {

struct ProcessUsage {
  size_t heap_bytes = 0;     // busy bytes in all the process's heaps
  size_t private_bytes = 0;  // committed private memory
  int kernel_handles = 0;    // open kernel handles
  int gdi_objects = -1;      // live GDI objects; -1 where they cannot be counted
  int windows = 0;           // top-level, child and message-only windows of this process
};

ProcessUsage MeasureProcess();
// "heap bytes A -> B, private bytes ..., handles ..., GDI objects ..., windows ..."
std::string DescribeChange(const ProcessUsage& before, const ProcessUsage& after);

// Busy bytes in all the process's heaps, where the C++ runtime's and the system
// libraries' allocations land.
size_t HeapBytes();

}  // namespace quarnel::test
