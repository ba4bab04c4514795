// The archive engine's front end.
#include "clsarchive.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include "nativepath.h"

#include <QLoggingCategory>

#include <cstring>

Q_LOGGING_CATEGORY(lcArchive, "tenvo.archive", QtWarningMsg)

void wipeSecret(QString &text)
{
    if (!text.isEmpty())
        ::explicit_bzero(text.data(), std::size_t(text.size()) * sizeof(QChar));
    text.clear();
}

void wipeSecret(QByteArray &bytes)
{
    if (!bytes.isEmpty())
        ::explicit_bzero(bytes.data(), std::size_t(bytes.size()));
    bytes.clear();
}

clsArchive::clsArchive()
{
    m_supportTypes = {SupportType{}};
    setRestoreFolder(true);
    m_useSevenZipForZip = false;

    m_extractOperations = {
        {QStringLiteral("extractLHA"), &clsArchive::extractLHA},
        {QStringLiteral("extractZIP"), &clsArchive::extractZIP},
        {QStringLiteral("extractCAB"), &clsArchive::extractCAB},
        {QStringLiteral("extractRAR"), &clsArchive::extractRAR},
        {QStringLiteral("extract7Z"), &clsArchive::extractSevenZIP},
        {QStringLiteral("extractTAR"), &clsArchive::extractTAR},
    };
    m_checkOperations = {
        {QStringLiteral("checkArchiveLHA"), &clsArchive::checkArchiveLHA},
        {QStringLiteral("checkArchiveZIP"), &clsArchive::checkArchiveZIP},
        {QStringLiteral("checkArchiveCAB"), &clsArchive::checkArchiveCAB},
        {QStringLiteral("checkArchiveRAR"), &clsArchive::checkArchiveRAR},
        {QStringLiteral("checkArchive7Z"), &clsArchive::checkArchiveSevenZIP},
        {QStringLiteral("checkArchiveTAR"), &clsArchive::checkArchiveTAR},
    };
}

clsArchive::~clsArchive() = default;

void clsArchive::setLibraryFolder(const QString &folder)
{
    for (ArchiverLibrary *library : {&m_unlha, &m_unzip, &m_sevenZip, &m_cab, &m_unrar, &m_tar})
        library->setFolder(folder);
}

int clsArchive::extract(const QString &path, QString &folder)
{
    return extractWithEncoding(path, folder, QString());
}

int clsArchive::extractWithEncoding(const QString &path, QString &folder, const QString &encoding)
{
    const int index = isSupportFile(path);
    if (index < 0)
        return index;
    // With nothing registered the empty slot matches a path ending in ".";
    // there is no operation behind it.
    const auto operation = m_extractOperations.constFind(QStringLiteral("extract")
                                                         + m_supportTypes[index].typeName);
    if (operation == m_extractOperations.constEnd())
        return -2;
    appendBackslash(folder);
    return (this->*operation.value())(path, folder, encoding);
}

int clsArchive::extract(const QString &path, QString &folder, const QString &password,
                        const QString &encoding)
{
    if (password.isNull() || !takesPassword(path))
        return extractWithEncoding(path, folder, encoding);
    appendBackslash(folder);
    if (m_supportTypes[isSupportFile(path)].typeName == u"7Z")
        return extractSevenZIPWithPassword(path, folder, password, encoding);
    return extractZIPWithPassword(path, folder, password, encoding);
}

bool clsArchive::takesPassword(const QString &path) const
{
    const int index = isSupportFile(path);
    return index >= 0
        && (m_supportTypes[index].typeName == u"ZIP" || m_supportTypes[index].typeName == u"7Z");
}

int clsArchive::extractZIPWithPassword(const QString &path, const QString &folder,
                                       const QString &password, const QString &encoding)
{
    QByteArray line;
    int result;
    if (m_useSevenZipForZip) {
        line = commandLine(m_restoreFolder ? QStringLiteral("x ") : QStringLiteral("e "), path,
                           folder, password, encoding);
        result = m_sevenZip.command(line);
    } else {
        line = commandLine(m_restoreFolder ? QStringLiteral("-x ") : QStringLiteral("-x -j "), path,
                           folder, password, encoding);
        result = m_unzip.command(line);
    }
    wipeSecret(line);
    return result;
}

int clsArchive::extractSevenZIPWithPassword(const QString &path, const QString &folder,
                                            const QString &password, const QString &encoding)
{
    QByteArray line = commandLine(m_restoreFolder ? QStringLiteral("x ") : QStringLiteral("e "), path,
                                  folder, password, encoding);
    const int result = m_sevenZip.command(line);
    wipeSecret(line);
    return result;
}

int clsArchive::extractLHA(const QString &path, const QString &folder,
                           const QString &encoding)
{
    const QString switchText = m_restoreFolder ? QStringLiteral("x ") : QStringLiteral("e ");
    return m_unlha.command(commandLine(switchText, path, folder, QString(), encoding));
}

int clsArchive::extractZIP(const QString &path, const QString &folder,
                           const QString &encoding)
{
    if (m_useSevenZipForZip)
        return extractSevenZIP(path, folder, encoding);
    const QString switchText = m_restoreFolder ? QStringLiteral("-x ") : QStringLiteral("-x -j ");
    return m_unzip.command(commandLine(switchText, path, folder, QString(), encoding));
}

int clsArchive::extractSevenZIP(const QString &path, const QString &folder,
                                const QString &encoding)
{
    const QString switchText = m_restoreFolder ? QStringLiteral("x ") : QStringLiteral("e ");
    return m_sevenZip.command(commandLine(switchText, path, folder, QString(), encoding));
}

int clsArchive::extractCAB(const QString &path, const QString &folder,
                           const QString &encoding)
{
    const QString switchText = m_restoreFolder ? QStringLiteral("-x ") : QStringLiteral("-x -j ");
    return m_cab.command(commandLine(switchText, path, folder, QString(), encoding));
}

int clsArchive::extractRAR(const QString &path, const QString &folder,
                           const QString &encoding)
{
    // RAR archives always keep their folders; the library expects the
    // destination with one more separator.
    return m_unrar.command(commandLine(QStringLiteral("-x "), path, folder + u'/', QString(), encoding));
}

int clsArchive::extractTAR(const QString &path, const QString &folder, const QString &encoding)
{
    const QString switchText = m_restoreFolder ? QStringLiteral("x ") : QStringLiteral("e ");
    return m_tar.command(commandLine(switchText, path, folder, QString(), encoding));
}

bool clsArchive::checkArchive(const QString &path)
{
    const int index = isSupportFile(path);
    if (index < 0)
        return false;
    const auto operation = m_checkOperations.constFind(QStringLiteral("checkArchive")
                                                       + m_supportTypes[index].typeName);
    if (operation == m_checkOperations.constEnd())
        return false;
    return (this->*operation.value())(path);
}

bool clsArchive::checkArchiveLHA(const QString &path) { return m_unlha.checkArchive(path, 0); }

bool clsArchive::checkArchiveZIP(const QString &path)
{
    return m_useSevenZipForZip ? m_sevenZip.checkArchive(path, 0) : m_unzip.checkArchive(path, 0);
}

bool clsArchive::checkArchiveCAB(const QString &path) { return m_cab.checkArchive(path, 0); }

bool clsArchive::checkArchiveRAR(const QString &path) { return m_unrar.checkArchive(path, 0); }

bool clsArchive::checkArchiveSevenZIP(const QString &path) { return m_sevenZip.checkArchive(path, 0); }

bool clsArchive::checkArchiveTAR(const QString &path) { return m_tar.checkArchive(path, 0); }

int clsArchive::getLibVersion(const QString &typeName)
{
    if (typeName == u"LHA")
        return m_unlha.getVersion();
    if (typeName == u"ZIP") {
        // A missing 7-Zip library is no failure here: unzip32 is asked next.
        int sevenZip = m_sevenZip.getVersion();
        if (sevenZip == -1)
            sevenZip = 0;
        if (sevenZip != 0) {
            m_useSevenZipForZip = true;
            return sevenZip;
        }
        return m_unzip.getVersion();
    }
    if (typeName == u"CAB")
        return m_cab.getVersion();
    if (typeName == u"RAR")
        return m_unrar.getVersion();
    if (typeName == u"7Z")
        return m_sevenZip.getVersion();
    if (typeName == u"TAR")
        return m_tar.getVersion();
    return 0;
}

int clsArchive::isSupportFile(const QString &path) const
{
    const int byName = indexByName(path);
    const QString content = typeNameByContent(path);
    if (content.isEmpty())
        return byName;
    if (byName >= 0) {
        const QString &named = m_supportTypes[byName].typeName;
        // The 7-Zip library serving ZIP reads a 7z archive named .zip, and
        // takes its password as a ZIP's.
        if (named == content || (named == u"ZIP" && content == u"7Z" && m_useSevenZipForZip))
            return byName;
    }
    for (qsizetype i = 0; i < m_supportTypes.size(); ++i) {
        if (m_supportTypes[i].typeName == content)
            return static_cast<int>(i);
    }
    return byName;
}

int clsArchive::indexByName(const QString &path) const
{
    const qsizetype dot = path.lastIndexOf(u'.');
    QString candidate = path.mid(dot + 1);
    // A numbered part, "x.zip.002", is named by the extension before its
    // number (three to nine ASCII digits).
    const bool numbered = candidate.size() >= 3 && candidate.size() <= 9
        && std::all_of(candidate.begin(), candidate.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (dot > 0 && numbered) {
        const qsizetype inner = path.lastIndexOf(u'.', dot - 1);
        if (inner > path.lastIndexOf(u'/'))
            candidate = path.mid(inner + 1, dot - inner - 1);
    }
    qsizetype begin = 0;
    qsizetype end = candidate.size();
    while (begin < end && candidate[begin] == u' ')
        ++begin;
    while (end > begin && candidate[end - 1] == u' ')
        --end;
    candidate = candidate.mid(begin, end - begin).toUpper();
    for (qsizetype i = 0; i < m_supportTypes.size(); ++i) {
        if (extensionsOf(m_supportTypes[i]).contains(candidate))
            return static_cast<int>(i);
    }
    return -2;
}

QString clsArchive::typeNameByContent(const QString &path)
{
    // Looked at before it is opened: opening a named pipe would wait for a writer.
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(512);
    if (head.startsWith("PK\x03\x04") || head.startsWith("PK\x05\x06") || head.startsWith("PK\x07\x08PK"))
        return QStringLiteral("ZIP");
    if (head.startsWith(QByteArray("7z\xBC\xAF\x27\x1C", 6)))
        return QStringLiteral("7Z");
    if (head.startsWith(QByteArray("Rar!\x1A\x07\x00", 7)) || head.startsWith(QByteArray("Rar!\x1A\x07\x01\x00", 8)))
        return QStringLiteral("RAR");
    if (head.startsWith(QByteArray("MSCF\0\0\0\0", 8)))
        return QStringLiteral("CAB");
    // Every LZH header level puts the method, "-lh5-" say, at the third byte.
    if (head.size() >= 7 && head[2] == '-' && head[6] == '-'
        && (head.mid(3, 2) == "lh" || head.mid(3, 2) == "lz" || head.mid(3, 2) == "pm"))
        return QStringLiteral("LHA");
    // The compressors' marks (gzip, bzip2 with its block size digit, xz,
    // zstd), then a tar header: "ustar" at 257, or a checksum that adds up.
    if (head.startsWith("\x1F\x8B\x08") || head.startsWith(QByteArray("\xFD" "7zXZ\0", 6))
        || head.startsWith("\x28\xB5\x2F\xFD")
        || (head.startsWith("BZh") && head.size() >= 4 && head[3] >= '1' && head[3] <= '9'))
        return QStringLiteral("TAR");
    if (head.size() == 512 && head[0] != '\0') {
        if (head.mid(257, 5) == "ustar")
            return QStringLiteral("TAR");
        bool ok = false;
        const uint stored = head.mid(148, 8).trimmed().split('\0').value(0).trimmed().toUInt(&ok, 8);
        uint sum = 0;
        for (qsizetype i = 0; i < 512; ++i)
            sum += (i >= 148 && i < 156) ? uint(' ') : uint(static_cast<unsigned char>(head[i]));
        if (ok && stored == sum)
            return QStringLiteral("TAR");
    }
    return {};
}

void clsArchive::setRestoreFolder(bool value) { m_restoreFolder = value; }

void clsArchive::supportType_Listup() const
{
    for (qsizetype i = 0; i < m_supportTypes.size(); ++i) {
        const SupportType &type = m_supportTypes[i];
        qCDebug(lcArchive) << i << type.typeName << type.extension << type.dllName;
    }
}

void clsArchive::addSupportType(const SupportType &type)
{
    // Only ZIP needs a library's answer here, to know which one serves it;
    // the others are loaded at their first call.
    ArchiverLibrary *library = type.typeName == u"LHA" ? &m_unlha
        : type.typeName == u"CAB"                      ? &m_cab
        : type.typeName == u"RAR"                      ? &m_unrar
        : type.typeName == u"7Z"                       ? &m_sevenZip
        : type.typeName == u"TAR"                      ? &m_tar
                                                       : nullptr;
    if (library ? library->missing() : getLibVersion(type.typeName) == -1)
        return;
    if (!m_supportTypes.constLast().typeName.isEmpty())
        m_supportTypes.append(SupportType{});
    m_supportTypes.last() = type;
}

void clsArchive::getSupportTypes(QList<SupportType> &types) const { types = m_supportTypes; }

void clsArchive::appendBackslash(QString &path)
{
    if (!path.endsWith(u'/'))
        path += u'/';
}

QByteArray clsArchive::commandLine(const QString &switchText, const QString &path,
                                   const QString &destination, const QString &password,
                                   const QString &encoding)
{
    if (!encoding.isEmpty()) {
        // Unquoted, as a switch: the name has neither blanks nor quotes.
        return commandLine(switchText + QStringLiteral("--names=") + encoding + u' ', path,
                           destination, password);
    }
    // The paths go as their real bytes, so a name that is not UTF-8 reaches
    // the file it names.
    auto quoted = [](const QString &text) {
        QByteArray bytes = nativePath(text);
        bytes.replace('"', "\"\"");
        return '"' + bytes + '"';
    };
    const QByteArray paths = quoted(path) + ' ' + quoted(destination);
    if (password.isNull())
        return switchText.toUtf8() + paths;
    // The password word is built in one text, wiped with the line's text.
    QString text = switchText + QStringLiteral("\"-p");
    text.reserve(text.size() + 2 * password.size() + 4);
    for (const QChar c : password) {
        text += c;
        if (c == u'"')
            text += c;
    }
    text += QStringLiteral("\" ");
    QByteArray head = text.toUtf8();
    wipeSecret(text);
    // Reserved first, so no growth leaves a copy of the password behind.
    QByteArray line;
    line.reserve(head.size() + paths.size());
    line += head;
    line += paths;
    wipeSecret(head);
    return line;
}
