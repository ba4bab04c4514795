// The encodings a user can choose for the file names of an archive.
#include "nameencoding.h"

#include <QHash>

QStringList nameEncodingChoices()
{
    return {QStringLiteral("Shift_JIS"), QStringLiteral("UTF-8"), QStringLiteral("EUC-JP"),
            QStringLiteral("GBK"),       QStringLiteral("Big5"),  QStringLiteral("EUC-KR"),
            QStringLiteral("CP437")};
}

namespace {

// Lower case without "-", "_" and blanks, so "Shift-JIS", "shift_jis" and
// "SHIFT JIS" meet.
QString folded(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c != u'-' && c != u'_' && !c.isSpace())
            out += c.toLower();
    }
    return out;
}

} // namespace

std::optional<QString> canonicalNameEncoding(const QString &typed)
{
    static const QHash<QString, QString> aliases = [] {
        QHash<QString, QString> names;
        for (const QString &choice : nameEncodingChoices())
            names.insert(folded(choice), choice);
        const auto alias = [&names](const char *other, const char *choice) {
            names.insert(QString::fromLatin1(other), QString::fromLatin1(choice));
        };
        for (const char *name : {"sjis", "cp932", "ms932", "windows31j", "mskanji", "windows932"})
            alias(name, "Shift_JIS");
        alias("utf8", "UTF-8");
        alias("ujis", "EUC-JP");
        for (const char *name : {"cp936", "gb2312", "euccn", "windows936"})
            alias(name, "GBK");
        for (const char *name : {"cp950", "big5", "windows950"})
            alias(name, "Big5");
        for (const char *name : {"cp949", "uhc", "windows949", "ksc5601"})
            alias(name, "EUC-KR");
        for (const char *name : {"ibm437", "437", "dos", "oem"})
            alias(name, "CP437");
        for (const char *name : {"", "auto", "automatic"})
            alias(name, "");
        names.insert(QStringLiteral("自動"), QString());
        return names;
    }();
    const auto found = aliases.constFind(folded(typed));
    if (found == aliases.constEnd())
        return std::nullopt;
    return found.value();
}
