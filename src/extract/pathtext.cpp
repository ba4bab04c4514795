// How paths are written into texts the user reads.
#include "pathtext.h"

#include "nativepath.h"

namespace {

bool needsEscape(QChar c)
{
    const char16_t u = c.unicode();
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        break;
    }
    // Direction marks, embeddings, overrides and isolates reorder what
    // follows them, so "gpj.exe" can be made to read "exe.jpg".
    return u == 0x200E || u == 0x200F || (u >= 0x202A && u <= 0x202E)
        || (u >= 0x2066 && u <= 0x2069);
}

} // namespace

QString displayPath(const QString &path)
{
    QString text;
    text.reserve(path.size());
    for (const QChar c : readablePath(path)) {
        if (!needsEscape(c)) {
            text += c;
            continue;
        }
        switch (c.unicode()) {
        case u'\n':
            text += QStringLiteral("\\n");
            break;
        case u'\r':
            text += QStringLiteral("\\r");
            break;
        case u'\t':
            text += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() <= 0xFF)
                text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                text += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            break;
        }
    }
    return text;
}
