#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "hid/device_change.h"

namespace ZELKUtil::Hid {

// What the hot-plug monitor listens to: nothing, the kernel's own events, or the events the system
// sends once it has processed the device: udev's on Linux (its database record exists by then),
// the device notifications on Windows.
enum class ChangeSource { None, Kernel, Processed };

// The journal of the device tree's changes that the hot-plug source writes and the backends read:
// it watches nothing itself. It tells the backends how long what they read of the device tree
// stays true, so that a poll
// that finds nothing changed reads nothing again, and one after a uevent reads only the device it
// names. The hot-plug monitor reports here what it listens to and every change it sees: pinned to
// one device where the event names one, otherwise as a change of anything. An answer is kept only
// while no change has been seen since it was read; a reader that can re-read single devices keeps
// what it read while every change since was pinned. Events that wait unread on the monitor's
// socket are read (and told) before anything is taken as true, and nothing read is kept longer
// than kFullRescanMs, so that a change no notification told of is still found by a full rescan.
// Without a monitor nothing is kept. One thread uses it: the window's, or one zelk-cli run's.
class DeviceChangeJournal {
  public:
    static constexpr std::int64_t kFullRescanMs = 10000;
    // The pinned changes remembered for readers that have not caught up yet; one that falls
    // further behind (a hub with everything behind it coming at once) reads everything again.
    static constexpr std::size_t kJournalLength = 256;

    using NowMs = std::function<std::int64_t()>;
    // Reads the events that wait on the monitor's socket, telling the journal of each; false when
    // some still wait unread.
    using ReadWaiting = std::function<bool()>;

    // now: a monotonic clock in milliseconds (the steady clock when not given).
    explicit DeviceChangeJournal(NowMs now = {});

    // The monitor: what it listens to, and how to read what waits unread on its socket.
    void Listening(ChangeSource source, ReadWaiting readWaiting = {});
    // The monitor saw a change it cannot pin to one device, or lost events: nothing read before
    // stays kept.
    void Changed();
    // The monitor saw a change of one device: what was read of every other one stays true.
    void DeviceChanged(DeviceChange change);

    // The stamp under which a reader may keep what it reads now, when the monitor's source is at
    // least `needed`; nullopt when nothing read now may be kept.
    struct Stamp {
        std::uint64_t generation = 0;  // changes of anything told before the read
        std::uint64_t sequence = 0;    // pinned changes told before the read
        std::int64_t readAtMs = 0;     // when the tree was read whole
    };
    std::optional<Stamp> Current(ChangeSource needed);
    // Whether what was read under the stamp is still true: nothing at all changed since.
    bool StillTrue(const Stamp& stamp, ChangeSource needed);
    // For a reader that can re-read single devices: the changes pinned since the stamp, which then
    // moves past them (the span lasts until the journal is next told or asked); nullopt when what
    // was read under it must be read whole again.
    std::optional<std::span<const DeviceChange>> CatchUp(Stamp& stamp, ChangeSource needed);

  private:
    bool Young(const Stamp& stamp, const Stamp& now) const;

    NowMs now_;
    ChangeSource source_ = ChangeSource::None;
    ReadWaiting readWaiting_;
    std::uint64_t generation_ = 0;
    std::uint64_t sequence_ = 0;
    // The pinned changes of this generation from sequence journalStart_ on.
    std::vector<DeviceChange> journal_;
    std::uint64_t journalStart_ = 0;
};

// One answer read from the device tree, cached while the journal says it still holds. Without a
// journal every Get reads.
template <typename T>
class CachedAnswer {
  public:
    // The kept answer while it is still true; otherwise read() now, kept when keepable(answer).
    // The reference stays valid until the next Get.
    template <typename Read, typename Keepable>
    const T& Get(DeviceChangeJournal* journal, ChangeSource needed, Read read, Keepable keepable) {
        if (journal != nullptr && stamp_ && journal->StillTrue(*stamp_, needed)) {
            return answer_;
        }
        stamp_ = journal != nullptr ? journal->Current(needed) : std::nullopt;
        answer_ = read();
        if (!keepable(answer_)) {
            stamp_.reset();
        }
        return answer_;
    }

  private:
    std::optional<DeviceChangeJournal::Stamp> stamp_;
    T answer_{};
};

// A probe's answer kept for one pair of IDs: the product asks for one pair only, and an answer for
// another pair starts afresh.
template <typename T>
class KeptForIds {
  public:
    CachedAnswer<T>& For(int vendor_id, int product_id) {
        const std::pair<int, int> asked(vendor_id, product_id);
        if (ids_ != asked) {
            answer_ = {};
            ids_ = asked;
        }
        return answer_;
    }

  private:
    std::optional<std::pair<int, int>> ids_;
    CachedAnswer<T> answer_;
};

}  // namespace ZELKUtil::Hid
