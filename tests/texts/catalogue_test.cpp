// The message catalogue, byte for byte in both languages. The expected texts are
// written with escapes, independently of the catalogue's own source.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "texts/modAddin.h"

namespace quarnel {
namespace {

struct Expected {
  const std::wstring* slot;
  const wchar_t* name;
  const wchar_t* text;
};

void ExpectSlots(std::initializer_list<Expected> cases) {
  for (const auto& c : cases) EXPECT_EQ(*c.slot, c.text) << c.name;
}

class Catalogue : public ::testing::Test {
 protected:
  void TearDown() override { bItalian = false; }
};

TEST_F(Catalogue, ItalianTexts) {
  bItalian = true;
  FillMessageSlots();
  ExpectSlots({
      {&sMsgTitle, L"sMsgTitle", L"Quarnel"},
      {&sMsgAlreadySaved, L"sMsgAlreadySaved", L"Progetto gi\u00E0 salvato."},
      {&sMsgNoDefaultFolder, L"sMsgNoDefaultFolder",
       L"Non avete ancora impostata la cartella Predefinita. Nella prossima \x0D\x0A"
       L"finestra selezionate la cartella che dovr\u00E0 contenere i vostri progetti."},
      {&sCaptionDefaultFolder, L"sCaptionDefaultFolder",
       L"Selezionare, o creare, la cartella Predefinita di partenza. D'ora in avanti tutti i "
       L"vostri progetti verranno salvati partendo da questa cartella..."},
      {&sMsgImportant, L"sMsgImportant",
       L"IMPORTANTE: Se in seguito desiderate modificare la cartella Predefinita, cancellate il "
       L"file [Quarnel.ini] che si trova nella stessa cartella di questo add-in."},
      {&sMsgAborted, L"sMsgAborted", L"Nessuna cartella selezionata. Azione interrotta."},
      {&sMsgReady, L"sMsgReady",
       L"OK. Ora potete salvare il progetto.\x0D\x0ASelezionate la cartella per questo progetto..."},
      {&sCaptionDestination, L"sCaptionDestination",
       L"Selezionare (o creare) la cartella di destinazione in cui salvare il progetto corrente."},
      {&sMsgCantSave, L"sMsgCantSave", L"Non \u00E8 possibile salvare questo Componente"},
  });
}

TEST_F(Catalogue, EnglishTexts) {
  bItalian = false;
  FillMessageSlots();
  ExpectSlots({
      {&sMsgTitle, L"sMsgTitle", L"Quarnel"},
      {&sMsgAlreadySaved, L"sMsgAlreadySaved", L"Project already saved."},
      {&sMsgNoDefaultFolder, L"sMsgNoDefaultFolder",
       L"The Default folder value for the Quarnel add-in is empty.\x0D\x0A"
       L"On the next dialog, select the Default starting folder for yours projects."},
      {&sCaptionDefaultFolder, L"sCaptionDefaultFolder",
       L"Select or create the starting Default folder. Next, all your projects will be saved "
       L"starting from this folder..."},
      {&sMsgImportant, L"sMsgImportant",
       L"IMPORTANT: if you will change the Default folder, delete the [Quarnel.ini] file, from "
       L"the same folder of this add-in."},
      {&sMsgAborted, L"sMsgAborted", L"Selected folder none. Action aborted."},
      {&sMsgReady, L"sMsgReady",
       L"OK. Now you can save the project.\x0D\x0ASelect the folder for this project..."},
      {&sCaptionDestination, L"sCaptionDestination",
       L"Select or create the Destination folder for this project:"},
      {&sMsgCantSave, L"sMsgCantSave", L"Can't save this Component."},
  });
}

// Asked before a save would replace another project's files, or said when it
// would replace another component's or cannot write some; and the files that a
// failure in the middle had written: ten at most. (One line, in both
// languages: the end-to-end tests.)
TEST_F(Catalogue, ListsOfFilesShowTenLinesAndCountTheRest) {
  std::vector<std::wstring> twelve;
  for (int i = 1; i <= 12; ++i) twelve.push_back(L"M" + std::to_wstring(i) + L".bas");
  std::vector<std::wstring> many = twelve;
  many.resize(1210, L"X.bas");
  const std::wstring ten_names =
      L"M1.bas\x0D\x0AM2.bas\x0D\x0AM3.bas\x0D\x0AM4.bas\x0D\x0AM5.bas\x0D\x0AM6.bas\x0D\x0AM7.bas\x0D\x0A"
      L"M8.bas\x0D\x0AM9.bas\x0D\x0AM10.bas\x0D\x0A";
  const std::wstring ten_in_a_line = L"M1.bas, M2.bas, M3.bas, M4.bas, M5.bas, M6.bas, M7.bas, M8.bas, M9.bas, M10.bas, ";
  bItalian = true;
  std::vector<std::wstring> reasons;  // each reason, in Italian
  for (int why = 0; why < static_cast<int>(CannotWrite::kCount); ++why) reasons.push_back(L"F: " + CannotWriteReason(static_cast<CannotWrite>(why)));
  const struct {
    std::wstring (*text_of)(const std::vector<std::wstring>&);
    bool italian;
    std::vector<std::wstring> names;
    std::wstring text;
  } rows[] = {
      {ForeignFilesQuestion, false, {twelve.begin(), twelve.end() - 1},
       L"The folder already holds files that saving would replace:\x0D\x0A\x0D\x0A" + ten_names +
           L"and 1 more\x0D\x0A\x0D\x0AReplace them?"},
      {ForeignFilesQuestion, true, twelve,
       L"La cartella contiene gi\u00E0 file che il salvataggio sostituirebbe:\x0D\x0A\x0D\x0A" + ten_names +
           L"e altri 2\x0D\x0A\x0D\x0ASostituirli?"},
      {ProjectClashMessage, false, twelve,
       L"Saving into this folder would replace files of other components of this project:\x0D\x0A\x0D\x0A" +
           ten_names + L"and 2 more\x0D\x0A\x0D\x0ANothing was saved."},
      {ProjectClashMessage, false, many,
       L"Saving into this folder would replace files of other components of this project:\x0D\x0A\x0D\x0A" +
           ten_names + L"and 1200 more\x0D\x0A\x0D\x0ANothing was saved."},
      {ProjectClashMessage, true, {twelve.begin(), twelve.end() - 2},
       L"Il salvataggio in questa cartella sostituirebbe file di altri componenti di questo progetto:\x0D\x0A"
       L"\x0D\x0A" + ten_names + L"\x0D\x0ANon \u00E8 stato salvato nulla."},
      {CannotWriteMessage, true, {reasons.begin(), reasons.begin() + 9},
       L"Il salvataggio non pu\u00F2 scrivere questi file:\r\n\r\nF: Windows riserva questo nome a un dispositivo\r\n"
       L"F: il percorso \u00E8 troppo lungo per l'IDE\r\nF: di sola lettura\r\nF: una cartella ha questo nome\r\n"
       L"F: nascosto\r\nF: file di sistema\r\nF: Windows non permette all'IDE di creare file in questa cartella\r\n"
       L"F: Windows non ti permette di modificare questo file\r\nF: in uso da un altro programma\r\n\r\n"
       L"Non \u00E8 stato salvato nulla."},
      {CannotWriteMessage, true, {reasons.begin() + 9, reasons.end()},
       L"Il salvataggio non pu\u00F2 scrivere questi file:\r\n\r\nF: il disco non ha pi\u00F9 spazio\r\n"
       L"F: bloccato dalla protezione antivirus\r\n"
       L"F: il suo servizio online (come OneDrive) non \u00E8 avviato o non \u00E8 raggiungibile\r\n"
       L"F: Windows non riesce ad aprire questo file\r\nF: il file o il suo disco \u00E8 danneggiato\r\n\r\n"
       L"Non \u00E8 stato salvato nulla."},
      {AlreadyWrittenLine, true, twelve, L"Gi\u00E0 scritti: " + ten_in_a_line + L"e altri 2"},
      {AlreadyWrittenLine, false, twelve, L"Already written: " + ten_in_a_line + L"and 2 more"},
  };
  for (const auto& row : rows) {
    bItalian = row.italian;
    EXPECT_EQ(row.text_of(row.names), row.text);
  }
  // The disk's figures: the need rounded up, the room down, in megabytes with
  // one decimal from a need of a megabyte, else in kilobytes.
  bItalian = false;
  EXPECT_EQ(NoRoomQuestion(L"E:\\Orders", 838861, 1153434),
            L"The disk may not have room for this save:\r\n\r\nE:\\Orders\r\nabout 1.2 MB needed, 0.8 MB free\r\n"
            L"\r\nSave all the same?");
  bItalian = true;
  EXPECT_EQ(NoRoomQuestion(L"E:\\", 123 * 1024 + 1023, 300 * 1024 + 1),
            L"Il disco potrebbe non avere spazio per questo salvataggio:\r\n\r\nE:\\\r\ncirca 301 KB necessari, 123 KB "
            L"liberi\r\n\r\nSalvare comunque?");
  EXPECT_NE(NoRoomQuestion(L"E:\\", 5 << 20, 12345ull * 1024).find(L"\r\ncirca 12,1 MB necessari, 5,0 MB liberi\r\n"),
            std::wstring::npos);
}

TEST_F(Catalogue, SlotsFollowTheFlagAtEveryFill) {
  bItalian = true;
  FillMessageSlots();
  bItalian = false;
  FillMessageSlots();
  EXPECT_EQ(sMsgAlreadySaved, L"Project already saved.");
  bItalian = true;
  FillMessageSlots();
  EXPECT_EQ(sMsgAlreadySaved, L"Progetto gi\u00E0 salvato.");
}

TEST_F(Catalogue, ItalianFirstUseMessageBreaksAfterTheTrailingSpace) {
  bItalian = true;
  FillMessageSlots();
  const auto brk = sMsgNoDefaultFolder.find(L"\r\n");
  ASSERT_NE(brk, std::wstring::npos);
  EXPECT_TRUE(sMsgNoDefaultFolder.substr(0, brk).ends_with(L"Nella prossima "));
  EXPECT_TRUE(sMsgNoDefaultFolder.substr(brk + 2).starts_with(L"finestra"));
  EXPECT_EQ(sMsgNoDefaultFolder.find(L"\r\n", brk + 2), std::wstring::npos);
}

TEST_F(Catalogue, MenuCaptionAtConnectionFollowsTheUserLanguage) {
  // The test program runs with an English locale.
  bItalian = true;
  sMenuCaption.clear();
  ChooseLanguage();
  EXPECT_FALSE(bItalian);
  EXPECT_EQ(sMenuCaption, L"Quarnel...");
}

}  // namespace
}  // namespace quarnel
