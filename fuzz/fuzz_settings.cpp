// libFuzzer target: the settings file reader and writer on any file content.
//
// Input: one script line "section<TAB>key<TAB>value" and then the settings
// file's bytes. The file is read, the value written under the key and read
// back, and every other key that could be read before must read the same.
#include "clsinictrl.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QFile>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

QString g_path;

[[noreturn]] void fail(const char *what, const QString &section, const QString &key)
{
    // One line with "ERROR:": libFuzzer's fork mode passes on only such lines.
    std::fprintf(stderr, "ERROR: fuzz_settings: %s (section [%s], key [%s])\n", what,
                 section.toUtf8().constData(), key.toUtf8().constData());
    std::abort();
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// (section, key) pairs that appear in the file, found by a plain reading of
// its lines: the names to ask for before and after the write.
QList<std::pair<QString, QString>> namesInFile(const QByteArray &content)
{
    QList<std::pair<QString, QString>> names;
    QByteArray section;
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[')) {
            const qsizetype close = trimmed.indexOf(']');
            section = (close < 0 ? trimmed.mid(1) : trimmed.mid(1, close - 1)).trimmed();
        } else if (const qsizetype eq = line.indexOf('='); eq > 0) {
            names.append({QString::fromUtf8(section), QString::fromUtf8(line.left(eq).trimmed())});
            if (names.size() == 32)
                break;
        }
    }
    return names;
}

// True when a name survives the line format: not empty, no line breaks or
// other control characters, no blank at either end, nothing that would read
// as a section header or a key's end.
bool isPlainName(const QString &name, bool isSection)
{
    if (name.isEmpty() || name != name.trimmed() || name.startsWith(u'['))
        return false;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return isSection ? !name.contains(u']') : !name.contains(u'=');
}

// True when a value reads back as written: at most 255 bytes, no control
// characters, no blank at either end, not wrapped in double quotes.
bool isPlainValue(const QString &value)
{
    if (value.toUtf8().size() > 255 || value != value.trimmed())
        return false;
    if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
        return false;
    for (QChar c : value) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

int countLines()
{
    QFile file(g_path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return int(file.readAll().count('\n'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const char *shm = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_path = QString::fromUtf8(shm) + QStringLiteral("/tenvo-fuzz-settings-%1.ini").arg(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype end = input.indexOf('\n');
    const QList<QByteArray> script = input.left(end < 0 ? input.size() : end).split('\t');
    const QByteArray content = end < 0 ? QByteArray() : input.mid(end + 1);
    const QString section = QString::fromUtf8(script.value(0));
    const QString key = QString::fromUtf8(script.value(1));
    const QString value = QString::fromUtf8(script.value(2));

    {
        QFile file(g_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(content);
    }

    clsINICtrl ini;
    ini.setFile(g_path);

    const QList<std::pair<QString, QString>> others = namesInFile(content);
    QList<QString> before;
    for (const auto &[s, k] : others) {
        before.append(ini.getString(s, k));
        ini.getLong(s, k);
        // Each stored byte gives at most one UTF-16 unit (a broken sequence
        // reads as U+FFFD), so 255 bytes can never read as more units.
        if (before.constLast().size() > 255)
            fail("a read gave more than 255 stored bytes", s, k);
    }

    ini.setString(section, key, value);
    // A name the line format cannot hold (a key with "=", a section with "]")
    // only has to be survived.
    if (!isPlainName(section, true) || !isPlainName(key, false))
        return 0;
    if (isPlainValue(value) && ini.getString(section, key) != value)
        fail("a written value does not read back", section, key);

    for (qsizetype i = 0; i < others.size(); ++i) {
        const auto &[s, k] = others[i];
        if (sameName(s, section) && sameName(k, key))
            continue;
        if (ini.getString(s, k) != before[i])
            fail("writing one key changed another", s, k);
    }

    // A second write replaces the value in place: the file keeps its lines.
    const int number = int(qHash(input));
    const int lines = countLines();
    ini.setLong(section, key, number);
    if (ini.getLong(section, key) != number || ini.getBool(section, key) != (number != 0))
        fail("a written number does not read back", section, key);
    if (countLines() != lines)
        fail("rewriting a key changed the number of lines", section, key);
    return 0;
}
