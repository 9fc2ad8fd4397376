#pragma once
// Test support: places on the folder-picker tests' own drive, which holds their
// programs (in "programs") and the folders they browse; the build makes them and
// nothing changes them while tests run (see tests/CMakeLists.txt):
//   folders\Start\sub, folders\Start\note.txt, folders\Other folder,
//   folders-ja\日本語のフォルダ, folders-cp\Start, folders-cp\Łódź, folders-cp\Lódz
#include <string>

#include "common/app.h"

namespace quarnel::test {

// TestDrivePath(L"folders\\Start") is L"D:\\folders\\Start".
inline std::wstring TestDrivePath(const std::wstring& relative) {
  const std::wstring programs = AppPath();
  return programs.substr(0, programs.find_last_of(L'\\')) + L"\\" + relative;
}

}  // namespace quarnel::test
