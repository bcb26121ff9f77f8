#include "platform/stack_ops.hpp"

#include "platform/posix/fault_context.hpp"

#include <climits>
#include <cstring>
#include <execinfo.h>
#include <link.h>
#include <unistd.h>

namespace platform {
namespace {

// Enough for the program, its run-time libraries and the loader.
constexpr int max_modules = 64;
constexpr int max_segments = 256;
constexpr std::size_t module_name_bytes = 64;
// The reporter's own frames in front of a fault's frames.
constexpr int max_walk_frames = 1024;

struct module {
    char name[module_name_bytes];
    std::uintptr_t load_address;
};

struct segment {
    std::uintptr_t start;
    std::uintptr_t end;
    int module;
};

// Filled once at start-up, read without locks afterwards (also in a signal
// handler): modules loaded later show an empty name.
module modules[max_modules];
segment segments[max_segments];
int module_count = 0;
int segment_count = 0;

void copy_file_name(const char* path, char* out) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    std::size_t n = std::strlen(name);
    if (n >= module_name_bytes) n = module_name_bytes - 1;
    std::memcpy(out, name, n);
    out[n] = '\0';
}

int note_module(dl_phdr_info* info, std::size_t, void*) {
    if (module_count == max_modules) return 1;
    module& m = modules[module_count];
    m.load_address = static_cast<std::uintptr_t>(info->dlpi_addr);
    if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0') {
        copy_file_name(info->dlpi_name, m.name);
    } else {
        // The program itself carries no name here.
        char path[PATH_MAX];
        const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
        path[n > 0 ? n : 0] = '\0';
        copy_file_name(path, m.name);
    }
    for (int i = 0; i < info->dlpi_phnum && segment_count < max_segments; ++i) {
        const ElfW(Phdr)& h = info->dlpi_phdr[i];
        if (h.p_type != PT_LOAD) continue;
        const std::uintptr_t start = m.load_address + static_cast<std::uintptr_t>(h.p_vaddr);
        segments[segment_count++] = {start, start + static_cast<std::uintptr_t>(h.p_memsz), module_count};
    }
    ++module_count;
    return 0;
}

bool posix_prepare_stack_walk() {
    // The first walk loads the unwinder; do that now rather than in a fault.
    void* warm_up[4];
    if (::backtrace(warm_up, 4) <= 0) return false;
    module_count = 0;
    segment_count = 0;
    ::dl_iterate_phdr(note_module, nullptr);
    return true;
}

int posix_walk_stack(const void* context, std::uintptr_t* pcs, int max_frames) {
    void* frames[max_walk_frames];
    const int n = ::backtrace(frames, max_walk_frames);
    if (n <= 0) return -1;
    int first = 0;
    if (context != nullptr) {
        // The walk passes through the handler's frames and the signal frame
        // before it reaches the faulting instruction.
        const std::uintptr_t pc = posix::fault_program_counter(context);
        first = n;
        for (int i = 0; i < n; ++i) {
            if (reinterpret_cast<std::uintptr_t>(frames[i]) == pc) {
                first = i;
                break;
            }
        }
        if (first == n) {
            pcs[0] = pc;
            return max_frames > 0 ? 1 : 0;
        }
    }
    int stored = 0;
    for (int i = first; i < n && stored < max_frames; ++i) pcs[stored++] = reinterpret_cast<std::uintptr_t>(frames[i]);
    return stored;
}

std::uint32_t posix_describe_pc(std::uintptr_t pc, char* name, std::size_t name_bytes) {
    if (name_bytes > 0) name[0] = '\0';
    for (int i = 0; i < segment_count; ++i) {
        const segment& s = segments[i];
        if (pc < s.start || pc >= s.end) continue;
        const module& m = modules[s.module];
        std::size_t n = std::strlen(m.name);
        if (n >= name_bytes) n = name_bytes - 1;
        std::memcpy(name, m.name, n);
        name[n] = '\0';
        return static_cast<std::uint32_t>(sizeof(void*) > 4 ? pc - m.load_address : pc);
    }
    return static_cast<std::uint32_t>(pc);
}

constexpr stack_ops posix_stack_ops = {posix_prepare_stack_walk, posix_walk_stack, posix_describe_pc};

}  // namespace

const stack_ops& native_stack_ops() noexcept { return posix_stack_ops; }

}  // namespace platform
