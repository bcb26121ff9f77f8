#pragma once

#include <string>

namespace test_support {

// A fresh directory under the system's temporary folder, made the current
// directory for the object's lifetime and removed afterwards.
class scoped_work_dir {
public:
    scoped_work_dir();
    ~scoped_work_dir();
    scoped_work_dir(const scoped_work_dir&) = delete;
    scoped_work_dir& operator=(const scoped_work_dir&) = delete;

    [[nodiscard]] const std::string& path() const noexcept { return path_; }

private:
    std::string path_;
    std::string previous_;
};

// A new empty directory that is not made current; removed with its contents.
[[nodiscard]] std::string make_temp_dir();
void remove_tree(const std::string& path);

void write_file(const std::string& path, const std::string& bytes);
[[nodiscard]] std::string read_file(const std::string& path);
[[nodiscard]] bool file_exists(const std::string& path);

}  // namespace test_support
