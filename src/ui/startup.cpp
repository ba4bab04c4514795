// Start-up and shut-down of the program.
#include "startup.h"

#include "clsarchive.h"
#include "clsfolderblowserdialog.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "frmmain.h"
#include "frmversion.h"
#include "globals.h"
#include "module1.h"
#include "windowplacement.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace {
QPointer<frmMain> theMainWindow;
}

frmMain *mainWindow()
{
    return theMainWindow.data();
}

void Main(const QString &appPath)
{
    // Every window and dialog shows the program's icon unless it has its own.
    QApplication::setWindowIcon(programIcon());
    auto *window = new frmMain;
    window->setAttribute(Qt::WA_DeleteOnClose);
    theMainWindow = window;

    gListCtrl = new clsListCtrl;
    gListCtrl->setList(window->list);

    gFolderDialog = new clsFolderBlowserDialog;

    gArchive = new clsArchive;
    gArchive->setLibraryFolder(appPath);
    for (const SupportType &row : registrationRows())
        gArchive->addSupportType(row);

    gIniCtrl = new clsINICtrl;
    gIniCtrl->setFile(settingsFilePath(appPath));

    loadWindowPosition(window);

    QList<SupportType> types;
    gArchive->getSupportTypes(types);
    window->cmdlg.Filter = buildFilter(types);

    window->show();
}

void Main()
{
    Main(getAppPath());
}

void addStartPaths(const QStringList &paths)
{
    if (paths.isEmpty() || !theMainWindow)
        return;
    QTimer::singleShot(0, theMainWindow.data(), [paths] {
        if (theMainWindow)
            theMainWindow->addPaths(paths);
    });
}

void endApplication()
{
    if (theMainWindow)
        saveWindowPosition(theMainWindow);

    delete gListCtrl;
    gListCtrl = nullptr;
    delete gFolderDialog;
    gFolderDialog = nullptr;
    delete gArchive;
    gArchive = nullptr;
    delete gIniCtrl;
    gIniCtrl = nullptr;
}
