#include "cleanup/temp_folders.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace ZELKSim {
namespace {

struct Kept {
    std::mutex lock;
    std::set<std::string> folders;
};

// Never destroyed: a folder made by a static owner is forgotten after the statics of this file
// could have gone, and a stop signal may come while the process is ending.
Kept& TheKept() {
    static Kept& kept = *new Kept;
    return kept;
}

void RemoveFolder(const std::string& path) {
    // A thread of the run may still be writing into it: a file made between the walk and the
    // folder's removal leaves it not empty, so the removal is tried again a few times.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
        if (!fs::exists(path, ec) && !ec) {
            return;
        }
    }
    std::fprintf(stderr, "zelk-sim: cannot remove the temporary folder %s\n", path.c_str());
}

}  // namespace

void KeepTempFolder(const std::string& path) {
    Kept& kept = TheKept();
    const std::lock_guard lock(kept.lock);
    kept.folders.insert(path);
}

void ForgetTempFolder(const std::string& path) {
    Kept& kept = TheKept();
    const std::lock_guard lock(kept.lock);
    kept.folders.erase(path);
}

void RemoveTempFolders() {
    Kept& kept = TheKept();
    const std::lock_guard lock(kept.lock);
    for (const std::string& folder : kept.folders) {
        RemoveFolder(folder);
    }
    kept.folders.clear();
}

void EndProcessNow(int status) {
    RemoveTempFolders();
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

}  // namespace ZELKSim
