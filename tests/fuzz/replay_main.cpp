// Runs a fuzz target over stored inputs without libFuzzer: every argument is a
// file or a folder of files (searched recursively), and each file is handed to
// LLVMFuzzerTestOneInput once. A target checks its own invariants and aborts on
// a violation, so reaching the end means every input passed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// Paths are made absolute before the first input runs: a target may change
// the current directory.
bool collect_inputs(const char* argument, std::vector<fs::path>& inputs) {
    std::error_code ec;
    const fs::path root = fs::absolute(argument, ec);
    if (ec || !fs::exists(root, ec)) {
        std::fprintf(stderr, "replay: no such file or folder: %s\n", argument);
        return false;
    }
    if (!fs::is_directory(root, ec)) {
        inputs.push_back(root);
        return true;
    }
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file(ec)) inputs.push_back(it->path());
    if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", argument, ec.message().c_str());
        return false;
    }
    return true;
}

bool read_bytes(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    bool all_found = true;
    for (int i = 1; i < argc; ++i) all_found = collect_inputs(argv[i], inputs) && all_found;
    // A fixed order makes a failing run repeat exactly.
    std::sort(inputs.begin(), inputs.end());

    std::vector<std::uint8_t> bytes;
    std::size_t ran = 0;
    for (const fs::path& input : inputs) {
        if (!read_bytes(input, bytes)) {
            std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
            all_found = false;
            continue;
        }
        // The data pointer must be valid even for an empty input, as under libFuzzer.
        const std::uint8_t empty = 0;
        (void)LLVMFuzzerTestOneInput(bytes.empty() ? &empty : bytes.data(), bytes.size());
        ++ran;
    }
    std::printf("replay: ran %zu inputs\n", ran);
    // An empty or missing corpus must not pass silently.
    return ran > 0 && all_found ? 0 : 1;
}
