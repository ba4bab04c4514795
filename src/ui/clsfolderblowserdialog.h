// The folder picker shared by the windows that ask for a folder.
#pragma once

#include <QString>

class QWidget;

// Lets the user choose one folder in a modal folder chooser (through the
// dialog seam) and keeps the choice. The program has one instance,
// gFolderDialog; its properties keep what the last caller left in them.
class clsFolderBlowserDialog
{
public:
    // The last folder chosen: "" on a fresh instance; without a trailing "/"
    // except for the root "/". Kept when the user cancels.
    QString SelectedPath() const { return m_selectedPath; }
    void setSelectedPath(const QString &path) { m_selectedPath = path; }

    // The text shown to the user in the chooser; "" on a fresh instance.
    QString Description() const { return m_description; }
    void setDescription(const QString &text) { m_description = text; }

    // Whether the chooser offers making a new folder; true on a fresh
    // instance.
    bool ShowNewFolderButton() const { return (m_flags & newDialogStyle) != 0; }
    void setShowNewFolderButton(bool show);

    // Shows the chooser modal over owner. True when a folder was chosen
    // (SelectedPath then holds it); false on cancel, SelectedPath unchanged.
    // For the descriptions of adding from a folder and of the destination,
    // the chooser opens in the folder last chosen for that purpose (kept in
    // the settings file), the home folder the first time.
    bool ShowDialog(QWidget *owner);

private:
    static constexpr unsigned newDialogStyle = 0x40;

    QString m_selectedPath;
    QString m_description;
    unsigned m_flags = newDialogStyle;
};
