#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hid/windows/win32_calls.h"

namespace ZELKUtil::Testing {

// Answers the Win32 calls of the HID transport and the device-tree probe as Windows does with a
// given set of HID interfaces and USB devices: share modes, overlapped transfers that complete,
// time out and are cancelled (a cancelled transfer is finished only by GetOverlappedResult), a
// device that vanishes, properties that must be sized first, a configuration manager that may
// answer without writing. Time is virtual: a wait that times out advances it by its time-out.
class FakeWindows {
  public:
    struct HidInterface {
        std::string path;
        USHORT vendor = 0;
        USHORT product = 0;
        std::wstring productString = L"ZELK";
        USHORT inputReportLength = 65;
        // Reports the device has sent on its interrupt pipe, each delivered after its delay (ms)
        // counted from the read that waits for it.
        std::deque<std::pair<DWORD, std::vector<std::uint8_t>>> interruptReports;
        // The answer to a control-pipe request for the current input report; none: it fails.
        std::optional<std::vector<std::uint8_t>> controlReport;
        // Writes: accepted at once, never completed (the device does not take them), or failed.
        enum class Writes { Accepted, Stuck, Fail } writes = Writes::Accepted;
        // Unplugged: opens fail, transfers and string requests fail with "device not connected".
        bool vanished = false;
        // Unplugged this long after a wait for a transfer has begun.
        std::optional<DWORD> vanishesAfterMs;
        // The HID class driver cannot give the interface's report descriptor.
        bool preparsedFails = false;
        // The interrupt report completes in the moment its read is cancelled.
        bool completesDuringCancel = false;
        // What this program holds open: shared handles and whether one is exclusive.
        int openHandles = 0;
        bool heldExclusively = false;
        // Its device node's instance ID, and the USB node (an index into usb) it hangs under;
        // none: it is on no USB bus, and hangs under the tree's root.
        std::wstring instanceId;
        std::optional<std::size_t> usbParent;
    };

    struct UsbDevice {
        // nullopt: the property cannot be read at all.
        std::optional<std::vector<std::wstring>> hardwareIds;
        std::optional<std::wstring> description;
        ULONG status = 0;
        // A configuration manager that answers success but writes nothing (Wine 8's stub).
        bool statusStub = false;
        // Property reads of this device, counted: stopping mode reads nothing past a match.
        int propertyReads = 0;
        // Its device node: the instance ID, and the composite device (an index into usb) whose
        // interface it is; none: it hangs under a hub. Location properties the stack may omit.
        std::wstring instanceId;
        std::optional<std::size_t> parent;
        std::optional<std::vector<std::wstring>> locationPaths;
        std::optional<std::wstring> locationInformation;
    };

    static HidInterface Interface(std::string path, USHORT vendor, USHORT product,
                                  std::wstring productString) {
        HidInterface i;
        i.path = std::move(path);
        i.vendor = vendor;
        i.product = product;
        i.productString = std::move(productString);
        return i;
    }
    static UsbDevice Usb(std::optional<std::vector<std::wstring>> hardwareIds,
                         std::optional<std::wstring> description, ULONG status) {
        UsbDevice d;
        d.hardwareIds = std::move(hardwareIds);
        d.description = std::move(description);
        d.status = status;
        return d;
    }

    std::vector<HidInterface> hid;
    std::vector<UsbDevice> usb;
    bool hidDllPresent = true;
    bool deviceSetAvailable = true;
    // The arguments of the last SetupDiGetClassDevsW call.
    std::wstring usbEnumerator;
    DWORD usbFlags = 0;
    std::int64_t now = 0;  // virtual milliseconds
    int hidLoads = 0;
    int cancels = 0;
    int preparsedHeld = 0;
    // What the backends cost: every call through the table, the enumerations of the HID interface
    // class (A) and of the USB devices (W), and the opens of each interface by path.
    int calls = 0;
    int hidEnumerations = 0;
    int usbEnumerations = 0;
    std::map<std::string, int> opens;

    // The calls table answered by this object; it must outlive the table's users.
    Hid::Win32Calls Calls();
    // Handles (files, events, device sets) created and not yet closed.
    int OpenHandles() const { return static_cast<int>(handles_.size()); }
    // No transfer outstanding: every one was collected, completed or cancelled.
    bool Idle() const { return transfers_.empty(); }

  private:
    struct Transfer {
        enum class Kind { Read, Write, Control } kind = Kind::Read;
        unsigned char* buffer = nullptr;
        DWORD size = 0;
        bool done = false;
        bool ok = false;
        DWORD bytes = 0;
        DWORD error = 0;
        // A read whose report is due after this delay; nullopt when none comes.
        std::optional<DWORD> dueIn;
    };
    struct Handle {
        // UsbSet: the present devices of the USB enumerator; OwnSet: a list the program made.
        enum class Kind { File, Event, HidSet, UsbSet, OwnSet } kind = Kind::File;
        std::size_t device = 0;
        bool exclusive = false;
        bool signalled = false;
    };

    HANDLE NewHandle(Handle handle);
    Handle* Find(HANDLE handle);
    HidInterface* DeviceOf(HANDLE file);
    // Starts a transfer on a file; false and the last error when it cannot start.
    BOOL Start(HANDLE file, LPOVERLAPPED overlapped, Transfer transfer);
    void Complete(Transfer& transfer, HidInterface& device);
    BOOL Property(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PBYTE buffer, DWORD size,
                  PDWORD needed);
    // The device tree: usb[i] is node i + 1, hid[i] node kHidNodes + i, above them a hub and the
    // root. The instance ID of a node ("" for one the test gave none), and its parent if it has
    // one.
    static constexpr DEVINST kHidNodes = 0x1000;
    static constexpr DEVINST kHubNode = 0x800;
    static constexpr DEVINST kRootNode = 0x801;
    std::wstring NodeId(DEVINST node) const;
    std::optional<DEVINST> ParentOf(DEVINST node) const;
    void AnswerDeviceTree(Hid::Win32Calls& c);
    BOOL Fail(DWORD error) {
        lastError_ = error;
        return FALSE;
    }
    BOOLEAN FailService(DWORD error) {
        lastError_ = error;
        return FALSE;
    }

    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t nextHandle_ = 0x100;
    std::map<LPOVERLAPPED, std::pair<HANDLE, Transfer>> transfers_;
    DWORD lastError_ = 0;
};

}  // namespace ZELKUtil::Testing
