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
