// A stand-in package tool for the Windows process service tests, built for the purpose:
// child_tool MODE [ARGUMENTS...]
//   args              prints each argument in angle brackets, one per line
//   lines             prints lines ended by LF, CR LF and CR, in two writes
//   cwd               prints its working directory
//   io                prints "eof" when standard input is empty, then one line to each of
//                     standard error and standard output
//   wait-for FILE     waits until FILE exists, then prints three lines
//   sleep MS          sleeps
//   touch-after MS FILE          sleeps, then writes FILE
//   start-outliver MS FILE       starts itself with touch-after MS FILE and ends at once
#include <windows.h>
// The shell's declarations need windows.h first.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/utf8.h"
#include "platform/windows/text_conversion.h"
#include "platform/windows/windows_process_service.h"

namespace {

using ZELKUtil::WideToUtf8;

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesW(ZELKUtil::Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main() {
    // The bytes as written: no CR added before each LF.
    ::_setmode(::_fileno(stdout), _O_BINARY);
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> args;
    args.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        args.push_back(WideToUtf8(wide[i]));
    }
    ::LocalFree(wide);
    if (args.size() < 2) {
        return 2;
    }
    const std::string& mode = args[1];
    if (mode == "args") {
        for (std::size_t i = 2; i < args.size(); ++i) {
            Write("<" + args[i] + ">\n");
        }
    } else if (mode == "lines") {
        Write("one\ntwo\r\nthree\rfour\n\nx\r");
        ::Sleep(200);
        Write("\nlast");
    } else if (mode == "cwd") {
        wchar_t folder[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, folder);
        Write(WideToUtf8(folder) + "\n");
    } else if (mode == "io") {
        char c = 0;
        if (std::fread(&c, 1, 1, stdin) == 0) {
            Write("eof\n");
        }
        std::fputs("to stderr\n", stderr);
        Write("to stdout\n");
    } else if (mode == "wait-for" && args.size() == 3) {
        while (!Exists(args[2])) {
            ::Sleep(10);
        }
        Write("a\nb\r\nc");
    } else if (mode == "sleep" && args.size() == 3) {
        ::Sleep(static_cast<DWORD>(std::stoul(args[2])));
    } else if (mode == "touch-after" && args.size() == 4) {
        ::Sleep(static_cast<DWORD>(std::stoul(args[2])));
        if (FILE* file = std::fopen(args[3].c_str(), "w")) {
            std::fclose(file);
        }
    } else if (mode == "start-outliver" && args.size() == 4) {
        ZELKUtil::WindowsProcessService service("");
        const auto child = service.Start(
            {args[0], {"touch-after", args[2], args[3]}, "", ZELKUtil::StartMode::Direct, {}});
        if (!child) {
            std::fputs(child.error().Text().c_str(), stderr);
            return 1;
        }
    } else {
        return 2;
    }
    return 0;
}
