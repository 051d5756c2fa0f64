#include "kernel/uhid_box.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "kernel/report_descriptor.h"
#include "platform/result.h"

namespace ZELKSim {

UhidBox::UhidBox(EmulatedBox& box, bool interruptReports)
    : box_(box), boxHid_(box), interruptReports_(interruptReports) {}

UhidBox::~UhidBox() {
    stop_ = true;
    if (pump_.joinable()) {
        pump_.join();
    }
    if (uhid_ >= 0) {
        uhid_event destroy{};
        destroy.type = UHID_DESTROY;
        Send(&destroy, sizeof destroy);
        ::close(uhid_);
    }
    if (boxHandle_ != nullptr) {
        boxHid_.hid_close(boxHandle_);
    }
}

bool UhidBox::Send(const void* event, std::size_t size) {
    if (::write(uhid_, event, size) != static_cast<ssize_t>(size)) {
        Fail(std::string("write /dev/uhid: ") + ZELKUtil::ErrnoText(errno));
        return false;
    }
    return true;
}

bool UhidBox::Start(std::string* error) {
    const BoxIdentity identity = box_.Identity();
    boxHandle_ = boxHid_.hid_open(identity.vid, identity.pid, nullptr, 0);
    if (boxHandle_ == nullptr) {
        *error = "the emulated box is not in normal mode";
        return false;
    }
    boxHid_.hid_set_nonblocking(boxHandle_, 1, 0);
    uhid_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (uhid_ < 0) {
        *error = std::string("open /dev/uhid: ") + ZELKUtil::ErrnoText(errno);
        return false;
    }
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::string name;
    for (const wchar_t c : identity.product) {
        name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    std::strncpy(reinterpret_cast<char*>(create.u.create2.name), name.c_str(),
                 sizeof create.u.create2.name - 1);
    std::memcpy(create.u.create2.rd_data, kReportDescriptor.data(), kReportDescriptor.size());
    create.u.create2.rd_size = kReportDescriptor.size();
    create.u.create2.bus = BUS_USB;
    create.u.create2.vendor = identity.vid;
    create.u.create2.product = identity.pid;
    if (::write(uhid_, &create, sizeof create) != static_cast<ssize_t>(sizeof create)) {
        *error = std::string("UHID_CREATE2: ") + ZELKUtil::ErrnoText(errno);
        return false;
    }
    pump_ = std::thread([this] { Pump(); });
    return true;
}

std::string UhidBox::PumpError() const {
    std::lock_guard lock(errorMutex_);
    return error_;
}

void UhidBox::Fail(const std::string& what) {
    std::lock_guard lock(errorMutex_);
    if (error_.empty()) {
        error_ = what;
    }
}

void UhidBox::Pump() {
    while (!stop_) {
        pollfd waiting{uhid_, POLLIN, 0};
        if (::poll(&waiting, 1, 5) < 0 && errno != EINTR) {
            Fail(std::string("poll /dev/uhid: ") + ZELKUtil::ErrnoText(errno));
            return;
        }
        if ((waiting.revents & POLLIN) != 0) {
            uhid_event event{};
            const ssize_t got = ::read(uhid_, &event, sizeof event);
            if (got < 0 && errno != EAGAIN && errno != EINTR) {
                Fail(std::string("read /dev/uhid: ") + ZELKUtil::ErrnoText(errno));
                return;
            }
            if (got > 0 && event.type == UHID_OUTPUT) {
                // hidraw hands the report over as written: report ID 0 first.
                boxHid_.hid_write(boxHandle_, event.u.output.data, event.u.output.size);
            } else if (got > 0 && event.type == UHID_GET_REPORT) {
                uhid_event reply{};
                reply.type = UHID_GET_REPORT_REPLY;
                reply.u.get_report_reply.id = event.u.get_report.id;
                std::array<unsigned char, kReportBufferSize> report{};
                const int count = boxHid_.hid_read(boxHandle_, report.data(), report.size());
                if (count < 0) {
                    reply.u.get_report_reply.err = EIO;
                } else {
                    // As a USB device answers an unnumbered report: the report number first,
                    // then the report.
                    reply.u.get_report_reply.data[0] = 0;
                    std::memcpy(reply.u.get_report_reply.data + 1, report.data(), kReportDataSize);
                    reply.u.get_report_reply.size = kReportBufferSize;
                }
                Send(&reply, sizeof reply);
            }
        }
        if (interruptReports_) {
            std::array<unsigned char, kReportBufferSize> report{};
            while (boxHid_.hid_read_int(boxHandle_, report.data(), report.size()) > 0) {
                uhid_event input{};
                input.type = UHID_INPUT2;
                input.u.input2.size = kReportDataSize;
                std::memcpy(input.u.input2.data, report.data(), kReportDataSize);
                Send(&input, sizeof input);
                report.fill(0);
            }
        }
    }
}

}  // namespace ZELKSim
