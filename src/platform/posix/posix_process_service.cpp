#include "platform/posix/posix_process_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/output_stream.h"
#include "platform/posix/unique_fd.h"

namespace ZELKUtil {
namespace {

// A close-on-exec pipe whose two ends are above 2, so that putting a child's standard descriptors
// in place cannot overwrite one of them when the utility itself runs with one of 0-2 closed.
// Returns 0 or the errno of the failure.
int MakePipe(UniqueFd* readEnd, UniqueFd* writeEnd) {
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errno;
    }
    readEnd->Reset(fds[0]);
    writeEnd->Reset(fds[1]);
    for (UniqueFd* end : {readEnd, writeEnd}) {
        if (end->Get() < 3) {
            const int moved = ::fcntl(end->Get(), F_DUPFD_CLOEXEC, 3);
            if (moved < 0) {
                return errno;
            }
            end->Reset(moved);
        }
    }
    return 0;
}

// The read end of a child's output pipe, non-blocking. It is read only after poll() says that it
// has something.
class OutputPipe final : public OutputStream::Pipe {
  public:
    explicit OutputPipe(int fd) : fd_(fd) {
        const int flags = ::fcntl(fd_.Get(), F_GETFL);
        // Without O_NONBLOCK a read still never blocks: it follows a poll() that found data.
        if (flags >= 0) {
            (void)::fcntl(fd_.Get(), F_SETFL, flags | O_NONBLOCK);
        }
    }

    std::optional<std::size_t> ReadNow(char* buffer, std::size_t size) override {
        for (;;) {
            pollfd p{fd_.Get(), POLLIN, 0};
            const int ready = ::poll(&p, 1, 0);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready == 0) {
                return std::size_t{0};
            }
            const ssize_t n = ready < 0 ? -1 : ::read(fd_.Get(), buffer, size);
            if (n > 0) {
                return static_cast<std::size_t>(n);
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return std::size_t{0};
            }
            return std::nullopt;
        }
    }
    // Blocks until the pipe has something or has closed (only a reader thread does this).
    bool Await() override {
        pollfd p{fd_.Get(), POLLIN, 0};
        return ::poll(&p, 1, -1) >= 0 || errno == EINTR;
    }

  private:
    UniqueFd fd_;
};

// What the waiter thread of one child and the ChildProcess object share. The waiter is started
// before the child, so that a thread that cannot be created fails the start before any child
// exists; it then waits for the pid, or for -1 when no child was started after all.
class ExitState {
  public:
    void SetPid(pid_t pid) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pid_ = pid;
            pidSet_ = true;
        }
        changed_.notify_all();
    }
    pid_t AwaitPid() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return pidSet_; });
        return pid_;
    }
    void MarkExited(std::optional<std::uint32_t> code) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            exited_ = true;
            code_ = code;
        }
        changed_.notify_all();
    }
    bool HasExited() {
        std::lock_guard<std::mutex> lock(mutex_);
        return exited_;
    }
    void WaitForExit() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return exited_; });
    }
    std::optional<std::uint32_t> Code() {
        std::lock_guard<std::mutex> lock(mutex_);
        return code_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool pidSet_ = false;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::optional<std::uint32_t> code_;
};

void WatchChild(const std::shared_ptr<ExitState>& state, const std::function<void()>& onExit) {
    const pid_t pid = state->AwaitPid();
    if (pid < 0) {
        return;
    }
    // Reaping here leaves no zombie behind. ECHILD means the child is gone without a status to
    // collect (SIGCHLD ignored by the process): it has ended all the same.
    int status = 0;
    pid_t reaped = -1;
    while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    std::optional<std::uint32_t> code;
    if (reaped == pid && WIFEXITED(status)) {
        code = static_cast<std::uint32_t>(WEXITSTATUS(status));
    } else if (reaped == pid && WIFSIGNALED(status)) {
        code = 128U + static_cast<std::uint32_t>(WTERMSIG(status));
    }
    state->MarkExited(code);
    if (onExit) {
        onExit();
    }
}

class PosixChildProcess final : public ChildProcess {
  public:
    PosixChildProcess(std::shared_ptr<ExitState> exit, std::unique_ptr<OutputPipe> output)
        : exit_(std::move(exit)), output_(std::move(output)) {}

    std::optional<std::string> ReadLine() override { return output_.ReadLine(); }
    int ReadChar() override { return output_.ReadChar(); }
    bool LineReady() override { return output_.LineReady(); }
    bool OutputReady() override { return output_.CharReady(); }
    void DeliverLines(std::function<bool(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        output_.Deliver(std::move(onLine), std::move(onEnd));
    }

    bool HasExited() override { return exit_->HasExited(); }
    void WaitForExit() override { exit_->WaitForExit(); }
    std::optional<std::uint32_t> ExitCode() override { return exit_->Code(); }

  private:
    std::shared_ptr<ExitState> exit_;
    OutputStream output_;
};

// Why a child did not get to run its program, sent back through the close-on-exec error pipe.
enum class ChildStep : int { Prepare, EnterWorkingDirectory, Execute };
struct ChildFailure {
    ChildStep step;
    int err;
};

// Everything the child needs, made ready before fork: between fork and exec only
// async-signal-safe calls are allowed.
struct ChildPlan {
    const char* program;
    char* const* argv;
    const char* workingDirectory;
    int outputFd;  // -1: standard output inherited
    int diagFd;    // -1: standard error inherited
    int errorFd;
    long maxFd;  // for closing descriptors where close_range is missing
};

void CloseFrom(unsigned int first, unsigned int last, long maxFd) {
    if (first > last) {
        return;
    }
    if (::close_range(first, last, 0) == 0 || errno != ENOSYS) {
        return;
    }
    for (long fd = first; fd <= std::min<long>(last, maxFd); ++fd) {
        ::close(static_cast<int>(fd));
    }
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
    auto fail = [&plan](ChildStep step) {
        const ChildFailure failure{step, errno};
        // The parent learns nothing more when this fails; it then takes the child as started.
        (void)!::write(plan.errorFd, &failure, sizeof failure);
        ::_exit(127);
    };
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_IGN;
    if (::sigaction(SIGPIPE, &action, nullptr) != 0) {
        fail(ChildStep::Prepare);
    }
    // zelk-cli ignores SIGXFSZ for its history's sake; a tool gets the usual disposition.
    action.sa_handler = SIG_DFL;
    if (::sigaction(SIGCHLD, &action, nullptr) != 0 ||
        ::sigaction(SIGXFSZ, &action, nullptr) != 0) {
        fail(ChildStep::Prepare);
    }
    sigset_t none;
    sigemptyset(&none);
    if (::sigprocmask(SIG_SETMASK, &none, nullptr) != 0 || ::setsid() < 0) {
        fail(ChildStep::Prepare);
    }
    const int nullFd = ::open("/dev/null", O_RDONLY);
    if (nullFd < 0 || ::dup2(nullFd, STDIN_FILENO) < 0) {
        fail(ChildStep::Prepare);
    }
    if (plan.outputFd >= 0 && ::dup2(plan.outputFd, STDOUT_FILENO) < 0) {
        fail(ChildStep::Prepare);
    }
    if (plan.diagFd >= 0 && ::dup2(plan.diagFd, STDERR_FILENO) < 0) {
        fail(ChildStep::Prepare);
    }
    // Descriptors that others opened without close-on-exec must not reach the child either; the
    // error pipe closes itself at exec.
    const auto errorFd = static_cast<unsigned int>(plan.errorFd);
    CloseFrom(3, errorFd - 1, plan.maxFd);
    CloseFrom(errorFd + 1, UINT_MAX, plan.maxFd);
    if (::chdir(plan.workingDirectory) != 0) {
        fail(ChildStep::EnterWorkingDirectory);
    }
    ::execv(plan.program, plan.argv);
    fail(ChildStep::Execute);
    ::_exit(127);
}

Error FailureOf(const ChildFailure& failure, const std::string& program,
                const std::string& workingDirectory) {
    switch (failure.step) {
        case ChildStep::EnterWorkingDirectory:
            return ErrorFromErrno("Cannot enter the working directory " + workingDirectory,
                                  failure.err);
        case ChildStep::Execute:
            return ErrorFromErrno("Cannot run " + program, failure.err);
        case ChildStep::Prepare:
            break;
    }
    return ErrorFromErrno("Cannot prepare the child process for " + program, failure.err);
}

// Where a child runs and what: both absolute, since the child resolves the program only after
// changing its working directory.
struct ChildPaths {
    std::string program;
    std::string workingDirectory;
};

Result<ChildPaths> PathsFor(const std::string& packageFolder, const StartRequest& request) {
    std::string folder = packageFolder;
    if (folder.empty() || folder.front() != '/') {
        std::string cwd(PATH_MAX, '\0');
        if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
            return ErrorFromErrno("Cannot find the current directory", errno);
        }
        cwd.resize(std::strlen(cwd.c_str()));
        folder = folder.empty() ? cwd : Files::Join(cwd, folder);
    }
    return ChildPaths{
        Files::Join(folder, request.program),
        request.workingDirectory.empty() ? folder : Files::Join(folder, request.workingDirectory)};
}

// The write ends of the pipes a child's standard output and error stream go to; invalid: the
// stream is this program's.
struct ChildStreams {
    UniqueFd output;
    UniqueFd diag;
};

// Forks the child, with the streams' write ends (where valid) as its standard output and error,
// and waits until it has executed the program or failed to. The parent's copies of the write ends
// are closed either way.
Result<pid_t> Spawn(const ChildPaths& paths, const std::vector<std::string>& arguments,
                    ChildStreams& streams) {
    std::vector<std::string> argStorage{paths.program};
    argStorage.insert(argStorage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(argStorage.size() + 1);
    for (std::string& arg : argStorage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    UniqueFd errorRead;
    UniqueFd errorWrite;
    if (const int err = MakePipe(&errorRead, &errorWrite); err != 0) {
        return ErrorFromErrno("Cannot create a pipe", err);
    }
    const ChildPlan plan{paths.program.c_str(),  argv.data(),        paths.workingDirectory.c_str(),
                         streams.output.Get(),   streams.diag.Get(), errorWrite.Get(),
                         ::sysconf(_SC_OPEN_MAX)};
    const pid_t pid = ::fork();
    if (pid < 0) {
        return ErrorFromErrno("Cannot start " + paths.program, errno);
    }
    if (pid == 0) {
        RunChild(plan);
    }
    errorWrite.Reset();
    streams.output.Reset();
    streams.diag.Reset();

    // The error pipe closes at a successful exec and carries the reason of a failed one, so
    // a program that cannot run is never mistaken for a started child.
    ChildFailure childFailure{};
    ssize_t n = 0;
    do {
        n = ::read(errorRead.Get(), &childFailure, sizeof childFailure);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof childFailure)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return FailureOf(childFailure, paths.program, paths.workingDirectory);
    }
    return pid;
}

Result<std::unique_ptr<ChildProcess>> StartChild(const std::string& packageFolder,
                                                 const StartRequest& request) {
    const Result<ChildPaths> paths = PathsFor(packageFolder, request);
    if (!paths) {
        return paths.error();
    }
    auto exitState = std::make_shared<ExitState>();
    try {
        std::thread(WatchChild, exitState, request.onExit).detach();
    } catch (const std::system_error& e) {
        return Error{ErrorKind::SystemFailure, "Cannot start a thread to watch the child",
                     e.what()};
    }
    // From here on the waiter must be told the outcome.
    auto giveUp = [&](Error error) -> Result<std::unique_ptr<ChildProcess>> {
        exitState->SetPid(-1);
        return error;
    };
    UniqueFd outputRead;
    UniqueFd diagRead;
    ChildStreams streams;
    if (request.mode == StartMode::DirectRedirected) {
        if (const int err = MakePipe(&outputRead, &streams.output); err != 0) {
            return giveUp(ErrorFromErrno("Cannot create a pipe", err));
        }
    }
    if (request.onErrorLine) {
        if (const int err = MakePipe(&diagRead, &streams.diag); err != 0) {
            return giveUp(ErrorFromErrno("Cannot create a pipe", err));
        }
    }
    const Result<pid_t> pid = Spawn(paths.value(), request.arguments, streams);
    if (!pid) {
        return giveUp(pid.error());
    }
    exitState->SetPid(pid.value());
    if (diagRead.Valid()) {
        OutputStream(std::make_unique<OutputPipe>(diagRead.Release()))
            .Deliver(
                [tell = request.onErrorLine](const std::string& line) {
                    tell(line);
                    return true;
                },
                {});
    }

    std::unique_ptr<OutputPipe> output;
    if (outputRead.Get() >= 0) {
        output = std::make_unique<OutputPipe>(outputRead.Release());
    }
    return std::unique_ptr<ChildProcess>(
        std::make_unique<PosixChildProcess>(std::move(exitState), std::move(output)));
}

}  // namespace

PosixProcessService::PosixProcessService(std::string packageFolder)
    : packageFolder_(std::move(packageFolder)) {}

Result<std::unique_ptr<ChildProcess>> PosixProcessService::Start(const StartRequest& request) {
    return StartChild(packageFolder_, request);
}

}  // namespace ZELKUtil
