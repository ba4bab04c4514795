// The program's global objects and extraction options.
#include "globals.h"

clsListCtrl *gListCtrl = nullptr;
clsFolderBlowserDialog *gFolderDialog = nullptr;
clsArchive *gArchive = nullptr;
clsINICtrl *gIniCtrl = nullptr;

bool gMakeNameFolder = false;
bool gRestoreFolder = false;
bool gDeleteFromList = false;
bool gCloseDialog = false;

bool gSmartFolders = false;
bool gSkipJunk = true;
bool gNested = false;
bool gOpenFolder = false;
bool gTrashArchives = false;
int gExisting = 0;
