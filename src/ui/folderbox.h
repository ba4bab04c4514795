// The chosen-folder box both folder dialogs show, and their label placing.
#pragma once

class QFrame;
class QLabel;
class QPushButton;
class QString;
class QWidget;

// A sunken frame (Picture1) holding the path label (lblFolderPath), and the
// folder button (cmdOpenDlg) beside it, at the top of the dialog.
struct FolderBox {
    QFrame *frame;
    QLabel *pathLabel;
    QPushButton *button;
};

FolderBox createFolderBox(QWidget *dialog);

// Asks for a folder through the program's folder picker, under the given
// description. True with the chosen folder, ending in "/", in path; false
// when there is no picker or the user cancelled (path is left as it was).
bool pickFolder(QWidget *dialog, const QString &description, QString &path);

// Shows path in the box; a long path is cut at the label's edge, so the tool
// tip shows it whole.
void showFolderPath(QLabel *pathLabel, const QString &path);

// Gives a label at least its design size, more when the font needs it, so
// its text is never cut off.
void placeLabel(QLabel *label, int left, int top, int width, int height);
