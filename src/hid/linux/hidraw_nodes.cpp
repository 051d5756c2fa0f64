// The list of hidraw nodes: what sysfs tells of each node, read once per node, and the ports of the
// interfaces, which come from that list alone.
#include <dirent.h>
#include <fcntl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "hid/linux/hidraw_transport.h"
#include "hid/linux/sysfs_file.h"
#include "hid/linux/usb_port.h"
#include "hid/uevent.h"
#include "platform/posix/unique_fd.h"

namespace ZELKUtil::Hid {
namespace {

// The minor number of a "major:minor" dev attribute.
std::optional<unsigned> MinorOf(const std::optional<std::string>& dev) {
    if (!dev) {
        return std::nullopt;
    }
    const std::size_t colon = dev->find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == dev->size() ||
        dev->size() - colon > 8 ||
        dev->find_first_not_of("0123456789", colon + 1) != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<unsigned>(std::stoul(dev->substr(colon + 1)));
}

}  // namespace

const std::vector<HidrawTransport::Node>& HidrawTransport::Nodes() {
    // The list changes only when a hidraw node comes, goes or changes, and the kernel's own event
    // for that node tells of it once sysfs shows it; events of USB devices and interfaces change
    // no node of their own.
    if (journal_ != nullptr && nodesStamp_) {
        const auto changes = journal_->CatchUp(*nodesStamp_, ChangeSource::Kernel);
        if (changes && UpdateNodes(*changes)) {
            return nodes_;
        }
    }
    nodesStamp_ = journal_ != nullptr ? journal_->Current(ChangeSource::Kernel) : std::nullopt;
    nodes_ = ReadNodes();
    return nodes_;
}

bool HidrawTransport::UpdateNodes(std::span<const DeviceChange> changes) {
    const auto names = ChangedNames(changes, DeviceChange::Kind::Hidraw);
    if (names.empty()) {
        return true;
    }
    const UniqueFd classFd(
        ::open((sysfsRoot_ + "/class/hidraw").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!classFd.Valid()) {
        return false;
    }
    const bool remember = InodesStayUnique(classFd.Get());
    for (const std::string_view changed : names) {
        // Whatever the action said, the node is now as sysfs shows it: gone, new or the same. A
        // node whose entry is the one seen before is the same node, as in a full listing.
        const std::string name(changed);
        std::erase_if(nodes_, [&](const Node& node) { return node.name == name; });
        const auto inode = remember ? EntryInode(classFd.Get(), name) : std::nullopt;
        std::optional<Node> node;
        const auto seen = inode ? knownNodes_.find(*inode) : knownNodes_.end();
        if (seen != knownNodes_.end()) {
            node = seen->second;
        } else {
            node = ReadNode(classFd.Get(), name);
            if (node && inode) {
                knownNodes_.emplace(*inode, *node);
            }
        }
        if (node) {
            const auto place = std::upper_bound(
                nodes_.begin(), nodes_.end(), node->minor,
                [](unsigned minor, const Node& other) { return minor < other.minor; });
            nodes_.insert(place, std::move(*node));
        }
    }
    return true;
}

// The hidraw nodes that sysfs lists with a readable HID_ID, by minor number. Nodes are found here
// before anything is opened, so a vanished or foreign node is never tried.
std::vector<HidrawTransport::Node> HidrawTransport::ReadNodes() {
    std::vector<Node> nodes;
    std::unordered_map<ino_t, Node> known;
    const std::string classDir = sysfsRoot_ + "/class/hidraw";
    DIR* dir = ::opendir(classDir.c_str());
    if (dir == nullptr) {
        knownNodes_.clear();
        return nodes;
    }
    const int dirFd = ::dirfd(dir);
    const bool remember = InodesStayUnique(dirFd);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') {
            continue;
        }
        // A node's number, IDs and name never change while it exists, and a node that comes later
        // under the same name has a new entry with an inode number of its own (on sysfs).
        const auto seen = remember ? knownNodes_.find(entry->d_ino) : knownNodes_.end();
        if (seen != knownNodes_.end()) {
            nodes.push_back(seen->second);
            known.emplace(entry->d_ino, seen->second);
            continue;
        }
        if (auto node = ReadNode(dirFd, name)) {
            nodes.push_back(*node);
            if (remember) {
                known.emplace(entry->d_ino, std::move(*node));
            }
        }
    }
    ::closedir(dir);
    knownNodes_ = std::move(known);
    std::sort(nodes.begin(), nodes.end(),
              [](const Node& a, const Node& b) { return a.minor < b.minor; });
    return nodes;
}

std::optional<HidrawTransport::Node> HidrawTransport::ReadNode(int classFd,
                                                               const std::string& name) const {
    const auto minorNumber = MinorOf(ReadAttribute(name, "dev", classFd));
    if (!minorNumber) {
        return std::nullopt;
    }
    const auto hidUevent = ReadSmallFile(name + "/device/uevent", classFd);
    if (!hidUevent) {
        return std::nullopt;
    }
    const auto hidId = UeventValue(*hidUevent, "HID_ID");
    const auto ids = hidId ? ParseHidId(*hidId) : std::nullopt;
    if (!ids) {
        return std::nullopt;
    }
    std::string devname = name;
    if (const auto nodeUevent = ReadSmallFile(name + "/uevent", classFd)) {
        devname = UeventValue(*nodeUevent, "DEVNAME").value_or(name);
    }
    std::string path = devRoot_;
    path.append("/").append(devname);
    // The node's USB device never changes while the node exists, so its port is read once with
    // the IDs. A class entry that no longer resolves is a node that went meanwhile.
    const auto folder = ResolvedFolder(sysfsRoot_ + "/class/hidraw/" + name);
    if (!folder) {
        return std::nullopt;
    }
    return Node{name, *minorNumber, path, *ids, UsbPortOf(sysfsRoot_, *folder)};
}

std::vector<std::string> HidrawTransport::hid_ports(unsigned short vendor_id,
                                                    unsigned short product_id) {
    // Nothing is opened: a box that this user may not open, or that is held open, is still there.
    std::vector<std::string> ports;
    for (const Node& node : Nodes()) {
        if (node.ids.vendor_id == vendor_id && node.ids.product_id == product_id &&
            OnConfinedPort(node)) {
            ports.push_back(node.port);
        }
    }
    return ports;
}

bool HidrawTransport::OnConfinedPort(const Node& node) const {
    return !confinedPort_ || node.port == *confinedPort_;
}

}  // namespace ZELKUtil::Hid
