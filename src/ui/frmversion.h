// The about window: the program's icon, title and version string.
#pragma once

#include <QDialog>
#include <QIcon>

class QFrame;
class QLabel;
class QPushButton;

// The icon every Tenvo window carries (drawn for this program, several sizes).
QIcon programIcon();

// Creating the window loads it: the title label gets the title and the
// version string. The window keeps no data; each opening makes a new one.
class frmVersion : public QDialog
{
    Q_OBJECT

public:
    explicit frmVersion(QWidget *parent = nullptr);

    // Closes the window.
    void Command1_Click();

    QLabel *Image1 = nullptr;
    QLabel *lblTitle = nullptr;
    QFrame *Line1 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr;

    // The title label's full text: title, two empty lines, version string.
    static QString titleText();
};
