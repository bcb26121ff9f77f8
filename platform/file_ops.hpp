#pragma once

#include "platform/os_result.hpp"

#include <cstddef>
#include <cstdint>

namespace platform {

// An open file as the backend knows it: a descriptor or a HANDLE, widened.
using file_handle = std::intptr_t;
constexpr file_handle no_file = -1;

enum class file_access : std::uint8_t { read_write, read };
enum class file_share : std::uint8_t { read, read_write };
enum class file_kind : std::uint8_t { unknown, disk, character, pipe };

// The file calls the upper layers make, and no others. Every open is
// open-or-create: an existing file keeps its contents, a missing one is created
// empty. A directory never opens as a file: that fails as access_denied.
struct file_ops {
    // Full path of name (NUL-terminated) into buffer of buffer_bytes. Returns the
    // path's length when it fits with its NUL, the length needed (NUL included)
    // when it does not, and 0 when no full path can be formed.
    std::size_t (*get_full_path)(const char* name, char* buffer, std::size_t buffer_bytes);
    os_result (*open_file)(const char* path, file_access access, file_share share, file_handle* out);
    file_kind (*get_file_kind)(file_handle h);
    // Reads at most n bytes; *got == 0 with an ok result is the end of the file.
    os_result (*read_file)(file_handle h, void* buffer, std::size_t n, std::size_t* got);
    // Writes all n bytes or fails; a failed write appends nothing to the file.
    os_result (*write_file)(file_handle h, const void* buffer, std::size_t n, std::size_t* written);
    // Cuts the file at the current position.
    os_result (*set_end_of_file)(file_handle h);
    os_result (*close_file)(file_handle h);
};

// The table in use. Tests put their own in place with use_file_ops.
[[nodiscard]] const file_ops& get_file_ops() noexcept;
[[nodiscard]] const file_ops& native_file_ops() noexcept;
void use_file_ops(const file_ops* ops) noexcept;  // nullptr: back to native

}  // namespace platform
