#include "tests/support/files.hpp"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace test_support {

std::string make_temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tri2stl-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void remove_tree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

}  // namespace test_support
