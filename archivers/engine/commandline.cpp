// Reads the command line that the program hands an archiver library.
#include "commandline.h"

#include "namecodec.h"

#include <algorithm>
#include <cstring>

namespace tenvo::engine {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool sameSwitchWord(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

bool formMatches(const SwitchForm &form, const std::vector<CommandWord> &words)
{
    if (form.words.empty() || form.words.size() > words.size())
        return false;
    for (std::size_t i = 0; i < form.words.size(); ++i) {
        if (words[i].quoted || !sameSwitchWord(form.words[i], words[i].text))
            return false;
    }
    return true;
}

std::string quoteForMessage(std::string_view text)
{
    std::string quoted(1, '"');
    quoted += escapeForMessage(text);
    quoted += '"';
    return quoted;
}

} // namespace

bool splitCommandWords(std::string_view line, std::vector<CommandWord> &words,
                       std::string &message)
{
    words.clear();
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i == line.size())
            return true;

        CommandWord word;
        // The text is given its room at once: growing it, or keeping it
        // inside the object, would leave copies of a password behind.
        word.text.reserve(std::max<std::size_t>(line.size() - i, 16));
        if (line[i] == '"') {
            word.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        word.text += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                word.text += line[i++];
            }
            if (!closed) {
                message = "unterminated quote in the command line";
                return false;
            }
            if (i < line.size() && !isBlank(line[i])) {
                message = "a quoted path must be followed by a blank";
                return false;
            }
        } else {
            while (i < line.size() && !isBlank(line[i])) {
                if (line[i] == '"') {
                    message = "a double quote inside an unquoted word";
                    return false;
                }
                word.text += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
}

void wipeText(std::string &text)
{
    if (!text.empty())
        ::explicit_bzero(text.data(), text.size());
    text.clear();
}

__attribute__((noinline)) void scrubStack()
{
    char area[32 * 1024];
    ::explicit_bzero(area, sizeof area);
    asm volatile("" : : "r"(area) : "memory");
}

TenvoResult parseCommandLine(std::string_view line, const std::vector<SwitchForm> &forms,
                             Command &command, std::string &message, bool acceptsPassword)
{
    std::vector<CommandWord> words;
    // The words may hold a password: they are wiped on every way out.
    struct Wiper {
        std::vector<CommandWord> &words;
        ~Wiper()
        {
            for (CommandWord &word : words)
                wipeText(word.text);
        }
    } wiper{words};
    if (!splitCommandWords(line, words, message))
        return TENVO_ERR_COMMAND;
    if (words.empty()) {
        message = "empty command line";
        return TENVO_ERR_COMMAND;
    }

    const SwitchForm *chosen = nullptr;
    for (const SwitchForm &form : forms) {
        if (formMatches(form, words) && (!chosen || form.words.size() > chosen->words.size()))
            chosen = &form;
    }
    if (!chosen) {
        message = "unknown switch " + quoteForMessage(words.front().text);
        return TENVO_ERR_COMMAND;
    }

    std::size_t first = chosen->words.size();
    static constexpr std::string_view kNamesWord = "--names=";
    if (words.size() > first && !words[first].quoted
        && sameSwitchWord(std::string_view(words[first].text).substr(0, kNamesWord.size()), kNamesWord)) {
        const std::string_view name = std::string_view(words[first].text).substr(kNamesWord.size());
        command.encoding = findNameEncoding(name);
        if (!command.encoding) {
            message = "unknown name encoding " + quoteForMessage(name);
            return TENVO_ERR_COMMAND;
        }
        ++first;
    }
    const bool passwordWord = words.size() == first + 3 && words[first].text.size() >= 2
        && words[first].text[0] == '-' && (words[first].text[1] == 'p' || words[first].text[1] == 'P');
    if (passwordWord && !acceptsPassword) {
        message = "this library takes no password";
        return TENVO_ERR_COMMAND;
    }
    if (passwordWord) {
        command.hasPassword = true;
        command.password.assign(words[first].text, 2);
        ++first;
    }
    if (words.size() < first + 2) {
        message = words.size() == first ? "missing archive and destination"
                                        : "missing destination";
        return TENVO_ERR_COMMAND;
    }
    if (words.size() > first + 2) {
        const std::string &extra = words[first + 2].text;
        message = extra.size() >= 2 && extra[0] == '-' && (extra[1] == 'p' || extra[1] == 'P')
            ? "a password switch in the wrong place"
            : "unexpected argument " + quoteForMessage(extra);
        return TENVO_ERR_COMMAND;
    }

    command.flatten = chosen->flatten;
    command.archivePath = words[first].text;
    command.destination = words[first + 1].text;
    return TENVO_OK;
}

} // namespace tenvo::engine
