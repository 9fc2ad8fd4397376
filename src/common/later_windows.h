#pragma once
// What a later Windows does better than Windows XP, in one place: each function
// that came after XP is looked up when first needed, and where it is missing
// (XP) the same result comes the XP way. The product code is built for XP, so
// nothing else in it can call such a function by name.
#include <windows.h>

namespace quarnel {

// Two names compared as the file system compares them: ordinal, case aside
// (CompareStringOrdinal; on XP, both names upper-cased by CharUpperBuffW and
// compared code unit by code unit, which orders them the same way). The result
// is CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; a length of -1 means up to
// the NUL.
int CompareNoCase(const wchar_t* a, int a_length, const wchar_t* b, int b_length);
inline bool SameNoCase(const wchar_t* a, const wchar_t* b) { return CompareNoCase(a, -1, b, -1) == CSTR_EQUAL; }

// GetFinalPathNameByHandleW: an open file's final path, as a DOS path, into
// `buffer` (its length, or the size needed); 0 where Windows cannot tell it
// (XP, or the call fails): the caller then goes by the long path name.
DWORD FinalPathName(HANDLE file, wchar_t* buffer, DWORD size);

// Removes a registry key with everything below it (RegDeleteTreeW with a
// subkey's name; on XP, a walk that removes the subkeys first). ERROR_SUCCESS
// when it is gone, ERROR_FILE_NOT_FOUND when it was not there, either way.
LSTATUS DeleteKeyTree(HKEY root, const wchar_t* path);

// FindFirstFileExW as fast as the system allows: without the short names and
// with larger fetches (Windows 7 and later); where that information level is
// refused (before Windows 7: ERROR_INVALID_PARAMETER), the standard one.
HANDLE FindFirstFileFast(const wchar_t* pattern, WIN32_FIND_DATAW* found);

// For the tests: true makes every lookup of a later function fail and the fast
// listing be refused, as on Windows XP; false gives the system's own answers.
void PretendWindowsXp(bool xp) noexcept;

}  // namespace quarnel
