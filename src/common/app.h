#pragma once
// What a Visual Basic program gets from its runtime's App object: the folder of
// the module it runs from, and its title.
#include <windows.h>

#include <string>

namespace quarnel {

// The application title: the default title of message boxes and the application
// name of per-user settings.
inline constexpr wchar_t kAppTitle[] = L"Quarnel";

// The module that contains this code (Quarnel.dll in production, the test
// program in tests): where the add-in's resources are and what its windows belong to.
HMODULE AppModule();

// The full path of that module's file.
std::wstring AppFileName();

// The folder that holds the module containing this code (Quarnel.dll in
// production, the test program in tests), without a trailing backslash.
// Example: L"C:\\Program Files\\Quarnel" for C:\Program Files\Quarnel\Quarnel.dll.
std::wstring AppPath();

}  // namespace quarnel
