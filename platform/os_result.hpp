#pragma once

#include <cstdint>

namespace platform {

// The kinds of failure the upper layers tell apart. Each backend classifies its
// native codes into these; the native code itself travels along so that the
// system's own text can be shown for it.
enum class os_error : std::uint8_t {
    none,
    file_not_found,
    path_not_found,
    invalid_name,
    name_too_long,
    already_exists,
    access_denied,
    write_protect,
    no_such_device,
    too_many_open_files,
    sharing_violation,
    end_of_file,
    out_of_memory,
    other,
};

struct os_result {
    os_error kind = os_error::none;
    std::uint32_t code = 0;  // native code (errno, GetLastError), 0 for none

    [[nodiscard]] constexpr bool is_ok() const noexcept { return kind == os_error::none; }
};

constexpr os_result os_ok{};

}  // namespace platform
