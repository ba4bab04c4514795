// The chosen-folder box both folder dialogs show, and their label placing.
#include "folderbox.h"

#include "clsfolderblowserdialog.h"
#include "globals.h"
#include "pathtext.h"

#include <QFile>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

FolderBox createFolderBox(QWidget *dialog)
{
    FolderBox box {};
    box.frame = new QFrame(dialog);
    box.frame->setObjectName(QStringLiteral("Picture1"));
    box.frame->setGeometry(8, 24, 369, 25);
    box.frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box.frame->setLineWidth(2);
    box.frame->setBackgroundRole(QPalette::Base);
    box.frame->setAutoFillBackground(true);

    box.pathLabel = new QLabel(box.frame);
    box.pathLabel->setObjectName(QStringLiteral("lblFolderPath"));
    box.pathLabel->setGeometry(3, 4, 353, 17);
    box.pathLabel->setTextFormat(Qt::PlainText);
    box.pathLabel->setBackgroundRole(QPalette::Base);

    box.button = new QPushButton(dialog);
    box.button->setObjectName(QStringLiteral("cmdOpenDlg"));
    box.button->setGeometry(384, 24, 25, 25);
    // The program's own folder image when it is built in, else the style's.
    const QString folderImage = QStringLiteral(":/tenvo/icons/folder-open.png");
    box.button->setIcon(QFile::exists(folderImage) ? QIcon(folderImage)
                                                   : dialog->style()->standardIcon(QStyle::SP_DirOpenIcon));
    box.button->setIconSize(QSize(16, 16));
    return box;
}

bool pickFolder(QWidget *dialog, const QString &description, QString &path)
{
    if (!gFolderDialog)
        return false;
    gFolderDialog->setDescription(description);
    if (!gFolderDialog->ShowDialog(dialog))
        return false;
    path = gFolderDialog->SelectedPath();
    if (!path.endsWith(u'/'))
        path += u'/';
    return true;
}

void showFolderPath(QLabel *pathLabel, const QString &path)
{
    pathLabel->setText(displayPath(path));
    pathLabel->setToolTip(displayPath(path));
}

void placeLabel(QLabel *label, int left, int top, int width, int height)
{
    const QSize hint = label->sizeHint();
    label->setGeometry(left, top, qMax(width, hint.width()), qMax(height, hint.height()));
}
