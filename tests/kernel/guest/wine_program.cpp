#include "wine_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ZELKKernelTest {
namespace {

constexpr const char* kWine = "/usr/lib/wine/wine64";
constexpr const char* kRequest = "@rig ";

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Writes the whole line; false when the program has gone.
bool WriteLine(int fd, std::string line) {
    line += '\n';
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t wrote = ::write(fd, line.data() + done, line.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// The environment of a Wine program: this one's, with Wine's trace channels when
// ZELK_WINE_DEBUG names some (the trace then goes to a file of ZELK_WINE_OUT, not the console).
std::vector<std::string> WineEnvironment(std::string* traceFile) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "WINEDEBUG=", 10) != 0) {
            environment.emplace_back(*entry);
        }
    }
    const char* channels = std::getenv("ZELK_WINE_DEBUG");
    const char* out = std::getenv("ZELK_WINE_OUT");
    static int runs = 0;
    if (channels != nullptr && *channels != '\0' && out != nullptr) {
        environment.push_back(std::string("WINEDEBUG=") + channels);
        *traceFile = std::string(out) + "/wine-" + std::to_string(++runs) + ".trace";
    } else {
        environment.emplace_back("WINEDEBUG=-all");
    }
    return environment;
}

// Starts Wine on the command in the folder; its pid, or -1 with the reason.
pid_t Spawn(const std::vector<std::string>& command, const std::string& folder, int input,
            int output, std::string* failure) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(kWine));
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    std::string traceFile;
    std::vector<std::string> environment = WineEnvironment(&traceFile);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const int trace = traceFile.empty() ? -1
                                        : ::open(traceFile.c_str(),
                                                 O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = ::fork();
    if (pid < 0) {
        *failure = SystemError("fork");
        return -1;
    }
    if (pid == 0) {
        if (::chdir(folder.c_str()) != 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 ||
            (trace >= 0 && ::dup2(trace, 2) < 0)) {
            ::_exit(126);
        }
        ::execve(kWine, argv.data(), envp.data());
        ::_exit(127);
    }
    if (trace >= 0) {
        ::close(trace);
    }
    return pid;
}

// Takes the whole lines out of `pending`: requests are answered on `answers`, the rest shown and
// kept.
void TakeLines(std::string& pending, int answers,
               const std::function<std::string(const std::string&)>& onRequest, WineRun& run) {
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const bool request = line.rfind(kRequest, 0) == 0;
        std::printf("%s %s\n", request ? "[rig]" : "[wine]", line.c_str() + (request ? 5 : 0));
        std::fflush(stdout);
        if (request) {
            WriteLine(answers, onRequest(line.substr(5)));
        } else {
            run.lines.push_back(std::move(line));
        }
    }
}

}  // namespace

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) {
        c = c == '/' ? '\\' : c;
    }
    return windows;
}

WineRun RunUnderWine(const std::vector<std::string>& command, const std::string& folder,
                     const std::function<std::string(const std::string&)>& onRequest,
                     int timeoutMs) {
    WineRun run;
    std::array<int, 2> toProgram{-1, -1};
    std::array<int, 2> fromProgram{-1, -1};
    if (::pipe2(toProgram.data(), O_CLOEXEC) != 0 || ::pipe2(fromProgram.data(), O_CLOEXEC) != 0) {
        run.failure = SystemError("pipe");
        return run;
    }
    const pid_t pid = Spawn(command, folder, toProgram[0], fromProgram[1], &run.failure);
    ::close(toProgram[0]);
    ::close(fromProgram[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string pending;
    bool open = pid > 0;
    while (open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            run.failure = "no end within " + std::to_string(timeoutMs) + " ms";
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd output{fromProgram[0], POLLIN, 0};
        if (::poll(&output, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
            run.failure = SystemError("poll");
            ::kill(pid, SIGKILL);
            break;
        }
        std::array<char, 4096> chunk{};
        const ssize_t got =
            output.revents != 0 ? ::read(fromProgram[0], chunk.data(), chunk.size()) : 0;
        if (output.revents != 0 && got <= 0 && !(got < 0 && errno == EINTR)) {
            open = false;  // the end of the program's output
        }
        pending.append(chunk.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
        TakeLines(pending, toProgram[1], onRequest, run);
    }
    ::close(toProgram[1]);
    ::close(fromProgram[0]);
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && run.failure.empty()) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

}  // namespace ZELKKernelTest
