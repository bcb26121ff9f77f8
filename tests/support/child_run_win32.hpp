#pragma once

#include <string>

// Windows has no fork: run_in_child starts the test executable again, running
// the same test, and the child runs the body where the parent would have
// forked. The child must see the same folders as its parent, so the parent's
// temporary folders of the test are handed over and made again in order.
namespace test_support::child_run {

// In the parent: a temporary folder the current test has made.
void note_temp_dir(const std::string& path);
// In a child: the parent's next temporary folder of the test, or "" when all
// have been handed out (or this is no child).
[[nodiscard]] std::string take_parent_temp_dir();

}  // namespace test_support::child_run
