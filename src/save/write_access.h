#pragma once
// What Windows itself lets this process write, asked before the first file of a
// save: a folder's permissions, a read-only share or volume, Microsoft
// Defender's Controlled folder access (which judges the process, the IDE's),
// another program holding a file open, a disk without room, virus protection,
// an online file whose provider (OneDrive) is not there, a damaged disk. The
// IDE's own write would meet each in the middle of the save. Only a refusal
// the IDE's write would meet too counts: any other answer (a dropped
// connection, a filter's own error) leaves the judgement to that write.
#include <windows.h>

#include <optional>
#include <string>

#include "texts/modAddin.h"

namespace quarnel {

// Why Windows would not let the IDE make a file in `folder` (a full path, no
// backslash at its end); nothing when it would. The probe is named as the IDE
// names its files there, with `extension` (".frm"), the extension of the first
// file the save writes, so that a server screening files by their names
// (temporary files, "~*") refuses it only when it would refuse that file too;
// it is made anew and deleted as it closes, leaving nothing behind.
std::optional<CannotWrite> CannotCreateFileIn(const std::wstring& folder, const wchar_t* extension);

// Why Windows would not let the IDE write the file at `path`, which is there,
// opened as the IDE opens it, sharing it with nobody: nothing when it would
// (or the file is gone and will be made anew), kInUse while another program
// holds it. Its content is neither changed nor read, and a file that is only
// in the cloud is not brought down.
std::optional<CannotWrite> CannotOpenForWriting(const std::wstring& path);

// The bytes Windows lets this user write in a folder (a quota counts), and the
// size of the disk's clusters, each file taking whole ones.
struct Room {
  ULONGLONG free;
  ULONGLONG cluster;
};
// Nothing when Windows cannot tell; a full path, no backslash at its end.
std::optional<Room> RoomIn(const std::wstring& folder);

}  // namespace quarnel
