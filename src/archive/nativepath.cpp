// Paths whose bytes on disk are not UTF-8, carried in a QString and back.
#include "nativepath.h"

#include <QDir>
#include <QUrl>

#include <iconv.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

constexpr char16_t escapeBase = 0xDC00;

bool isEscape(QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; }

// The length of the valid UTF-8 sequence at bytes[i] (0 when there is none)
// and its code point: shortest form, no surrogates, at most U+10FFFF.
int utf8Sequence(const QByteArray &bytes, qsizetype i, char32_t &codePoint)
{
    const auto byte = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    int length;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (i + length > bytes.size())
        return 0;
    for (int k = 1; k < length; ++k) {
        const unsigned char next = byte(i + k);
        if ((next & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    return length;
}

// The bytes as CP932 text, or a null string when they are not CP932
// throughout.
QString decodeCp932(const QByteArray &bytes)
{
    iconv_t converter = ::iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return QString();
    QByteArray in = bytes;
    QByteArray out(bytes.size() * 3 + 4, '\0');
    char *inPointer = in.data();
    std::size_t inLeft = std::size_t(in.size());
    char *outPointer = out.data();
    std::size_t outLeft = std::size_t(out.size());
    const std::size_t converted = ::iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    ::iconv_close(converter);
    if (converted == std::size_t(-1) || inLeft != 0)
        return QString();
    out.truncate(out.size() - qsizetype(outLeft));
    return QString::fromUtf8(out);
}

QString readablePart(const QString &part)
{
    const QString decoded = decodeCp932(nativePath(part));
    if (!decoded.isNull())
        return decoded;
    QString text;
    for (const QChar c : part) {
        if (isEscape(c))
            text += QStringLiteral("\\x%1").arg(c.unicode() - escapeBase, 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

bool statAt(const QString &path, struct stat &info)
{
    return ::stat(nativePath(path).constData(), &info) == 0;
}

} // namespace

QString pathFromNative(const QByteArray &bytes)
{
    QString path;
    path.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t codePoint;
        if (const int length = utf8Sequence(bytes, i, codePoint)) {
            path += QChar::fromUcs4(codePoint);
            i += length;
        } else {
            path += QChar(char16_t(escapeBase + static_cast<unsigned char>(bytes[i])));
            ++i;
        }
    }
    return path;
}

QByteArray nativePath(const QString &path)
{
    if (!hasNativeBytes(path))
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= path.size(); ++i) {
        // An escape follows no high surrogate: a valid pair stays text.
        const bool escape = i < path.size() && isEscape(path[i]) && !(i > 0 && path[i - 1].isHighSurrogate());
        if (i < path.size() && !escape)
            continue;
        bytes += QStringView(path).mid(runStart, i - runStart).toUtf8();
        if (escape)
            bytes += char(path[i].unicode() - escapeBase);
        runStart = i + 1;
    }
    return bytes;
}

bool hasNativeBytes(const QString &path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isEscape(path[i]) && !(i > 0 && path[i - 1].isHighSurrogate()))
            return true;
    }
    return false;
}

QString readablePath(const QString &path)
{
    if (!hasNativeBytes(path))
        return path;
    QStringList parts = path.split(u'/');
    for (QString &part : parts) {
        if (hasNativeBytes(part))
            part = readablePart(part);
    }
    return parts.join(u'/');
}

QString absoluteNativePath(const QString &path)
{
    if (path.startsWith(u'/'))
        return QDir::cleanPath(path);
    QByteArray current(PATH_MAX, '\0');
    while (!::getcwd(current.data(), std::size_t(current.size()))) {
        if (errno != ERANGE)
            return QDir::cleanPath(path);
        current.resize(current.size() * 2);
    }
    current.truncate(qsizetype(std::strlen(current.constData())));
    return QDir::cleanPath(pathFromNative(current) + u'/' + path);
}

bool isFileAt(const QString &path)
{
    struct stat info;
    return statAt(path, info) && S_ISREG(info.st_mode);
}

bool isFolderAt(const QString &path)
{
    struct stat info;
    return statAt(path, info) && S_ISDIR(info.st_mode);
}

bool entryExistsAt(const QString &path)
{
    struct stat info;
    return ::lstat(nativePath(path).constData(), &info) == 0;
}

qint64 fileSizeAt(const QString &path)
{
    struct stat info;
    return statAt(path, info) ? qint64(info.st_size) : -1;
}

bool makeFolders(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (isFolderAt(path))
        return true;
    QByteArray bytes = nativePath(path);
    while (bytes.size() > 1 && bytes.endsWith('/'))
        bytes.chop(1);
    // Each missing folder from the top down; one made meanwhile by another
    // program is as good.
    for (qsizetype slash = bytes.indexOf('/', 1); ; slash = bytes.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? bytes : bytes.left(slash);
        if (::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    return isFolderAt(path);
}

QStringList nativeArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << pathFromNative(QByteArray(argv[i]));
    return arguments;
}

QString pathFromUrl(const QUrl &url)
{
    if (!url.isLocalFile())
        return QString();
    const QString local = url.toLocalFile();
    // Only the path part can be a file name; a host ("//host/share") is as
    // Qt gives it.
    if (!url.host().isEmpty())
        return local;
    return pathFromNative(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}
