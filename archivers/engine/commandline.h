// Reads the command line that the program hands an archiver library.
#pragma once

#include "result.h"

#include <string>
#include <string_view>
#include <vector>

namespace tenvo::engine {

struct NameEncoding;

// One switch a library accepts: its words in order (say {"-x", "-j"}) and
// whether it extracts every file straight into the destination.
struct SwitchForm {
    std::vector<std::string> words;
    bool flatten = false;
};

// One word of a command line. Quoted words are paths, never switches.
struct CommandWord {
    std::string text;
    bool quoted = false;
};

// What a command asks for.
struct Command {
    bool flatten = false;
    // Given by a "-p<password>" word; an empty password counts as given.
    bool hasPassword = false;
    std::string password;
    std::string archivePath;
    std::string destination;
    // Given by a "--names=<encoding>" word: the encoding every name of the
    // archive is read in (namecodec.h); null reads each name automatically.
    const NameEncoding *encoding = nullptr;
};

// Splits a line into words separated by blanks (spaces, tabs, line ends). A
// word is a run of other characters, or a double-quoted text (blanks
// included) in which "" stands for one literal ". Backslashes are ordinary
// characters. Returns false with a message on an unterminated quote or a
// quote that starts or ends inside a word.
bool splitCommandWords(std::string_view line, std::vector<CommandWord> &words,
                       std::string &message);

// Reads `switch "archive" "destination"` with one of the library's switch
// forms (matched case-insensitively, longest form first). One unquoted word
// "--names=<encoding>" may follow the switch (an encoding of
// nameEncodings(), in any case). With acceptsPassword, one word
// "-p<password>" (quoted or not, the password following "-p" at once) may
// stand before the archive. Returns TENVO_OK and fills command, or
// TENVO_ERR_COMMAND with a message for an unknown switch or encoding, a
// missing or extra argument, or a malformed quote. A password never appears
// in a message. Touches no file.
TenvoResult parseCommandLine(std::string_view line, const std::vector<SwitchForm> &forms,
                             Command &command, std::string &message, bool acceptsPassword = false);

// Overwrites text's bytes with zeros, in a way the compiler keeps, and
// empties it: for passwords once they are no longer needed.
void wipeText(std::string &text);

// Overwrites a stretch of the stack below the caller, where the frames of
// the calls it has made (a password's words among them) were.
void scrubStack();

} // namespace tenvo::engine
