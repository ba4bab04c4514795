// Tenvo's entry point: the application object, the real dialogs, Main.
#include "frmversion.h"
#include "qtuserdialogs.h"
#include "startup.h"
#include "userdialogs.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tenvo"));
    QApplication::setWindowIcon(programIcon());

    QtUserDialogs dialogs;
    setUserDialogs(&dialogs);

    Main();
    return app.exec();
}
