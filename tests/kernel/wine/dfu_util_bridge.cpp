// Tools\dfu-util.exe of the Wine guest's package: a Windows program that runs the guest's real
// dfu-util (Debian's, a Linux program) with the arguments it was given, so that the utility's
// ARM download starts, reads and waits for a Windows process as it would on Windows while the
// real tool talks to the bootloader on the dummy USB bus.
//
// Wine starts Linux programs through ntdll's __wine_unix_spawnvp, but the child gets the Linux
// side's standard output, not this process's Windows pipe. So dfu-util writes to a file that this
// program passes on to its own standard output as it grows, and the exit code comes back through
// a second file. An argument holding a backslash is a Windows file name (the image): it is given
// to dfu-util as the Linux path it names.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using SpawnFunction = LONG(__cdecl*)(char* const* argv, int wait);
using UnixNameFunction = char*(__cdecl*)(LPCWSTR dosName);

std::wstring Wide(const char* text) {
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(size > 0 ? static_cast<std::size_t>(size) : 1U, L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
    wide.resize(wide.find(L'\0'));
    return wide;
}

// The Linux path of a Windows file name; "" when Wine cannot tell.
std::string UnixName(UnixNameFunction toUnix, const std::wstring& dosName) {
    char* name = toUnix(dosName.c_str());
    if (name == nullptr) {
        return "";
    }
    std::string unix(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return unix;
}

// Passes on what the file has that was not passed on yet; false when it cannot be read.
bool PassOn(HANDLE file) {
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE && got > 0) {
        std::fwrite(chunk, 1, got, stdout);
        std::fflush(stdout);
    }
    return true;
}

int Fail(const char* what) {
    std::fprintf(stderr, "dfu-util bridge: %s (error %lu)\n", what, ::GetLastError());
    return 74;
}

// The shell's words that run dfu-util with the arguments in the current folder, its output into
// STEM.out and its exit code into STEM.status once it has ended.
std::vector<std::string> ShellWords(UnixNameFunction toUnix, const std::string& stem, int argc,
                                    char** argv) {
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    std::vector<std::string> words = {
        "/bin/sh", "-c",
        "cd \"$1\" && shift && exec >\"$0.out\" 2>&1 && /usr/bin/dfu-util \"$@\"; "
        "echo $? >\"$0.status.new\" && mv \"$0.status.new\" \"$0.status\"",
        stem, UnixName(toUnix, folder)};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string unix = argument.find('\\') != std::string::npos
                                     ? UnixName(toUnix, Wide(argv[i]))
                                     : std::string();
        words.push_back(unix.empty() ? argument : unix);
    }
    return words;
}

// Passes dfu-util's output on as it comes until its exit code is there; that code, 74 when it
// cannot be had.
int FollowUntilEnd(const std::string& stem) {
    const std::wstring outputName = L"Z:" + Wide((stem + ".out").c_str());
    const std::wstring statusName = L"Z:" + Wide((stem + ".status").c_str());
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < 600; ++tries) {
        file = ::CreateFileW(outputName.c_str(), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ::Sleep(50);
        }
    }
    if (file == INVALID_HANDLE_VALUE) {
        return Fail("dfu-util's output never appeared");
    }
    // The status file appears only once dfu-util has ended and written all it had to write.
    while (::GetFileAttributesW(statusName.c_str()) == INVALID_FILE_ATTRIBUTES) {
        PassOn(file);
        ::Sleep(50);
    }
    PassOn(file);
    ::CloseHandle(file);
    int code = 74;
    if (FILE* exit = ::_wfopen(statusName.c_str(), L"r")) {
        if (std::fscanf(exit, "%d", &code) != 1) {
            code = 74;
        }
        std::fclose(exit);
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    const auto spawn = reinterpret_cast<SpawnFunction>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "__wine_unix_spawnvp")));
    const auto toUnix = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "wine_get_unix_file_name")));
    if (spawn == nullptr || toUnix == nullptr) {
        return Fail("not running under Wine");
    }
    const std::string stem = "/tmp/zelk-dfu-util-" + std::to_string(::GetCurrentProcessId());
    std::vector<std::string> words = ShellWords(toUnix, stem, argc, argv);
    std::vector<char*> spawnArgv;
    spawnArgv.reserve(words.size() + 1);
    for (std::string& word : words) {
        spawnArgv.push_back(word.data());
    }
    spawnArgv.push_back(nullptr);
    if (spawn(spawnArgv.data(), 0) != 0) {
        return Fail("cannot start /bin/sh");
    }
    return FollowUntilEnd(stem);
}
