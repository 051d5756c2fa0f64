#pragma once

#include <string>

#include "box/dfu_bootloader.h"

namespace ZELKSim {

// The user-space side of the box's DFU bootloader on a FunctionFS function: writes the
// bootloader's interface to ep0 and answers the class requests that the kernel hands up. DFU needs
// only the control pipe, so ep0 is all there is. FunctionFS starts an OUT request's data stage
// only when user space reads it, so a request can be stalled instead and nothing is lost.
//
// The interface goes without its DFU functional descriptor: this kernel's FunctionFS accepts class
// descriptors only on HID and CCID interfaces. dfu-util then warns, assumes DFU 1.0 and takes the
// transfer size from its -t option. (gadgetfs, where user space writes the whole configuration,
// would carry the descriptor, but it stalls every OUT control request longer than 256 bytes, so
// the 2048-byte blocks of the download never get through.)
class DfuGadget {
  public:
    DfuGadget() = default;
    ~DfuGadget() { Close(); }
    DfuGadget(const DfuGadget&) = delete;
    DfuGadget& operator=(const DfuGadget&) = delete;

    // Opens the function's ep0 and writes the bootloader's descriptors; false with the reason.
    bool Open(const std::string& ep0, DfuBootloader& bootloader, std::string* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Answers what the host asks within `ms`; false with the reason when ep0 failed.
    bool Serve(int ms, std::string* error);

  private:
    bool Answer(const unsigned char* setup, std::string* error);

    DfuBootloader* bootloader_ = nullptr;
    int fd_ = -1;
};

}  // namespace ZELKSim
