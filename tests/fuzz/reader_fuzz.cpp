// Any bytes as input.txt, read by the statements the driver issues (and by a
// mixed statement shape the driver never uses, for the integer pair form).
// Every statement must end in values or in one of the reader's own messages;
// no crash, no leak, no undefined behaviour, and the same results with
// flush-to-zero and denormals-are-zero on.

#include "platform/fp_control.hpp"
#include "tests/support/fp_modes.hpp"
#include "tests/support/files.hpp"
#include "textio/connection.hpp"
#include "textio/free_form_reader.hpp"
#include "textio/message.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace {

using textio::item_kind;
using textio::message;

// A signalling NaN: no conversion ever stores one, so a cell that still holds
// it was left alone.
constexpr std::uint32_t untouched_bits = 0x7FA00001;
constexpr std::uint32_t quiet_nan_bits = 0x7FC00000;
constexpr std::uint32_t negative_quiet_nan_bits = 0xFFC00000;
constexpr std::uint32_t exponent_bits = 0x7F800000;
constexpr std::uint32_t fraction_bits = 0x007FFFFF;

constexpr std::size_t max_items = 4;

constexpr item_kind one_integer[] = {item_kind::int32};
constexpr item_kind one_vertex[] = {item_kind::single_real, item_kind::single_real, item_kind::single_real};
constexpr item_kind integer_then_vertex[] = {item_kind::int32, item_kind::single_real, item_kind::single_real,
                                             item_kind::single_real};

// Without storage faults the reader can only end a statement in one of these.
constexpr message reader_messages[] = {message::none, message::end_of_file_during_read,
                                       message::list_directed_syntax_error, message::input_conversion_error};

struct statement_result {
    message outcome = message::none;
    std::array<std::uint32_t, max_items> cells{};

    bool operator==(const statement_result&) const = default;
};

struct fuzz_input {
    const std::uint8_t* data;
    std::size_t size;
};

[[noreturn]] void fail(const fuzz_input& in, const char* what) {
    std::fprintf(stderr, "reader_fuzz: %s\ninput (%zu bytes):", what, in.size);
    for (std::size_t i = 0; i < std::min<std::size_t>(in.size, 512); ++i) std::fprintf(stderr, " %02X", in.data[i]);
    std::fprintf(stderr, "\n");
    std::abort();
}

void check_statement(const fuzz_input& in, std::span<const item_kind> kinds, const statement_result& r) {
    if (std::find(std::begin(reader_messages), std::end(reader_messages), r.outcome) == std::end(reader_messages))
        fail(in, "a statement ended in a message the reader cannot give without a fault");
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const std::uint32_t bits = r.cells[i];
        const bool is_nan = (bits & exponent_bits) == exponent_bits && (bits & fraction_bits) != 0;
        if (kinds[i] == item_kind::single_real && is_nan && bits != untouched_bits && bits != quiet_nan_bits &&
            bits != negative_quiet_nan_bits)
            fail(in, "a real item received a NaN no conversion produces");
    }
}

statement_result run_statement(const fuzz_input& in, std::span<const item_kind> kinds) {
    statement_result r;
    r.cells.fill(untouched_bits);
    std::array<textio::read_item, max_items> items{};
    for (std::size_t i = 0; i < kinds.size(); ++i) items[i] = {kinds[i], &r.cells[i]};
    r.outcome = textio::read_values(textio::input_unit, std::span(items.data(), kinds.size()));
    check_statement(in, kinds, r);
    return r;
}

void open_input(const fuzz_input& in) {
    if (textio::open_connection(textio::input_unit, "input.txt", 9) != message::none)
        fail(in, "input.txt could not be opened");
}

void close_input(const fuzz_input& in) {
    if (textio::close_connection(textio::input_unit) != message::none) fail(in, "input.txt could not be closed");
    if (textio::find_connection(textio::input_unit) != nullptr) fail(in, "unit 10 is still connected after close");
}

// Every statement starts by taking a record, so a file of n bytes allows at
// most n + 1 successful statements before the end of the file stops one;
// more means a statement consumed nothing and the loop would never end.
void check_progress(const fuzz_input& in, std::size_t statements) {
    if (statements > in.size + 2) fail(in, "more statements succeeded than the file has records");
}

// The driver's order: the count, then per triangle a header and three vertices.
std::vector<statement_result> read_as_driver(const fuzz_input& in) {
    std::vector<statement_result> trace;
    open_input(in);
    trace.push_back(run_statement(in, one_integer));
    while (trace.back().outcome == message::none) {
        check_progress(in, trace.size());
        trace.push_back(run_statement(in, one_integer));
        for (int vertex = 0; vertex < 3 && trace.back().outcome == message::none; ++vertex)
            trace.push_back(run_statement(in, one_vertex));
    }
    close_input(in);
    return trace;
}

void read_as_mixed_statements(const fuzz_input& in) {
    open_input(in);
    std::size_t statements = 0;
    while (run_statement(in, integer_then_vertex).outcome == message::none) check_progress(in, ++statements);
    close_input(in);
}

using test_support::scoped_fp_modes;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One private folder for the whole run, made current once; it goes at exit.
    static const test_support::scoped_work_dir work_dir;
    const fuzz_input in{data, size};
    // A new file each time: rewriting a truncated one makes some file systems
    // flush it at close, which costs more than the whole input's reading.
    std::filesystem::remove("input.txt");
    test_support::write_file("input.txt", std::string(reinterpret_cast<const char*>(data), size));

    std::vector<statement_result> plain;
    {
        const scoped_fp_modes modes({false, false});
        plain = read_as_driver(in);
    }
    std::vector<statement_result> flushing;
    {
        const scoped_fp_modes modes({true, true});
        flushing = read_as_driver(in);
    }
    if (plain != flushing) fail(in, "flush-to-zero or denormals-are-zero changed what the statements read");

    read_as_mixed_statements(in);
    return 0;
}
