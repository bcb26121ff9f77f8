#include "runtime/detail/text_format.hpp"

#include <cstring>

namespace runtime::detail {
namespace {

struct conversion {
    bool left = false;
    bool zero = false;
    std::size_t width = 0;
    bool has_precision = false;
    std::size_t precision = 0;
};

void put_padded(text_sink& sink, const conversion& form, const char* text, std::size_t n) noexcept {
    const std::size_t pad = form.width > n ? form.width - n : 0;
    if (!form.left) {
        for (std::size_t i = 0; i < pad; ++i) sink.put(form.zero ? '0' : ' ');
    }
    sink.put(text, n);
    if (form.left) {
        for (std::size_t i = 0; i < pad; ++i) sink.put(' ');
    }
}

// 20 digits hold any 64-bit magnitude; one more for the sign.
constexpr std::size_t max_number_chars = 21;

void put_number(text_sink& sink, conversion form, char kind, long value) noexcept {
    char digits[max_number_chars];
    std::size_t n = 0;
    const bool is_signed = kind == 'd' || kind == 'i';
    const unsigned base = (kind == 'x' || kind == 'X') ? 16 : 10;
    const char* alphabet = kind == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    const bool negative = is_signed && value < 0;
    unsigned long magnitude = static_cast<unsigned long>(value);
    if (negative) magnitude = 0ul - magnitude;
    do {
        digits[n++] = alphabet[magnitude % base];
        magnitude /= base;
    } while (magnitude != 0);
    std::size_t minimum = form.has_precision ? form.precision : 1;
    if (minimum > max_number_chars - 1) minimum = max_number_chars - 1;
    while (n < minimum) digits[n++] = '0';
    if (negative) digits[n++] = '-';
    char text[max_number_chars];
    for (std::size_t i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
    if (form.has_precision) form.zero = false;
    put_padded(sink, form, text, n);
}

}  // namespace

void format_text(text_sink& sink, const char* format, std::span<const report_argument> arguments) noexcept {
    std::size_t next_argument = 0;
    const auto take = [&]() noexcept -> report_argument {
        return next_argument < arguments.size() ? arguments[next_argument++] : report_argument{};
    };
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            sink.put(*p);
            continue;
        }
        ++p;
        conversion form;
        for (;; ++p) {
            if (*p == '-') form.left = true;
            else if (*p == '0') form.zero = true;
            else break;
        }
        while (*p >= '0' && *p <= '9') form.width = form.width * 10 + static_cast<std::size_t>(*p++ - '0');
        if (*p == '.') {
            form.has_precision = true;
            ++p;
            while (*p >= '0' && *p <= '9') form.precision = form.precision * 10 + static_cast<std::size_t>(*p++ - '0');
        }
        while (*p == 'l') ++p;
        switch (*p) {
        case '\0':
            return;
        case '%':
            sink.put('%');
            break;
        case 's': {
            const report_argument a = take();
            const char* text = a.text != nullptr ? a.text : "";
            std::size_t n = std::strlen(text);
            if (form.has_precision && form.precision < n) n = form.precision;
            form.zero = false;
            put_padded(sink, form, text, n);
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
            put_number(sink, form, *p, take().number);
            break;
        default:
            sink.put('%');
            sink.put(*p);
            break;
        }
    }
}

}  // namespace runtime::detail
