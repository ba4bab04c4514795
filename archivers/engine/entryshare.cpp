// One decoder process's share of an archive's entries.
#include "entryshare.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace tenvo::engine {
namespace {

const EntryShare *g_share = nullptr;

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
    , m_bytes(std::size_t(share.count), 0)
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
    // A name that may land shortened (safewriter.h) is kept apart from the
    // other shortened names of its folder by the process that writes it,
    // so all such names go to one process. A stored byte can take three
    // bytes of UTF-8, and a path is cut to fit after the destination's own.
    constexpr std::size_t kMaySplitComponent = kMaxComponentBytes / 3;
    constexpr std::size_t kMaySplitPath = 1000;
    std::size_t total = 0;
    bool mayShorten = false;
    for (const std::string &component : components) {
        total += component.size() + 1;
        mayShorten = mayShorten || component.size() > kMaySplitComponent;
    }
    if (layout == Layout::Flatten)
        mayShorten = components.back().size() > kMaySplitComponent;
    else
        mayShorten = mayShorten || total > kMaySplitPath;
    if (mayShorten)
        return std::string("\x01long");
    if (layout == Layout::Flatten)
        return withoutNumbers(components.back());
    std::string key;
    for (const std::string &component : components)
        key += component + '/';
    return key;
}

bool SharedEntrySink::shareGroups(const std::vector<GroupedEntry> &entries)
{
    std::size_t groups = 0;
    for (const GroupedEntry &entry : entries)
        groups = std::max(groups, entry.group + 1);
    std::vector<std::size_t> parent(groups);
    for (std::size_t g = 0; g < groups; ++g)
        parent[g] = g;
    auto root = [&parent](std::size_t g) {
        while (parent[g] != g)
            g = parent[g] = parent[parent[g]];
        return g;
    };
    std::unordered_map<std::string, std::size_t> keyGroup;
    std::vector<std::string> keys;
    keys.reserve(entries.size());
    for (const GroupedEntry &entry : entries) {
        keys.push_back(shareKey(entry.rawName, m_layout));
        const auto [found, added] = keyGroup.emplace(keys.back(), entry.group);
        if (!added)
            parent[root(entry.group)] = root(found->second);
    }
    std::vector<std::uint64_t> joinedBytes(groups, 0);
    for (const GroupedEntry &entry : entries)
        joinedBytes[root(entry.group)] += std::uint64_t(entry.size > 0 ? entry.size : 0) + 4096;
    std::vector<int> owner(groups, -1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t joined = root(entries[i].group);
        if (owner[joined] < 0) {
            int least = 0;
            for (int k = 1; k < m_share.count; ++k) {
                if (m_bytes[std::size_t(k)] < m_bytes[std::size_t(least)])
                    least = k;
            }
            owner[joined] = least;
            m_bytes[std::size_t(least)] += joinedBytes[joined];
        }
        m_owners[keys[i]] = owner[joined];
    }
    return true;
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
        // Each process works this out alike, as all see the same entries in
        // the same order: a name met before goes where it went; a new one
        // to the process with the fewest bytes so far, so that a few large
        // files spread out.
        const std::string key = shareKey(entry.rawName, m_layout);
        auto found = m_owners.find(key);
        if (found == m_owners.end()) {
            int least = 0;
            for (int k = 1; k < m_share.count; ++k) {
                if (m_bytes[std::size_t(k)] < m_bytes[std::size_t(least)])
                    least = k;
            }
            found = m_owners.emplace(key, least).first;
        }
        m_bytes[std::size_t(found->second)] += std::uint64_t(entry.size > 0 ? entry.size : 0) + 4096;
        mine = found->second == m_share.index;
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

bool SharedEntrySink::failedAnywhere(bool failedHere)
{
    if (m_share.index == 0) {
        for (int other = 1; other < m_share.count && !failedHere; ++other)
            failedHere = m_share.state->firstFailure[other].load() >= 0;
        return failedHere;
    }
    if (failedHere) {
        for (int other = 0; other < m_share.count; ++other) {
            for (int spins = 0; other != m_share.index && m_share.state->passed[other].load() < m_next;
                 ++spins)
                ::usleep(spins < 100 ? 100 : 1000);
        }
    }
    return failedHere;
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
