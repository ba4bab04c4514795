// Turns stored entry names into safe relative paths and texts for messages.
#include "namecodec.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

#include <mutex>
#include <set>

namespace tenvo::engine {

namespace {

const iconv_t kNoIconv = reinterpret_cast<iconv_t>(-1);

// Length of the well-formed UTF-8 sequence starting at text[i], its code
// point in codePoint; 0 when the byte there starts none (NUL counts as none).
std::size_t utf8Sequence(std::string_view text, std::size_t i, char32_t &codePoint)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0)
        return 0;
    if (c < 0x80) {
        codePoint = c;
        return 1;
    }
    std::size_t length;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((length == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
        || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
        return 0;
    codePoint = cp;
    return length;
}

void appendHexByte(std::string &out, const char *prefix, unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += prefix;
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

// Keeps the well-formed UTF-8 sequences of text and writes every other byte
// as "%XX".
std::string keepUtf8EscapeRest(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        if (const std::size_t n = utf8Sequence(text, i, cp)) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            appendHexByte(out, "%", static_cast<unsigned char>(text[i]));
            ++i;
        }
    }
    return out;
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool hasDrivePrefix(std::string_view name)
{
    return name.size() >= 2 && name[1] == ':'
        && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// Calls f on every component between separators, empty ones included.
template<typename F>
void forEachComponent(std::string_view name, F f)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || isSeparator(name[i])) {
            f(name.substr(start, i - start));
            start = i + 1;
        }
    }
}

} // namespace

bool isValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t n = utf8Sequence(text, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

void appendUtf8(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

const std::vector<NameEncoding> &nameEncodings()
{
    static const std::vector<NameEncoding> encodings{
        {"Shift_JIS", "CP932"}, {"UTF-8", "UTF-8"}, {"EUC-JP", "EUC-JP"}, {"GBK", "CP936"},
        {"Big5", "CP950"},      {"EUC-KR", "CP949"}, {"CP437", "CP437"},
    };
    return encodings;
}

const NameEncoding *findNameEncoding(std::string_view name)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (const NameEncoding &encoding : nameEncodings()) {
        const std::string_view known = encoding.name;
        if (known.size() == name.size()
            && std::equal(known.begin(), known.end(), name.begin(),
                          [&](char a, char b) { return lower(a) == lower(b); }))
            return &encoding;
    }
    return nullptr;
}

void NameDecoder::preload(const NameEncoding *chosen)
{
    // Opening a converter reads glibc's module configuration and maps the
    // module, which costs a millisecond or so; the handles stay open for the
    // life of the process so that all of it stays loaded. The converters
    // names are read with unless told otherwise are loaded at once, any
    // other only when a call names it.
    static const bool loaded = [] {
        (void)iconv_open("UTF-8", "CP932");
        (void)iconv_open("UTF-8", "CP437");
        return true;
    }();
    (void)loaded;
    static std::mutex mutex;
    static std::set<std::string_view> opened;
    if (chosen == nullptr)
        return;
    const std::lock_guard<std::mutex> lock(mutex);
    if (opened.insert(chosen->converter).second)
        (void)iconv_open("UTF-8", chosen->converter);
}

namespace {

bool isUtf8Encoding(const NameEncoding *encoding)
{
    return encoding && std::string_view(encoding->converter) == "UTF-8";
}

// raw through the converter cd; a byte that starts no character becomes "%XX".
std::string convertName(iconv_t cd, std::string_view raw)
{
    iconv(cd, nullptr, nullptr, nullptr, nullptr);

    std::string decoded;
    decoded.reserve(raw.size() * 3 / 2 + 16);
    char *in = const_cast<char *>(raw.data());
    std::size_t inLeft = raw.size();
    char buffer[1024];
    while (inLeft > 0) {
        char *out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = iconv(cd, &in, &inLeft, &out, &outLeft);
        decoded.append(buffer, static_cast<std::size_t>(out - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // EILSEQ or EINVAL: the byte at `in` starts no character.
            appendHexByte(decoded, "%", static_cast<unsigned char>(*in));
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }

    // Every code page maps byte 0 to NUL, which no file name can hold.
    std::string result;
    result.reserve(decoded.size());
    for (char c : decoded) {
        if (c == '\0')
            result += "%00";
        else
            result += c;
    }
    return result;
}

} // namespace

NameDecoder::NameDecoder(const NameEncoding *chosen)
    : m_chosen(chosen)
    , m_cp932(iconv_open("UTF-8", "CP932"))
    , m_converter(chosen && !isUtf8Encoding(chosen) ? iconv_open("UTF-8", chosen->converter)
                                                    : kNoIconv)
{
}

NameDecoder::~NameDecoder()
{
    for (void *handle : {m_cp932, m_converter}) {
        if (static_cast<iconv_t>(handle) != kNoIconv)
            iconv_close(static_cast<iconv_t>(handle));
    }
}

std::string NameDecoder::decode(std::string_view raw, bool markedUtf8, bool unicode)
{
    if (m_chosen && !unicode) {
        // A converter glibc lacks leaves the name as for UTF-8: escaped, not lost.
        if (static_cast<iconv_t>(m_converter) == kNoIconv)
            return keepUtf8EscapeRest(raw);
        return convertName(static_cast<iconv_t>(m_converter), raw);
    }
    if (isValidUtf8(raw))
        return std::string(raw);
    if (markedUtf8 || unicode || static_cast<iconv_t>(m_cp932) == kNoIconv)
        return keepUtf8EscapeRest(raw);
    return convertName(static_cast<iconv_t>(m_cp932), raw);
}

std::string NameDecoder::decodeAsCp932(std::string_view raw)
{
    if (static_cast<iconv_t>(m_cp932) == kNoIconv)
        return keepUtf8EscapeRest(raw);
    return convertName(static_cast<iconv_t>(m_cp932), raw);
}

TenvoResult splitEntryPath(std::string_view decoded, std::vector<std::string> &components,
                           std::string &reason, bool keepLong)
{
    components.clear();
    if (!decoded.empty() && isSeparator(decoded.front())) {
        reason = "absolute path";
        return TENVO_ERR_UNSAFE;
    }
    if (hasDrivePrefix(decoded)) {
        reason = "drive prefix";
        return TENVO_ERR_UNSAFE;
    }

    TenvoResult result = TENVO_OK;
    std::size_t totalBytes = 0;
    forEachComponent(decoded, [&](std::string_view component) {
        if (result != TENVO_OK || component.empty() || component == ".")
            return;
        if (component == "..") {
            reason = "\"..\" component";
            result = TENVO_ERR_UNSAFE;
        } else if (component.size() > kMaxComponentBytes && !keepLong) {
            reason = "name component longer than 255 bytes";
            result = TENVO_ERR_UNSAFE;
        } else if (components.size() >= kMaxPathDepth) {
            reason = "path deeper than 512 folders";
            result = TENVO_ERR_UNSAFE;
        } else {
            totalBytes += component.size() + (components.empty() ? 0 : 1);
            if (totalBytes > kMaxPathBytes && !keepLong) {
                reason = "path longer than 4095 bytes";
                result = TENVO_ERR_UNSAFE;
            } else {
                components.emplace_back(component);
            }
        }
    });
    if (result != TENVO_OK)
        components.clear();
    return result;
}

TenvoResult checkLinkTarget(std::string_view decoded, std::size_t linkDepth,
                            std::string &normalised, std::string &reason)
{
    normalised.clear();
    if (decoded.empty()) {
        reason = "empty link target";
        return TENVO_ERR_UNSAFE;
    }
    if (isSeparator(decoded.front()) || hasDrivePrefix(decoded)) {
        reason = "link to an absolute path";
        return TENVO_ERR_UNSAFE;
    }

    // Folding "a/.." lexically leaves ".." only at the start, where it climbs
    // the real folders that hold the link, so the kernel resolves the same way.
    std::size_t ups = 0;
    std::vector<std::string_view> kept;
    TenvoResult result = TENVO_OK;
    forEachComponent(decoded, [&](std::string_view component) {
        if (result != TENVO_OK || component.empty() || component == ".")
            return;
        if (component == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            } else if (++ups > linkDepth) {
                reason = "link leads outside the destination";
                result = TENVO_ERR_UNSAFE;
            }
        } else if (component.size() > kMaxComponentBytes) {
            reason = "link target component longer than 255 bytes";
            result = TENVO_ERR_UNSAFE;
        } else {
            kept.push_back(component);
        }
    });
    if (result != TENVO_OK)
        return result;

    for (std::size_t i = 0; i < ups; ++i)
        normalised += i + 1 < ups || !kept.empty() ? "../" : "..";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (i > 0)
            normalised += '/';
        normalised.append(kept[i]);
    }
    if (normalised.empty())
        normalised.assign(1, '.');
    if (normalised.size() > kMaxPathBytes) {
        reason = "link target longer than 4095 bytes";
        normalised.clear();
        return TENVO_ERR_UNSAFE;
    }
    return TENVO_OK;
}

std::string escapeForMessage(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8Sequence(text, i, cp);
        if (n == 0) {
            appendHexByte(out, "\\x", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else if (cp < 0x20 || cp == 0x7F) {
            appendHexByte(out, "\\x", static_cast<unsigned char>(cp));
        } else if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E)
                   || (cp >= 0x2066 && cp <= 0x2069)) {
            appendHexByte(out, "\\u", static_cast<unsigned char>(cp >> 8));
            appendHexByte(out, "", static_cast<unsigned char>(cp & 0xFF));
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

void copyToOutput(std::string_view message, char *output, unsigned int size)
{
    if (output == nullptr || size == 0)
        return;
    std::size_t n = message.size() < size - 1 ? message.size() : size - 1;
    // Never end inside a UTF-8 sequence.
    while (n > 0 && n < message.size() && (static_cast<unsigned char>(message[n]) & 0xC0) == 0x80)
        --n;
    std::memcpy(output, message.data(), n);
    output[n] = '\0';
}

} // namespace tenvo::engine
