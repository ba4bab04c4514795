// The names an archiver library call landed shortened, read from its output.
#include "shortenednames.h"

#include <algorithm>

ShortenedNames shortenedNames(const QByteArray &output)
{
    static const QByteArray mark = QByteArrayLiteral("shortened\t");
    ShortenedNames result;
    // The first line is the message; a last line without its break was cut.
    QList<QByteArray> lines = output.left(output.indexOf('\0') < 0 ? output.size() : output.indexOf('\0'))
                                  .split('\n');
    lines.removeLast();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (!lines[i].startsWith(mark))
            continue;
        const QList<QByteArray> fields = lines[i].mid(mark.size()).split('\t');
        if (fields.size() == 1) {
            bool ok = false;
            const int count = fields[0].toInt(&ok);
            if (ok && count >= 0)
                result.count = count;
        } else if (fields.size() == 2) {
            result.names.append({QString::fromUtf8(fields[0]), QString::fromUtf8(fields[1])});
        }
    }
    result.count = std::max(result.count, int(result.names.size()));
    return result;
}
