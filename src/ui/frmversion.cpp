// The about window.
#include "frmversion.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

namespace {

// What the user reads.
QString caption() { return QCoreApplication::translate("frmVersion", "バージョン情報"); }
QString title() { return QCoreApplication::translate("frmVersion", "書庫ファイル一括解凍ユーティリティ"); }
const QString version = QStringLiteral("Tenvo ver2.1 ( release build 1206.3 )");
QString notice() { return QCoreApplication::translate("frmVersion", "本ソフトウェアは無保証です"); }
QString closeCaption() { return QCoreApplication::translate("frmVersion", "閉じる"); }

// Labels get at least their design size, more when the font needs it.
void placeLabel(QLabel *label, int left, int top, int width, int height)
{
    const QSize hint = label->sizeHint();
    label->setGeometry(left, top, qMax(width, hint.width()), qMax(height, hint.height()));
}

} // namespace

QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/tenvo/icons/tenvo-%1.png").arg(size), QSize(size, size));
    return icon;
}

QString frmVersion::titleText()
{
    return title() + QStringLiteral("\n\n\n") + version;
}

frmVersion::frmVersion(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmVersion"));
    setWindowTitle(caption());
    setWindowIcon(programIcon());
    setFixedSize(380, 200);

    Label1 = new QLabel(notice(), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeLabel(Label1, 82, 136, 213, 12);

    lblTitle = new QLabel(title(), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setTextFormat(Qt::PlainText);
    lblTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblTitle->setWordWrap(true);
    lblTitle->setGeometry(136, 16, 233, 105);

    Command1 = new QPushButton(closeCaption(), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(256, 168, 113, 25);
    Command1->setDefault(true);
    connect(Command1, &QPushButton::clicked, this, &frmVersion::Command1_Click);

    // A label takes no clicks, so pressing the image does nothing.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(16, 16, 96, 96);
    Image1->setScaledContents(true);
    Image1->setPixmap(programIcon().pixmap(QSize(96, 96)));

    Line1 = new QFrame(this);
    Line1->setObjectName(QStringLiteral("Line1"));
    Line1->setGeometry(8, 128, 361, 1);
    Line1->setFrameShape(QFrame::NoFrame);
    Line1->setAutoFillBackground(true);
    QPalette grey = Line1->palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    Line1->setPalette(grey);

    Command1->setFocus();

    // Loading the window puts the version string under the title().
    lblTitle->setText(titleText());
}

void frmVersion::Command1_Click()
{
    accept();
}
