#include "runtime/message_table.hpp"
