// One registered archive type.
#pragma once

#include <QString>

struct SupportType {
    QString typeName;  // "LHA", "CAB", "ZIP", "RAR", "7Z"; names the per-type operations
    QString extension; // upper case, no dot: "LZH", "CAB", "ZIP", "RAR", "7Z"
    QString dllName;   // the library file offered at registration

    bool operator==(const SupportType &) const = default;
};
