#include "tests/support/files.hpp"

#include "tests/support/child_run_win32.hpp"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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

scoped_work_dir::scoped_work_dir() : path_(make_temp_dir()), previous_(std::filesystem::current_path().string()) {
    std::filesystem::current_path(path_);
}

scoped_work_dir::~scoped_work_dir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    remove_tree(path_);
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool file_exists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace test_support
