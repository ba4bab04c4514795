// The program's global objects and extraction options. Main creates the
// objects and endApplication releases them; tests set only what they use.
#pragma once

class clsListCtrl;
class clsFolderBlowserDialog;
class clsArchive;
class clsINICtrl;

extern clsListCtrl *gListCtrl;
extern clsFolderBlowserDialog *gFolderDialog;
extern clsArchive *gArchive;
extern clsINICtrl *gIniCtrl;

// Extraction options; false until the options dialog loads them.
extern bool gMakeNameFolder;
extern bool gRestoreFolder;
extern bool gDeleteFromList;
extern bool gCloseDialog;
// The choices added to the four: name folders only where needed, junk files
// left out (on until the settings file says otherwise), archives inside
// archives, the destination opened and the archives trashed afterwards, and
// what becomes of files the destination already holds (an
// ExtractOptions::Existing value).
extern bool gSmartFolders;
extern bool gSkipJunk;
extern bool gNested;
extern bool gOpenFolder;
extern bool gTrashArchives;
extern int gExisting;
