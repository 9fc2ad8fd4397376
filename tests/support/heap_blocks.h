#pragma once
// Test support: looks into the process heap, where LocalAlloc takes its fixed
// blocks, to see whether a block the code under test made is still held.
#include <cstddef>
#include <string>

namespace quarnel::test {

// How many busy blocks of the process heap hold `text` and its terminating NUL
// and are exactly that size.
size_t HeapBlocksHolding(const std::string& text);

}  // namespace quarnel::test
