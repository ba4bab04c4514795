// The columns of the two archive lists (main window and add-from-folder
// dialog), identified by key so that the list model finds its cells.
#pragma once

#include <QString>
#include <Qt>

class QTreeWidget;

// Column keys, stored in the header item under columnKeyRole.
inline const QString keyFileName = QStringLiteral("keyFileName");
inline const QString keyFolderName = QStringLiteral("keyFolderName");
inline const QString keyType = QStringLiteral("keyType");
inline const QString keySize = QStringLiteral("keySize");
// The encoding chosen for the archive's file names; empty when automatic.
inline const QString keyEncoding = QStringLiteral("keyEncoding");

// The header-item role that holds a column's key.
inline constexpr int columnKeyRole = Qt::UserRole;

// The role of a row's file name and folder cells that holds their text as it
// leads to the file, when the text shown differs (a name that is not UTF-8,
// see nativepath.h).
inline constexpr int nativeTextRole = Qt::UserRole + 1;

enum class ArchiveListLayout {
    MainWindow,      // file name, folder, type, size, name encoding
    AddFolderDialog, // file name, type, size (no folder column)
};

// Replaces the list's columns with those of the given layout: captions, keys,
// alignments and widths. Also shows the list as a flat report (no root
// decoration). Rows already in the list are left alone.
void setupArchiveListColumns(QTreeWidget *list, ArchiveListLayout layout);

// The key of the list's column at the zero-based position, or an empty string
// when the column has none or does not exist.
QString columnKey(const QTreeWidget *list, int column);
