#include "platform/stack_ops.hpp"

#include <windows.h>
#include <dbghelp.h>

#include <cstring>

namespace platform {
namespace {

static_assert(sizeof(void*) == 4, "the walk reads the registers of a 32-bit x86 context");

using sym_initialize_call = BOOL(WINAPI*)(HANDLE process, PCSTR search_path, BOOL invade_process);
using sym_cleanup_call = BOOL(WINAPI*)(HANDLE process);
using stack_walk_call = BOOL(WINAPI*)(DWORD machine, HANDLE process, HANDLE thread, LPSTACKFRAME64 frame,
                                      PVOID context, PREAD_PROCESS_MEMORY_ROUTINE64 read_memory,
                                      PFUNCTION_TABLE_ACCESS_ROUTINE64 function_table_access,
                                      PGET_MODULE_BASE_ROUTINE64 get_module_base,
                                      PTRANSLATE_ADDRESS_ROUTINE64 translate_address);

// The stack-walking service, loaded at start-up: the executable imports
// nothing beyond the system's core DLLs, and a fault never loads a library.
struct walk_service {
    sym_initialize_call sym_initialize = nullptr;
    sym_cleanup_call sym_cleanup = nullptr;
    stack_walk_call stack_walk = nullptr;
    PFUNCTION_TABLE_ACCESS_ROUTINE64 function_table_access = nullptr;
    PGET_MODULE_BASE_ROUTINE64 get_module_base = nullptr;
    bool is_initialised = false;
};

walk_service service;

template <typename Call>
bool resolve(HMODULE library, const char* name, Call* out) {
    const FARPROC address = GetProcAddress(library, name);
    if (address == nullptr) return false;
    // The only way from GetProcAddress to a typed function pointer.
    std::memcpy(out, &address, sizeof *out);
    return true;
}

bool load_service(const char* library_name, walk_service* out) {
    const HMODULE library = LoadLibraryA(library_name);
    if (library == nullptr) return false;
    walk_service s;
    if (resolve(library, "SymInitialize", &s.sym_initialize) && resolve(library, "SymCleanup", &s.sym_cleanup) &&
        resolve(library, "StackWalk64", &s.stack_walk) &&
        resolve(library, "SymFunctionTableAccess64", &s.function_table_access) &&
        resolve(library, "SymGetModuleBase64", &s.get_module_base)) {
        *out = s;
        return true;
    }
    FreeLibrary(library);
    return false;
}

bool win32_prepare_stack_walk() {
    if (service.stack_walk == nullptr && !load_service("imagehlp.dll", &service) &&
        !load_service("dbghelp.dll", &service)) {
        return false;
    }
    const HANDLE process = GetCurrentProcess();
    // A second preparation starts afresh, with the modules loaded since.
    if (service.is_initialised) service.sym_cleanup(process);
    service.is_initialised = service.sym_initialize(process, nullptr, TRUE) != FALSE;
    return service.is_initialised;
}

int win32_walk_stack(const void* context, std::uintptr_t* pcs, int max_frames) {
    if (!service.is_initialised) return -1;
    // StackWalk64 moves the context along as it walks: it works on a copy.
    CONTEXT c;
    if (context != nullptr) {
        std::memcpy(&c, context, sizeof c);
    } else {
        std::memset(&c, 0, sizeof c);
        RtlCaptureContext(&c);
    }
    STACKFRAME64 frame;
    std::memset(&frame, 0, sizeof frame);
    frame.AddrPC.Offset = c.Eip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = c.Ebp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = c.Esp;
    frame.AddrStack.Mode = AddrModeFlat;
    const HANDLE process = GetCurrentProcess();
    const HANDLE thread = GetCurrentThread();
    int stored = 0;
    while (stored < max_frames) {
        if (!service.stack_walk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, &c, nullptr,
                                service.function_table_access, service.get_module_base, nullptr)) {
            break;
        }
        if (frame.AddrPC.Offset == 0) break;
        pcs[stored++] = static_cast<std::uintptr_t>(frame.AddrPC.Offset);
        if (frame.AddrReturn.Offset == 0) break;
    }
    return stored;
}

// The module is the allocation that holds pc: a loaded image starts at its
// module handle.
std::uint32_t win32_describe_pc(std::uintptr_t pc, char* name, std::size_t name_bytes) {
    if (name_bytes == 0) return static_cast<std::uint32_t>(pc);
    name[0] = '\0';
    MEMORY_BASIC_INFORMATION region;
    if (VirtualQuery(reinterpret_cast<LPCVOID>(pc), &region, sizeof region) == 0 || region.AllocationBase == nullptr)
        return static_cast<std::uint32_t>(pc);
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, sizeof path);
    if (n == 0 || n >= sizeof path) return static_cast<std::uint32_t>(pc);
    path[n] = '\0';
    const char* file = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':') file = p + 1;
    }
    std::size_t length = std::strlen(file);
    if (length >= name_bytes) length = name_bytes - 1;
    std::memcpy(name, file, length);
    name[length] = '\0';
    return static_cast<std::uint32_t>(pc);
}

constexpr stack_ops win32_stack_ops = {win32_prepare_stack_walk, win32_walk_stack, win32_describe_pc};

}  // namespace

const stack_ops& native_stack_ops() noexcept { return win32_stack_ops; }

}  // namespace platform
