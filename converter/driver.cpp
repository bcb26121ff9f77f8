#include "converter/driver.hpp"

#include "converter/coordinate_tables.hpp"
#include "runtime/diagnostics.hpp"
#include "runtime/fp_environment.hpp"
#include "runtime/startup.hpp"
#include "textio/connection.hpp"
#include "textio/edit_writer.hpp"
#include "textio/free_form_reader.hpp"

#include <string_view>

namespace converter {
namespace {

using textio::input_unit;
using textio::message;
using textio::output_unit;
using textio::write_item;

constexpr std::string_view input_name = "input.txt";
constexpr std::string_view output_name = "output.stl";

// One statement on unit. A failing statement never comes back: its report ends
// the process. Once the process is stopping, no statement starts any more.
template <typename Statement>
void run_statement(std::int32_t unit, Statement statement) {
    const runtime::statement_guard guard(unit);
    if (const message m = statement(); m != message::none) runtime::report_statement_failure(m, unit);
}

void read_int32(std::int32_t* value) {
    const textio::read_item items[] = {{textio::item_kind::int32, value}};
    run_statement(input_unit, [&] { return textio::read_values(input_unit, items); });
}

void read_vertex(float* x, float* y, float* z) {
    const textio::read_item items[] = {
        {textio::item_kind::single_real, x},
        {textio::item_kind::single_real, y},
        {textio::item_kind::single_real, z},
    };
    run_statement(input_unit, [&] { return textio::read_values(input_unit, items); });
}

write_item text_item(std::string_view text) { return write_item::of_text(text.data(), text.size()); }

void write_text_line(std::string_view text) {
    const write_item items[] = {text_item(text)};
    run_statement(output_unit, [&] { return textio::write_values(output_unit, textio::text_line_program, items); });
}

void write_point_line(std::string_view text, float x, float y, float z) {
    const write_item items[] = {text_item(text), write_item::of_single(x), write_item::of_single(y),
                                write_item::of_single(z)};
    run_statement(output_unit,
                  [&] { return textio::write_values(output_unit, textio::text_and_three_numbers_program, items); });
}

}  // namespace

int run_driver() {
    runtime::set_up_processor(runtime::flush_to_zero_bit | runtime::denormals_are_zero_bit);
    runtime::set_up_processor(runtime::flush_to_zero_bit);

    run_statement(input_unit, [] { return textio::open_connection(input_unit, input_name.data(), input_name.size()); });
    // A count record with a null value or a slash supplies nothing: 0 then.
    std::int32_t count = 0;
    read_int32(&count);
    const coordinate_tables t = create_coordinate_tables(count);
    for (std::size_t i = 0; i < t.rows; ++i) {
        std::int32_t header = 0;
        read_int32(&header);
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t at = t.index(i, k);
            read_vertex(&t.x[at], &t.y[at], &t.z[at]);
        }
    }
    run_statement(input_unit, [] { return textio::close_connection(input_unit); });

    run_statement(output_unit,
                  [] { return textio::open_connection(output_unit, output_name.data(), output_name.size()); });
    write_text_line("solid sample");
    for (std::size_t i = 0; i < t.rows; ++i) {
        const std::size_t first = t.index(i, 0);
        write_point_line("facet normal", t.x[first], t.y[first], t.z[first]);
        write_text_line("outer loop");
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t at = t.index(i, k);
            write_point_line("vertex", t.x[at], t.y[at], t.z[at]);
        }
        write_text_line("endloop");
        write_text_line("endfacet");
    }
    write_text_line("endsolid sample");
    run_statement(output_unit, [] { return textio::close_connection(output_unit); });
    return 1;
}

}  // namespace converter
