// Tenvo's entry point: the window with its real dialogs, or, when options are
// given, the command line without a window.
#include "commandline.h"
#include "nativepath.h"
#include "qtuserdialogs.h"
#include "startup.h"
#include "userdialogs.h"

#include <QApplication>
#include <QCoreApplication>

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
        return commandLineMain(nativeArguments(argc, argv));
    }

    QApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("tenvo"));

    QtUserDialogs dialogs;
    setUserDialogs(&dialogs);

    Main();
    addStartPaths(windowStartPaths(nativeArguments(argc, argv)));
    return app.exec();
}
