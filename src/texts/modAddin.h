#pragma once
// The add-in's language and its message catalogue: process-wide text slots that
// hold every language-dependent text the add-in shows, filled in Italian for
// users whose default language is Italian (Italy) and in English otherwise.
#include <memory>
#include <string>
#include <vector>

#include "settings/CIniManag.h"

namespace quarnel {

// True when the user's default language identifier is exactly 1040, Italian as
// used in Italy; every other identifier (Swiss Italian 2064 included) is false.
bool IsItalianUser();

// The settings store on Quarnel.ini beside the add-in, made anew at every
// connection; every user sets FileName and SectionName before use.
extern std::unique_ptr<CIniManag> oIni;

// The Default folder's full path; empty when none is known. Read from the
// settings file at connection and at every click of the save command.
extern std::wstring sDefaultFolder;

// The language of this connection: set once at connection, fixed until the next.
extern bool bItalian;

// Filled at connection.
extern std::wstring sMenuCaption;

// Filled at each click of the project save command.
extern std::wstring sMsgTitle;
extern std::wstring sMsgAlreadySaved;
extern std::wstring sMsgNoDefaultFolder;
extern std::wstring sCaptionDefaultFolder;
extern std::wstring sMsgImportant;
extern std::wstring sMsgAborted;
extern std::wstring sMsgReady;
extern std::wstring sCaptionDestination;
extern std::wstring sMsgCantSave;

// At connection: decides bItalian from the user's language and fills
// sMenuCaption in it.
void ChooseLanguage();

// At each click, before anything is shown: fills the nine click-time slots in
// the language that bItalian gives.
void FillMessageSlots();

// The question asked before a save would replace files that are not the
// components' or the project's own, in the language that bItalian gives: the
// files' names one per line, ten at most, then how many more.
std::wstring ForeignFilesQuestion(const std::vector<std::wstring>& names);

// The message that refuses a save which would replace the files of other
// components of the project, one line each ("Main.frm (frmOrders)"), listed as
// in the question above.
std::wstring ProjectClashMessage(const std::vector<std::wstring>& lines);

// Why Windows would not let the save write a file.
enum class CannotWrite {
  kDevice,       // the name is one Windows keeps for a device (Nul.cls)
  kPathTooLong,  // 260 bytes or more in the ANSI code page, which the IDE writes with
  kReadOnly,
  kFolder,  // a folder stands where the file would go
  kHidden,  // Windows will not open a hidden or system file anew with normal attributes
  kSystem,
  kNoNewFiles,  // of the folder: Windows does not let the IDE create files in it
  kDenied,      // Windows does not let this process change the file
  kInUse,       // another program holds the file open
  kNoRoom,      // Windows answers that the disk is full, or the user's quota
  kVirus,       // the virus protection flags the file
  kOnline,      // the file's online provider (OneDrive) is not running or not reachable
  kUnopenable,  // Windows cannot open the file (a link it cannot follow)
  kDamaged,     // the file or its disk is damaged
  kCount,       // how many reasons there are: none itself
};

// The reason that ends a line of the message below ("read-only").
std::wstring CannotWriteReason(CannotWrite why);

// The question asked when a save may not fit on its folder's disk, naming the
// folder and both figures: "about 1.2 MB needed, 0.8 MB free" (the need rounded
// up, the room down; both in kilobytes when the need is less than a megabyte).
std::wstring NoRoomQuestion(const std::wstring& folder, unsigned long long room, unsigned long long need);

// The message that refuses a save of which some files cannot be written, one
// line each ("Nul.cls (Nul): Windows keeps this name for a device"), listed as
// in the question above.
std::wstring CannotWriteMessage(const std::vector<std::wstring>& lines);

// What the progress window of a long save says: "Checking 3 of 201: Form1.frm"
// while the files are judged, "Saving 3 of 201: Form1" while they are written.
std::wstring ProgressText(bool checking, size_t number, size_t total, const std::wstring& name);

// The line that a failure in the middle of a save adds: the files the click
// wrote before it, ten at most, then how many more. Empty when none was.
std::wstring AlreadyWrittenLine(const std::vector<std::wstring>& names);

}  // namespace quarnel
