// Console events at random moments over runs of a million triangles, two runs
// at a time in folders of their own. Every run must end, within a bound, with
// the event's code as its exit status and message 200 first on its standard
// error, and leave an output.stl that is a whole-line prefix of the full one.
#include "tests/support/files.hpp"
#include "tests/support/input_maker.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr std::uint32_t triangles = 1'000'000;
constexpr std::uint32_t base_seed = 20261213;
constexpr int runs_per_event = 70;
constexpr int workers = 2;
// A whole run takes a few seconds; after an event the program waits at most
// 2 s for the statement in progress. Anything past this bound is a hang.
constexpr int run_bound_seconds = 60;
// Events go out within this share of a whole run's time after the program
// has taken charge of them, so that nearly every run is interrupted.
constexpr double delay_share = 0.9;

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";

struct event_case {
    const char* name;
    int signal;
    int status;
    const char* word;
};

constexpr event_case events[] = {
    {"control_c", SIGINT, 0, "control-C"},
    {"control_break", SIGQUIT, 1, "control-BREAK"},
    {"window_close", SIGHUP, 2, "window-CLOSE"},
};

void PrintTo(const event_case& e, std::ostream* os) { *os << e.name; }

// Whether the program has blocked the three event signals, which it does
// before it hands them to its event thread: from then on an event is its own
// to handle, not the default action's.
bool has_taken_events(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            const unsigned long long wanted = (1ull << (SIGHUP - 1)) | (1ull << (SIGINT - 1)) | (1ull << (SIGQUIT - 1));
            return (mask & wanted) == wanted;
        }
    }
    return false;
}

// How the file at path relates to reference: a whole-line prefix of it, the
// whole of it, or neither. Compared piece by piece: the files are large.
enum class output_shape { missing, line_prefix, whole, torn, not_a_prefix };

output_shape compare_output(const std::string& path, const std::string& reference, std::size_t* size) {
    std::ifstream in(path, std::ios::binary);
    *size = 0;
    if (!in) return output_shape::missing;
    std::vector<char> piece(1 << 20);
    std::size_t at = 0;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto n = static_cast<std::size_t>(in.gcount());
        if (n == 0) break;
        if (at + n > reference.size() || std::memcmp(reference.data() + at, piece.data(), n) != 0) {
            *size = at + n;
            return output_shape::not_a_prefix;
        }
        at += n;
    }
    *size = at;
    if (at == reference.size()) return output_shape::whole;
    if (at == 0 || reference.compare(at - 2, 2, "\r\n") == 0) return output_shape::line_prefix;
    return output_shape::torn;
}

const char* shape_name(output_shape s) {
    constexpr const char* names[] = {"missing", "line prefix", "whole", "torn line", "not a prefix"};
    return names[static_cast<int>(s)];
}

struct planned_run {
    long long delay_us;
};

struct run_record {
    long long delay_us = 0;
    bool was_ready = false;
    test_support::process_result result;
    output_shape shape = output_shape::missing;
    std::size_t output_bytes = 0;
};

// Serialises the soak tests of every process on this machine: each runs two
// programs at a time, and two tests side by side would run four.
class machine_lock {
public:
    machine_lock() : fd_(::open((fs::temp_directory_path() / "tri2stl-soak.lock").c_str(), O_RDWR | O_CREAT, 0666)) {
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
    }
    ~machine_lock() {
        if (fd_ >= 0) ::close(fd_);
    }
    machine_lock(const machine_lock&) = delete;
    machine_lock& operator=(const machine_lock&) = delete;

private:
    int fd_;
};

class interrupt_soak : public testing::TestWithParam<event_case> {
protected:
    void SetUp() override {
        base_ = fs::canonical(test_support::make_temp_dir()).string();
        test_support::write_file(base_ + "/input.txt", test_support::make_triangle_input(triangles, base_seed));
        input_size_ = fs::file_size(base_ + "/input.txt");
        for (int w = 0; w < workers; ++w) {
            const std::string dir = base_ + "/worker" + std::to_string(w);
            fs::create_directory(dir);
            fs::create_hard_link(base_ + "/input.txt", dir + "/input.txt");
            dirs_.push_back(dir);
        }
    }
    void TearDown() override { test_support::remove_tree(base_); }

    std::string base_;
    std::uintmax_t input_size_ = 0;
    std::vector<std::string> dirs_;
};

TEST_P(interrupt_soak, every_run_ends_with_the_event_and_whole_lines) {
    const event_case& e = GetParam();
    const std::uint32_t seed = base_seed + static_cast<std::uint32_t>(e.status);
    std::printf("%s: seed %u, %d runs over %u triangles (%ju input bytes), %d at a time\n", e.name, seed,
                runs_per_event, triangles, input_size_, workers);
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    const machine_lock lock;
    const auto wall_start = clock_type::now();

    const auto full_start = clock_type::now();
    const test_support::process_result full = test_support::run_program(test_support::tri2stl_path(), dirs_[0]);
    const auto full_time = clock_type::now() - full_start;
    ASSERT_EQ(full.exit_status, 0);
    ASSERT_EQ(full.standard_error, "");
    const std::string reference = test_support::read_file(dirs_[0] + "/output.stl");
    ASSERT_EQ(reference.compare(0, 14, "solid sample\r\n"), 0);
    const long long full_us = std::chrono::duration_cast<std::chrono::microseconds>(full_time).count();
    std::printf("%s: a whole run takes %.2f s, %zu output bytes\n", e.name, static_cast<double>(full_us) / 1e6,
                reference.size());

    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> delay(0, static_cast<long long>(static_cast<double>(full_us) * delay_share));
    std::vector<planned_run> plan(runs_per_event);
    for (planned_run& p : plan) p.delay_us = delay(random);

    std::vector<run_record> records(plan.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&](const std::string& dir) {
        for (std::size_t i = next++; i < plan.size(); i = next++) {
            run_record& r = records[i];
            r.delay_us = plan[i].delay_us;
            fs::remove(dir + "/output.stl");
            const test_support::running_program p = test_support::start_program(test_support::tri2stl_path(), dir);
            const auto ready_deadline = clock_type::now() + std::chrono::seconds(5);
            while (!(r.was_ready = has_taken_events(p.pid)) && clock_type::now() < ready_deadline)
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            std::this_thread::sleep_for(std::chrono::microseconds(r.delay_us));
            test_support::send_signal(p, e.signal);
            r.result = test_support::finish_program(p, run_bound_seconds);
            r.shape = compare_output(dir + "/output.stl", reference, &r.output_bytes);
        }
    };
    std::vector<std::thread> threads;
    for (const std::string& dir : dirs_) threads.emplace_back(work, dir);
    for (std::thread& t : threads) t.join();

    const std::string first = std::string("iorun: error (200): program aborting due to ") + e.word + " event\r\n";
    int interrupted = 0;
    int in_output_phase = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const run_record& r = records[i];
        SCOPED_TRACE(testing::Message() << "run " << i << ", event after " << r.delay_us << " us");
        EXPECT_TRUE(r.was_ready) << "the program never took charge of its events";
        EXPECT_EQ(r.result.signal, 0) << (r.result.signal == SIGKILL ? "did not end within the bound" : "");
        EXPECT_NE(r.shape, output_shape::torn) << r.output_bytes << " bytes";
        EXPECT_NE(r.shape, output_shape::not_a_prefix) << r.output_bytes << " bytes";
        if (r.result.standard_error.empty()) {
            // The run was over before the event came.
            EXPECT_EQ(r.result.exit_status, 0);
            EXPECT_EQ(r.shape, output_shape::whole) << shape_name(r.shape);
            continue;
        }
        ++interrupted;
        if (r.output_bytes > 0) ++in_output_phase;
        EXPECT_EQ(r.result.exit_status, e.status);
        EXPECT_EQ(r.result.standard_error.substr(0, first.size() + sizeof table_header - 1), first + table_header);
        EXPECT_EQ(r.result.standard_error.find("iorun:", 1), std::string::npos) << r.result.standard_error;
    }
    EXPECT_EQ(fs::file_size(base_ + "/input.txt"), input_size_);
    EXPECT_GT(interrupted, runs_per_event / 2);

    const double wall = std::chrono::duration<double>(clock_type::now() - wall_start).count();
    std::printf("%s: %zu events sent, %d runs interrupted (%d of them while writing output.stl), "
                "%zu finished first; %.1f s wall time\n",
                e.name, records.size(), interrupted, in_output_phase, records.size() - static_cast<std::size_t>(interrupted),
                wall);
}

INSTANTIATE_TEST_SUITE_P(events, interrupt_soak, testing::ValuesIn(events),
                         [](const testing::TestParamInfo<event_case>& p) { return p.param.name; });

}  // namespace
