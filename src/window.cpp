// The window side of the program, loaded by main.cpp only when a window is
// wanted, so that the command line never loads the widget libraries.
#include "commandline.h"
#include "instanceserver.h"
#include "module1.h"
#include "nativepath.h"
#include "qtuserdialogs.h"
#include "startup.h"
#include "translations.h"
#include "userdialogs.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Tenvo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TENVO_VERSION));
}

// Qt ends the program (abort) when no display can be reached. Its lines are
// held back while the application starts, and on that end the user reads one
// line of ours instead.
struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};
QList<HeldMessage> *heldMessages = nullptr;

void holdStartMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtFatalMsg) {
        installTranslators(translationsFolder(getAppPath()));
        std::fputs(noDisplayLine().toUtf8().constData(), stderr);
        std::_Exit(exitUsageError);
    }
    heldMessages->append({type, context.file, context.function, context.category, context.line, message});
}

void passOnHeldMessages(QtMessageHandler handler, const QList<HeldMessage> &messages)
{
    for (const HeldMessage &held : messages) {
        const QMessageLogContext context(held.file.constData(), held.line, held.function.constData(),
                                         held.category.constData());
        handler(held.type, context, held.text);
    }
}

} // namespace

extern "C" __attribute__((visibility("default"))) int tenvoWindowMain(int argc, char *argv[])
{
    // --help-all: only a GUI application lists Qt's window options, and one
    // drawing off the screen needs no display either.
    if (runsWithoutWindow(argc, argv) && asksForHelpAll(argc, argv)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        nameApplication();
        return commandLineMain(QCoreApplication::arguments());
    }

    QList<HeldMessage> held;
    heldMessages = &held;
    const QtMessageHandler qtHandler = qInstallMessageHandler(holdStartMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(qtHandler);
    heldMessages = nullptr;
    passOnHeldMessages(qtHandler, held);
    nameApplication();
    installTranslators(translationsFolder(getAppPath()));
    QGuiApplication::setDesktopFileName(QStringLiteral("tenvo"));

    QtUserDialogs dialogs;
    setUserDialogs(&dialogs);

    // A window that opened since the program looked (main.cpp) takes the
    // files instead; else this one is the window later starts reach.
    const QStringList paths = windowStartPaths(nativeArguments(argc, argv));
    InstanceServer instance;
    if (instance.claim(paths) == InstanceServer::Delivered)
        return exitExtracted;
    instance.setReceiver(&addPathsFromAnotherStart);

    Main();
    addStartPaths(paths);
    return app.exec();
}
