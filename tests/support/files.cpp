#include "tests/support/files.hpp"

// What works the same everywhere; making and removing folders is per platform.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace test_support {

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
