#include "cli/bench_operator.h"

#include <utility>

namespace ZELKUtil::Cli {

void BenchOperator::Resume(bool arm, bool fpga) {
    resumeArm_ = arm;
    resumeFpga_ = fpga;
}

void BenchOperator::Decided(const Decision& decision, const std::optional<ZelkProfile>& profile) {
    const bool waitsThere = decision.moment != Moment::Connected && !decision.run &&
                            (decision.reason == Reason::WaitsForOperator ||
                             decision.reason == Reason::NothingForProgrammer);
    if (waitsThere && (resumeArm_ || resumeFpga_)) {
        // The programmer takes only the FPGA; in the bootloader the ARM firmware comes first,
        // and the FPGA once the box is back with it.
        const bool programmer = decision.moment == Moment::Programmer;
        if (resumeArm_ && !programmer && !armTicked_) {
            armTicked_ = true;
            fpgaAfterArm_ = resumeFpga_;
            wanted_ = Control::CheckProgramArm;
        } else if (resumeFpga_ && (programmer || !resumeArm_) && !fpgaTicked_) {
            fpgaTicked_ = true;
            wanted_ = Control::CheckProgramFPGA;
        }
        return;
    }
    if (fpgaOwed_ && decision.moment == Moment::Connected && decision.reason == Reason::UpToDate &&
        !fpgaTicked_) {
        fpgaTicked_ = true;
        wanted_ = Control::CheckProgramFPGA;
        return;
    }
    if (decision.moment != Moment::Connected || decision.run ||
        decision.reason != Reason::WaitsForOperator || !profile) {
        return;
    }
    const bool arm = !profile->LPC3131.empty();
    const bool fpga = profile->HasFpgaImage();
    if (arm && !armTicked_) {
        armTicked_ = true;
        fpgaAfterArm_ = fpga;
        wanted_ = Control::CheckProgramArm;
    } else if (!arm && fpga && !fpgaTicked_) {
        fpgaTicked_ = true;
        wanted_ = Control::CheckProgramFPGA;
    }
}

void BenchOperator::Returned() {
    if (fpgaAfterArm_ && !fpgaTicked_) {
        fpgaTicked_ = true;
        wanted_ = Control::CheckProgramFPGA;
    }
}

std::optional<Control> BenchOperator::TickWanted() {
    return std::exchange(wanted_, std::nullopt);
}

}  // namespace ZELKUtil::Cli
