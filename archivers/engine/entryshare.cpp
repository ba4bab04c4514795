// One decoder process's share of an archive's entries.
#include "entryshare.h"

#include <unistd.h>

#include <vector>

namespace tenvo::engine {
namespace {

const EntryShare *g_share = nullptr;

std::uint64_t fnv1a(const std::string &text)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// "readme (2) (3).txt" -> "readme.txt": every name FlattenNames can hand out
// for a file name has the same key as that name.
std::string withoutNumbers(std::string name)
{
    const std::size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = stem.size() == name.size() ? std::string() : name.substr(stem.size());
    for (;;) {
        if (stem.size() < 4 || stem.back() != ')')
            break;
        const std::size_t open = stem.rfind(" (");
        if (open == std::string::npos || open + 3 > stem.size() - 1)
            break;
        bool digits = true;
        for (std::size_t i = open + 2; i + 1 < stem.size(); ++i)
            digits = digits && stem[i] >= '0' && stem[i] <= '9';
        if (!digits)
            break;
        stem.erase(open);
    }
    return stem + extension;
}

} // namespace

void EntryShareState::reset()
{
    for (int i = 0; i < kMaxProcesses; ++i) {
        passed[i] = 0;
        bytesRead[i] = 0;
        firstFailure[i] = -1;
    }
}

const EntryShare *currentEntryShare()
{
    return g_share;
}

void setCurrentEntryShare(const EntryShare *share)
{
    g_share = share;
}

SharedEntrySink::SharedEntrySink(SafeWriter &writer, Layout layout, const EntryShare &share)
    : m_writer(writer)
    , m_layout(layout)
    , m_share(share)
{
}

std::string SharedEntrySink::shareKey(const std::string &rawName, Layout layout)
{
    // The stored path as the writer reads it: either separator, no empty
    // or "." components.
    std::vector<std::string> components;
    std::string part;
    for (std::size_t i = 0; i <= rawName.size(); ++i) {
        if (i == rawName.size() || rawName[i] == '/' || rawName[i] == '\\') {
            if (!part.empty() && part != ".")
                components.push_back(part);
            part.clear();
        } else {
            part += rawName[i];
        }
    }
    if (components.empty())
        return {};
    if (layout == Layout::Flatten)
        return withoutNumbers(components.back());
    std::string key;
    for (const std::string &component : components)
        key += component + '/';
    return key;
}

bool SharedEntrySink::beginEntry(const EntryInfo &entry)
{
    m_current = m_next++;
    bool mine;
    if (!m_inOrder && entry.kind != EntryKind::File && entry.kind != EntryKind::Directory)
        m_inOrder = true;
    if (m_inOrder) {
        mine = m_share.index == 0;
        if (mine)
            waitForOthers(m_current);
    } else if (entry.kind == EntryKind::Directory) {
        // A folder is made by whoever needs it; its stored time and mode
        // are the first process's to set.
        mine = m_share.index == 0;
    } else {
        mine = fnv1a(shareKey(entry.rawName, m_layout)) % std::uint64_t(m_share.count)
            == std::uint64_t(m_share.index);
    }
    m_taking = mine;
    if (!mine)
        return false;
    const TenvoResult before = m_writer.result();
    const bool wanted = m_writer.beginEntry(entry);
    noteFailure(before);
    return wanted;
}

bool SharedEntrySink::entryData(const void *data, std::size_t size)
{
    return m_taking && m_writer.entryData(data, size);
}

void SharedEntrySink::endEntry(TenvoResult outcome, const std::string &message)
{
    if (m_taking) {
        const TenvoResult before = m_writer.result();
        m_writer.endEntry(outcome, message);
        noteFailure(before);
    }
    m_taking = false;
    m_share.state->passed[m_share.index].store(m_current + 1);
}

void SharedEntrySink::finishAfterOthers()
{
    if (m_share.index == 0)
        waitForOthers(m_next);
}

void SharedEntrySink::noteFailure(TenvoResult before)
{
    if (before == TENVO_OK && m_writer.result() != TENVO_OK)
        m_share.state->firstFailure[m_share.index].store(m_current);
}

void SharedEntrySink::waitForOthers(std::int64_t entry)
{
    for (int other = 1; other < m_share.count; ++other) {
        // The others walk past without taking anything from here on; a
        // process that died has ended the whole call anyway.
        for (int spins = 0; m_share.state->passed[other].load() < entry; ++spins)
            ::usleep(spins < 100 ? 100 : 1000);
    }
}

} // namespace tenvo::engine
