#include "platform/windows/windows_process_service.h"

#include <windows.h>
// COM's and the shell's declarations need windows.h first.
#include <objbase.h>
#include <shellapi.h>

#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/files.h"
#include "platform/output_stream.h"
#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/unique_handle.h"

namespace ZELKUtil {
namespace {

using Windows::ErrorFromSystemCode;

// The read end of a child's output pipe. Anonymous pipes have no readiness wait, so the pipe is
// peeked first and only what it holds is read.
class OutputPipe final : public OutputStream::Pipe {
  public:
    explicit OutputPipe(HANDLE readEnd) : pipe_(readEnd) {}

    // A broken pipe is the end: the child and every copy of the write end are gone.
    std::optional<std::size_t> ReadNow(char* buffer, std::size_t size) override {
        DWORD available = 0;
        if (::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &available, nullptr) == FALSE) {
            return std::nullopt;
        }
        if (available == 0) {
            return std::size_t{0};
        }
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, available));
        if (::ReadFile(pipe_.Get(), buffer, want, &got, nullptr) == FALSE) {
            return std::nullopt;
        }
        return static_cast<std::size_t>(got);
    }
    // Only a reader thread waits: it looks again every few milliseconds.
    bool Await() override {
        DWORD available = 0;
        while (::PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &available, nullptr) != FALSE &&
               available == 0) {
            ::Sleep(kAwaitPollMs);
        }
        return true;
    }

  private:
    static constexpr DWORD kAwaitPollMs = 5;

    UniqueHandle pipe_;
};

class WindowsChildProcess final : public ChildProcess {
  public:
    // A null process handle: a shell start that left no process to watch, taken as ended.
    WindowsChildProcess(HANDLE process, std::unique_ptr<OutputPipe> output)
        : process_(process), output_(std::move(output)) {}

    std::optional<std::string> ReadLine() override { return output_.ReadLine(); }
    int ReadChar() override { return output_.ReadChar(); }
    bool LineReady() override { return output_.LineReady(); }
    bool OutputReady() override { return output_.CharReady(); }
    void DeliverLines(std::function<bool(const std::string&)> onLine,
                      std::function<void()> onEnd) override {
        output_.Deliver(std::move(onLine), std::move(onEnd));
    }
    bool HasExited() override {
        return process_.Get() == nullptr ||
               ::WaitForSingleObject(process_.Get(), 0) != WAIT_TIMEOUT;
    }
    void WaitForExit() override {
        if (process_.Get() != nullptr) {
            ::WaitForSingleObject(process_.Get(), INFINITE);
        }
    }
    std::optional<std::uint32_t> ExitCode() override {
        DWORD code = 0;
        if (process_.Get() == nullptr || !HasExited() ||
            ::GetExitCodeProcess(process_.Get(), &code) == FALSE) {
            return std::nullopt;
        }
        return code;
    }

  private:
    UniqueHandle process_;
    OutputStream output_;
};

// Quotes one word for the C runtime's command-line parser: backslashes are literal except before
// a double quote, where each is doubled and the quote escaped.
std::wstring Quote(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return word;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring Arguments(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const std::wstring& argument : arguments) {
        if (!text.empty()) {
            text += L' ';
        }
        text += Quote(argument);
    }
    return text;
}

// The handles a child with a captured stream inherits, and nothing else: standard input from NUL,
// output and error stream each to its pipe when captured, else this program's own (NUL when it has
// none).
struct ChildHandles {
    UniqueHandle input;
    UniqueHandle output;
    UniqueHandle error;
};

// A pipe whose write end the child inherits and whose read end stays here.
std::optional<Error> MakeChildPipe(UniqueHandle& readEnd, UniqueHandle& writeEnd) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    if (::CreatePipe(readEnd.Out(), writeEnd.Out(), &inheritable, 0) == FALSE ||
        ::SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0) == FALSE) {
        return ErrorFromSystemCode("Cannot create a pipe", ::GetLastError());
    }
    return std::nullopt;
}

// An inheritable copy of one of this program's standard handles, or of NUL when it has none.
std::optional<Error> InheritOwn(DWORD which, HANDLE nul, UniqueHandle& copy) {
    const HANDLE self = ::GetCurrentProcess();
    const HANDLE own = ::GetStdHandle(which);
    if (own == nullptr || own == INVALID_HANDLE_VALUE ||
        ::DuplicateHandle(self, own, self, copy.Out(), 0, TRUE, DUPLICATE_SAME_ACCESS) == FALSE) {
        if (::DuplicateHandle(self, nul, self, copy.Out(), 0, TRUE, DUPLICATE_SAME_ACCESS) ==
            FALSE) {
            return ErrorFromSystemCode("Cannot pass a standard handle on", ::GetLastError());
        }
    }
    return std::nullopt;
}

// outputRead and errorRead (null: not captured) receive the read ends of the captured streams.
std::optional<Error> MakeChildHandles(ChildHandles& handles, UniqueHandle* outputRead,
                                      UniqueHandle* errorRead) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    *handles.input.Out() =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      &inheritable, OPEN_EXISTING, 0, nullptr);
    if (handles.input.Get() == INVALID_HANDLE_VALUE) {
        return ErrorFromSystemCode("Cannot open NUL", ::GetLastError());
    }
    auto error = outputRead != nullptr
                     ? MakeChildPipe(*outputRead, handles.output)
                     : InheritOwn(STD_OUTPUT_HANDLE, handles.input.Get(), handles.output);
    if (!error) {
        error = errorRead != nullptr
                    ? MakeChildPipe(*errorRead, handles.error)
                    : InheritOwn(STD_ERROR_HANDLE, handles.input.Get(), handles.error);
    }
    return error;
}

// CreateProcessW. With handles, they are the child's standard handles and the only ones it
// inherits; without, it inherits none.
std::optional<Error> CreateChild(const std::wstring& program, std::wstring commandLine,
                                 const std::wstring& folder, ChildHandles* handles,
                                 PROCESS_INFORMATION& process) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    // A process group of its own: a Ctrl+C on the utility's console does not reach the child.
    DWORD flags = CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT;
    std::vector<char> attributeStorage;
    HANDLE inherited[3] = {};
    if (handles != nullptr) {
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = inherited[0] = handles->input.Get();
        startup.StartupInfo.hStdOutput = inherited[1] = handles->output.Get();
        startup.StartupInfo.hStdError = inherited[2] = handles->error.Get();
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributeStorage.resize(size);
        startup.lpAttributeList =
            reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
        if (::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) == FALSE) {
            return ErrorFromSystemCode("Cannot prepare the child's handles", ::GetLastError());
        }
        if (::UpdateProcThreadAttribute(startup.lpAttributeList, 0,
                                        PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                        sizeof inherited, nullptr, nullptr) == FALSE) {
            const DWORD code = ::GetLastError();
            ::DeleteProcThreadAttributeList(startup.lpAttributeList);
            return ErrorFromSystemCode("Cannot prepare the child's handles", code);
        }
        flags |= EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW;
    }
    const BOOL started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                          handles != nullptr ? TRUE : FALSE, flags, nullptr,
                                          folder.c_str(), &startup.StartupInfo, &process);
    const DWORD code = ::GetLastError();
    if (startup.lpAttributeList != nullptr) {
        ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    }
    if (started == FALSE) {
        return ErrorFromSystemCode("Cannot run " + WideToUtf8(program), code);
    }
    const UniqueHandle thread(process.hThread);  // not needed: closed at once
    return std::nullopt;
}

// ShellExecuteExW: the process handle, null when the shell started the program without one.
std::optional<Error> ShellStart(const std::wstring& program, const std::wstring& arguments,
                                const std::wstring& folder, HANDLE& process) {
    // The shell may need COM on this thread; whatever the thread had stays as it was.
    const HRESULT com =
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = program.c_str();
    info.lpParameters = arguments.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    const BOOL started = ::ShellExecuteExW(&info);
    const DWORD code = ::GetLastError();
    if (SUCCEEDED(com)) {
        ::CoUninitialize();
    }
    if (started == FALSE) {
        return ErrorFromSystemCode("Cannot run " + WideToUtf8(program), code);
    }
    process = info.hProcess;
    return std::nullopt;
}

std::optional<Error> AbsoluteFolder(const std::string& packageFolder, std::string& folder) {
    const bool absolute =
        packageFolder.size() >= 2 &&
        (packageFolder[1] == ':' || (packageFolder[0] == '\\' && packageFolder[1] == '\\'));
    folder = packageFolder;
    if (!absolute) {
        const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
        std::wstring current(size, L'\0');
        const DWORD length = ::GetCurrentDirectoryW(size, current.data());
        if (size == 0 || length == 0 || length >= size) {
            return ErrorFromSystemCode("Cannot find the current directory", ::GetLastError());
        }
        current.resize(length);
        folder = packageFolder.empty() ? WideToUtf8(current)
                                       : Files::Join(WideToUtf8(current), packageFolder);
    }
    return std::nullopt;
}

// What a child runs, where, and with which arguments, all in the system's wide characters.
struct ChildPaths {
    std::wstring program;
    std::wstring workingDirectory;
    std::vector<std::wstring> arguments;
};

Result<ChildPaths> PathsFor(const std::string& packageFolder, const StartRequest& request) {
    std::string folder;
    if (auto error = AbsoluteFolder(packageFolder, folder)) {
        return *error;
    }
    ChildPaths paths{Utf8ToWide(Files::Join(folder, request.program)),
                     Utf8ToWide(request.workingDirectory.empty()
                                    ? folder
                                    : Files::Join(folder, request.workingDirectory)),
                     {}};
    for (const std::string& argument : request.arguments) {
        paths.arguments.push_back(Utf8ToWide(argument));
    }
    return paths;
}

// Starts the child as the mode asks: its process handle (null when the shell started the program
// without one), and the pipe of its output when that is captured.
Result<HANDLE> Launch(const ChildPaths& paths, StartMode mode, bool captureErrors,
                      std::unique_ptr<OutputPipe>& output, std::unique_ptr<OutputPipe>& errors) {
    HANDLE process = nullptr;
    if (mode == StartMode::Shell) {
        if (auto error = ShellStart(paths.program, Arguments(paths.arguments),
                                    paths.workingDirectory, process)) {
            return *error;
        }
        return process;
    }
    ChildHandles handles;
    UniqueHandle outputRead;
    UniqueHandle errorRead;
    const bool redirected = mode == StartMode::DirectRedirected;
    const bool withHandles = redirected || captureErrors;
    if (withHandles) {
        if (auto error = MakeChildHandles(handles, redirected ? &outputRead : nullptr,
                                          captureErrors ? &errorRead : nullptr)) {
            return *error;
        }
    }
    PROCESS_INFORMATION info{};
    if (auto error = CreateChild(paths.program, CommandLine(paths.program, paths.arguments),
                                 paths.workingDirectory, withHandles ? &handles : nullptr, info)) {
        return *error;
    }
    if (redirected) {
        output = std::make_unique<OutputPipe>(outputRead.Release());
    }
    if (captureErrors) {
        errors = std::make_unique<OutputPipe>(errorRead.Release());
    }
    return info.hProcess;
}

// The watcher's own handle to the child, so that the child object may go first; null when there
// is nothing to watch.
HANDLE HandleForWatcher(HANDLE process) {
    HANDLE forWatcher = nullptr;
    if (process != nullptr) {
        const HANDLE self = ::GetCurrentProcess();
        if (::DuplicateHandle(self, process, self, &forWatcher, SYNCHRONIZE, FALSE, 0) == FALSE) {
            forWatcher = nullptr;
        }
    }
    return forWatcher;
}

Result<std::unique_ptr<ChildProcess>> StartChild(const std::string& packageFolder,
                                                 const StartRequest& request) {
    const Result<ChildPaths> paths = PathsFor(packageFolder, request);
    if (!paths) {
        return paths.error();
    }
    // The watcher runs before the child does, so that a thread that cannot be made fails the
    // start before any child exists. It is handed the child's process handle, or null.
    std::promise<HANDLE> watched;
    try {
        std::thread([child = watched.get_future(), onExit = request.onExit]() mutable {
            const UniqueHandle process(child.get());
            if (!process.Valid()) {
                return;
            }
            ::WaitForSingleObject(process.Get(), INFINITE);
            if (onExit) {
                onExit();
            }
        }).detach();
    } catch (const std::system_error& e) {
        return Error{ErrorKind::SystemFailure, "Cannot start a thread to watch the child",
                     e.what()};
    }
    std::unique_ptr<OutputPipe> output;
    std::unique_ptr<OutputPipe> errors;
    const Result<HANDLE> process =
        Launch(paths.value(), request.mode, static_cast<bool>(request.onErrorLine), output, errors);
    if (!process) {
        watched.set_value(nullptr);
        return process.error();
    }
    if (errors) {
        OutputStream(std::move(errors))
            .Deliver(
                [tell = request.onErrorLine](const std::string& line) {
                    tell(line);
                    return true;
                },
                {});
    }
    const HANDLE forWatcher = HandleForWatcher(process.value());
    if (forWatcher == nullptr && request.onExit) {
        // Nothing to watch: the child has ended as far as anyone can tell.
        try {
            std::thread(request.onExit).detach();
        } catch (const std::system_error&) {
            request.onExit();
        }
    }
    watched.set_value(forWatcher);
    return std::unique_ptr<ChildProcess>(
        std::make_unique<WindowsChildProcess>(process.value(), std::move(output)));
}

}  // namespace

std::wstring CommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
    std::wstring text = Quote(program);
    if (!arguments.empty()) {
        text += L' ' + Arguments(arguments);
    }
    return text;
}

WindowsProcessService::WindowsProcessService(std::string packageFolder)
    : packageFolder_(std::move(packageFolder)) {}

Result<std::unique_ptr<ChildProcess>> WindowsProcessService::Start(const StartRequest& request) {
    return StartChild(packageFolder_, request);
}

}  // namespace ZELKUtil
