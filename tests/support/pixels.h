#pragma once
// Test support: the pixels of a 16 x 16 picture, as tests compare button faces.
#include <windows.h>

#include <cstdint>
#include <vector>

namespace quarnel::test {

// The 16 x 16 pixels of a bitmap as 0x00RRGGBB, rows from the top; empty when
// they cannot be read.
std::vector<std::uint32_t> Pixels(HBITMAP bitmap);

}  // namespace quarnel::test
