// One registered archive type.
#pragma once

#include <QString>
#include <QStringList>

struct SupportType {
    QString typeName;  // "LHA", "CAB", "ZIP", "RAR", "7Z", "TAR"; names the per-type operations
    QString extension; // upper case, no dot: "LZH", "CAB", "ZIP", "RAR", "7Z", "TAR"
    QString dllName;   // the library file offered at registration

    bool operator==(const SupportType &) const = default;
};

// Every extension that names the type, its own first: "LZH" and "LHA" for
// LZH archives; for TAR the short forms of compressed tar archives and the
// compressors' own suffixes (which ".tar.gz" and the like end in too); the
// type's one extension for the others.
inline QStringList extensionsOf(const SupportType &type)
{
    if (type.extension == u"LZH")
        return {type.extension, QStringLiteral("LHA")};
    if (type.extension == u"TAR")
        return {type.extension,          QStringLiteral("TGZ"),  QStringLiteral("TBZ2"),
                QStringLiteral("TXZ"),   QStringLiteral("TZST"), QStringLiteral("GZ"),
                QStringLiteral("BZ2"),   QStringLiteral("XZ"),   QStringLiteral("ZST")};
    return {type.extension};
}
