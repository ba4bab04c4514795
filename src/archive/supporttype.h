// One registered archive type.
#pragma once

#include <QString>
#include <QStringList>

struct SupportType {
    QString typeName;  // "LHA", "CAB", "ZIP", "RAR", "7Z"; names the per-type operations
    QString extension; // upper case, no dot: "LZH", "CAB", "ZIP", "RAR", "7Z"
    QString dllName;   // the library file offered at registration

    bool operator==(const SupportType &) const = default;
};

// Every extension that names the type, its own first: "LZH" and "LHA" for
// LZH archives, the type's one extension for the others.
inline QStringList extensionsOf(const SupportType &type)
{
    if (type.extension == u"LZH")
        return {type.extension, QStringLiteral("LHA")};
    return {type.extension};
}
