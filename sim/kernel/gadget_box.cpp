#include "kernel/gadget_box.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kernel/kernel_files.h"
#include "kernel/report_descriptor.h"
#include "platform/files.h"
#include "platform/result.h"
#include "platform/utf8.h"

namespace ZELKSim {
namespace {

constexpr const char* kGadgetRoot = "/sys/kernel/config/usb_gadget/";

std::string Hex16(std::uint16_t value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "0x%04x", value);
    return text.data();
}

}  // namespace

GadgetBox::GadgetBox(EmulatedBox& box, Timeline& clock, DfuFaults faults, unsigned controller)
    : box_(box),
      clock_(clock),
      boxHid_(box),
      faults_(faults),
      controller_(controller),
      names_(controller == 0 ? "zelk" : "zelk" + std::to_string(controller)) {}

GadgetBox::~GadgetBox() {
    stop_ = true;
    if (pump_.joinable()) {
        pump_.join();
    }
    Present(BoxMode::Absent);
    if (mounted_ && ::umount(DfuMount().c_str()) != 0) {
        std::fprintf(stderr, "gadget: cannot unmount %s: %s\n", DfuMount().c_str(),
                     ZELKUtil::ErrnoText(errno).c_str());
    }
    for (auto entry = created_.rbegin(); entry != created_.rend(); ++entry) {
        // Links go with unlink, folders with rmdir; configfs wants them in reverse order.
        if (::unlink(entry->c_str()) != 0 && ::rmdir(entry->c_str()) != 0) {
            std::fprintf(stderr, "gadget: cannot remove %s: %s\n", entry->c_str(),
                         ZELKUtil::ErrnoText(errno).c_str());
        }
    }
}

bool GadgetBox::PickController(std::string* error) {
    DIR* udcs = ::opendir("/sys/class/udc");
    if (udcs == nullptr) {
        *error = std::string("/sys/class/udc: ") + ZELKUtil::ErrnoText(errno) +
                 " (no USB device controller: load dummy_hcd and libcomposite)";
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(udcs)) {
        if (entry->d_name[0] != '.') {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(udcs);
    std::sort(names.begin(), names.end());
    if (controller_ >= names.size()) {
        *error = "no USB device controller number " + std::to_string(controller_) +
                 " (dummy_hcd not loaded, or with fewer)";
        return false;
    }
    udc_ = names[controller_];
    return true;
}

bool GadgetBox::Start(std::string* error) {
    if (!PickController(error)) {
        return false;
    }
    const BoxIdentity identity = box_.Identity();
    if (!BuildGadget(names_ + "-hid", identity.vid, identity.pid,
                     ZELKUtil::WideToUtf8(identity.product), "hid.zelk", &hid_, error) ||
        !BuildGadget(names_ + "-bootloader", EmulatedBox::kBootloaderVid,
                     EmulatedBox::kBootloaderPid, "LPC31xx DFU", "ffs." + DfuInstance(),
                     &bootloader_, error) ||
        !MountFunctionFs(error)) {
        return false;
    }
    pump_ = std::thread([this] { Pump(); });
    return true;
}

std::string GadgetBox::PumpError() const {
    std::lock_guard lock(errorMutex_);
    return error_;
}

std::optional<CompletedDownload> GadgetBox::LastDownload() const {
    std::lock_guard lock(errorMutex_);
    return lastDownload_;
}

bool GadgetBox::BuildGadget(const std::string& name, std::uint16_t vid, std::uint16_t pid,
                            const std::string& product, const std::string& function, Gadget* gadget,
                            std::string* error) {
    const std::string dir = kGadgetRoot + name;
    const auto makeDir = [this, error](const std::string& path) {
        if (::mkdir(path.c_str(), 0755) != 0) {
            *error = "mkdir " + path + ": " + ZELKUtil::ErrnoText(errno);
            return false;
        }
        created_.push_back(path);
        return true;
    };
    const auto set = [error, &dir](const std::string& attribute, const std::string& value) {
        return WriteFileBytes(dir + "/" + attribute, value, error);
    };
    const std::string functionDir = dir + "/functions/" + function;
    if (!makeDir(dir) || !set("idVendor", Hex16(vid)) || !set("idProduct", Hex16(pid)) ||
        !set("bcdDevice", "0x0100") || !set("bcdUSB", "0x0200") ||
        !makeDir(dir + "/strings/0x409") || !set("strings/0x409/manufacturer", "Orvanta") ||
        !set("strings/0x409/product", product) || !set("strings/0x409/serialnumber", "0001") ||
        !makeDir(dir + "/configs/c.1") || !makeDir(dir + "/configs/c.1/strings/0x409") ||
        !set("configs/c.1/strings/0x409/configuration", "box") ||
        !set("configs/c.1/MaxPower", "100") || !makeDir(functionDir)) {
        return false;
    }
    const bool hid = function.starts_with("hid.");
    if (hid && (!set("functions/" + function + "/protocol", "0") ||
                !set("functions/" + function + "/subclass", "0") ||
                !set("functions/" + function + "/report_length", "64") ||
                !set("functions/" + function + "/report_desc",
                     std::string(kReportDescriptor.begin(), kReportDescriptor.end())))) {
        return false;
    }
    const std::string link = dir + "/configs/c.1/" + function;
    if (::symlink(functionDir.c_str(), link.c_str()) != 0) {
        *error = "symlink " + link + ": " + ZELKUtil::ErrnoText(errno);
        return false;
    }
    created_.push_back(link);
    gadget->dir = dir;
    gadget->function = functionDir;
    return true;
}

bool GadgetBox::MountFunctionFs(std::string* error) {
    const std::string mount = DfuMount();
    if ((::mkdir(mount.c_str(), 0755) != 0 && errno != EEXIST) ||
        ::mount(DfuInstance().c_str(), mount.c_str(), "functionfs", 0, nullptr) != 0) {
        *error = "mount functionfs on " + mount + ": " + ZELKUtil::ErrnoText(errno);
        return false;
    }
    mounted_ = true;
    return true;
}

void GadgetBox::Fail(const std::string& what) {
    std::lock_guard lock(errorMutex_);
    if (error_.empty()) {
        error_ = what;
    }
}

void GadgetBox::ClosePipes() {
    if (hidg_ >= 0) {
        ::close(hidg_);
        hidg_ = -1;
    }
    if (boxHandle_ != nullptr) {
        boxHid_.hid_close(boxHandle_);
        boxHandle_ = nullptr;
    }
    toHost_.clear();
}

bool GadgetBox::Present(BoxMode mode) {
    // The gadget's character device goes with the unbind; nothing may hold it open then.
    ClosePipes();
    std::string error;
    if (bound_ != nullptr) {
        if (!WriteFileBytes(bound_->dir + "/UDC", "\n", &error)) {
            Fail(error);
        }
        bound_ = nullptr;
    }
    // FunctionFS would unbind its gadget itself when ep0 closes; it goes after the unbind.
    dfu_.Close();
    if (rom_ && rom_->LastDownload()) {
        std::lock_guard lock(errorMutex_);
        lastDownload_ = rom_->LastDownload();
    }
    presented_ = mode;
    const bool hid = mode == BoxMode::Normal || mode == BoxMode::FpgaProgrammer;
    const Gadget* next = hid ? &hid_ : mode == BoxMode::Bootloader ? &bootloader_ : nullptr;
    if (next == nullptr) {
        return true;
    }
    if (hid && !NameHidGadget(mode == BoxMode::Normal, &error)) {
        Fail(error);
        return false;
    }
    if (mode == BoxMode::Bootloader) {
        // A fresh ROM each visit; FunctionFS binds only once its ep0 has the descriptors.
        rom_.emplace(box_, clock_, faults_);
        if (!dfu_.Open(DfuMount() + "/ep0", *rom_, &error)) {
            Fail(error);
            return false;
        }
    }
    lastBindMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
    if (!WriteFileBytes(next->dir + "/UDC", udc_, &error)) {
        Fail(error);
        return false;
    }
    bound_ = next;
    if (mode == BoxMode::Bootloader) {
        return true;
    }
    const auto dev = ZELKUtil::Files::ReadHead(next->function + "/dev", 32);
    const std::size_t colon = dev ? dev.value().find(':') : std::string::npos;
    if (colon == std::string::npos) {
        Fail("no device number in " + next->function + "/dev");
        return false;
    }
    const std::string node = "/dev/hidg" + std::to_string(std::stoi(dev.value().substr(colon + 1)));
    WaitFor([&node] { return ::access(node.c_str(), F_OK) == 0; }, 5000);
    hidg_ = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (hidg_ < 0) {
        Fail("open " + node + ": " + ZELKUtil::ErrnoText(errno));
        return false;
    }
    const BoxIdentity identity = box_.Identity();
    const bool normal = mode == BoxMode::Normal;
    boxHandle_ = boxHid_.hid_open(normal ? identity.vid : EmulatedBox::kProgrammerVid,
                                  normal ? identity.pid : EmulatedBox::kProgrammerPid, nullptr, 0);
    if (boxHandle_ == nullptr) {
        // The box changed its mode meanwhile; the next turn of the pump follows it.
        return true;
    }
    // The pump never waits on the box: it looks for reports and goes on.
    boxHid_.hid_set_nonblocking(boxHandle_, 1, 0);
    return true;
}

bool GadgetBox::NameHidGadget(bool normal, std::string* error) {
    const BoxIdentity identity = box_.Identity();
    const std::uint16_t vid = normal ? identity.vid : EmulatedBox::kProgrammerVid;
    const std::uint16_t pid = normal ? identity.pid : EmulatedBox::kProgrammerPid;
    const std::string product =
        normal ? ZELKUtil::WideToUtf8(identity.product) : "ZELK FPGA programmer";
    return WriteFileBytes(hid_.dir + "/idVendor", Hex16(vid), error) &&
           WriteFileBytes(hid_.dir + "/idProduct", Hex16(pid), error) &&
           WriteFileBytes(hid_.dir + "/strings/0x409/product", product, error);
}

void GadgetBox::Exchange() {
    const short take = holdHostReports_ ? 0 : POLLIN;
    pollfd waiting{hidg_, static_cast<short>(take | (toHost_.empty() ? 0 : POLLOUT)), 0};
    if (waiting.events == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } else if (::poll(&waiting, 1, 5) < 0 && errno != EINTR) {
        Fail(std::string("poll hidg: ") + ZELKUtil::ErrnoText(errno));
        return;
    }
    if ((waiting.revents & POLLIN) != 0) {
        // The host's output report arrives without its report ID; the box's side takes the
        // report as the host wrote it, ID first.
        std::array<unsigned char, kReportBufferSize> report{};
        const ssize_t got = ::read(hidg_, report.data() + 1, kReportDataSize);
        if (got > 0 && boxHandle_ != nullptr) {
            boxHid_.hid_write(boxHandle_, report.data(), report.size());
        }
    }
    if (boxHandle_ != nullptr) {
        std::array<unsigned char, kReportBufferSize> report{};
        while (boxHid_.hid_read_int(boxHandle_, report.data(), report.size()) > 0) {
            toHost_.emplace_back(report.begin(), report.begin() + kReportDataSize);
            report.fill(0);
        }
    }
    while (!toHost_.empty()) {
        // f_hid holds one report until the host's interrupt pipe fetches it.
        const ssize_t written = ::write(hidg_, toHost_.front().data(), toHost_.front().size());
        if (written < 0 && errno == EAGAIN) {
            break;
        }
        // Sent, or lost because the host has not configured the device: a real box cannot send
        // before that either.
        toHost_.pop_front();
    }
}

void GadgetBox::Pump() {
    while (!stop_) {
        // A box unplugged and plugged in again between two turns of the pump (a box swapped for
        // another) leaves the bus and enumerates afresh, as a real one does, though its mode is
        // the same: Present unbinds what is bound before it binds.
        const std::uint64_t presence = box_.Presence();
        const BoxMode wanted = box_.Mode();
        if (wanted != presented_ || presence != presentedPresence_) {
            presentedPresence_ = presence;
            Present(wanted);
        }
        std::string error;
        if (dfu_.IsOpen()) {
            if (!dfu_.Serve(5, &error)) {
                Fail(error);
            }
        } else if (hidg_ >= 0) {
            Exchange();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

std::string PortOfController(unsigned controller) {
    const std::string dir = "/sys/devices/platform/dummy_hcd." + std::to_string(controller);
    DIR* hcd = ::opendir(dir.c_str());
    if (hcd == nullptr) {
        return "";
    }
    std::string port;
    while (const dirent* entry = ::readdir(hcd)) {
        const std::string name = entry->d_name;
        if (name.rfind("usb", 0) == 0 && name.size() > 3) {
            port = name.substr(3) + "-1";
        }
    }
    ::closedir(hcd);
    return port;
}

}  // namespace ZELKSim
