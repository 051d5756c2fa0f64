#include "guest_files.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ZELKKernelTest {

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool RunCommand(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

}  // namespace ZELKKernelTest
