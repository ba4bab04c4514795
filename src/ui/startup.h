// Start-up and shut-down of the program.
#pragma once

#include <QString>
#include <QStringList>

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

// The files and folders given on the command line join the main window's
// list (frmMain::addPaths) once the event loop runs, so that a message about
// refused ones comes up over the shown window. Nothing for an empty list.
void addStartPaths(const QStringList &paths);

// Files another start of the program sent (InstanceServer's receiver) join
// the main window's list as files given at start do, and the window comes to
// the front. While a modal window is open over it (the options, a
// run, a message) they wait and join once the last one closes, as a run
// ends by clearing the list when asked to. Empty paths only bring the
// window to the front. False, taking nothing, once the window is gone or
// closing.
bool addPathsFromAnotherStart(const QStringList &paths);

// The main window Main made; nullptr before Main and once it is gone.
frmMain *mainWindow();

// Shut-down, run when the main window closes: writes the window's placement
// to the settings file, then releases gListCtrl, gFolderDialog, gArchive and
// gIniCtrl in that order (each left null). Safe to call with any of them
// missing.
void endApplication();
