#include "textio/format_program.hpp"
