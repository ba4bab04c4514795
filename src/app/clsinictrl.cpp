// The settings file, in the private-profile format written by hand.
#include "clsinictrl.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <limits>
#include <optional>

#include <unistd.h>

namespace {

constexpr qsizetype maxValueBytes = 255;
// The program's own settings are a few hundred bytes, but a file edited by
// hand may hold anything; past this size it is neither read nor replaced.
constexpr qint64 maxFileBytes = 64 * 1024 * 1024;

// The file's lines; no lines when there is no file. Nothing when a file is
// there but cannot be read whole (no permission, too large, an I/O error):
// a write must then leave it alone, since it would lose what it holds.
std::optional<QList<QByteArray>> readLines(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QList<QByteArray>();
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileBytes)
        return std::nullopt;
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // A byte-order mark, even one an editor doubled, is no part of the text.
    while (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    QList<QByteArray> lines = content.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines;
}

// The name of a section header line ("[name]"), or an empty array when the
// line is not one.
QByteArray sectionName(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (!trimmed.startsWith('['))
        return {};
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return trimmed.mid(1).trimmed();
    return trimmed.mid(1, close - 1).trimmed();
}

bool isSectionLine(const QByteArray &line) { return line.trimmed().startsWith('['); }

bool sameName(const QByteArray &a, const QByteArray &b)
{
    return QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive) == 0;
}

// Splits "key=value"; false for lines without "=" or with an empty key.
bool splitKey(const QByteArray &line, QByteArray &key, QByteArray &value)
{
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0)
        return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    return !key.isEmpty();
}

// Index range [begin, end) of the section's body lines, or begin == -1.
struct SectionRange {
    qsizetype header = -1;
    qsizetype end = -1;
};

SectionRange findSection(const QList<QByteArray> &lines, const QByteArray &section)
{
    SectionRange range;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!isSectionLine(lines[i]))
            continue;
        if (range.header >= 0) {
            range.end = i;
            return range;
        }
        if (sameName(sectionName(lines[i]), section))
            range.header = i;
    }
    if (range.header >= 0)
        range.end = lines.size();
    return range;
}

// Drops a UTF-8 sequence that the byte limit cut in two.
QByteArray cutToBytes(QByteArray value, qsizetype limit)
{
    if (value.size() <= limit)
        return value;
    value.truncate(limit);
    qsizetype lead = value.size() - 1;
    while (lead >= 0 && (static_cast<unsigned char>(value[lead]) & 0xC0) == 0x80)
        --lead;
    if (lead >= 0) {
        const auto c = static_cast<unsigned char>(value[lead]);
        const qsizetype need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (value.size() - lead < need)
            value.truncate(lead);
    }
    return value;
}

// Line breaks inside a name or value would split the line and corrupt the
// file, so they are written as blanks.
QByteArray oneLine(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', ' ');
    bytes.replace('\n', ' ');
    return bytes;
}

} // namespace

void clsINICtrl::setFile(const QString &path) { m_iniFile = path; }

QString clsINICtrl::getString(const QString &section, const QString &key) const
{
    if (m_iniFile.isEmpty())
        return {};
    const QList<QByteArray> lines = readLines(m_iniFile).value_or(QList<QByteArray>());
    const SectionRange range = findSection(lines, oneLine(section).trimmed());
    if (range.header < 0)
        return {};
    const QByteArray wanted = oneLine(key).trimmed();
    for (qsizetype i = range.header + 1; i < range.end; ++i) {
        QByteArray name, value;
        if (!splitKey(lines[i], name, value) || !sameName(name, wanted))
            continue;
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return QString::fromUtf8(cutToBytes(value, maxValueBytes));
    }
    return {};
}

int clsINICtrl::getLong(const QString &section, const QString &key) const
{
    const QString text = getString(section, key).trimmed();
    if (text.isEmpty())
        return 0;
    qsizetype i = 0;
    bool negative = false;
    if (text[0] == u'-' || text[0] == u'+') {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return 0;
    qint64 magnitude = 0;
    constexpr qint64 cap = qint64(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            return 0;
        magnitude = std::min(cap, magnitude * 10 + (c.unicode() - u'0'));
    }
    const qint64 value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<qint64>(value, std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max()));
}

bool clsINICtrl::getBool(const QString &section, const QString &key) const
{
    return getLong(section, key) != 0;
}

void clsINICtrl::setString(const QString &section, const QString &key, const QString &value)
{
    if (m_iniFile.isEmpty())
        return;
    const QByteArray sectionBytes = oneLine(section).trimmed();
    const QByteArray keyBytes = oneLine(key).trimmed();
    if (sectionBytes.isEmpty() || keyBytes.isEmpty())
        return;
    const QByteArray newLine = keyBytes + '=' + oneLine(value);

    const std::optional<QList<QByteArray>> read = readLines(m_iniFile);
    if (!read)
        return;
    QList<QByteArray> lines = *read;
    const SectionRange range = findSection(lines, sectionBytes);
    if (range.header < 0) {
        lines.append('[' + sectionBytes + ']');
        lines.append(newLine);
    } else {
        qsizetype insertAt = range.header + 1;
        bool replaced = false;
        for (qsizetype i = range.header + 1; i < range.end; ++i) {
            QByteArray name, old;
            if (splitKey(lines[i], name, old) && sameName(name, keyBytes)) {
                lines[i] = newLine;
                replaced = true;
                break;
            }
            if (!lines[i].trimmed().isEmpty())
                insertAt = i + 1;
        }
        if (!replaced)
            lines.insert(insertAt, newLine);
    }

    QByteArray content;
    for (const QByteArray &line : std::as_const(lines))
        content += line + '\n';

    // Written beside and renamed into place only when every byte was written.
    // Unbuffered, because QSaveFile does not notice a write that fails while
    // its buffer is flushed at commit, and would rename a cut-off file over
    // the old one on a full disk.
    QSaveFile file(m_iniFile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return;
    // Some file systems report a lack of space only when the data goes to disk.
    if (file.write(content) != content.size() || file.error() != QFileDevice::NoError
        || (::fsync(file.handle()) != 0 && errno != EINVAL)) {
        file.cancelWriting();
        file.commit(); // removes the temporary file, leaving the old one as it was
        return;
    }
    file.commit();
}

void clsINICtrl::setLong(const QString &section, const QString &key, int value)
{
    setString(section, key, QString::number(value));
}

void clsINICtrl::setBool(const QString &section, const QString &key, bool value)
{
    setLong(section, key, value ? 1 : 0);
}
