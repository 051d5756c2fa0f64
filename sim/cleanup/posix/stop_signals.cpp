// The stop signals are blocked in every thread and taken by sigwait on a thread of their own, so
// that the folders are removed with ordinary calls instead of in a handler.
#include "cleanup/stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdlib>
#include <thread>

#include "cleanup/temp_folders.h"

namespace ZELKSim {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the folders, then lets the signal do what it would have done: its default action ends
// the process, and its parent sees it ended by that signal.
[[noreturn]] void EndAsSignalled(int number) {
    RemoveTempFolders();
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    // Should the default action not end the process, the exit status still tells the signal, as
    // a shell reports one.
    if (std::signal(number, SIG_DFL) != SIG_ERR &&
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr) == 0) {
        std::raise(number);
    }
    std::_Exit(128 + number);
}

}  // namespace

ZELKUtil::Result<void> RemoveTempFoldersOnStop() {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int number : kStopSignals) {
        sigaddset(&stops, number);
    }
    if (const int err = pthread_sigmask(SIG_BLOCK, &stops, nullptr); err != 0) {
        return ZELKUtil::ErrorFromErrno("block the stop signals", err);
    }
    // Detached: it waits for as long as the process lives, and touches nothing until a signal.
    std::thread([stops] {
        for (;;) {
            int number = 0;
            if (sigwait(&stops, &number) == 0) {
                EndAsSignalled(number);
            }
        }
    }).detach();
    return {};
}

}  // namespace ZELKSim
