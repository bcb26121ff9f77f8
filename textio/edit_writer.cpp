#include "textio/edit_writer.hpp"
