#include "runtime/diagnostics.hpp"
