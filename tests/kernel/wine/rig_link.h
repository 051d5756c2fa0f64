#pragma once

#include <functional>
#include <string>

namespace ZELKWineTest {

// Asks the rig on the Linux side of the guest (the program that runs this one under Wine) to
// change the world: "plug normal", "plug bootloader", "unplug", "hold 1" (the box stops taking
// output reports), "hold 0", "eye N" (the box sends an eye event). Returns the rig's answer, "ok"
// when done; "" when no rig answers (the program was not started by one).
std::string Rig(const std::string& request);

// Tries `ready` every 100 ms until it holds or `ms` have passed; returns its last value.
bool WaitFor(const std::function<bool()>& ready, int ms);

// Milliseconds on the steady clock.
long long NowMs();

}  // namespace ZELKWineTest
