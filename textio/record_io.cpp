#include "textio/record_io.hpp"
