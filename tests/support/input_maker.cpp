#include "tests/support/input_maker.hpp"

#include <cstdio>
#include <random>

namespace test_support {

std::string make_triangle_input(std::uint32_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> whole(-5000, 5000);
    std::uniform_int_distribution<int> fraction(0, 9999);
    std::uniform_int_distribution<int> spelling(0, 3);
    std::string text = std::to_string(count) + "\n";
    char number[64];
    for (std::uint32_t i = 0; i < count; ++i) {
        text += std::to_string(i + 1) + "\n";
        for (int vertex = 0; vertex < 3; ++vertex) {
            for (int axis = 0; axis < 3; ++axis) {
                const int w = whole(random);
                const int f = fraction(random);
                switch (spelling(random)) {
                case 0: std::snprintf(number, sizeof number, "%d.%04d", w, f); break;
                case 1: std::snprintf(number, sizeof number, "%d.%04de-2", w, f); break;
                case 2: std::snprintf(number, sizeof number, "%d", w); break;
                default: std::snprintf(number, sizeof number, "%.3fE1", w / 10.0); break;
                }
                text += number;
                text += axis < 2 ? ' ' : '\n';
            }
        }
    }
    return text;
}

}  // namespace test_support
