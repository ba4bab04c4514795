// The folder picker shared by the windows that ask for a folder.
#include "clsfolderblowserdialog.h"

#include "lastfolder.h"
#include "userdialogs.h"

#include <QCoreApplication>

#include <optional>

namespace {

// The windows ask for a folder for one of two purposes, each with its own
// description; the folder last chosen for it is shown first.
std::optional<FolderPurpose> purposeOf(const QString &description)
{
    if (description == QCoreApplication::translate("clsFolderBlowserDialog", "書庫ファイルのあるフォルダを指定してください"))
        return FolderPurpose::AddFolder;
    if (description == QCoreApplication::translate("clsFolderBlowserDialog", "解凍先のフォルダを指定してください"))
        return FolderPurpose::Destination;
    return std::nullopt;
}

} // namespace

void clsFolderBlowserDialog::setShowNewFolderButton(bool show)
{
    if (show)
        m_flags |= newDialogStyle;
    else
        m_flags &= ~newDialogStyle;
}

bool clsFolderBlowserDialog::ShowDialog(QWidget *owner)
{
    const std::optional<FolderPurpose> purpose = purposeOf(m_description);
    const QString start = purpose ? lastFolder(*purpose) : QString();
    QString chosen = userDialogs().chooseFolder(owner, m_description, ShowNewFolderButton(), start);
    if (chosen.isNull())
        return false;
    // Callers add the separator themselves, so only the root keeps one.
    while (chosen.size() > 1 && chosen.endsWith(u'/'))
        chosen.chop(1);
    m_selectedPath = chosen;
    if (purpose)
        rememberFolder(*purpose, chosen);
    return true;
}
