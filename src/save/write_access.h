#pragma once
// What Windows itself lets this process write, asked before the first file of a
// save: a folder's permissions, a read-only share or volume, Microsoft
// Defender's Controlled folder access (which judges the process, the IDE's),
// another program holding a file open, or a disk without room. The IDE's own
// write would meet each in the middle of the save. Only a refusal the IDE's
// write would meet too counts: any other answer (a dropped connection, a
// filter's own error) leaves the judgement to that write.
#include <windows.h>

#include <optional>
#include <string>

namespace quarnel {

// Whether this process may create a file in `folder` (a full path, no
// backslash at its end): false only when Windows denies it. The probe is named
// as the IDE names its files there, with `extension` (".frm"), the extension of
// the first file the save writes, so that a server screening files by their
// names (temporary files, "~*") refuses it only when it would refuse that file
// too; it is made anew and deleted as it closes, leaving nothing behind.
bool MayCreateFileIn(const std::wstring& folder, const wchar_t* extension);

enum class WriteAccess {
  kGranted,  // or the file is gone (it will be made anew), or another answer: the IDE's write decides
  kDenied,   // Windows does not let this process change it
  kHeld,     // another program has it open
};

// Whether the file at `path`, which is there, can be opened for writing as the
// IDE opens it, sharing it with nobody. Its content is neither changed nor
// read, and a file that is only in the cloud is not brought down.
WriteAccess AccessForWriting(const std::wstring& path);

// The bytes Windows lets this user write in `folder` (a full path, no
// backslash at its end; a quota counts); nothing when it cannot tell.
std::optional<ULONGLONG> RoomIn(const std::wstring& folder);

}  // namespace quarnel
