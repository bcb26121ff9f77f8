#include "textio/connection.hpp"
