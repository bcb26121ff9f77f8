#include "platform/file_ops.hpp"

#include <windows.h>


namespace platform {
namespace {

struct error_kind {
    DWORD code;
    os_error kind;
};

// How GetLastError codes map onto the kinds the connection layer tells apart.
constexpr error_kind error_kinds[] = {
    {ERROR_FILE_NOT_FOUND, os_error::file_not_found},
    {ERROR_PATH_NOT_FOUND, os_error::path_not_found},
    {ERROR_INVALID_NAME, os_error::invalid_name},
    {ERROR_BAD_PATHNAME, os_error::invalid_name},
    {ERROR_FILENAME_EXCED_RANGE, os_error::name_too_long},
    {ERROR_FILE_EXISTS, os_error::already_exists},
    {ERROR_ALREADY_EXISTS, os_error::already_exists},
    {ERROR_ACCESS_DENIED, os_error::access_denied},
    {ERROR_WRITE_PROTECT, os_error::write_protect},
    {ERROR_INVALID_DRIVE, os_error::no_such_device},
    {ERROR_BAD_UNIT, os_error::no_such_device},
    {ERROR_TOO_MANY_OPEN_FILES, os_error::too_many_open_files},
    {ERROR_SHARING_VIOLATION, os_error::sharing_violation},
    {ERROR_HANDLE_EOF, os_error::end_of_file},
};

os_result classify(DWORD code) noexcept {
    for (const error_kind& entry : error_kinds) {
        if (entry.code == code) return {entry.kind, static_cast<std::uint32_t>(code)};
    }
    return {os_error::other, static_cast<std::uint32_t>(code)};
}

os_result last_error() noexcept { return classify(GetLastError()); }

HANDLE native_handle(file_handle h) noexcept { return reinterpret_cast<HANDLE>(h); }

// One ReadFile or WriteFile moves at most a DWORD of bytes; the layers above
// ask for far less, so a larger request is simply cut to what one call takes.
DWORD transfer_bytes(std::size_t n) noexcept {
    return n > static_cast<std::size_t>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(n);
}

std::size_t win32_get_full_path(const char* name, char* buffer, std::size_t buffer_bytes) {
    const DWORD bytes = buffer_bytes > static_cast<std::size_t>(MAXDWORD) ? MAXDWORD : static_cast<DWORD>(buffer_bytes);
    char* file_part = nullptr;
    return GetFullPathNameA(name, bytes, buffer, &file_part);
}

os_result win32_open_file(const char* path, file_access access, file_share share, file_handle* out) {
    const DWORD desired = access == file_access::read_write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    const DWORD sharing = share == file_share::read ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE h = CreateFileA(path, desired, sharing, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_error();
    *out = reinterpret_cast<file_handle>(h);
    return os_ok;
}

file_kind win32_get_file_kind(file_handle h) {
    switch (GetFileType(native_handle(h))) {
    case FILE_TYPE_DISK: return file_kind::disk;
    case FILE_TYPE_CHAR: return file_kind::character;
    case FILE_TYPE_PIPE: return file_kind::pipe;
    default: return file_kind::unknown;
    }
}

os_result win32_read_file(file_handle h, void* buffer, std::size_t n, std::size_t* got) {
    DWORD read = 0;
    if (!ReadFile(native_handle(h), buffer, transfer_bytes(n), &read, nullptr)) {
        *got = 0;
        return last_error();
    }
    *got = read;
    return os_ok;
}

// A write that stops part way (the disk fills up after a short write) takes
// back what it appended, so that a failed record leaves no part of itself.
// Bytes written over older contents cannot be taken back; they stay.
void take_back(HANDLE h, std::size_t done) noexcept {
    LARGE_INTEGER end;
    LARGE_INTEGER size;
    const LARGE_INTEGER none{};
    if (done == 0 || GetFileType(h) != FILE_TYPE_DISK || !SetFilePointerEx(h, none, &end, FILE_CURRENT) ||
        !GetFileSizeEx(h, &size) || size.QuadPart != end.QuadPart) {
        return;
    }
    LARGE_INTEGER start;
    start.QuadPart = end.QuadPart - static_cast<LONGLONG>(done);
    if (SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) SetEndOfFile(h);
}

os_result win32_write_file(file_handle h, const void* buffer, std::size_t n, std::size_t* written) {
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        DWORD wrote = 0;
        const BOOL is_written = WriteFile(native_handle(h), bytes + done, transfer_bytes(n - done), &wrote, nullptr);
        // A disk file takes all or fails; a zero count would loop forever.
        if (!is_written || wrote == 0) {
            const os_result failure = is_written ? classify(ERROR_WRITE_FAULT) : last_error();
            take_back(native_handle(h), done);
            *written = 0;
            return failure;
        }
        done += wrote;
    }
    *written = done;
    return os_ok;
}

os_result win32_set_end_of_file(file_handle h) {
    return SetEndOfFile(native_handle(h)) ? os_ok : last_error();
}

os_result win32_close_file(file_handle h) { return CloseHandle(native_handle(h)) ? os_ok : last_error(); }

constexpr file_ops win32_file_ops = {
    win32_get_full_path, win32_open_file, win32_get_file_kind, win32_read_file,
    win32_write_file,    win32_set_end_of_file, win32_close_file,
};

}  // namespace

const file_ops& native_file_ops() noexcept { return win32_file_ops; }

}  // namespace platform
