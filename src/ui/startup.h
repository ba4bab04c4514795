// Start-up and shut-down of the program.
#pragma once

#include <QString>

class frmMain;

// Starts the program living in the program folder appPath (ending in "/"):
// creates gListCtrl bound to a new main window's list (loaded, hidden),
// gFolderDialog and gArchive, offers the archive types LHA, CAB, ZIP, RAR
// (libraries looked up in appPath first), creates gIniCtrl bound to the
// settings file for appPath, restores the window's placement, sets the
// open-file filter from the registered types and shows the window. The
// window deletes itself when closed. Needs a QApplication and an installed
// dialog seam.
void Main(const QString &appPath);
// Main for the folder that holds the program's executable.
void Main();

// The main window Main made; nullptr before Main and once it is gone.
frmMain *mainWindow();

// Shut-down, run when the main window closes: writes the window's placement
// to the settings file, then releases gListCtrl, gFolderDialog, gArchive and
// gIniCtrl in that order (each left null). Safe to call with any of them
// missing.
void endApplication();
