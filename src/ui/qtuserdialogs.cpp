// The dialog seam answered by real Qt dialogs.
#include "qtuserdialogs.h"

#include "fittedtext.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>

#include <array>

namespace {

// How much of the screen's width a message box's text may take.
constexpr int screenMargin = 160;
// What of the screen's height a message box leaves to the window manager's
// title bar and frame and to the desktop's panels.
constexpr int screenMarginHeight = 96;

// What the user reads on the password box's other ways out.
QString skipArchiveCaption() { return QCoreApplication::translate("QtUserDialogs", "この書庫を飛ばす"); }
QString stopRunCaption() { return QCoreApplication::translate("QtUserDialogs", "中止"); }
QString rememberCaption() { return QCoreApplication::translate("QtUserDialogs", "このパスワードを記憶する"); }

} // namespace

QtUserDialogs::QtUserDialogs() = default;

QtUserDialogs::~QtUserDialogs() = default;

void QtUserDialogs::exclamation(QWidget *owner, const QString &text)
{
    messageBox(owner, QMessageBox::Warning, text)->exec();
}

void QtUserDialogs::plainMessage(QWidget *owner, const QString &text)
{
    messageBox(owner, QMessageBox::NoIcon, text)->exec();
}

bool QtUserDialogs::question(QWidget *owner, const QString &text)
{
    // A short sentence: Qt's own box, its buttons in the user's language.
    return QMessageBox::question(owner, QString(), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

std::unique_ptr<QDialog> QtUserDialogs::messageBox(QWidget *owner, int icon, const QString &text)
{
    // Not a QMessageBox: it wraps a text wider than a few hundred pixels at
    // any character, and a Japanese sentence, which has no blanks, then
    // breaks inside a word. Here the box is as wide as its longest line;
    // only a line wider than the screen (a long path) is shortened.
    auto box = std::make_unique<QDialog>(owner);
    box->setObjectName(QStringLiteral("messageBox"));
    auto *layout = new QGridLayout(box.get());
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->setHorizontalSpacing(12);
    if (icon != QMessageBox::NoIcon) {
        auto *image = new QLabel(box.get());
        image->setObjectName(QStringLiteral("messageIcon"));
        image->setPixmap(QMessageBox::standardIcon(QMessageBox::Icon(icon)));
        image->setAlignment(Qt::AlignTop);
        layout->addWidget(image, 0, 0);
    }
    // A long text (a summary of many failures) scrolls inside the box, so
    // the box and its OK button stay on the screen.
    auto *scroll = new QScrollArea(box.get());
    scroll->setObjectName(QStringLiteral("messageScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    auto *label = new QLabel;
    label->setObjectName(QStringLiteral("messageText"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setAutoFillBackground(false);
    const QScreen *screen = owner ? owner->screen() : box->screen();
    const QRect available = screen->availableGeometry();
    const int scrollBarWidth = scroll->verticalScrollBar()->sizeHint().width();
    const int room = qMax(200, available.width() - screenMargin - scrollBarWidth);
    QString shortened;
    label->setText(fittedText(text, label->fontMetrics(), room, &shortened));
    label->setToolTip(shortened);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->resize(label->sizeHint());
    scroll->setWidget(label);
    layout->addWidget(scroll, 0, 1);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, box.get());
    buttons->setCenterButtons(box->style()->styleHint(QStyle::SH_MessageBox_CenterButtons, nullptr, box.get()));
    QObject::connect(buttons, &QDialogButtonBox::accepted, box.get(), &QDialog::accept);
    layout->addWidget(buttons, 1, 0, 1, 2);

    const QMargins margins = layout->contentsMargins();
    const int textRoom = qMax(label->fontMetrics().lineSpacing() * 3,
                              available.height() - screenMarginHeight - margins.top() - margins.bottom()
                                  - layout->spacing() - buttons->sizeHint().height());
    const bool scrolls = label->height() > textRoom;
    scroll->setFixedSize(label->width() + (scrolls ? scrollBarWidth : 0), qMin(label->height(), textRoom));

    // As in Qt's own message boxes, Copy with nothing selected takes the
    // whole text, and in full: paths are not shortened there.
    auto *copy = new QShortcut(QKeySequence::Copy, box.get());
    QObject::connect(copy, &QShortcut::activated, label, [label, text] {
        QGuiApplication::clipboard()->setText(label->hasSelectedText() ? label->selectedText() : text);
    });
    buttons->button(QDialogButtonBox::Ok)->setFocus();
    return box;
}

QString QtUserDialogs::inputBox(QWidget *owner, const QString &prompt, const QString &title,
                                const QString &preset)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, preset, &ok);
    return ok ? answer : QString();
}

QString QtUserDialogs::password(QWidget *owner, const QString &prompt, const QString &title)
{
    QInputDialog box(owner);
    box.setWindowTitle(title);
    box.setLabelText(prompt);
    box.setInputMode(QInputDialog::TextInput);
    box.setTextEchoMode(QLineEdit::Password);
    if (box.exec() != QDialog::Accepted)
        return QString();
    // Not null even when empty: an empty password is an answer.
    QString answer = box.textValue();
    box.setTextValue(QString());
    return answer.isNull() ? QStringLiteral("") : answer;
}

int QtUserDialogs::choice(QWidget *owner, const QString &text, const QStringList &buttons)
{
    // The message box, its OK button replaced by one per caption.
    const std::unique_ptr<QDialog> box = messageBox(owner, QMessageBox::Warning, text);
    auto *buttonBox = box->findChild<QDialogButtonBox *>();
    if (!buttonBox)
        return -1;
    buttonBox->clear();
    QDialog *dialog = box.get();
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        QPushButton *button = buttonBox->addButton(buttons[i], QDialogButtonBox::ActionRole);
        button->setDefault(i == 0);
        QObject::connect(button, &QPushButton::clicked, dialog, [dialog, i] { dialog->done(int(i) + 1); });
    }
    return box->exec() - 1;
}

std::unique_ptr<QInputDialog> QtUserDialogs::passwordBox(QWidget *owner, const QString &prompt,
                                                        const QString &title, bool offerTick)
{
    auto box = std::make_unique<QInputDialog>(owner);
    box->setWindowTitle(title);
    box->setLabelText(prompt);
    box->setInputMode(QInputDialog::TextInput);
    box->setTextEchoMode(QLineEdit::Password);
    box->setCancelButtonText(skipArchiveCaption());
    // Qt's box has no third button nor a tick of its own; they are added to
    // its row and above it.
    if (auto *buttons = box->findChild<QDialogButtonBox *>()) {
        QPushButton *stop = buttons->addButton(stopRunCaption(), QDialogButtonBox::DestructiveRole);
        QInputDialog *dialog = box.get();
        QObject::connect(stop, &QPushButton::clicked, dialog, [dialog] { dialog->done(passwordStopCode); });
        auto *layout = qobject_cast<QBoxLayout *>(box->layout());
        if (offerTick && layout) {
            auto *tick = new QCheckBox(rememberCaption(), dialog);
            tick->setObjectName(QStringLiteral("chkRemember"));
            layout->insertWidget(layout->indexOf(buttons), tick);
        }
    }
    return box;
}

UserDialogs::PasswordReply QtUserDialogs::passwordOrStop(QWidget *owner, const QString &prompt,
                                                        const QString &title, QString &answer, bool *remember)
{
    const std::unique_ptr<QInputDialog> box = passwordBox(owner, prompt, title, remember != nullptr);
    if (remember)
        *remember = false;
    const int reply = box->exec();
    answer = box->textValue();
    box->setTextValue(QString());
    if (reply == passwordStopCode) {
        answer.clear();
        return PasswordReply::StopRun;
    }
    if (reply != QDialog::Accepted) {
        answer = QString();
        return PasswordReply::Skipped;
    }
    if (auto *tick = box->findChild<QCheckBox *>(QStringLiteral("chkRemember")); tick && remember)
        *remember = tick->isChecked();
    // Not null even when empty: an empty password is an answer.
    if (answer.isNull())
        answer = QStringLiteral("");
    return PasswordReply::Answered;
}

QString QtUserDialogs::chooseFolder(QWidget *owner, const QString &description,
                                    bool showNewFolderButton, const QString &start)
{
    const std::unique_ptr<QFileDialog> dialog = folderDialog(owner, description, showNewFolderButton, start);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    const QString folder = dialog->selectedFiles().constFirst();
    return folder.isEmpty() ? QString() : folder;
}

std::unique_ptr<QFileDialog> QtUserDialogs::folderDialog(QWidget *owner, const QString &description,
                                                         bool showNewFolderButton, const QString &start)
{
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    // Qt's own dialog drops its new-folder button on a read-only view; a
    // desktop's native chooser would not honour that.
    if (!showNewFolderButton)
        options |= QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog;
    auto dialog = std::make_unique<QFileDialog>(owner, description, start.isEmpty() ? QDir::homePath() : start);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOptions(options);
    showDescription(*dialog, description);
    return dialog;
}

void QtUserDialogs::showDescription(QFileDialog &dialog, const QString &description)
{
    // The title alone is lost where windows have no title bar; the
    // description also stands above the folder view, as a chooser's
    // instruction does. Only Qt's own dialog can carry it.
    if (description.isEmpty())
        return;
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    if (!grid)
        return;
    auto *label = new QLabel(description, &dialog);
    label->setObjectName(QStringLiteral("folderDescription"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    // A new first row, above "Look in" and the folder view.
    QList<QLayoutItem *> items;
    QList<std::array<int, 4>> places;
    while (grid->count() > 0) {
        int row, column, rowSpan, columnSpan;
        grid->getItemPosition(0, &row, &column, &rowSpan, &columnSpan);
        places.append({row + 1, column, rowSpan, columnSpan});
        items.append(grid->takeAt(0));
    }
    for (qsizetype i = 0; i < items.size(); ++i)
        grid->addItem(items[i], places[i][0], places[i][1], places[i][2], places[i][3]);
    grid->addWidget(label, 0, 0, 1, qMax(1, grid->columnCount()));
}

QString QtUserDialogs::openFile(QWidget *owner, const QString &filter, const QString &start)
{
    const std::unique_ptr<QFileDialog> dialog = openFileDialog(owner, filter, start);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    const QString file = dialog->selectedFiles().constFirst();
    return file.isEmpty() ? QString() : file;
}

std::unique_ptr<QFileDialog> QtUserDialogs::openFileDialog(QWidget *owner, const QString &filter,
                                                           const QString &start)
{
    auto dialog = std::make_unique<QFileDialog>(owner, QString(), start.isEmpty() ? QDir::homePath() : start,
                                                qtFilter(filter));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    return dialog;
}

QString QtUserDialogs::qtFilter(const QString &filter)
{
    static const QRegularExpression trailingPatterns(QStringLiteral("\\s*\\([^()]*\\)\\s*$"));
    static const QRegularExpression patternSeparators(QStringLiteral("[;\\s]+"));

    const QStringList parts = filter.split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts[i + 1].split(patternSeparators, Qt::SkipEmptyParts)) {
            patterns.append(pattern);
            if (pattern.toLower() != pattern)
                patterns.append(pattern.toLower());
        }
        if (patterns.isEmpty())
            continue;
        // Qt reads the patterns from the last parentheses, so the ones the
        // description already shows make way for the real list.
        QString description = parts[i].trimmed();
        description.remove(trailingPatterns);
        entries.append(description + QStringLiteral(" (") + patterns.join(u' ') + u')');
    }
    return entries.join(QStringLiteral(";;"));
}
