#include "kernel/dfu_gadget.h"

#include <fcntl.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/result.h"

namespace ZELKSim {
namespace {

std::string Errno(const std::string& what) {
    return what + ": " + ZELKUtil::ErrnoText(errno);
}

void PutLe32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
}

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

}  // namespace

bool DfuGadget::Open(const std::string& ep0, DfuBootloader& bootloader, std::string* error) {
    Close();
    fd_ = ::open(ep0.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        *error = Errno("open " + ep0);
        return false;
    }
    // The interface at full and at high speed, then an empty string table.
    const std::vector<unsigned char> interface = bootloader.InterfaceDescriptor();
    std::vector<unsigned char> descriptors;
    PutLe32(descriptors, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    PutLe32(descriptors, static_cast<std::uint32_t>(20 + 2 * interface.size()));
    PutLe32(descriptors, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    PutLe32(descriptors, 1);
    PutLe32(descriptors, 1);
    descriptors.insert(descriptors.end(), interface.begin(), interface.end());
    descriptors.insert(descriptors.end(), interface.begin(), interface.end());
    std::vector<unsigned char> strings;
    PutLe32(strings, FUNCTIONFS_STRINGS_MAGIC);
    PutLe32(strings, 16);
    PutLe32(strings, 0);
    PutLe32(strings, 0);
    if (!WriteAll(fd_, descriptors) || !WriteAll(fd_, strings)) {
        *error = Errno("FunctionFS descriptors on " + ep0);
        Close();
        return false;
    }
    bootloader_ = &bootloader;
    return true;
}

void DfuGadget::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    bootloader_ = nullptr;
}

bool DfuGadget::Serve(int ms, std::string* error) {
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, ms);
    if (ready < 0 && errno != EINTR) {
        *error = Errno("poll ep0");
        return false;
    }
    if (ready <= 0) {
        return true;
    }
    std::array<usb_functionfs_event, 4> events{};
    const ssize_t got = ::read(fd_, events.data(), sizeof(events));
    if (got < 0 && errno == EIDRM) {
        // A request that had not been answered yet was cancelled by a reset or disconnect that
        // came right after it: FunctionFS says so once, and the next read has the events.
        return true;
    }
    if (got < 0) {
        *error = Errno("read ep0");
        return false;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof(events[0]); ++i) {
        if (events[i].type == FUNCTIONFS_DISABLE) {
            // The host reset the bus (or deconfigured the device).
            bootloader_->BusReset();
        } else if (events[i].type == FUNCTIONFS_SETUP &&
                   !Answer(reinterpret_cast<const unsigned char*>(&events[i].u.setup), error)) {
            return false;
        }
    }
    return true;
}

bool DfuGadget::Answer(const unsigned char* raw, std::string* error) {
    const auto word = [raw](int at) {
        return static_cast<std::uint16_t>(raw[at] | (raw[at + 1] << 8));
    };
    const UsbSetup setup{raw[0], raw[1], word(2), word(4), word(6)};
    const ControlReply reply = bootloader_->Control(setup);
    std::vector<unsigned char> data(setup.In() ? 0 : setup.length);
    // On ep0 a read stalls an IN request, a write an OUT request; otherwise a write sends the IN
    // data stage and a read takes the OUT data stage (or, of nothing, acknowledges).
    ssize_t done = 0;
    if (reply.stall) {
        done = setup.In() ? ::read(fd_, data.data(), 0) : ::write(fd_, data.data(), 0);
    } else if (setup.In()) {
        done = ::write(fd_, reply.data.data(), reply.data.size());
    } else {
        done = ::read(fd_, data.data(), data.size());
        if (setup.length > 0) {
            data.resize(done > 0 ? static_cast<std::size_t>(done) : 0);
            bootloader_->Receive(data);
        }
    }
    // A stall comes back as EL2HLT; EIDRM or ESHUTDOWN when the host gave up or went meanwhile.
    if (done < 0 && errno != EL2HLT && errno != EIDRM && errno != ESHUTDOWN) {
        *error = Errno("answer on ep0");
        return false;
    }
    return true;
}

}  // namespace ZELKSim
