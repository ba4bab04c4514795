// One decoder process's share of an archive's entries, when several
// processes decode one archive at once, each with its own reader.
#pragma once

#include "entrysink.h"
#include "safewriter.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tenvo::engine {

// What the processes sharing one archive see of each other: placed in
// memory that all of them share (mapped before they are forked).
struct EntryShareState {
    static constexpr int kMaxProcesses = 16;
    // Entries each process has walked past (taken or not), in archive order.
    std::atomic<std::int64_t> passed[kMaxProcesses];
    // Bytes each process's decoder has read, for progress.
    std::atomic<std::int64_t> bytesRead[kMaxProcesses];
    // Index of the first entry a process kept out, or -1.
    std::atomic<std::int64_t> firstFailure[kMaxProcesses];

    void reset();
};

// Which entries this process takes: index of count, with the shared state.
struct EntryShare {
    int index = 0;
    int count = 1;
    EntryShareState *state = nullptr;
};

// The share of the running process, set by the decoder program before it
// forks the decoder child; null when one process decodes everything.
const EntryShare *currentEntryShare();
void setCurrentEntryShare(const EntryShare *share);

// The sink between a decoder and this process's SafeWriter. Every process
// walks every entry in archive order; an entry is taken by the process its
// key went to (a new key goes to the process given the fewest bytes so
// far), so that entries that can land under one name (one stored
// path; under Flatten, one file name whatever its " (n)" numbers) are all
// written by one process, in archive order, and name each other as one
// process would. From the first link or special entry on, process 0 takes
// everything, and only after every other process has walked up to that
// entry, so the links see the tree exactly as one process would leave it.
class SharedEntrySink final : public EntrySink {
public:
    SharedEntrySink(SafeWriter &writer, Layout layout, const EntryShare &share);

    bool beginEntry(const EntryInfo &entry) override;
    bool entryData(const void *data, std::size_t size) override;
    void endEntry(TenvoResult outcome, const std::string &message) override;
    // Groups that hold one key are joined, and each joined set goes whole
    // to the process given the fewest bytes so far, in archive order: the
    // names are then handed out as without groups.
    bool shareGroups(const std::vector<GroupedEntry> &entries) override;
    const NameEncoding *nameEncoding() const override { return m_writer.nameEncoding(); }

    // For process 0, before the writer sets its folders' times: waits until
    // every other process has walked every entry, so no file lands in a
    // folder after its time was set.
    void finishAfterOthers();

    // After finishAfterOthers(): whether the call failed, as far as the
    // folders this process made are concerned. failedHere: this process's
    // decoder or writer failed. Process 0, which makes the stored folders,
    // also counts the failures of the others; a process that failed waits
    // until the others have walked every entry, so that no folder it then
    // removes is about to receive another process's file.
    bool failedAnywhere(bool failedHere);

    // The key that decides an entry's process (exposed for tests).
    static std::string shareKey(const std::string &rawName, Layout layout);

private:
    void noteFailure(TenvoResult before);
    void waitForOthers(std::int64_t entry);

    SafeWriter &m_writer;
    Layout m_layout;
    EntryShare m_share;
    std::int64_t m_next = 0;    // index of the next entry
    std::int64_t m_current = -1;
    bool m_taking = false;
    bool m_inOrder = false;     // a link was met: process 0 takes the rest
    std::unordered_map<std::string, int> m_owners; // key -> process
    std::vector<std::uint64_t> m_bytes;            // bytes given to each process
};

} // namespace tenvo::engine
