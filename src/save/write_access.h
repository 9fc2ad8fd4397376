#pragma once
// What Windows itself lets this process write, asked before the first file of a
// save: a folder's permissions, a read-only share or volume, Microsoft
// Defender's Controlled folder access (which judges the process, the IDE's),
// or another program holding a file open. The IDE's own write would meet each
// in the middle of the save.
#include <string>

namespace quarnel {

// Whether this process may create a file in `folder` (a full path, no
// backslash at its end): a file of a name nobody uses is created there anew
// and deleted as it closes, leaving nothing behind.
bool MayCreateFileIn(const std::wstring& folder);

enum class WriteAccess {
  kGranted,  // or the file is gone: it will be made anew
  kDenied,   // Windows does not let this process change it
  kHeld,     // another program has it open
};

// Whether the file at `path`, which is there, can be opened for writing as the
// IDE opens it, sharing it with nobody. Its content is neither changed nor
// read, and a file that is only in the cloud is not brought down.
WriteAccess AccessForWriting(const std::wstring& path);

}  // namespace quarnel
