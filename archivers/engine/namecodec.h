// Turns stored entry names into safe relative paths and texts for messages.
#pragma once

#include "result.h"

#include <string>
#include <string_view>
#include <vector>

namespace tenvo::engine {

// Limits on one extracted path, measured on the decoded (UTF-8) name.
inline constexpr std::size_t kMaxComponentBytes = 255;
inline constexpr std::size_t kMaxPathBytes = 4095;
inline constexpr std::size_t kMaxPathDepth = 512;

// True when text is well-formed UTF-8 (no overlong forms, surrogates or NUL).
bool isValidUtf8(std::string_view text);

// Appends the UTF-8 form of one code point (at most U+10FFFF).
void appendUtf8(std::string &out, char32_t codePoint);

// An encoding the user may choose for the names of one archive, in place of
// the automatic reading: its name on the command line and the converter
// that reads it (the Windows superset of the national standard, as Windows
// writes names).
struct NameEncoding {
    const char *name;
    const char *converter;
};

// The encodings that can be chosen: Shift_JIS, UTF-8, EUC-JP, GBK, Big5,
// EUC-KR, CP437.
const std::vector<NameEncoding> &nameEncodings();

// The encoding named name (ASCII letters in any case), or null.
const NameEncoding *findNameEncoding(std::string_view name);

// Decodes stored names into UTF-8. Valid UTF-8 stays as it is; otherwise the
// name is read as CP932 (Shift_JIS as Windows writes it), unless the archive
// marked it as UTF-8. With an encoding chosen, every name not stored as
// Unicode is read in that encoding instead, whatever it looks like or is
// marked as. Bytes that do not decode become "%XX". Never fails. Holds its
// iconv handles, so one decoder serves a whole archive.
class NameDecoder {
public:
    // Loads glibc's converters for CP932, CP437 and the chosen encoding into
    // this process once each, so that the decoder processes forked from it
    // (which may no longer reach glibc's files) start with them in place.
    static void preload(const NameEncoding *chosen = nullptr);

    explicit NameDecoder(const NameEncoding *chosen = nullptr);
    ~NameDecoder();
    NameDecoder(const NameDecoder &) = delete;
    NameDecoder &operator=(const NameDecoder &) = delete;

    // The chosen encoding, or null for the automatic reading.
    const NameEncoding *chosen() const { return m_chosen; }

    // unicode: the name was stored as Unicode (UTF-16, RAR's Unicode names,
    // 7z), so no chosen encoding applies to it.
    std::string decode(std::string_view raw, bool markedUtf8, bool unicode = false);

    // raw read as CP932 even when it is valid UTF-8 too: a name of an
    // archive known to be written in CP932 (ZipNameRule).
    std::string decodeAsCp932(std::string_view raw);

private:
    const NameEncoding *m_chosen;
    void *m_cp932;     // iconv_t, (void*)-1 when glibc lacks CP932
    void *m_converter; // iconv_t for m_chosen, (void*)-1 for none or UTF-8
};

// Splits a decoded entry name on "/" and "\" into components, dropping empty
// and "." ones. Refuses (TENVO_ERR_UNSAFE, with the reason) an absolute name,
// a drive prefix such as "C:", any ".." component, more than 512 levels,
// and, unless keepLong (for a caller that shortens such names), a component
// over 255 bytes or over 4095 bytes in all. An empty result is not refused
// here: it names the destination itself.
TenvoResult splitEntryPath(std::string_view decoded, std::vector<std::string> &components,
                           std::string &reason, bool keepLong = false);

// Checks a decoded symbolic-link target for a link lying linkDepth folders
// below the destination. Accepts only relative targets that, resolved
// lexically from the link's folder, never climb above the destination. On
// success normalised holds the folded target ("../" only at its start,
// separators "/"), which keeps the same meaning on disk.
TenvoResult checkLinkTarget(std::string_view decoded, std::size_t linkDepth,
                            std::string &normalised, std::string &reason);

// The text with control characters (C0, DEL, C1) and bidirectional
// overrides escaped ("\n", "\x1b", "\u202e"), fit to put in a message.
std::string escapeForMessage(std::string_view text);

// Copies message into the caller's buffer when there is one (output != NULL
// and size > 0): truncated at a UTF-8 character boundary, always NUL-ended.
void copyToOutput(std::string_view message, char *output, unsigned int size);

} // namespace tenvo::engine
