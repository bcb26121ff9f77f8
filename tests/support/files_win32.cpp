#include "tests/support/files.hpp"

#include "tests/support/child_run_win32.hpp"

#include <windows.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace test_support {
namespace {

// Six letters or digits after the prefix, as mkdtemp makes them: names of one
// length keep path lengths predictable for the tests that count them.
std::string make_unique_name() {
    static std::mt19937 random(GetTickCount() ^ (GetCurrentProcessId() << 16));
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string name = "tri2stl-";
    for (int i = 0; i < 6; ++i) name += alphabet[pick(random)];
    return name;
}

}  // namespace

std::string make_temp_dir() {
    if (std::string inherited = child_run::take_parent_temp_dir(); !inherited.empty()) return inherited;
    char base[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string path = std::string(base) + make_unique_name();
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            child_run::note_temp_dir(path);
            return path;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot make a temporary folder");
}

void remove_tree(const std::string& path) {
    // Read-only files (tests make some) would stop remove_all.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
        SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path, ignored);
}

}  // namespace test_support
