// A recording EntrySink for decoder tests, with scripted refusals and protocol checks.
#pragma once

#include "entrysink.h"

#include <QList>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace tenvo::test {

struct RecordedEntry {
    engine::EntryInfo info;
    std::string data;
    bool accepted = false;
    TenvoResult outcome = TENVO_OK;
    std::string message;
};

class DecoderRecorder : public engine::EntrySink {
public:
    // Decides per entry (by its index) whether beginEntry() accepts it.
    std::function<bool(std::size_t index, const engine::EntryInfo &)> acceptEntry;
    // Decides whether entryData() stores a chunk, given the entry's index and
    // the bytes it already holds.
    std::function<bool(std::size_t index, std::size_t held)> acceptData;

    std::vector<RecordedEntry> entries;
    std::vector<std::string> protocolErrors;

    // Each entry's outcome, in order, for comparing with a table column.
    QList<int> outcomes() const
    {
        QList<int> out;
        for (const RecordedEntry &entry : entries)
            out << int(entry.outcome);
        return out;
    }

    bool beginEntry(const engine::EntryInfo &info) override
    {
        if (m_open)
            protocolErrors.push_back("beginEntry while \"" + entries.back().info.rawName + "\" is open");
        RecordedEntry entry;
        entry.info = info;
        entry.accepted = acceptEntry ? acceptEntry(entries.size(), info) : true;
        entries.push_back(entry);
        m_open = true;
        m_dataRefused = false;
        return entries.back().accepted;
    }

    bool entryData(const void *data, std::size_t size) override
    {
        if (!m_open) {
            protocolErrors.push_back("entryData outside an entry");
            return false;
        }
        RecordedEntry &entry = entries.back();
        if (!entry.accepted || m_dataRefused)
            protocolErrors.push_back("entryData after a refusal for \"" + entry.info.rawName + "\"");
        if (acceptData && !acceptData(entries.size() - 1, entry.data.size())) {
            m_dataRefused = true;
            return false;
        }
        entry.data.append(static_cast<const char *>(data), size);
        return true;
    }

    void endEntry(TenvoResult outcome, const std::string &message) override
    {
        if (!m_open) {
            protocolErrors.push_back("endEntry outside an entry");
            return;
        }
        entries.back().outcome = outcome;
        entries.back().message = message;
        m_open = false;
    }

    // Every protocol error, one per line, for a failure message.
    QString protocolReport() const
    {
        QString out;
        for (const std::string &error : protocolErrors)
            out += QString::fromStdString(error) + u'\n';
        if (m_open)
            out += QStringLiteral("the last entry was never ended\n");
        return out;
    }
    bool protocolKept() const { return protocolErrors.empty() && !m_open; }

private:
    bool m_open = false;
    bool m_dataRefused = false;
};

// The first way two decoders describe an entry apart (its name, kind, link,
// mode, size, time or encryption), or "" when they describe it alike.
inline QString describedApart(const engine::EntryInfo &got, const engine::EntryInfo &want)
{
    const auto field = [](const char *name, const auto &a, const auto &b) {
        return a == b ? QString() : QStringLiteral("%1 differs").arg(QLatin1String(name));
    };
    for (const QString &apart :
         {field("rawName", got.rawName, want.rawName), field("nameIsUtf8", got.nameIsUtf8, want.nameIsUtf8),
          field("nameIsUnicode", got.nameIsUnicode, want.nameIsUnicode), field("kind", got.kind, want.kind),
          field("linkTarget", got.linkTarget, want.linkTarget),
          field("linkTargetIsUtf8", got.linkTargetIsUtf8, want.linkTargetIsUtf8), field("mode", got.mode, want.mode),
          field("size", got.size, want.size), field("mtime", got.mtime, want.mtime),
          field("encrypted", got.encrypted, want.encrypted)}) {
        if (!apart.isEmpty())
            return QString::fromStdString(want.rawName) + QStringLiteral(": ") + apart;
    }
    return {};
}

// Bytes that do not repeat within any chunk size a decoder may use, so a
// dropped or doubled chunk shows.
inline std::string patternBytes(std::size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x & 0xFF);
    }
    return out;
}

} // namespace tenvo::test
