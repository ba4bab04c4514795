// The encodings a user can choose for the file names of an archive.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The choices, in the order menus offer them after the automatic reading:
// Shift_JIS, UTF-8, EUC-JP, GBK, Big5, EUC-KR, CP437. Each is also the name
// the archiver libraries take.
QStringList nameEncodingChoices();

// The choice a user typed (any case; "-", "_" and blanks do not count; also
// the usual other names: "cp932", "sjis", "utf8", "eucjp", "cp936",
// "gb2312", "cp950", "cp949", "uhc", "ibm437", ...). An empty text for the
// automatic reading ("auto", "自動" or nothing typed); nullopt when the text
// names no choice.
std::optional<QString> canonicalNameEncoding(const QString &typed);
