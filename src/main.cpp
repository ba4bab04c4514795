// Tenvo's entry point: the command line without a window when options are
// given, else the files handed to a window already open, else the window,
// whose code lives in tenvo-window.so beside the program so that a run from
// a script never loads the widget libraries.
#include "commandline.h"
#include "module1.h"
#include "nativepath.h"
#include "singleinstance.h"
#include "translations.h"

#include <QCoreApplication>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// What the user reads when the window's library is missing or broken.
const char *const cannotLoadWindow = QT_TRANSLATE_NOOP("main", "ウィンドウを表示するライブラリを読み込めません: %1");

// Where the window's library is looked for, as the archiver libraries are:
// the program's folder, then lib/tenvo beside it (an installed program).
std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string folder(path, std::size_t(n));
    return folder.substr(0, folder.rfind('/') + 1);
}

int runWindow(int argc, char *argv[])
{
    const std::string folder = programFolder();
    std::string error;
    for (const std::string &path : {folder + "tenvo-window.so", folder + "../lib/tenvo/tenvo-window.so"}) {
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        void *handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        using WindowMain = int (*)(int, char **);
        auto windowMain = handle ? reinterpret_cast<WindowMain>(::dlsym(handle, "tenvoWindowMain")) : nullptr;
        if (windowMain)
            return windowMain(argc, argv);
        error = ::dlerror();
        break;
    }
    QCoreApplication app(argc, argv);
    installTranslators(translationsFolder(getAppPath()));
    const std::string cause = error.empty() ? folder + "tenvo-window.so" : error;
    std::fputs((QCoreApplication::translate("main", cannotLoadWindow).arg(QString::fromLocal8Bit(cause)) + u'\n')
                   .toUtf8().constData(),
               stderr);
    return exitUsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    if (runsWithoutWindow(argc, argv) && !asksForHelpAll(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Tenvo"));
        QCoreApplication::setApplicationVersion(QStringLiteral(TENVO_VERSION));
        return commandLineMain(nativeArguments(argc, argv));
    }
    // A window already open for this user and display takes the files (or
    // only comes to the front), so no second window writes its settings over
    // the first one's when it closes.
    if (sendToRunningInstance(windowStartPaths(nativeArguments(argc, argv))) == InstanceReply::Delivered)
        return exitExtracted;
    return runWindow(argc, argv);
}
