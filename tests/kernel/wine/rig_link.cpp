#include "rig_link.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <thread>

namespace ZELKWineTest {

std::string Rig(const std::string& request) {
    // GoogleTest writes to the same standard output: the request goes out as a line of its own.
    std::fflush(stdout);
    std::printf("@rig %s\n", request.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        return "";
    }
    if (!answer.empty() && answer.back() == '\r') {
        answer.pop_back();
    }
    return answer;
}

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool WaitFor(const std::function<bool()>& ready, int ms) {
    const long long deadline = NowMs() + ms;
    while (!ready()) {
        if (NowMs() >= deadline) {
            return ready();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

}  // namespace ZELKWineTest
