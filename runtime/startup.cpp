#include "runtime/startup.hpp"
