// The dialog seam answered by real Qt dialogs.
#include "qtuserdialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QRegularExpression>

void QtUserDialogs::exclamation(QWidget *owner, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString QtUserDialogs::inputBox(QWidget *owner, const QString &prompt, const QString &title,
                                const QString &preset)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(owner, title, prompt, QLineEdit::Normal, preset, &ok);
    return ok ? answer : QString();
}

QString QtUserDialogs::chooseFolder(QWidget *owner, const QString &description,
                                    bool showNewFolderButton, const QString &start)
{
    QFileDialog::Options options = QFileDialog::ShowDirsOnly;
    // Qt's own dialog drops its new-folder button on a read-only view; a
    // desktop's native chooser would not honour that.
    if (!showNewFolderButton)
        options |= QFileDialog::ReadOnly | QFileDialog::DontUseNativeDialog;
    const QString folder = QFileDialog::getExistingDirectory(
        owner, description, start.isEmpty() ? QDir::homePath() : start, options);
    return folder.isEmpty() ? QString() : folder;
}

QString QtUserDialogs::openFile(QWidget *owner, const QString &filter)
{
    const QString file = QFileDialog::getOpenFileName(owner, QString(), QString(), qtFilter(filter));
    return file.isEmpty() ? QString() : file;
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
