// The real program against inputs built to hurt: huge counts over short
// files, enormous lines, endless separators, repeat factors without end, every
// byte value, nothing but blank lines. Each run must end in its documented
// result, inside a stated bound on its peak memory, and before a watchdog
// that kills it (the bound on its time).
#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool is_sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool is_sanitized = true;
#else
constexpr bool is_sanitized = false;
#endif
#else
constexpr bool is_sanitized = false;
#endif

constexpr std::size_t mib = std::size_t{1} << 20;
constexpr std::size_t gib = std::size_t{1} << 30;
constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";
constexpr char empty_solid[] = "solid sample\r\nendsolid sample\r\n";
constexpr char old_output[] = "an older output.stl that a failing run must leave alone\r\n";

// What a small run may hold at its peak: the program and its libraries, the
// record buffer of a short line, the diagnostic buffer. The figure includes
// the few MiB of the test process that the child carries until it execs.
constexpr std::size_t small_peak_bytes = 16 * mib;

struct measured_run {
    int exit_status = -1;
    int signal = 0;
    bool timed_out = false;
    std::size_t peak_bytes = 0;  // the child's peak resident set
    double seconds = 0;
    std::string standard_error;
    std::string standard_output;
};

// Runs tri2stl in dir with nothing on standard input, at most timeout_seconds,
// optionally under a limit on its address space, and measures its peak.
measured_run run_measured(const std::string& dir, int timeout_seconds, rlim_t address_limit = RLIM_INFINITY) {
    const std::string program = test_support::tri2stl_path();
    const std::string out_path = dir + "/.stdout";
    const std::string err_path = dir + "/.stderr";
    // The child's peak counts what this process holds when it forks: give the
    // heap's free pages back first.
    ::malloc_trim(0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int null_fd = ::open("/dev/null", O_RDONLY);
        const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
        ::dup2(null_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        if (address_limit != RLIM_INFINITY) {
            const rlimit limit{address_limit, address_limit};
            ::setrlimit(RLIMIT_AS, &limit);
        }
        if (::chdir(dir.c_str()) != 0) ::_exit(127);
        ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    measured_run run;
    const auto deadline = start + std::chrono::seconds(timeout_seconds);
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t r = ::wait4(child, &status, WNOHANG, &usage);
        if (r == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            run.timed_out = true;
            ::kill(child, SIGKILL);
            ::wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.peak_bytes = static_cast<std::size_t>(usage.ru_maxrss) * 1024;
    run.standard_error = test_support::read_file(err_path);
    run.standard_output = test_support::read_file(out_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return run;
}

// Writes a big file piece by piece, so that the test itself stays small (the
// child's peak counts what the test holds when it forks).
class file_builder {
public:
    explicit file_builder(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc) {}
    file_builder& add(const std::string& text) {
        out_.write(text.data(), static_cast<std::streamsize>(text.size()));
        return *this;
    }
    file_builder& repeat(char byte, std::size_t n) {
        const std::string piece(std::min(n, mib), byte);
        for (std::size_t done = 0; done < n; done += piece.size())
            out_.write(piece.data(), static_cast<std::streamsize>(std::min(piece.size(), n - done)));
        return *this;
    }
    file_builder& repeat(const std::string& text, std::size_t times) {
        std::string piece;
        for (std::size_t i = 0; i < std::max<std::size_t>(1, mib / text.size()); ++i) piece += text;
        const std::size_t per_piece = piece.size() / text.size();
        for (std::size_t done = 0; done < times; done += per_piece)
            out_.write(piece.data(), static_cast<std::streamsize>(std::min(per_piece, times - done) * text.size()));
        return *this;
    }
    ~file_builder() { out_.close(); }

private:
    std::ofstream out_;
};

std::string severe_line(int number, const std::string& text) {
    return "iorun: severe (" + std::to_string(number) + "): " + text + "\r\n";
}

// A whole solid of one facet from its three vertices' fields.
std::string one_facet(const char* v1, const char* v2, const char* v3) {
    return std::string("solid sample\r\nfacet normal") + v1 + "\r\nouter loop\r\nvertex" + v1 + "\r\nvertex" + v2 +
           "\r\nvertex" + v3 + "\r\nendloop\r\nendfacet\r\nendsolid sample\r\n";
}

constexpr char zeros[] = "   0.000E+00   0.000E+00   0.000E+00";

struct hostile_case {
    const char* name;
    std::function<void(const std::string& input_path)> make_input;
    int status;
    // The diagnostic line before the table, with @INPUT@ for the input's
    // path; empty for a run that prints nothing.
    std::string line;
    std::string output;  // the old contents when the run must not touch it
    std::size_t peak_bytes;
    int timeout_seconds;
    rlim_t address_limit = RLIM_INFINITY;
    // For an output too big to hold while the child is started: made after the run.
    std::function<std::string()> make_output = nullptr;
};

void check_case(const hostile_case& c) {
    SCOPED_TRACE(c.name);
    const std::string dir = std::filesystem::canonical(test_support::make_temp_dir()).string();
    const std::string input = dir + "/input.txt";
    c.make_input(input);
    test_support::write_file(dir + "/output.stl", old_output);
    const auto input_size = std::filesystem::file_size(input);
    const measured_run r = run_measured(dir, c.timeout_seconds, c.address_limit);
    std::printf("%-40s %10ju bytes in: status %3d, %7.2f s, peak %8zu KiB (bound %zu KiB)\n", c.name,
                static_cast<std::uintmax_t>(input_size), r.exit_status, r.seconds, r.peak_bytes / 1024,
                c.peak_bytes / 1024);

    EXPECT_FALSE(r.timed_out) << "still running after " << c.timeout_seconds << " s";
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.standard_output, "");
    if (c.line.empty()) {
        EXPECT_EQ(r.standard_error, "");
    } else {
        std::string line = c.line;
        if (const std::size_t at = line.find("@INPUT@"); at != std::string::npos) line.replace(at, 7, input);
        EXPECT_EQ(r.standard_error.substr(0, line.size() + sizeof table_header - 1), line + table_header);
    }
    EXPECT_EQ(test_support::read_file(dir + "/output.stl"), c.make_output ? c.make_output() : c.output);
    EXPECT_EQ(std::filesystem::file_size(input), input_size);
    if (!is_sanitized) {
        EXPECT_LE(r.peak_bytes, c.peak_bytes);
    }
    test_support::remove_tree(dir);
}

// Whether this machine hands out the three tables of the largest count that
// passes the size check (they are never touched, so they cost no memory).
bool can_reserve_largest_tables() {
    constexpr std::size_t table_bytes = 357913941u * std::size_t{12};
    void* tables[3] = {};
    bool ok = true;
    for (void*& t : tables) {
        t = std::malloc(table_bytes);
        ok = ok && t != nullptr;
    }
    for (void* t : tables) std::free(t);
    return ok;
}

const std::string eof_line = severe_line(24, "end-of-file during read, unit 10, file @INPUT@");

TEST(hostile_input, huge_counts_over_short_files) {
    const auto short_file = [](const char* count) {
        return [count](const std::string& path) { test_support::write_file(path, std::string(count) + "\n1\n"); };
    };
    const std::string memory_line = severe_line(41, "insufficient virtual memory");
    const hostile_case cases[] = {
        // Three tables of 4,294,967,292 bytes each are asked for; the first
        // header read then finds the end of the file.
        can_reserve_largest_tables()
            ? hostile_case{"largest count that fits", short_file("357913941"), 24, eof_line, old_output,
                           small_peak_bytes, 30}
            : hostile_case{"largest count, no room here", short_file("357913941"), 41, memory_line, old_output,
                           small_peak_bytes, 30},
        // The same under a 1 GiB address space: the x table cannot be had.
        {"largest count under 1 GiB", short_file("357913941"), 41, memory_line, old_output, small_peak_bytes, 30,
         gib},
        {"count of two thousand million", short_file("2000000000"), 179,
         severe_line(179, "Cannot allocate array - overflow on array size calculation."), old_output,
         small_peak_bytes, 30},
    };
    for (const hostile_case& c : cases) {
        if (is_sanitized && c.address_limit != RLIM_INFINITY) continue;  // the sanitizer's shadow needs more
        check_case(c);
    }
}

// The record buffer doubles from 8192 bytes until the line fits, so it stays
// below twice the line; nothing else grows with the input.
std::size_t long_line_peak(std::size_t line_bytes) { return 2 * line_bytes + small_peak_bytes; }

TEST(hostile_input, enormous_lines_are_read_whole) {
    // Under the sanitizers every realloc copies and the shadow doubles the
    // cost: a smaller line then shows the same paths.
    const std::size_t long_line = is_sanitized ? 64 * mib : gib;
    const std::size_t ten_mb = 10'000'000;
    const hostile_case cases[] = {
        {"one line of 1 GiB",
         [&](const std::string& path) {
             file_builder(path).add("1\n7\n1.5").repeat(' ', long_line).add("2.5 3.5\n0 0 0\n0 0 0\n");
         },
         0, "", one_facet("   0.150E+01   0.250E+01   0.350E+01", zeros, zeros), long_line_peak(long_line), 120},
        {"100 MB of commas",
         [&](const std::string& path) { file_builder(path).repeat(',', 100'000'000); },
         // A null count leaves the count at 0: an empty solid.
         0, "", empty_solid, long_line_peak(100'000'000), 60},
        {"a number of 10 MB, zeros first",
         [&](const std::string& path) {
             file_builder(path).add("1\n1\n").repeat('0', ten_mb).add("1.5 2 3\n0 0 0\n0 0 0\n");
         },
         0, "", one_facet("   0.150E+01   0.200E+01   0.300E+01", zeros, zeros), long_line_peak(ten_mb), 60},
        {"a fraction of 10 MB",
         [&](const std::string& path) {
             file_builder(path).add("1\n1\n0.").repeat('0', ten_mb).add("1 2 3\n0 0 0\n0 0 0\n");
         },
         0, "", one_facet("   0.000E+00   0.200E+01   0.300E+01", zeros, zeros), long_line_peak(ten_mb), 60},
        {"a count of 10 MB of digits",
         [&](const std::string& path) { file_builder(path).add("1").repeat('0', ten_mb).add("\n"); }, 64,
         severe_line(64, "input conversion error, unit 10, file @INPUT@"), old_output, long_line_peak(ten_mb), 60},
        {"a line of 10 MB of blanks",
         [&](const std::string& path) { file_builder(path).repeat(' ', ten_mb).add("\n1\n1\n1 2 3\n4 5 6\n7 8 9\n"); },
         0, "",
         one_facet("   0.100E+01   0.200E+01   0.300E+01", "   0.400E+01   0.500E+01   0.600E+01",
                   "   0.700E+01   0.800E+01   0.900E+01"),
         long_line_peak(ten_mb), 60},
    };
    for (const hostile_case& c : cases) check_case(c);
}

TEST(hostile_input, repeat_factors_cost_nothing_per_use) {
    const hostile_case cases[] = {
        // Each value claims 2147483647 uses; a statement takes what it needs
        // and drops the rest.
        {"largest factor everywhere",
         [](const std::string& path) {
             file_builder(path).add("2147483647*1\n2147483647*9\n").repeat("2147483647*0.5\n", 3);
         },
         0, "",
         one_facet("   0.500E+00   0.500E+00   0.500E+00", "   0.500E+00   0.500E+00   0.500E+00",
                   "   0.500E+00   0.500E+00   0.500E+00"),
         small_peak_bytes, 30},
        {"largest factor of nulls",
         [](const std::string& path) {
             file_builder(path).add("1\n2147483647*\n").repeat("2147483647*\n", 3);
         },
         0, "", one_facet(zeros, zeros, zeros), small_peak_bytes, 30},
        {"factor past 32 bits", [](const std::string& path) { test_support::write_file(path, "2147483648*1\n"); }, 64,
         severe_line(64, "input conversion error, unit 10, file @INPUT@"), old_output, small_peak_bytes, 30},
        // A value cannot itself be a repeat factor: the second "*" of one
        // value is a syntax error, however deep the chain goes.
        {"a chain of 3 MB of factors",
         [](const std::string& path) { file_builder(path).repeat("2*", 1'500'000).add("1\n"); }, 59,
         severe_line(59, "list-directed I/O syntax error, unit 10, file @INPUT@"), old_output,
         long_line_peak(3 * mib), 30},
        // A million records, each with a factor far beyond its statement.
        {"a million records with factors",
         [](const std::string& path) {
             file_builder(path).add("250000\n").repeat("1\n5*1\n100*2 7\n1000000*3\n", 250'000);
         },
         0, "", "", small_peak_bytes + 250'000 * 36, 60, RLIM_INFINITY,
         [] {
             const std::string facet = one_facet("   0.100E+01   0.100E+01   0.100E+01",
                                                 "   0.200E+01   0.200E+01   0.200E+01",
                                                 "   0.300E+01   0.300E+01   0.300E+01");
             const std::string body = facet.substr(14, facet.size() - 14 - 17);
             std::string expected = "solid sample\r\n";
             for (int i = 0; i < 250'000; ++i) expected += body;
             return expected + "endsolid sample\r\n";
         }},
    };
    for (const hostile_case& c : cases) check_case(c);
}

TEST(hostile_input, any_byte_and_blank_lines_end_as_documented) {
    std::string every_byte;
    for (int b = 0; b < 256; ++b) every_byte += static_cast<char>(b);
    const hostile_case cases[] = {
        // The first record is the bytes 0x00 to 0x09: a NUL where a value
        // should begin.
        {"bytes 0x00 to 0xFF", [&](const std::string& path) { test_support::write_file(path, every_byte); }, 59,
         severe_line(59, "list-directed I/O syntax error, unit 10, file @INPUT@"), old_output, small_peak_bytes, 30},
        // Records after the last triangle are never read.
        {"bytes 0x00 to 0xFF after the triangles",
         [&](const std::string& path) {
             test_support::write_file(path, "1\n1\n1 2 3\n4 5 6\n7 8 9\n" + every_byte + every_byte);
         },
         0, "",
         one_facet("   0.100E+01   0.200E+01   0.300E+01", "   0.400E+01   0.500E+01   0.600E+01",
                   "   0.700E+01   0.800E+01   0.900E+01"),
         small_peak_bytes, 30},
        {"five million blank lines",
         [](const std::string& path) { file_builder(path).repeat(" \t \r\n", 5'000'000); }, 24, eof_line,
         old_output, small_peak_bytes, 30},
        {"blank lines, then the count", [](const std::string& path) { file_builder(path).repeat("\n", 5'000'000).add("0\n"); },
         0, "", empty_solid, small_peak_bytes, 30},
    };
    for (const hostile_case& c : cases) check_case(c);
}

}  // namespace
