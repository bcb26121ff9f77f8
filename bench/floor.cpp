// The floor that tri2stl is measured against: a run of the same design that does
// only what the design makes unavoidable, and no parsing or formatting at all.
//
//   tri2stl_floor REFERENCE      (in the folder that holds "input.txt")
//
// It reads "input.txt" to its end in 8192-byte read(2) calls and drops the
// bytes, closes it, then opens "output.stl" for reading and writing (created if
// missing, not truncated), writes REFERENCE line by line with one write(2) per
// line, CR LF included, cuts the file with ftruncate(2) right after the first
// line, and closes it.
//
// The output bytes come from REFERENCE, the "output.stl" that tri2stl has to
// produce for this input, made beforehand. Loading it (and finding its line
// ends) is not work of the design, so it is done before anything else and its
// duration goes to standard output as "load_ns=N", measured with
// CLOCK_MONOTONIC from the start of main to the end of the loading. The caller
// subtracts N from the floor's wall time. What stays in that time and is not
// the design's: the process's teardown of the loaded copy, a few milliseconds
// for a file of hundreds of megabytes.
//
// On the same line, "load_cpu_ns=N" is the process's processor time up to the
// end of the loading, start-up included (CLOCK_PROCESS_CPUTIME_ID), which the
// caller takes off the floor's processor time; "work_ns=N" is the time from the
// end of the loading to the close of "output.stl", so that the caller can tell
// how much of the wall time lies outside both.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t read_piece_bytes = 8192;

struct reference_text {
    std::vector<char> bytes;
    std::vector<std::size_t> line_ends;  // offset just past each line's LF
};

std::int64_t read_clock_ns(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

[[noreturn]] void fail(const char* what, const char* name) {
    std::fprintf(stderr, "tri2stl_floor: %s %s: %s\n", what, name, std::strerror(errno));
    std::exit(1);
}

bool load_reference(const char* name, reference_text& out) {
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open", name);
    struct stat info {};
    if (::fstat(fd, &info) != 0) fail("cannot stat", name);
    out.bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < out.bytes.size()) {
        const ssize_t got = ::read(fd, out.bytes.data() + done, out.bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) fail("cannot read", name);
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (done != out.bytes.size()) return false;
    for (std::size_t i = 0; i < out.bytes.size(); ++i) {
        if (out.bytes[i] == '\n') out.line_ends.push_back(i + 1);
    }
    // Every line of the output, the last one included, ends with its terminator.
    return !out.line_ends.empty() && out.line_ends.back() == out.bytes.size();
}

void read_all(const char* name) {
    const int fd = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fail("cannot open", name);
    static char piece[read_piece_bytes];
    for (;;) {
        const ssize_t got = ::read(fd, piece, sizeof piece);
        if (got == 0) break;
        if (got < 0 && errno != EINTR) fail("cannot read", name);
    }
    ::close(fd);
}

void write_line(int fd, const char* line, std::size_t length, const char* name) {
    while (length > 0) {
        const ssize_t put = ::write(fd, line, length);
        if (put < 0) {
            if (errno == EINTR) continue;
            fail("cannot write", name);
        }
        line += put;
        length -= static_cast<std::size_t>(put);
    }
}

void write_lines(const char* name, const reference_text& text) {
    const int fd = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) fail("cannot open", name);
    std::size_t start = 0;
    for (const std::size_t end : text.line_ends) {
        write_line(fd, text.bytes.data() + start, end - start, name);
        // An older, longer file loses its tail once the first line is in.
        if (start == 0 && ::ftruncate(fd, static_cast<off_t>(end)) != 0) fail("cannot cut", name);
        start = end;
    }
    if (::close(fd) != 0) fail("cannot close", name);
}

}  // namespace

int main(int argc, char** argv) {
    const std::int64_t started_ns = read_clock_ns(CLOCK_MONOTONIC);
    if (argc != 2) {
        std::fprintf(stderr, "usage: tri2stl_floor REFERENCE\n");
        return 2;
    }
    reference_text text;
    if (!load_reference(argv[1], text)) {
        std::fprintf(stderr, "tri2stl_floor: %s does not end with a whole line\n", argv[1]);
        return 1;
    }
    const std::int64_t loaded_ns = read_clock_ns(CLOCK_MONOTONIC);
    const std::int64_t load_cpu_ns = read_clock_ns(CLOCK_PROCESS_CPUTIME_ID);

    read_all("input.txt");
    write_lines("output.stl", text);
    const std::int64_t finished_ns = read_clock_ns(CLOCK_MONOTONIC);

    std::printf("load_ns=%lld load_cpu_ns=%lld work_ns=%lld\n", static_cast<long long>(loaded_ns - started_ns),
                static_cast<long long>(load_cpu_ns), static_cast<long long>(finished_ns - loaded_ns));
    return 0;
}
