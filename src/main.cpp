// Tenvo's entry point: the window with its real dialogs, or, when options are
// given, the command line without a window.
#include "commandline.h"
#include "frmmain.h"
#include "qtuserdialogs.h"
#include "startup.h"
#include "userdialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tenvo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TENVO_VERSION));
}

} // namespace

int main(int argc, char *argv[])
{
    // The command line needs no display, so it runs without a GUI application.
    if (runsWithoutWindow(argc, argv)) {
        QCoreApplication app(argc, argv);
        nameApplication();
        return commandLineMain(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("tenvo"));

    QtUserDialogs dialogs;
    setUserDialogs(&dialogs);

    Main();
    // Files and folders given at start join the list once the window is up,
    // so a message about refused ones has the window as its owner.
    const QStringList paths = windowStartPaths(QCoreApplication::arguments());
    if (!paths.isEmpty()) {
        QTimer::singleShot(0, mainWindow(), [paths] {
            if (frmMain *window = mainWindow())
                window->addPaths(paths);
        });
    }
    return app.exec();
}
