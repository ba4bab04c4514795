// Final names of the files of one archive extracted without its folders, and
// the shortened names of names too long for the file system.
#pragma once

#include <string>
#include <unordered_set>

namespace tenvo::engine {

// Hands out the name each flattened entry lands under, entry by entry in
// archive order. The first entry of a name keeps it; a later entry of a
// name an earlier entry took gets the first numbered name no earlier entry
// took, "readme (2).txt", "readme (3).txt", ..., the number before the
// extension. What was in the destination before the archive plays no part:
// it is replaced like any file an ordinary extraction meets, so extracting
// the same archive again gives the same names instead of piling up copies.
//
// The answer depends only on the names asked for so far, in order, so
// whoever splits one archive's entries among several writers can compute
// every entry's name up front with a FlattenNames of its own and get the
// same names.
class FlattenNames {
public:
    // The name the next entry, stored under name (one component), lands under.
    std::string place(const std::string &name);

private:
    std::unordered_set<std::string> m_taken;
};

// name with " (n)" before its extension (the text from the last "." that is
// not the first character): "a.txt" -> "a (2).txt", "Makefile" ->
// "Makefile (2)", ".profile" -> ".profile (2)". The part before the number is
// shortened (never inside a UTF-8 character) so that the result fits in
// maxBytes.
std::string numberedName(const std::string &name, unsigned number, std::size_t maxBytes);

// A name too long for the file system cut to fit maxBytes, never inside a
// UTF-8 character. It keeps its extension (the text from the last "." that
// is not the first character, when that text is at most 32 bytes; longer is
// no extension) and, with number above 1, gets " (n)" before it. maxBytes
// leaves room for at least one character before the extension.
std::string shortenedName(const std::string &name, std::size_t maxBytes, unsigned number = 1);

// The extension shortenedName keeps, in bytes.
std::size_t keptExtensionBytes(const std::string &name);

} // namespace tenvo::engine
