// The folder picker shared by the windows that ask for a folder.
#include "clsfolderblowserdialog.h"

#include "userdialogs.h"

void clsFolderBlowserDialog::setShowNewFolderButton(bool show)
{
    if (show)
        m_flags |= newDialogStyle;
    else
        m_flags &= ~newDialogStyle;
}

bool clsFolderBlowserDialog::ShowDialog(QWidget *owner)
{
    // No folder is preselected: every call starts from the chooser's
    // default place, whatever was chosen last time.
    QString chosen = userDialogs().chooseFolder(owner, m_description, ShowNewFolderButton(), QString());
    if (chosen.isNull())
        return false;
    // Callers add the separator themselves, so only the root keeps one.
    while (chosen.size() > 1 && chosen.endsWith(u'/'))
        chosen.chop(1);
    m_selectedPath = chosen;
    return true;
}
