// What a run needs around it in a test: a main list, the real archiver libraries, a settings file.
#pragma once

#include "archivemaker.h"
#include "clsarchive.h"
#include "clsinictrl.h"
#include "clslistctrl.h"
#include "globals.h"
#include "listcolumns.h"
#include "module1.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <memory>

// Sets the globals a run reads and restores them when it goes. Archives are
// written into in/, the destination is out/, the settings file Tenvo.ini.
class RunEnvironment
{
public:
    RunEnvironment()
    {
        in = dir.filePath(QStringLiteral("in/"));
        out = dir.filePath(QStringLiteral("out/"));
        iniPath = dir.filePath(QStringLiteral("Tenvo.ini"));
        QDir().mkpath(in);
        QDir().mkpath(out);

        setupArchiveListColumns(&listView, ArchiveListLayout::MainWindow);
        list.setList(&listView);
        archive.setLibraryFolder(QStringLiteral(TENVO_BIN_DIR));
        for (const SupportType &row : registrationRows())
            archive.addSupportType(row);
        ini.setFile(iniPath);

        gListCtrl = &list;
        gArchive = &archive;
        gIniCtrl = &ini;
        gMakeNameFolder = gRestoreFolder = gDeleteFromList = gCloseDialog = false;
        gSmartFolders = gNested = gOpenFolder = gTrashArchives = false;
        gSkipJunk = true;
        gExisting = 0;
    }

    ~RunEnvironment()
    {
        gListCtrl = nullptr;
        gArchive = nullptr;
        gIniCtrl = nullptr;
    }

    bool isValid() const { return dir.isValid() && archive.isSupportFile(QStringLiteral("a.zip")) >= 0; }

    // Writes a ZIP archive of the given files (stored name, contents) into
    // in/ and lists it. Returns its path, or "" when that failed.
    QString addZip(const QString &name, const QList<std::pair<std::string, std::string>> &files,
                   bool damaged = false)
    {
        tenvo::fixture::FixtureEntries entries;
        for (const auto &[stored, data] : files)
            entries.push_back(tenvo::fixture::FixtureEntry::file(stored, data));
        tenvo::fixture::ZipOptions options;
        options.corruptFirstData = damaged;
        const QString path = in + name;
        if (!tenvo::fixture::writeZip(path, entries, options))
            return QString();
        return list.addFile(path) == clsListCtrl::added ? path : QString();
    }

    // Every file below out/, as "folder/name" relative to out/, sorted.
    QStringList filesOut() const
    {
        QStringList files;
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QDir(out).relativeFilePath(it.next()));
        files.sort();
        return files;
    }

    QByteArray iniText() const
    {
        QFile file(iniPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString in;
    QString out;
    QString iniPath;
    QTreeWidget listView;
    clsListCtrl list;
    clsArchive archive;
    clsINICtrl ini;
};
