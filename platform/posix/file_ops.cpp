#include "platform/file_ops.hpp"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct errno_kind {
    int code;
    os_error kind;
};

// How native codes map onto the kinds the connection layer tells apart. A
// directory given as a file name is refused like a file the user may not open.
constexpr errno_kind errno_kinds[] = {
    {ENOENT, os_error::file_not_found},   {ENOTDIR, os_error::path_not_found},
    {ENAMETOOLONG, os_error::name_too_long}, {EINVAL, os_error::invalid_name},
    {EILSEQ, os_error::invalid_name},     {EEXIST, os_error::already_exists},
    {EACCES, os_error::access_denied},    {EPERM, os_error::access_denied},
    {EISDIR, os_error::access_denied},    {EROFS, os_error::write_protect},
    {ENXIO, os_error::no_such_device},    {ENODEV, os_error::no_such_device},
    {EMFILE, os_error::too_many_open_files}, {ENFILE, os_error::too_many_open_files},
    {ETXTBSY, os_error::sharing_violation}, {ENOMEM, os_error::out_of_memory},
};

os_result classify(int code) noexcept {
    for (const errno_kind& entry : errno_kinds) {
        if (entry.code == code) return {entry.kind, static_cast<std::uint32_t>(code)};
    }
    return {os_error::other, static_cast<std::uint32_t>(code)};
}

os_result last_error() noexcept { return classify(errno); }

int descriptor(file_handle h) noexcept { return static_cast<int>(h); }

std::size_t posix_get_full_path(const char* name, char* buffer, std::size_t buffer_bytes) {
    const std::size_t name_length = std::strlen(name);
    char directory[PATH_MAX];
    std::size_t prefix = 0;
    if (name[0] != '/') {
        if (getcwd(directory, sizeof directory) == nullptr) return 0;
        prefix = std::strlen(directory);
        if (prefix == 0 || directory[prefix - 1] != '/') directory[prefix++] = '/';
    }
    const std::size_t length = prefix + name_length;
    if (length + 1 > buffer_bytes) return length + 1;
    std::memcpy(buffer, directory, prefix);
    std::memcpy(buffer + prefix, name, name_length + 1);
    return length;
}

os_result posix_open_file(const char* path, file_access access, file_share, file_handle* out) {
    // Share modes have no counterpart here: other processes take no part in them.
    const int flags = (access == file_access::read_write ? O_RDWR : O_RDONLY) | O_CREAT | O_CLOEXEC;
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return last_error();
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return classify(EISDIR);
    }
    *out = fd;
    return os_ok;
}

file_kind posix_get_file_kind(file_handle h) {
    struct stat info;
    if (::fstat(descriptor(h), &info) != 0) return file_kind::unknown;
    if (S_ISREG(info.st_mode)) return file_kind::disk;
    if (S_ISCHR(info.st_mode)) return file_kind::character;
    if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) return file_kind::pipe;
    return file_kind::unknown;
}

os_result posix_read_file(file_handle h, void* buffer, std::size_t n, std::size_t* got) {
    for (;;) {
        const ssize_t r = ::read(descriptor(h), buffer, n);
        if (r >= 0) {
            *got = static_cast<std::size_t>(r);
            return os_ok;
        }
        if (errno != EINTR) {
            *got = 0;
            return last_error();
        }
    }
}

// A write that stops part way (the disk fills up after a short write) takes
// back what it appended, so that a failed record leaves no part of itself.
// Bytes written over older contents cannot be taken back; they stay.
void take_back(int fd, std::size_t done) noexcept {
    struct stat info;
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (done == 0 || end < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != end) return;
    const off_t start = end - static_cast<off_t>(done);
    if (::ftruncate(fd, start) == 0) (void)::lseek(fd, start, SEEK_SET);
}

os_result posix_write_file(file_handle h, const void* buffer, std::size_t n, std::size_t* written) {
    const char* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t r = ::write(descriptor(h), bytes + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            const os_result failure = last_error();
            take_back(descriptor(h), done);
            *written = 0;
            return failure;
        }
        done += static_cast<std::size_t>(r);
    }
    *written = done;
    return os_ok;
}

os_result posix_set_end_of_file(file_handle h) {
    const off_t position = ::lseek(descriptor(h), 0, SEEK_CUR);
    if (position < 0) return last_error();
    int r;
    do {
        r = ::ftruncate(descriptor(h), position);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? os_ok : last_error();
}

os_result posix_close_file(file_handle h) {
    // After EINTR the descriptor is gone all the same; closing again could hit
    // a descriptor that another thread has just been given.
    if (::close(descriptor(h)) != 0 && errno != EINTR) return last_error();
    return os_ok;
}

constexpr file_ops posix_file_ops = {
    posix_get_full_path, posix_open_file, posix_get_file_kind, posix_read_file,
    posix_write_file,    posix_set_end_of_file, posix_close_file,
};

}  // namespace

const file_ops& native_file_ops() noexcept { return posix_file_ops; }

}  // namespace platform
