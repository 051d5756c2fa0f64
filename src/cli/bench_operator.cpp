#include "cli/bench_operator.h"

#include <utility>

namespace ZELKUtil::Cli {

void BenchOperator::Decided(const Decision& decision, const std::optional<ZelkProfile>& profile) {
    if (decision.moment != Moment::Connected || decision.run ||
        decision.reason != Reason::WaitsForOperator || !profile) {
        return;
    }
    const bool arm = !profile->LPC3131.empty();
    const bool fpga = !profile->A3P060.empty() || !profile->A3PN060.empty();
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
