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

#include <utility>

namespace {
QPointer<frmMain> theMainWindow;

// Holds what other starts sent while a modal window was open, and lists it
// once the main window is no longer blocked.
class HeldPaths : public QObject
{
public:
    explicit HeldPaths(frmMain *window) : QObject(window), m_window(window) { window->installEventFilter(this); }

    void add(const QStringList &paths)
    {
        m_paths += paths;
        if (!QApplication::activeModalWidget())
            QTimer::singleShot(0, this, &HeldPaths::addToList);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowUnblocked && !m_paths.isEmpty())
            QTimer::singleShot(0, this, &HeldPaths::addToList);
        return QObject::eventFilter(watched, event);
    }

private:
    void addToList()
    {
        if (m_paths.isEmpty() || QApplication::activeModalWidget())
            return;
        m_window->addPaths(std::exchange(m_paths, {}));
    }

    frmMain *m_window;
    QStringList m_paths;
};

QPointer<HeldPaths> heldPaths;

void bringToFront(QWidget *window)
{
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    QWidget *modal = QApplication::activeModalWidget();
    if (modal && modal != window) {
        modal->raise();
        modal->activateWindow();
    }
    // A window manager that refuses to hand over the focus is asked at least
    // to show that the window wants attention.
    QTimer::singleShot(500, window, [window] {
        if (!window->isActiveWindow())
            QApplication::alert(window);
    });
}

} // namespace

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

bool addPathsFromAnotherStart(const QStringList &paths)
{
    // Shut-down releases the list before the window goes.
    if (!theMainWindow || !gListCtrl)
        return false;
    bringToFront(theMainWindow);
    if (paths.isEmpty())
        return true;
    if (!heldPaths)
        heldPaths = new HeldPaths(theMainWindow);
    heldPaths->add(paths);
    return true;
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
