// Final names of the files of one archive extracted without its folders.
#pragma once

#include <functional>
#include <string>
#include <unordered_set>

namespace tenvo::engine {

// Hands out the name each flattened entry lands under, entry by entry in
// archive order. The first entry of a name keeps it (replacing a file that
// was in the destination before, as an ordinary extraction does); a later
// entry of a name an earlier entry took gets the first free numbered name,
// "readme (2).txt", "readme (3).txt", ..., the number before the extension.
// A numbered name is free when no earlier entry took it and nothing of that
// name was in the destination before the archive.
//
// The answer depends only on the names asked for so far, in order, and on
// existedBefore, so whoever splits one archive's entries among several
// writers can compute every entry's name up front with a FlattenNames of its
// own and get the same names.
class FlattenNames {
public:
    // existedBefore(name): whether the destination held something of that
    // name before the archive's first entry was written.
    explicit FlattenNames(std::function<bool(const std::string &)> existedBefore);

    // The name the next entry, stored under name (one component), lands under.
    std::string place(const std::string &name);

private:
    std::function<bool(const std::string &)> m_existedBefore;
    std::unordered_set<std::string> m_taken;
};

// name with " (n)" before its extension (the text from the last "." that is
// not the first character): "a.txt" -> "a (2).txt", "Makefile" ->
// "Makefile (2)", ".profile" -> ".profile (2)". The part before the number is
// shortened (never inside a UTF-8 character) so that the result fits in
// maxBytes.
std::string numberedName(const std::string &name, unsigned number, std::size_t maxBytes);

} // namespace tenvo::engine
