#include "hid/device_change_journal.h"

#include <chrono>
#include <utility>

namespace ZELKUtil::Hid {
namespace {

std::int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DeviceChangeJournal::DeviceChangeJournal(NowMs now)
    : now_(now ? std::move(now) : NowMs(SteadyNowMs)) {}

void DeviceChangeJournal::Listening(ChangeSource source, ReadWaiting readWaiting) {
    source_ = source;
    readWaiting_ = std::move(readWaiting);
    Changed();
}

void DeviceChangeJournal::Changed() {
    ++generation_;
    journal_.clear();
    journalStart_ = sequence_;
}

void DeviceChangeJournal::DeviceChanged(DeviceChange change) {
    journal_.push_back(std::move(change));
    ++sequence_;
    // Trimmed in halves, so that a long quiet run of single changes moves each one once.
    if (journal_.size() >= 2 * kJournalLength) {
        const auto dropped = journal_.size() - kJournalLength;
        journal_.erase(journal_.begin(), journal_.begin() + static_cast<std::ptrdiff_t>(dropped));
        journalStart_ += dropped;
    }
}

std::optional<DeviceChangeJournal::Stamp> DeviceChangeJournal::Current(ChangeSource needed) {
    if (source_ == ChangeSource::None || source_ < needed) {
        return std::nullopt;
    }
    // A change on its way to the window's thread already makes the tree differ from what was
    // read: it is heard now, before anything is taken as true.
    if (readWaiting_ && !readWaiting_()) {
        Changed();
        return std::nullopt;
    }
    return Stamp{generation_, sequence_, now_()};
}

bool DeviceChangeJournal::Young(const Stamp& stamp, const Stamp& now) const {
    return now.readAtMs - stamp.readAtMs < kFullRescanMs && now.readAtMs >= stamp.readAtMs;
}

bool DeviceChangeJournal::StillTrue(const Stamp& stamp, ChangeSource needed) {
    const auto now = Current(needed);
    return now && now->generation == stamp.generation && now->sequence == stamp.sequence &&
           Young(stamp, *now);
}

std::optional<std::span<const DeviceChange>> DeviceChangeJournal::CatchUp(Stamp& stamp,
                                                                          ChangeSource needed) {
    const auto now = Current(needed);
    if (!now || now->generation != stamp.generation || !Young(stamp, *now) ||
        stamp.sequence < journalStart_ || stamp.sequence > now->sequence) {
        return std::nullopt;
    }
    const auto from = static_cast<std::size_t>(stamp.sequence - journalStart_);
    stamp.sequence = now->sequence;
    return std::span<const DeviceChange>(journal_).subspan(from);
}

}  // namespace ZELKUtil::Hid
