#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "hid/device_change_journal.h"
#include "hid/hid_transport.h"
#include "hid/uevent.h"

namespace ZELKUtil::Hid {

// The HID transport over Linux hidraw. Interfaces are found through
// <sysfsRoot>/class/hidraw and opened as <devRoot>/<node>; the product passes "/sys" and
// "/dev". Share modes are flock locks on the open node: a shared open holds LOCK_SH, an exclusive
// one LOCK_EX, so exclusive and shared opens of this program exclude each other (other programs
// are not bound by the advisory lock). With a journal, the list of hidraw nodes and their IDs is
// kept while the journal says that the tree is unchanged, so that the opens of a poll that finds
// nothing changed read no sysfs file, and after a change pinned to one node only that node is read
// again; whether a node can be opened is always tried afresh. Without one the list is read on
// every enumeration, but a node already seen costs no file read.
class HidrawTransport : public HidTransport {
  public:
    // The device number of the node an fd has open; nullopt (errno set) when there is none.
    using NodeNumber = std::function<std::optional<dev_t>(int fd)>;

    // The node number comes from fstat() unless nodeNumber says otherwise (emulated nodes).
    explicit HidrawTransport(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                             NodeNumber nodeNumber = {}, DeviceChangeJournal* journal = nullptr);

    hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                         const wchar_t* serial_number, int exclusive) override;
    int hid_set_nonblocking(hid_device* device, int nonblock, int timeout) override;
    int hid_write(hid_device* device, const unsigned char* data, std::size_t length) override;
    int hid_read_int(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_read(hid_device* device, unsigned char* data, std::size_t length) override;
    int hid_get_product_string(hid_device* device, wchar_t* string, std::size_t maxlen) override;
    void hid_close(hid_device* device) override;
    const wchar_t* hid_error(hid_device* device) override;
    std::vector<HidOpenFailure> hid_open_failures() override { return openFailures_; }
    // The port of the interface the fd has open, found afresh through the node's device number:
    // once the interface has gone its node's name may already belong to another device.
    std::string hid_port(hid_device* device) override;
    // In minor-number order, from the list of nodes: costs no file read while that list is kept.
    std::vector<std::string> hid_ports(unsigned short vendor_id,
                                       unsigned short product_id) override;
    // Limits hid_open (and the enumeration it makes) and hid_ports; hid_enumerate called on its
    // own lists every port.
    void hid_confine_to_port(const std::optional<std::string>& port) override {
        confinedPort_ = port;
    }

    // The interfaces with the IDs (0 and 0: all) that can be opened for reading and writing and
    // are not held exclusively, in hidraw minor-number order; null when none.
    hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id);
    void hid_free_enumeration(hid_device_info* devices);
    hid_device* hid_open_path(const char* path, int exclusive);

    // Siblings that the device class does not use.
    int hid_get_manufacturer_string(hid_device* device, wchar_t* string, std::size_t maxlen);
    int hid_get_serial_number_string(hid_device* device, wchar_t* string, std::size_t maxlen);
    int hid_get_indexed_string(hid_device* device, int string_index, wchar_t* string,
                               std::size_t maxlen);
    int hid_send_feature_report(hid_device* device, const unsigned char* data, std::size_t length);
    int hid_get_feature_report(hid_device* device, unsigned char* data, std::size_t length);
    int hid_write_untimed(hid_device* device, const unsigned char* data, std::size_t length);

  private:
    // One hidraw node that sysfs lists with a readable HID_ID, and the port of its USB device.
    struct Node {
        std::string name;  // in the class folder, as a pinned change names it
        unsigned minor = 0;
        std::string path;
        HidIds ids;
        std::string port;
    };
    // The nodes by minor number.
    const std::vector<Node>& Nodes();
    std::vector<Node> ReadNodes();
    // Re-reads the nodes that the changes name into nodes_; false when the class folder cannot be
    // opened.
    bool UpdateNodes(std::span<const DeviceChange> changes);
    std::optional<Node> ReadNode(int classFd, const std::string& name) const;

    bool OnConfinedPort(const Node& node) const;

    // Enumeration and open by path that note why an interface could not be opened; the
    // enumeration of an open keeps to the confined port.
    hid_device_info* Enumerate(unsigned short vendor_id, unsigned short product_id, bool confined,
                               std::vector<HidOpenFailure>* failures);
    hid_device* OpenPath(const char* path, int exclusive, std::vector<HidOpenFailure>* failures);
    int GetUsbString(hid_device* device, const char* attribute, wchar_t* string,
                     std::size_t maxlen);
    // The sysfs folder of the hidraw node the record has open, while the interface is there;
    // nullopt with the failure recorded on the record.
    std::optional<std::string> OpenNodeFolder(hid_device* device);

    std::string sysfsRoot_;
    std::string devRoot_;
    NodeNumber nodeNumber_;
    DeviceChangeJournal* journal_;
    std::vector<Node> nodes_;                               // by minor number
    std::optional<DeviceChangeJournal::Stamp> nodesStamp_;  // under which nodes_ was read whole
    // The nodes seen in the last listing, by the inode of their entry in the class folder.
    std::unordered_map<ino_t, Node> knownNodes_;
    std::vector<HidOpenFailure> openFailures_;  // of the last hid_open
    std::optional<std::string> confinedPort_;
};

}  // namespace ZELKUtil::Hid
