#include "support/heap_blocks.h"

#include <windows.h>

#include <cstring>

namespace quarnel::test {

size_t HeapBlocksHolding(const std::string& text) {
  size_t count = 0;
  HANDLE heap = GetProcessHeap();
  // Other threads (the dialog's) use the heap meanwhile.
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) || entry.cbData != text.size() + 1) continue;
    const char* data = static_cast<const char*>(entry.lpData);
    if (std::memcmp(data, text.data(), text.size()) == 0 && data[text.size()] == '\0') {
      ++count;
    }
  }
  HeapUnlock(heap);
  return count;
}

}  // namespace quarnel::test
