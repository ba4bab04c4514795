// The archive engine's front end: registered types, detection, checks and
// the extraction commands handed to the archiver libraries.
#pragma once

#include "archiverlibrary.h"
#include "supporttype.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

// Overwrites a text that held a password with zeros (in a way the compiler
// keeps) and empties it.
void wipeSecret(QString &text);
void wipeSecret(QByteArray &bytes);

class clsArchive
{
public:
    clsArchive();
    ~clsArchive();

    // The folder searched for library files before the system's search path
    // (the program folder in the program, any folder in tests). Takes effect
    // for libraries not loaded yet.
    void setLibraryFolder(const QString &folder);

    // Extracts one archive into folder, which is given a trailing "/" (written
    // back). Returns the library's result (0: every entry landed), -2 for a
    // file of no registered type (no library called, folder unchanged), or
    // ArchiverLibrary::libraryUnavailable when the library cannot be called.
    int extract(const QString &path, QString &folder);
    // The same, handing the ZIP or 7z library the password as "-p<password>"
    // before the archive's name (a null password hands none). Files of
    // other types are extracted as above, without it. The command line that
    // held the password is wiped once the library has returned. A non-empty
    // encoding (a choice of nameEncodingChoices()) goes to every library as
    // "--names=<encoding>" after the switch: the archive's names are read in
    // it instead of automatically.
    int extract(const QString &path, QString &folder, const QString &password,
                const QString &encoding = QString());
    // True for a file of the ZIP or 7Z type, whose library takes a password.
    bool takesPassword(const QString &path) const;
    int extractLHA(const QString &path, const QString &folder, const QString &encoding = QString());
    int extractZIP(const QString &path, const QString &folder, const QString &encoding = QString());
    // Serves the "7Z" type, and ZIP when the 7-Zip library serves ZIP.
    int extractSevenZIP(const QString &path, const QString &folder,
                        const QString &encoding = QString());
    int extractCAB(const QString &path, const QString &folder, const QString &encoding = QString());
    int extractRAR(const QString &path, const QString &folder, const QString &encoding = QString());
    // Tar archives, bare or compressed, and single compressed files.
    int extractTAR(const QString &path, const QString &folder, const QString &encoding = QString());

    // Asks the type's library whether it accepts the file (mode 0). False for
    // a file of no registered type, without calling any library.
    bool checkArchive(const QString &path);
    bool checkArchiveLHA(const QString &path);
    bool checkArchiveZIP(const QString &path);
    bool checkArchiveCAB(const QString &path);
    bool checkArchiveRAR(const QString &path);
    bool checkArchiveTAR(const QString &path);
    // 7z archives, through the 7-Zip library (the "7Z" type).
    bool checkArchiveSevenZIP(const QString &path);

    // The version of the type's library: -1 when its file is missing, 0 when
    // it is found but unusable or the type is unknown. For ZIP the 7-Zip
    // library is asked first and, when it answers, serves ZIP from then on;
    // "7Z" is always the 7-Zip library's.
    int getLibVersion(const QString &typeName);
    // The slot index of the file's type, or -2. The first bytes of a file
    // that can be read decide when they name a registered type (a ZIP saved
    // without extension, or named .rar); otherwise the text after the last
    // "." does, LHA standing for LZH.
    int isSupportFile(const QString &path) const;
    // The type whose signature opens the file ("LHA", "CAB", "ZIP", "RAR",
    // "7Z", "TAR" for a tar header or a gzip, bzip2, xz or zstd stream), or
    // "" when none does or the file cannot be read.
    static QString typeNameByContent(const QString &path);
    void setRestoreFolder(bool value);
    // Lists the table on the debug log only.
    void supportType_Listup() const;

    // Registers the type when its library file is present.
    void addSupportType(const SupportType &type);
    // Replaces types with a copy of the table (one empty slot when nothing is
    // registered).
    void getSupportTypes(QList<SupportType> &types) const;

    bool useSevenZipForZip() const { return m_useSevenZipForZip; }
    bool restoreFolder() const { return m_restoreFolder; }

private:
    static void appendBackslash(QString &path);
    // The slot index by the text after the last "." alone, or -2.
    int indexByName(const QString &path) const;
    // switch "archive" "destination", each path quoted with inner quotes doubled.
    static QByteArray commandLine(const QString &switchText, const QString &path,
                                  const QString &destination, const QString &password = QString(),
                                  const QString &encoding = QString());
    int extractWithEncoding(const QString &path, QString &folder, const QString &encoding);
    int extractZIPWithPassword(const QString &path, const QString &folder, const QString &password,
                               const QString &encoding);
    int extractSevenZIPWithPassword(const QString &path, const QString &folder,
                                    const QString &password, const QString &encoding);

    using ExtractOperation = int (clsArchive::*)(const QString &, const QString &, const QString &);
    using CheckOperation = bool (clsArchive::*)(const QString &);

    QList<SupportType> m_supportTypes;
    bool m_restoreFolder = true;
    bool m_useSevenZipForZip = false;

    QHash<QString, ExtractOperation> m_extractOperations;
    QHash<QString, CheckOperation> m_checkOperations;

    ArchiverLibrary m_unlha{QStringLiteral("unlha32.so"), QStringLiteral("Unlha")};
    ArchiverLibrary m_unzip{QStringLiteral("unzip32.so"), QStringLiteral("UnZip")};
    ArchiverLibrary m_sevenZip{QStringLiteral("7-zip32.so"), QStringLiteral("SevenZip")};
    ArchiverLibrary m_cab{QStringLiteral("cab32.so"), QStringLiteral("Cab")};
    ArchiverLibrary m_unrar{QStringLiteral("unrar32.so"), QStringLiteral("Unrar")};
    ArchiverLibrary m_tar{QStringLiteral("tar32.so"), QStringLiteral("Tar")};
};
