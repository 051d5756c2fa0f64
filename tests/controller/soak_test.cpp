// Soaks: the controller driven for a long time by random plugs, unplugs, box events and operator
// steps in virtual time with the emulated box and tools, and for a shorter while with real child
// processes. Nothing may pile up: file descriptors, threads, and memory beyond the log. The
// figures are printed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "platform/posix/posix_process_service.h"
#include "support/controller_rig.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtime's own count of allocated bytes. GCC's sanitizers export it but Debian
// ships its header only with clang, so it is declared here.
extern "C" std::size_t
__sanitizer_get_current_allocated_bytes();  // NOLINT(bugprone-reserved-identifier)
#endif

namespace ZELKUtil {
namespace {

using ZELKSim::BoxMode;

std::size_t Entries(const char* folder) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}
std::size_t OpenFiles() {
    return Entries("/proc/self/fd");
}
std::size_t Threads() {
    return Entries("/proc/self/task");
}
// Bytes the process has allocated and not freed.
std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// A package with both kinds of image, a box with older firmware and a programmed FPGA.
struct SoakRig : Testing::ControllerRig {
    SoakRig() : ControllerRig(Testing::BoxNamed()) {
        pkg.Write("a.bin", "a");
        pkg.Write("f.stp", "f");
        Package("2.04", Testing::Detail("ZELK Q750", "Q750", "ZELK Q750", "a.bin", "f.stp"),
                {"Tools/dfu-util", "Tools/STAPL Player"});
        box.SetFirmwareVersion("2.01");
        box.SetFpgaIdcode(0x029121CF);
        box.SetFpgaChecksum(0x1234);
    }
    // What the test world itself keeps of a run (not the product's memory) is dropped.
    void ForgetHistory() {
        toolStarts += tools.Starts().size();
        // Assigning an empty vector, not "= {}", which would keep the buffer.
        controllerClock.sleeps = std::vector<std::int64_t>();
        view.timerEvents = std::vector<std::string>();
        box.ForgetRequests();
        tools.ForgetStarts();
    }
    // The product's memory: everything allocated, less the log.
    std::size_t ProductMemory() {
        ForgetHistory();
        return HeapInUse() - view.log.capacity();
    }
    // One random step; returns whether it asked for a poll.
    bool RandomStep(std::mt19937& rng) {
        const auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
        const unsigned roll = pick(100);
        if (roll < 60) {
            Tick();
            return true;
        }
        if (roll < 70) {
            controller->Main_OnDeviceChange();
            return true;
        }
        if (roll < 74) {
            box.Unplug();
        } else if (roll < 78) {
            const BoxMode into[] = {BoxMode::Normal, BoxMode::Normal, BoxMode::Bootloader,
                                    BoxMode::FpgaProgrammer};
            box.Plug(into[pick(4)]);
        } else if (roll < 82) {
            if (pick(2) == 0) {
                box.SendEyeChangedEvent(static_cast<std::uint8_t>(pick(3)));
            } else {
                box.SendErrorEvent(static_cast<std::int8_t>(pick(8)));
            }
        } else if (roll < 96) {
            Operator(pick(11));
        } else {
            clock.SleepMs(pick(3000));
        }
        return false;
    }
    void Operator(unsigned which) {
        switch (which) {
            case 0:
                controller->UpdateForm_KeyDown(Key::M, true);
                break;
            case 1:
                controller->UpdateForm_KeyDown(Key::S, true);
                break;
            case 2:
                controller->UpdateForm_KeyDown(Key::Backspace, false);
                break;
            case 3:
                controller->ButtonDiag_Click();
                break;
            case 4:
                controller->buttonRestart_Click();
                break;
            case 5:
                controller->ButtonForce_Click();
                break;
            case 6:
                controller->ButtonAutoRings_Click();
                break;
            default:
                view.SetChecked(
                    which % 2 == 0 ? Control::CheckProgramArm : Control::CheckProgramFPGA,
                    which > 8);
                break;
        }
    }

    std::size_t toolStarts = 0;
};

TEST(Soak, AHundredThousandPollsInVirtualTime) {
    SoakRig rig;
    rig.Start();
    std::mt19937 rng(20261101);
    int polls = 0;
    const auto runUntil = [&](int total) {
        while (polls < total) {
            polls += rig.RandomStep(rng) ? 1 : 0;
        }
    };
    runUntil(10000);
    const std::size_t files = OpenFiles();
    const std::size_t threads = Threads();
    const std::size_t memory = rig.ProductMemory();
    runUntil(100000);
    const std::size_t memoryAfter = rig.ProductMemory();
    std::cout << "soak: " << polls << " polls in " << rig.clock.NowMs() / 1000
              << " s of virtual time; files " << files << " -> " << OpenFiles() << ", threads "
              << threads << " -> " << Threads() << ", memory beyond the log " << memory << " -> "
              << memoryAfter << " bytes, " << rig.toolStarts << " tool starts, log "
              << rig.view.log.size() << " bytes\n";
    EXPECT_EQ(OpenFiles(), files);
    EXPECT_EQ(Threads(), threads);
    // Room for the allocator's own bookkeeping, not for anything that grows with the polls.
    EXPECT_LE(memoryAfter, memory + std::size_t{64} * 1024);
    // The random steps reach the tool runs too, not only the polls of a box in normal mode.
    EXPECT_GT(rig.toolStarts, 1000U);
}

TEST(Soak, RealChildProcesses) {
#if defined(__SANITIZE_THREAD__)
    // The thread sanitizer starts a thread of its own once the program has made one, which the
    // count below cannot tell from a leaked waiter or reader; the other builds count them.
    GTEST_SKIP() << "threads are counted in the builds without the thread sanitizer";
#endif
    SoakRig rig;
    rig.pkg.WriteProgram("Tools/dfu-util",
                         "#!/bin/sh\n"
                         "echo 'dfu-util 0.7'; echo 'Opening DFU capable USB device...'\n"
                         "echo 'Copying data from PC to DFU device'\n"
                         "printf 'Starting download: [##########] finished!\\nDone!\\n'\n");
    rig.pkg.WriteProgram("Tools/STAPL Player", Testing::StandInPlayerScript(200));
    PosixProcessService processes(rig.pkg.Root());
    rig.Start(&processes);
    const auto round = [&rig] {
        rig.box.Plug(BoxMode::Bootloader);
        rig.view.SetChecked(Control::CheckProgramArm, true);
        rig.controller->CheckForZELK();
        rig.box.Plug(BoxMode::FpgaProgrammer);
        rig.view.SetChecked(Control::CheckProgramFPGA, true);
        rig.controller->CheckForZELK();
        // The run ends at the player's exit and the end of its output; the next poll judges it.
        while (rig.State().currently_programming_fpga != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rig.controller->CheckForZELK();
        }
    };
    // Waits (a minute at most) until the threads of the children that have ended are gone: the
    // waiter of each child and the reader of each player run.
    const auto settle = [](std::size_t threads) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (Threads() > threads && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    round();
    settle(1);
    const std::size_t files = OpenFiles();
    constexpr int kRounds = 50;
    for (int i = 0; i < kRounds; ++i) {
        round();
    }
    settle(1);
    const std::string done = "\r\nFPGA Done\r\n";
    std::size_t completed = 0;
    for (std::size_t at = rig.view.log.find(done); at != std::string::npos;
         at = rig.view.log.find(done, at + 1)) {
        ++completed;
    }
    std::cout << "soak with real children: " << kRounds << " rounds of a download and an FPGA run "
              << "(3 children each); files " << files << " -> " << OpenFiles() << ", threads "
              << Threads() << "\n";
    EXPECT_EQ(completed, static_cast<std::size_t>(kRounds + 1));
    EXPECT_EQ(OpenFiles(), files);
    EXPECT_EQ(Threads(), 1U);
}

}  // namespace
}  // namespace ZELKUtil
