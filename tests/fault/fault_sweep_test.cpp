// The whole program, start-up to exit, in a forked child with one platform
// call or one storage request refused at a time: every open, read, write, cut
// and close of a complete run, with every kind of failure each can have, and
// every allocation. What each run must print, exit with and leave in the files
// is worked out here from the call log of one clean run and the failure rules,
// never taken from the program's own output.
#include "converter/driver.hpp"
#include "runtime/entry.hpp"

#include "tests/support/fault_plan.hpp"
#include "tests/support/files.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using platform::os_error;
using platform::os_result;
using test_support::allocation_call;
using test_support::allocation_record;
using test_support::file_call;

constexpr char table_header[] = "Image              PC        Routine            Line        Source             \r\n";
constexpr std::size_t record_buffer_bytes = 8192;
constexpr std::size_t string_buffer_bytes = 2050;
// A code the fake system message table has no text for.
constexpr std::uint32_t textless_code = 1117;
constexpr int input_unit = 10;
constexpr int output_unit = 20;

// ---------------------------------------------------------------------------
// The files of every run.

struct vertex_case {
    std::string text;    // the vertex record in input.txt
    const char* fields;  // its three E12.3 fields
};

// Triangle 2's first vertex has 20,000 blanks between its values, so its
// record outgrows the buffer's first two sizes (8192 and 16384 bytes).
const vertex_case vertices[3][3] = {
    {{"0.5 1.5 2.5", "   0.500E+00   0.150E+01   0.250E+01"},
     {"-1 0 1", "  -0.100E+01   0.000E+00   0.100E+01"},
     {"4,5,6", "   0.400E+01   0.500E+01   0.600E+01"}},
    {{"1.25" + std::string(20000, ' ') + "-2.5 100", "   0.125E+01  -0.250E+01   0.100E+03"},
     {"0.125 0.25 0.375", "   0.125E+00   0.250E+00   0.375E+00"},
     {"7 8 9", "   0.700E+01   0.800E+01   0.900E+01"}},
    {{"1e3 -1e-3 0", "   0.100E+04  -0.100E-02   0.000E+00"},
     {"10 20 30", "   0.100E+02   0.200E+02   0.300E+02"},
     {"0.75 -0.75 3", "   0.750E+00  -0.750E+00   0.300E+01"}},
};

std::string make_input() {
    std::string text = "3\r\n";
    for (int i = 0; i < 3; ++i) {
        text += std::to_string(i + 1) + "\n";
        for (const vertex_case& v : vertices[i]) text += v.text + "\n";
    }
    return text;
}

std::vector<std::string> make_reference_lines() {
    std::vector<std::string> lines = {"solid sample"};
    for (const auto& triangle : vertices) {
        lines.push_back(std::string("facet normal") + triangle[0].fields);
        lines.push_back("outer loop");
        for (const vertex_case& v : triangle) lines.push_back(std::string("vertex") + v.fields);
        lines.push_back("endloop");
        lines.push_back("endfacet");
    }
    lines.push_back("endsolid sample");
    return lines;
}

// The first n lines of the full output, each with its CR LF.
std::string reference_prefix(std::size_t n) {
    static const std::vector<std::string> lines = make_reference_lines();
    std::string text;
    for (std::size_t i = 0; i < n && i < lines.size(); ++i) text += lines[i] + "\r\n";
    return text;
}

std::size_t reference_line_count() { return make_reference_lines().size(); }

// An older output.stl, longer than the new one, so that a missing cut shows.
std::string make_old_output() {
    std::string text;
    for (int i = 0; i < 60; ++i) text += "old line " + std::to_string(100 + i) + " of an earlier solid\r\n";
    return text;
}

// ---------------------------------------------------------------------------
// Running the program in a child.

struct planned_fault {
    file_call call;
    int nth;
    os_result result;
};

// A console event raised from inside the nth call of one operation; the call
// then holds its statement long enough for the event thread to stop the run
// behind it.
struct planned_event {
    file_call call;
    int nth;
    int signal;
};

struct fault_setup {
    std::vector<planned_fault> faults;
    std::optional<planned_event> event;
    std::vector<int> refused_allocations;
    std::string input = make_input();
};

struct run_outcome {
    test_support::process_result process;
    std::string input;
    std::string output;
    std::string standard_output;
    std::vector<file_call> calls;
    std::vector<allocation_record> allocations;
};

test_support::fault_plan* logged_plan = nullptr;
int log_descriptor = -1;

// Runs at exit in the child: the plan's log goes to the parent through a file.
void write_log() {
    std::string text;
    char line[96];
    for (const test_support::file_call_record& r : logged_plan->calls()) {
        std::snprintf(line, sizeof line, "F %d %zu\n", static_cast<int>(r.call), r.bytes);
        text += line;
    }
    for (const allocation_record& r : logged_plan->allocations()) {
        std::snprintf(line, sizeof line, "A %d %zu %zu\n", static_cast<int>(r.call), r.bytes, r.file_calls_before);
        text += line;
    }
    (void)::write(log_descriptor, text.data(), text.size());
}

void read_log(const std::string& path, run_outcome& outcome) {
    std::istringstream in(test_support::read_file(path));
    char tag = 0;
    while (in >> tag) {
        int call = 0;
        std::size_t bytes = 0;
        if (tag == 'F') {
            in >> call >> bytes;
            outcome.calls.push_back(static_cast<file_call>(call));
        } else {
            std::size_t before = 0;
            in >> call >> bytes >> before;
            outcome.allocations.push_back({static_cast<allocation_call>(call), bytes, before});
        }
    }
}

// The child: a fresh plan, the folder as current directory, standard output
// into a file, then the program exactly as main runs it.
[[noreturn]] void run_whole_program(const std::string& dir, const fault_setup& setup) {
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    const int out = ::open("standard_output", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    log_descriptor = ::open("calls.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || log_descriptor < 0 || ::dup2(out, 1) < 0) ::_exit(126);
    auto* plan = new test_support::fault_plan;
    for (const planned_fault& f : setup.faults) plan->fail(f.call, f.nth, f.result);
    for (const int n : setup.refused_allocations) plan->fail_allocation(n);
    if (const std::optional<planned_event>& e = setup.event) {
        plan->on_call(e->call, e->nth, [signal = e->signal] {
            ::kill(::getpid(), signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
    }
    plan->replace_system_texts({textless_code});
    logged_plan = plan;
    std::atexit(write_log);
    std::exit(runtime::run_entry(converter::run_driver));
}

// Every run uses the same folder, so that the expected lines can name it.
const std::string& run_dir() {
    static const std::string dir =
        std::filesystem::canonical(test_support::make_temp_dir()).string() + "/run";
    return dir;
}

run_outcome run_case(const fault_setup& setup) {
    const std::string& dir = run_dir();
    test_support::remove_tree(dir);
    std::filesystem::create_directory(dir);
    test_support::write_file(dir + "/input.txt", setup.input);
    test_support::write_file(dir + "/output.stl", make_old_output());
    run_outcome outcome;
    // The child flushes what it inherits at exit: nothing of ours may be pending.
    std::fflush(stdout);
    std::fflush(stderr);
    outcome.process = test_support::run_in_child([&] { run_whole_program(dir, setup); });
    outcome.input = test_support::read_file(dir + "/input.txt");
    outcome.output = test_support::read_file(dir + "/output.stl");
    outcome.standard_output = test_support::read_file(dir + "/standard_output");
    read_log(dir + "/calls.log", outcome);
    return outcome;
}

// ---------------------------------------------------------------------------
// The rules.

struct message_text {
    int number;
    const char* text;
};

constexpr message_text message_texts[] = {
    {9, "permission to access file denied, unit %d, file %s"},
    {10, "cannot overwrite existing file, unit %d, file %s"},
    {24, "end-of-file during read, unit %d, file %s"},
    {28, "CLOSE error, unit %d, file %s"},
    {29, "file not found, unit %d, file %s"},
    {30, "open failure, unit %d, file %s"},
    {38, "error during write, unit %d, file %s"},
    {39, "error during read, unit %d, file %s"},
    {41, "insufficient virtual memory"},
    {42, "no such device, unit %d, file %s"},
    {43, "file name specification error, unit %d, file %s"},
    {47, "write to READONLY file, unit %d, file %s"},
    {98, "cannot allocate memory for the file buffer - out of memory, unit %d, file %s"},
    {179, "Cannot allocate array - overflow on array size calculation."},
};

const char* text_of(int number) {
    for (const message_text& m : message_texts) {
        if (m.number == number) return m.text;
    }
    ADD_FAILURE() << "no text for message " << number;
    return "";
}

std::string path_of(int unit) { return run_dir() + (unit == input_unit ? "/input.txt" : "/output.stl"); }

void replace_first(std::string& text, const char* placeholder, const std::string& value) {
    if (const std::size_t at = text.find(placeholder); at != std::string::npos)
        text.replace(at, std::strlen(placeholder), value);
}

// The numbered line, without its CR LF: unit 0 for a report that names no file.
std::string numbered_line(int number, int unit) {
    std::string text = text_of(number);
    replace_first(text, "%d", std::to_string(unit));
    replace_first(text, "%s", path_of(unit));
    return "iorun: severe (" + std::to_string(number) + "): " + text;
}

// The line that explains a saved system error; none for 0, which means none.
std::string system_line(std::uint32_t code) {
    if (code == 0) return "";
    if (code == textless_code)
        return "iorun: FormatMessage failed for sysmem message number " + std::to_string(code) + "\r\n";
    return "iorun: text for " + std::to_string(code) + "\r\n";
}

struct open_failure_rule {
    os_error kind;
    int number;
};

// Open failures by the kind of the last open call; every kind not listed is
// message 30 with the system's text for its code.
constexpr open_failure_rule open_failure_rules[] = {
    {os_error::file_not_found, 29}, {os_error::path_not_found, 29}, {os_error::invalid_name, 43},
    {os_error::name_too_long, 43},  {os_error::already_exists, 10}, {os_error::access_denied, 9},
    {os_error::write_protect, 9},   {os_error::no_such_device, 42}, {os_error::too_many_open_files, 30},
};

// What a run must show. A run with status 0 prints nothing.
struct expectation {
    int status = 0;
    std::string system;    // the system error line, if any
    std::string numbered;  // the numbered line, without CR LF
    bool has_table = true;  // false also when only the small buffer can be had
    bool is_notice = false;  // no buffer at all: a one-line notice instead
    std::string after;       // diagnostics of the closing sweep, after the table
    std::string output;
    std::vector<file_call> calls;
    // The allocation (from 1) that is the first diagnostic's buffer; 0: none.
    std::size_t diagnostic_allocation = 0;
};

struct sweep_case {
    std::string name;
    fault_setup setup;
    expectation expected;
};

const char* call_name(file_call c) {
    constexpr const char* names[] = {"get_full_path", "open_file",       "get_file_kind", "read_file",
                                     "write_file",    "set_end_of_file", "close_file"};
    return names[static_cast<int>(c)];
}

std::string describe_calls(const std::vector<file_call>& calls) {
    std::string text;
    for (const file_call c : calls) text += std::string(call_name(c)) + " ";
    return text;
}

// The clean run's log and what follows from it.
class clean_run {
public:
    explicit clean_run(run_outcome outcome) : outcome_(std::move(outcome)) {}

    const run_outcome& outcome() const { return outcome_; }
    const std::vector<file_call>& calls() const { return outcome_.calls; }

    int count(file_call call) const { return static_cast<int>(std::count(calls().begin(), calls().end(), call)); }

    // Index in the log of the nth call (from 1) of one operation.
    std::size_t index_of(file_call call, int nth) const {
        for (std::size_t i = 0; i < calls().size(); ++i) {
            if (calls()[i] == call && --nth == 0) return i;
        }
        ADD_FAILURE() << "no such call";
        return 0;
    }

    // The calls up to and including index.
    std::vector<file_call> through(std::size_t index) const {
        return {calls().begin(), calls().begin() + static_cast<std::ptrdiff_t>(index + 1)};
    }

    // The input is closed before the output is opened: everything up to the
    // first close belongs to unit 10.
    int unit_at(std::size_t index) const {
        return index <= index_of(file_call::close_file, 1) ? input_unit : output_unit;
    }

    int calls_before(std::size_t index, file_call call) const {
        return static_cast<int>(std::count(calls().begin(), calls().begin() + static_cast<std::ptrdiff_t>(index), call));
    }

    // Storage requests made before the call at index.
    std::size_t allocations_before(std::size_t index) const {
        return static_cast<std::size_t>(
            std::count_if(outcome_.allocations.begin(), outcome_.allocations.end(),
                          [index](const allocation_record& a) { return a.file_calls_before <= index; }));
    }

private:
    run_outcome outcome_;
};

// A report on unit at the call with the given index, the process ending there.
expectation report_at(const clean_run& clean, std::size_t index, int number, int unit, std::uint32_t saved) {
    expectation e;
    e.status = number;
    e.system = system_line(saved);
    e.numbered = numbered_line(number, unit);
    e.output = make_old_output();
    e.calls = clean.through(index);
    e.diagnostic_allocation = clean.allocations_before(index) + 1;
    return e;
}

expectation clean_success(const clean_run& clean) {
    expectation e;
    e.output = reference_prefix(reference_line_count());
    e.calls = clean.calls();
    return e;
}

// ---------------------------------------------------------------------------
// The cases, by operation.

struct open_fault {
    const char* name;
    os_result first;
    std::optional<os_result> retry;  // the retry's refusal; none: the retry opens
};

const open_fault open_faults[] = {
    {"file_not_found", {os_error::file_not_found, 2}, {}},
    {"path_not_found", {os_error::path_not_found, 3}, {}},
    {"invalid_name", {os_error::invalid_name, 123}, {}},
    {"bad_pathname", {os_error::invalid_name, 161}, {}},
    {"name_too_long", {os_error::name_too_long, 206}, {}},
    {"file_exists", {os_error::already_exists, 80}, {}},
    {"already_exists", {os_error::already_exists, 183}, {}},
    {"invalid_drive", {os_error::no_such_device, 15}, {}},
    {"bad_unit", {os_error::no_such_device, 20}, {}},
    {"too_many_open_files", {os_error::too_many_open_files, 4}, {}},
    {"handle_eof", {os_error::end_of_file, 38}, {}},
    {"out_of_memory", {os_error::out_of_memory, 8}, {}},
    {"other", {os_error::other, 1}, {}},
    {"other_without_text", {os_error::other, textless_code}, {}},
    {"code_zero", {os_error::other, 0}, {}},
    {"access_denied_then_read_only", {os_error::access_denied, 5}, {}},
    {"access_denied_twice", {os_error::access_denied, 5}, os_result{os_error::access_denied, 5}},
    {"access_denied_then_not_found", {os_error::access_denied, 5}, os_result{os_error::file_not_found, 2}},
    {"access_denied_then_other", {os_error::access_denied, 5}, os_result{os_error::other, 1}},
    {"write_protect_then_read_only", {os_error::write_protect, 19}, {}},
    {"write_protect_twice", {os_error::write_protect, 19}, os_result{os_error::write_protect, 19}},
    {"sharing_violation_then_read_only", {os_error::sharing_violation, 32}, {}},
    {"sharing_violation_twice", {os_error::sharing_violation, 32}, os_result{os_error::sharing_violation, 32}},
    {"sharing_violation_then_denied", {os_error::sharing_violation, 32}, os_result{os_error::access_denied, 5}},
    {"sharing_violation_then_textless", {os_error::sharing_violation, 32},
     os_result{os_error::other, textless_code}},
};

bool has_read_only_retry(os_error kind) {
    return kind == os_error::access_denied || kind == os_error::write_protect ||
           kind == os_error::sharing_violation;
}

std::vector<sweep_case> open_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    for (int nth = 1; nth <= clean.count(file_call::open_file); ++nth) {
        const std::size_t at = clean.index_of(file_call::open_file, nth);
        const int unit = clean.unit_at(at);
        for (const open_fault& f : open_faults) {
            sweep_case c{"open " + std::to_string(nth) + " " + f.name, {}, {}};
            c.setup.faults.push_back({file_call::open_file, nth, f.first});
            const bool retries = has_read_only_retry(f.first.kind);
            if (retries && f.retry) c.setup.faults.push_back({file_call::open_file, nth + 1, *f.retry});
            if (retries && !f.retry) {
                // Read access alone: the input reads as before; the output
                // refuses its first write and keeps its old contents.
                if (unit == input_unit) {
                    c.expected = clean_success(clean);
                    c.expected.calls.insert(c.expected.calls.begin() + static_cast<std::ptrdiff_t>(at),
                                            file_call::open_file);
                } else {
                    const std::size_t first_write = clean.index_of(file_call::write_file, 1);
                    c.expected = report_at(clean, first_write, 47, unit, 0);
                    c.expected.calls = clean.through(at);
                    c.expected.calls.push_back(file_call::open_file);
                    c.expected.calls.push_back(file_call::get_file_kind);
                }
            } else {
                const os_result last = retries ? *f.retry : f.first;
                int number = 30;
                std::uint32_t saved = last.code;
                for (const open_failure_rule& r : open_failure_rules) {
                    if (r.kind == last.kind) {
                        number = r.number;
                        saved = 0;
                    }
                }
                c.expected = report_at(clean, at, number, unit, saved);
                if (retries) c.expected.calls.push_back(file_call::open_file);
            }
            cases.push_back(c);
        }
    }
    return cases;
}

struct simple_fault {
    const char* name;
    os_result result;
};

std::vector<sweep_case> read_cases(const clean_run& clean) {
    const simple_fault faults[] = {
        {"handle_eof", {os_error::end_of_file, 38}},
        {"crc", {os_error::other, 23}},
        {"without_text", {os_error::other, textless_code}},
        {"code_zero", {os_error::other, 0}},
    };
    std::vector<sweep_case> cases;
    for (int nth = 1; nth <= clean.count(file_call::read_file); ++nth) {
        const std::size_t at = clean.index_of(file_call::read_file, nth);
        for (const simple_fault& f : faults) {
            sweep_case c{"read " + std::to_string(nth) + " " + f.name, {}, {}};
            c.setup.faults.push_back({file_call::read_file, nth, f.result});
            const bool is_end = f.result.kind == os_error::end_of_file;
            c.expected = report_at(clean, at, is_end ? 24 : 39, input_unit, is_end ? 0 : f.result.code);
            cases.push_back(c);
        }
    }
    return cases;
}

const simple_fault output_faults[] = {
    {"disk_full", {os_error::other, 112}},
    {"without_text", {os_error::other, textless_code}},
};

std::vector<sweep_case> write_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    for (int nth = 1; nth <= clean.count(file_call::write_file); ++nth) {
        const std::size_t at = clean.index_of(file_call::write_file, nth);
        for (const simple_fault& f : output_faults) {
            sweep_case c{"write " + std::to_string(nth) + " " + f.name, {}, {}};
            c.setup.faults.push_back({file_call::write_file, nth, f.result});
            c.expected = report_at(clean, at, 38, output_unit, f.result.code);
            // Nothing written yet: the old file is not cut either.
            const auto written = static_cast<std::size_t>(nth - 1);
            if (written > 0) c.expected.output = reference_prefix(written);
            cases.push_back(c);
        }
    }
    return cases;
}

std::vector<sweep_case> truncation_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    for (int nth = 1; nth <= clean.count(file_call::set_end_of_file); ++nth) {
        const std::size_t at = clean.index_of(file_call::set_end_of_file, nth);
        for (const simple_fault& f : output_faults) {
            sweep_case c{"set_end_of_file " + std::to_string(nth) + " " + f.name, {}, {}};
            c.setup.faults.push_back({file_call::set_end_of_file, nth, f.result});
            c.expected = report_at(clean, at, 38, output_unit, f.result.code);
            // The records written so far over the old file's start, its tail uncut.
            const std::string written =
                reference_prefix(static_cast<std::size_t>(clean.calls_before(at, file_call::write_file)));
            c.expected.output = written + make_old_output().substr(written.size());
            cases.push_back(c);
        }
    }
    return cases;
}

std::vector<sweep_case> close_cases(const clean_run& clean) {
    const simple_fault faults[] = {
        {"invalid_handle", {os_error::other, 6}},
        {"without_text", {os_error::other, textless_code}},
    };
    std::vector<sweep_case> cases;
    for (int nth = 1; nth <= clean.count(file_call::close_file); ++nth) {
        const std::size_t at = clean.index_of(file_call::close_file, nth);
        const int unit = clean.unit_at(at);
        for (const simple_fault& f : faults) {
            sweep_case c{"close " + std::to_string(nth) + " " + f.name, {}, {}};
            c.setup.faults.push_back({file_call::close_file, nth, f.result});
            c.expected = report_at(clean, at, 28, unit, f.result.code);
            if (unit == output_unit) c.expected.output = reference_prefix(reference_line_count());
            cases.push_back(c);
        }
    }
    return cases;
}

enum class storage_use { start_up, stored_name, record_buffer, buffer_growth, table, string_buffer, unknown };

storage_use classify(const clean_run& clean, const allocation_record& a) {
    if (a.file_calls_before == 0) return storage_use::start_up;
    const file_call previous = clean.calls()[a.file_calls_before - 1];
    if (a.call == allocation_call::allocate_zeroed) return storage_use::table;
    if (a.call == allocation_call::reallocate) return storage_use::buffer_growth;
    if (previous == file_call::get_full_path) return storage_use::stored_name;
    if (previous == file_call::get_file_kind && a.bytes == record_buffer_bytes) return storage_use::record_buffer;
    if (a.bytes == string_buffer_bytes) return storage_use::string_buffer;
    return storage_use::unknown;
}

std::vector<sweep_case> allocation_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    const std::vector<allocation_record>& allocations = clean.outcome().allocations;
    for (std::size_t k = 1; k <= allocations.size(); ++k) {
        const allocation_record& a = allocations[k - 1];
        const storage_use use = classify(clean, a);
        sweep_case c{"allocation " + std::to_string(k) + " of " + std::to_string(a.bytes) + " bytes", {}, {}};
        c.setup.refused_allocations.push_back(static_cast<int>(k));
        const std::size_t last = a.file_calls_before - 1;
        const int unit = use == storage_use::start_up ? 0 : clean.unit_at(last);
        switch (use) {
        case storage_use::start_up:
            // Only the call-stack tables are lost, and a clean run prints none.
            c.expected = clean_success(clean);
            break;
        case storage_use::stored_name:
        case storage_use::string_buffer:
            c.expected = report_at(clean, last, 41, unit, 0);
            break;
        case storage_use::record_buffer:
            c.expected = report_at(clean, last, 41, unit, 0);
            c.expected.calls.push_back(file_call::close_file);
            break;
        case storage_use::buffer_growth:
            EXPECT_EQ(unit, input_unit) << c.name << ": the output's record area never grows here";
            c.expected = report_at(clean, last, 98, unit, 0);
            break;
        case storage_use::table:
            // The direct report names no file, and the sweep closes the input.
            c.expected = report_at(clean, last, 41, 0, 0);
            c.expected.calls.push_back(file_call::close_file);
            break;
        case storage_use::unknown:
            ADD_FAILURE() << c.name << " after " << call_name(clean.calls()[last]) << " serves nothing known";
            continue;
        }
        c.expected.diagnostic_allocation = k + 1;
        if (use == storage_use::start_up) c.expected.diagnostic_allocation = 0;
        cases.push_back(c);
    }
    return cases;
}

// The closing sweep closes what is still open, except a connection that the
// failing statement itself holds; that one is left to the operating system.
// So a sweep close happens after a direct report (a table that cannot be had)
// and is never tried after a failed read or write.
std::vector<sweep_case> closing_sweep_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    const os_result refused{os_error::other, 6};
    for (const sweep_case& base : allocation_cases(clean)) {
        const std::size_t k = static_cast<std::size_t>(base.setup.refused_allocations.front());
        if (classify(clean, clean.outcome().allocations[k - 1]) != storage_use::table) continue;
        for (const std::uint32_t code : {refused.code, textless_code}) {
            sweep_case c = base;
            c.name += " then the sweep's close, code " + std::to_string(code);
            const int nth = clean.calls_before(clean.outcome().allocations[k - 1].file_calls_before,
                                               file_call::close_file) + 1;
            c.setup.faults.push_back({file_call::close_file, nth, {os_error::other, code}});
            // Reported directly, after the traceback switch is gone: no system
            // line and no table; its number is the exit status.
            c.expected.after = numbered_line(28, input_unit) + "\r\n";
            c.expected.status = 28;
            cases.push_back(c);
        }
    }
    for (const std::vector<sweep_case>& held : {read_cases(clean), write_cases(clean)}) {
        for (const sweep_case& base : held) {
            if (base.setup.faults.front().result.code != 23 && base.setup.faults.front().result.code != 112) continue;
            sweep_case c = base;
            c.name += ", held connection";
            const std::size_t at = clean.index_of(base.setup.faults.front().call, base.setup.faults.front().nth);
            c.setup.faults.push_back(
                {file_call::close_file, clean.calls_before(at, file_call::close_file) + 1, refused});
            cases.push_back(c);
        }
    }
    // A count too large for the tables' size, with the input still open.
    sweep_case overflow{"size overflow then the sweep's close", {}, {}};
    overflow.setup.input = "357913942\n";
    overflow.setup.faults.push_back({file_call::close_file, 1, refused});
    overflow.expected.status = 28;
    overflow.expected.numbered = numbered_line(179, 0);
    overflow.expected.after = numbered_line(28, input_unit) + "\r\n";
    overflow.expected.output = make_old_output();
    overflow.expected.calls = {file_call::get_full_path, file_call::open_file, file_call::get_file_kind,
                               file_call::read_file, file_call::close_file};
    cases.push_back(overflow);
    return cases;
}

struct event_case {
    const char* name;
    int signal;
    int status;
    const char* word;
};

constexpr event_case event_cases[] = {
    {"control-C", SIGINT, 0, "control-C"},
    {"control-break", SIGQUIT, 1, "control-BREAK"},
    {"window close", SIGHUP, 2, "window-CLOSE"},
};

// A console event while a read or a write is under way: the statement ends,
// no later one starts, the sweep closes the file in use (which here is no
// statement's any more), and a close failure there is the last word.
std::vector<sweep_case> console_event_cases(const clean_run& clean) {
    std::vector<sweep_case> cases;
    const struct {
        file_call call;
        int nth;
    } points[] = {{file_call::read_file, 1}, {file_call::write_file, 5}};
    for (const auto& point : points) {
        const std::size_t at = clean.index_of(point.call, point.nth);
        const int unit = clean.unit_at(at);
        for (const event_case& e : event_cases) {
            for (const bool refuse_close : {false, true}) {
                sweep_case c{std::string(e.name) + " in " + call_name(point.call) + " " + std::to_string(point.nth) +
                                 (refuse_close ? ", the sweep's close refused" : ""),
                             {}, {}};
                c.setup.event = planned_event{point.call, point.nth, e.signal};
                if (refuse_close) {
                    c.setup.faults.push_back({file_call::close_file, clean.calls_before(at, file_call::close_file) + 1,
                                              {os_error::other, 6}});
                }
                c.expected.status = refuse_close ? 28 : e.status;
                c.expected.numbered = std::string("iorun: error (200): program aborting due to ") + e.word + " event";
                if (refuse_close) c.expected.after = numbered_line(28, unit) + "\r\n";
                // The write under way completes; nothing after it is written.
                c.expected.output = unit == input_unit
                                        ? make_old_output()
                                        : reference_prefix(static_cast<std::size_t>(point.nth));
                c.expected.calls = clean.through(at);
                c.expected.calls.push_back(file_call::close_file);
                cases.push_back(c);
            }
        }
    }
    return cases;
}

// Each reporting case again, with the diagnostic's 16384-byte buffer refused
// (the small buffer: the whole line, without the table), and with both
// refused (a one-line notice).
std::vector<sweep_case> diagnostic_buffer_cases(const std::vector<sweep_case>& reporting) {
    std::vector<sweep_case> cases;
    for (const sweep_case& base : reporting) {
        if (base.expected.diagnostic_allocation == 0) continue;
        const int n = static_cast<int>(base.expected.diagnostic_allocation);
        sweep_case small = base;
        small.name += ", small diagnostic buffer";
        small.setup.refused_allocations.push_back(n);
        small.expected.has_table = false;
        cases.push_back(small);

        sweep_case none = base;
        none.name += ", no diagnostic buffer";
        none.setup.refused_allocations.push_back(n);
        none.setup.refused_allocations.push_back(n + 1);
        none.expected.has_table = false;
        none.expected.is_notice = true;
        cases.push_back(none);
    }
    return cases;
}

// ---------------------------------------------------------------------------
// Checking one run.

bool is_notice_for(const std::string& line, int number) {
    if (line.rfind("iorun: ", 0) != 0 || line.size() < 2 || line.find("\r\n") != line.size() - 2) return false;
    const std::string digits = std::to_string(number);
    for (std::size_t at = line.find(digits); at != std::string::npos; at = line.find(digits, at + 1)) {
        const bool starts = at == 0 || std::isdigit(static_cast<unsigned char>(line[at - 1])) == 0;
        const bool ends = std::isdigit(static_cast<unsigned char>(line[at + digits.size()])) == 0;
        if (starts && ends) return true;
    }
    return false;
}

void check_error_stream(const expectation& e, const std::string& error) {
    if (e.status == 0 && e.numbered.empty()) {
        EXPECT_EQ(error, "");
        return;
    }
    ASSERT_EQ(error.substr(0, e.system.size()), e.system);
    std::string rest = error.substr(e.system.size());
    if (e.is_notice) {
        const std::size_t end = rest.find("\r\n");
        ASSERT_NE(end, std::string::npos) << rest;
        const int first_number = std::stoi(e.numbered.substr(std::strlen("iorun: severe (")));
        EXPECT_TRUE(is_notice_for(rest.substr(0, end + 2), first_number)) << rest;
        EXPECT_EQ(rest.substr(end + 2), e.after);
        return;
    }
    const std::string line = e.numbered + "\r\n";
    ASSERT_EQ(rest.substr(0, line.size()), line);
    rest = rest.substr(line.size());
    if (!e.has_table) {
        EXPECT_EQ(rest, e.after);
        return;
    }
    ASSERT_EQ(rest.substr(0, sizeof table_header - 1), table_header) << rest;
    ASSERT_GE(rest.size(), e.after.size());
    EXPECT_EQ(rest.substr(rest.size() - e.after.size()), e.after);
    const std::string rows = rest.substr(sizeof table_header - 1, rest.size() - e.after.size() - sizeof table_header + 1);
    EXPECT_FALSE(rows.empty());
    for (std::size_t at = 0; at < rows.size();) {
        const std::size_t end = rows.find("\r\n", at);
        ASSERT_NE(end, std::string::npos) << rows;
        EXPECT_NE(rows.compare(at, 6, "iorun:"), 0) << rows;
        at = end + 2;
    }
}

void check_run(const sweep_case& c, const run_outcome& r) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(r.process.signal, 0);
    EXPECT_EQ(r.process.exit_status, c.expected.status);
    check_error_stream(c.expected, r.process.standard_error);
    EXPECT_EQ(r.standard_output, "");
    EXPECT_EQ(r.input, c.setup.input);
    EXPECT_EQ(r.output, c.expected.output);
    EXPECT_EQ(describe_calls(r.calls), describe_calls(c.expected.calls));
}

class fault_sweep : public testing::Test {
protected:
    static void SetUpTestSuite() { clean_ = new clean_run(run_case({})); }
    static void TearDownTestSuite() {
        delete clean_;
        clean_ = nullptr;
        test_support::remove_tree(std::filesystem::path(run_dir()).parent_path().string());
    }

    static const clean_run& clean() { return *clean_; }

    static void run_all(const std::vector<sweep_case>& cases) {
        ASSERT_FALSE(cases.empty());
        for (const sweep_case& c : cases) {
            check_run(c, run_case(c.setup));
            if (HasFatalFailure()) return;
        }
        std::printf("%zu runs\n", cases.size());
    }

private:
    static clean_run* clean_;
};

clean_run* fault_sweep::clean_ = nullptr;

TEST_F(fault_sweep, clean_run_matches_the_rules) {
    const run_outcome& r = clean().outcome();
    check_run({"clean run", {}, clean_success(clean())}, r);
    // One open, one close per file; a record per write; the one cut after
    // the first record; reads in pieces of the buffer's free room.
    EXPECT_EQ(clean().count(file_call::open_file), 2);
    EXPECT_EQ(clean().count(file_call::close_file), 2);
    EXPECT_EQ(clean().count(file_call::write_file), static_cast<int>(reference_line_count()));
    EXPECT_EQ(clean().count(file_call::set_end_of_file), 1);
    EXPECT_EQ(clean().index_of(file_call::set_end_of_file, 1), clean().index_of(file_call::write_file, 1) + 1);
    EXPECT_GT(clean().count(file_call::read_file), 2);
    // Storage: the record buffer grows twice for the long record. The reader
    // takes a string buffer only for a quoted string, and this input has none.
    int growths = 0;
    int string_buffers = 0;
    for (const allocation_record& a : r.allocations) {
        EXPECT_NE(classify(clean(), a), storage_use::unknown) << a.bytes;
        if (classify(clean(), a) == storage_use::buffer_growth) ++growths;
        if (classify(clean(), a) == storage_use::string_buffer) ++string_buffers;
    }
    EXPECT_EQ(growths, 2);
    EXPECT_EQ(string_buffers, 0);
}

TEST_F(fault_sweep, refused_opens_end_as_their_error_says) { run_all(open_cases(clean())); }

TEST_F(fault_sweep, refused_reads_end_before_the_output_is_touched) { run_all(read_cases(clean())); }

TEST_F(fault_sweep, refused_writes_leave_the_records_written_before) { run_all(write_cases(clean())); }

TEST_F(fault_sweep, refused_cut_leaves_the_first_record_over_the_old_file) { run_all(truncation_cases(clean())); }

TEST_F(fault_sweep, refused_close_statements_show_the_system_text) { run_all(close_cases(clean())); }

TEST_F(fault_sweep, refused_storage_ends_with_its_message) { run_all(allocation_cases(clean())); }

TEST_F(fault_sweep, closing_sweep_reports_its_own_close_failure) { run_all(closing_sweep_cases(clean())); }

TEST_F(fault_sweep, console_events_stop_the_run_and_the_sweep_closes) { run_all(console_event_cases(clean())); }

TEST_F(fault_sweep, reports_without_their_buffer_still_name_the_failure) {
    std::vector<sweep_case> reporting;
    for (const auto& cases : {open_cases(clean()), read_cases(clean()), write_cases(clean()), truncation_cases(clean()),
                              close_cases(clean()), allocation_cases(clean()), closing_sweep_cases(clean())}) {
        reporting.insert(reporting.end(), cases.begin(), cases.end());
    }
    run_all(diagnostic_buffer_cases(reporting));
}

}  // namespace
