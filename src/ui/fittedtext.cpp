// Texts fitted to the width they are shown in, without breaking a word.
#include "fittedtext.h"

#include <QFontMetrics>
#include <QStringList>

QString fittedLine(const QString &line, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    const qsizetype slash = line.lastIndexOf(u'/');
    const QString name = line.mid(slash + 1);
    const int room = width - metrics.horizontalAdvance(name);
    if (slash < 0 || room < metrics.horizontalAdvance(QStringLiteral("…/")))
        return metrics.elidedText(line, Qt::ElideMiddle, width);
    return metrics.elidedText(line.left(slash + 1), Qt::ElideMiddle, room) + name;
}

QString fittedText(const QString &text, const QFontMetrics &metrics, int width, QString *shortened)
{
    QStringList lines = text.split(u'\n');
    QStringList whole;
    for (QString &line : lines) {
        const QString fitted = fittedLine(line, metrics, width);
        if (fitted != line)
            whole.append(line);
        line = fitted;
    }
    if (shortened)
        *shortened = whole.join(u'\n');
    return lines.join(u'\n');
}
