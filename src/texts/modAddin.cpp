#include "texts/modAddin.h"

#include <windows.h>

#include <iterator>

namespace quarnel {

std::unique_ptr<CIniManag> oIni;
std::wstring sDefaultFolder;
bool bItalian = false;
std::wstring sMenuCaption;
std::wstring sMsgTitle;
std::wstring sMsgAlreadySaved;
std::wstring sMsgNoDefaultFolder;
std::wstring sCaptionDefaultFolder;
std::wstring sMsgImportant;
std::wstring sMsgAborted;
std::wstring sMsgReady;
std::wstring sCaptionDestination;
std::wstring sMsgCantSave;

namespace {

constexpr LANGID kItalianItaly = 0x0410;  // 1040

struct Text {
  const wchar_t* italian;
  const wchar_t* english;
};

// The two composite texts are two lines joined by CR LF; nothing else is added.
constexpr wchar_t kLineBreak[] = L"\r\n";

std::wstring Pick(const Text& text) { return bItalian ? text.italian : text.english; }

std::wstring PickLines(const Text& first, const Text& second) {
  return Pick(first) + kLineBreak + Pick(second);
}

}  // namespace

bool IsItalianUser() { return GetUserDefaultLangID() == kItalianItaly; }

void ChooseLanguage() {
  bItalian = IsItalianUser();
  sMenuCaption = Pick({L"Quarnel...", L"Quarnel..."});
}

void FillMessageSlots() {
  sMsgTitle = Pick({L"Quarnel", L"Quarnel"});
  sMsgAlreadySaved = Pick({L"Progetto già salvato.", L"Project already saved."});
  sMsgNoDefaultFolder = PickLines(
      {L"Non avete ancora impostata la cartella Predefinita. Nella prossima ",
       L"The Default folder value for the Quarnel add-in is empty."},
      {L"finestra selezionate la cartella che dovrà contenere i vostri progetti.",
       L"On the next dialog, select the Default starting folder for yours projects."});
  sCaptionDefaultFolder = Pick(
      {L"Selezionare, o creare, la cartella Predefinita di partenza. D'ora in avanti tutti i "
       L"vostri progetti verranno salvati partendo da questa cartella...",
       L"Select or create the starting Default folder. Next, all your projects will be saved "
       L"starting from this folder..."});
  sMsgImportant = Pick(
      {L"IMPORTANTE: Se in seguito desiderate modificare la cartella Predefinita, cancellate il "
       L"file [Quarnel.ini] che si trova nella stessa cartella di questo add-in.",
       L"IMPORTANT: if you will change the Default folder, delete the [Quarnel.ini] file, from "
       L"the same folder of this add-in."});
  sMsgAborted = Pick({L"Nessuna cartella selezionata. Azione interrotta.",
                      L"Selected folder none. Action aborted."});
  sMsgReady = PickLines({L"OK. Ora potete salvare il progetto.", L"OK. Now you can save the project."},
                        {L"Selezionate la cartella per questo progetto...",
                         L"Select the folder for this project..."});
  sCaptionDestination = Pick(
      {L"Selezionare (o creare) la cartella di destinazione in cui salvare il progetto corrente.",
       L"Select or create the Destination folder for this project:"});
  sMsgCantSave = Pick({L"Non è possibile salvare questo Componente", L"Can't save this Component."});
}

namespace {

// `n` in decimal digits, without the C library's formatted output, which would
// bring its whole printf family (about 27 KB) into Quarnel.dll.
std::wstring Decimal(size_t n) {
  wchar_t digits[24];
  wchar_t* first = std::end(digits);
  do {
    *--first = static_cast<wchar_t>(L'0' + n % 10);
    n /= 10;
  } while (n != 0);
  return {first, std::end(digits)};
}

// Lists name at most ten things; the rest are counted.
constexpr size_t kListed = 10;

// What stands for the things beyond the tenth: "and 5 more".
std::wstring More(size_t count) {
  const std::wstring more = Decimal(count - kListed);
  return bItalian ? L"e altri " + more : L"and " + more + L" more";
}

// A heading, a blank line, the lines (ten at most, then how many more), a
// blank line and a closing line.
std::wstring ListedText(const Text& heading, const std::vector<std::wstring>& lines, const Text& closing) {
  std::wstring text = Pick(heading) + kLineBreak;
  for (size_t i = 0; i < lines.size() && i < kListed; ++i) text += kLineBreak + lines[i];
  if (lines.size() > kListed) text += kLineBreak + More(lines.size());
  return text + kLineBreak + kLineBreak + Pick(closing);
}

}  // namespace

std::wstring ForeignFilesQuestion(const std::vector<std::wstring>& names) {
  return ListedText({L"La cartella contiene già file che il salvataggio sostituirebbe:",
                     L"The folder already holds files that saving would replace:"},
                    names, {L"Sostituirli?", L"Replace them?"});
}

std::wstring ProjectClashMessage(const std::vector<std::wstring>& lines) {
  return ListedText({L"Il salvataggio in questa cartella sostituirebbe file di altri componenti di questo progetto:",
                     L"Saving into this folder would replace files of other components of this project:"},
                    lines, {L"Non è stato salvato nulla.", L"Nothing was saved."});
}

std::wstring CannotWriteReason(CannotWrite why) {
  // In the order of CannotWrite.
  static constexpr Text kReasons[] = {
      {L"Windows riserva questo nome a un dispositivo", L"Windows keeps this name for a device"},
      {L"il percorso è troppo lungo per l'IDE", L"the path is too long for the IDE"},
      {L"di sola lettura", L"read-only"},
      {L"una cartella ha questo nome", L"a folder has this name"},
      {L"nascosto", L"hidden"},
      {L"file di sistema", L"a system file"},
      {L"Windows non permette all'IDE di creare file in questa cartella",
       L"Windows does not let the IDE create files in this folder"},
      {L"Windows non ti permette di modificare questo file", L"Windows does not let you change this file"},
      {L"in uso da un altro programma", L"in use by another program"},
      {L"il disco non ha più spazio", L"the disk has no room left"},
      {L"bloccato dalla protezione antivirus", L"stopped by the virus protection"},
      {L"il suo servizio online (come OneDrive) non è avviato o non è raggiungibile",
       L"its online provider (such as OneDrive) is not running or cannot be reached"},
      {L"Windows non riesce ad aprire questo file", L"Windows cannot open this file"},
      {L"il file o il suo disco è danneggiato", L"the file or its disk is damaged"},
  };
  static_assert(std::size(kReasons) == static_cast<size_t>(CannotWrite::kCount), "a text for each reason");
  return Pick(kReasons[static_cast<int>(why)]);
}

namespace {

// `bytes` in kilobytes, or in megabytes with one decimal, rounded up or down,
// into `text`.
constexpr unsigned long long kMega = 1024 * 1024;
void Amount(wchar_t (&text)[24], unsigned long long bytes, bool up, bool mega) {
  if (!mega) {
    wsprintfW(text, L"%lu KB", static_cast<DWORD>((bytes + (up ? 1023 : 0)) / 1024));
  } else {
    const auto tenths = static_cast<DWORD>((bytes * 10 + (up ? kMega - 1 : 0)) / kMega);
    wsprintfW(text, L"%lu%c%lu MB", tenths / 10, bItalian ? L',' : L'.', tenths % 10);
  }
}

}  // namespace

std::wstring NoRoomQuestion(const std::wstring& folder, unsigned long long room, unsigned long long need) {
  wchar_t needed[24], free[24], figures[80];
  Amount(needed, need, true, need >= kMega);
  Amount(free, room, false, need >= kMega);
  wsprintfW(figures, bItalian ? L"circa %s necessari, %s liberi" : L"about %s needed, %s free", needed, free);
  return ListedText(
      {L"Il disco potrebbe non avere spazio per questo salvataggio:", L"The disk may not have room for this save:"},
      {folder, figures}, {L"Salvare comunque?", L"Save all the same?"});
}

std::wstring CannotWriteMessage(const std::vector<std::wstring>& lines) {
  return ListedText({L"Il salvataggio non può scrivere questi file:", L"The save cannot write these files:"},
                    lines, {L"Non è stato salvato nulla.", L"Nothing was saved."});
}

std::wstring ProgressText(bool checking, size_t number, size_t total, const std::wstring& name) {
  static constexpr Text kDoing[] = {{L"Salvataggio ", L"Saving "}, {L"Controllo ", L"Checking "}};
  return Pick(kDoing[checking]) + Decimal(number) + Pick({L" di ", L" of "}) + Decimal(total) + L": " + name;
}

std::wstring AlreadyWrittenLine(const std::vector<std::wstring>& names) {
  if (names.empty()) return {};
  std::wstring text = Pick({L"Già scritti: ", L"Already written: "});
  for (size_t i = 0; i < names.size() && i < kListed; ++i) text += (i ? L", " : L"") + names[i];
  if (names.size() > kListed) text += L", " + More(names.size());
  return text;
}

}  // namespace quarnel
