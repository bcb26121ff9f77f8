#include "converter/driver.hpp"
#include "runtime/entry.hpp"

int main() { return runtime::run_entry(converter::run_driver); }
