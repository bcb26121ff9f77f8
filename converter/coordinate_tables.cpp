#include "converter/coordinate_tables.hpp"
