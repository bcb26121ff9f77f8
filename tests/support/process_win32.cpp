#include "tests/support/process.hpp"

#include "tests/support/child_run_win32.hpp"

#include <gtest/gtest.h>
#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <thread>

namespace test_support {
namespace {

constexpr char child_run_variable[] = "TRI2STL_CHILD_RUN";
constexpr char child_dirs_variable[] = "TRI2STL_CHILD_DIRS";
// Cannot appear in a Windows path.
constexpr char dir_separator = '|';

// One argument as the C library's command-line parser splits it back out:
// backslashes are literal except before a double quote.
std::string quote_argument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') quoted.append(backslashes * 2 + 1, '\\');
        else quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string make_command_line(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line = quote_argument(program);
    for (const std::string& a : arguments) {
        line += ' ';
        line += quote_argument(a);
    }
    return line;
}

std::string get_environment(const char* name) {
    char value[32768];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

struct pipe_ends {
    HANDLE read = nullptr;
    HANDLE write = nullptr;  // inheritable, for the child
};

pipe_ends make_pipe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    pipe_ends p;
    if (!CreatePipe(&p.read, &p.write, &inherit, 0)) throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(p.read, HANDLE_FLAG_INHERIT, 0);
    return p;
}

HANDLE open_null_device() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       OPEN_EXISTING, 0, nullptr);
}

std::string read_all(HANDLE h) {
    std::string text;
    char chunk[65536];
    DWORD n = 0;
    while (ReadFile(h, chunk, sizeof chunk, &n, nullptr) && n > 0) text.append(chunk, n);
    return text;
}

struct child_streams {
    HANDLE input;
    HANDLE output;
    HANDLE error;
};

PROCESS_INFORMATION start_process(const std::string& program, const std::string& command_line,
                                  const char* directory, child_streams streams, DWORD flags) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = streams.input;
    startup.hStdOutput = streams.output;
    startup.hStdError = streams.error;
    std::string line = command_line;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr, directory, &startup,
                        &info)) {
        throw std::runtime_error("CreateProcessA failed for " + program + ": " + std::to_string(GetLastError()));
    }
    CloseHandle(info.hThread);
    return info;
}

int wait_for_exit(HANDLE process) {
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<int>(code);
}

std::string current_test_name() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    if (info == nullptr) return {};
    return std::string(info->test_suite_name()) + "." + info->name();
}

// The folders the running test has made, handed to its children.
std::string noted_dirs_test;
std::vector<std::string> noted_dirs;

// In a child: which run_in_child call of which test is the child's, and the
// parent's folders still to hand out.
struct child_role {
    bool is_child = false;
    std::string test;
    int call = 0;
    std::vector<std::string> dirs;
    std::size_t next_dir = 0;
};

child_role read_child_role() {
    child_role role;
    const std::string run = get_environment(child_run_variable);
    const std::size_t colon = run.find(':');
    if (colon == std::string::npos) return role;
    role.is_child = true;
    role.call = std::atoi(run.substr(0, colon).c_str());
    role.test = run.substr(colon + 1);
    const std::string dirs = get_environment(child_dirs_variable);
    for (std::size_t at = 0; at < dirs.size();) {
        std::size_t end = dirs.find(dir_separator, at);
        if (end == std::string::npos) end = dirs.size();
        role.dirs.push_back(dirs.substr(at, end - at));
        at = end + 1;
    }
    return role;
}

child_role& this_child_role() {
    static child_role role = read_child_role();
    return role;
}

// run_in_child calls counted per test, in the parent and in a child alike.
std::string counted_test;
int counted_calls = 0;

int count_child_call() {
    const std::string test = current_test_name();
    if (test != counted_test) {
        counted_test = test;
        counted_calls = 0;
    }
    return ++counted_calls;
}

// Processes started by start_program, kept open so that their exit codes
// outlive them.
std::map<int, HANDLE> started;

BOOL WINAPI swallow_console_event(DWORD) { return TRUE; }

}  // namespace

namespace child_run {

void note_temp_dir(const std::string& path) {
    const std::string test = current_test_name();
    if (test != noted_dirs_test) {
        noted_dirs_test = test;
        noted_dirs.clear();
    }
    noted_dirs.push_back(path);
}

std::string take_parent_temp_dir() {
    child_role& role = this_child_role();
    if (!role.is_child || role.next_dir >= role.dirs.size()) return {};
    return role.dirs[role.next_dir++];
}

}  // namespace child_run

process_result run_program(const std::string& program, const std::string& directory,
                           const std::vector<std::string>& arguments) {
    pipe_ends out = make_pipe();
    pipe_ends err = make_pipe();
    const HANDLE null_device = open_null_device();
    const PROCESS_INFORMATION info = start_process(program, make_command_line(program, arguments), directory.c_str(),
                                                   {null_device, out.write, err.write}, 0);
    CloseHandle(out.write);
    CloseHandle(err.write);
    CloseHandle(null_device);
    process_result result;
    std::thread output_reader([&] { result.standard_output = read_all(out.read); });
    result.standard_error = read_all(err.read);
    output_reader.join();
    CloseHandle(out.read);
    CloseHandle(err.read);
    result.exit_status = wait_for_exit(info.hProcess);
    CloseHandle(info.hProcess);
    return result;
}

std::string tri2stl_path() { return TRI2STL_EXECUTABLE; }

process_result run_in_child(const std::function<void()>& body) {
    const int call = count_child_call();
    const child_role& role = this_child_role();
    if (role.is_child) {
        // Earlier children of this test were other processes: here they are
        // skipped, and only this child's call runs its body.
        if (role.test != counted_test || role.call != call) return {};
        body();
        std::_Exit(0);
    }
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) throw std::runtime_error("GetModuleFileNameA failed");
    std::string dirs;
    if (noted_dirs_test == counted_test) {
        for (const std::string& d : noted_dirs) {
            if (!dirs.empty()) dirs += dir_separator;
            dirs += d;
        }
    }
    SetEnvironmentVariableA(child_run_variable, (std::to_string(call) + ":" + counted_test).c_str());
    SetEnvironmentVariableA(child_dirs_variable, dirs.c_str());
    pipe_ends err = make_pipe();
    const HANDLE null_device = open_null_device();
    PROCESS_INFORMATION info{};
    try {
        info = start_process(self, make_command_line(self, {"--gtest_filter=" + counted_test}), nullptr,
                             {null_device, null_device, err.write}, 0);
    } catch (...) {
        SetEnvironmentVariableA(child_run_variable, nullptr);
        SetEnvironmentVariableA(child_dirs_variable, nullptr);
        throw;
    }
    SetEnvironmentVariableA(child_run_variable, nullptr);
    SetEnvironmentVariableA(child_dirs_variable, nullptr);
    CloseHandle(err.write);
    CloseHandle(null_device);
    process_result result;
    result.standard_error = read_all(err.read);
    CloseHandle(err.read);
    result.exit_status = wait_for_exit(info.hProcess);
    CloseHandle(info.hProcess);
    return result;
}

running_program start_program(const std::string& program, const std::string& directory,
                               const std::vector<std::string>& arguments) {
    running_program p;
    p.error_path = directory + "\\.stderr";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE error_file = CreateFileA(p.error_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (error_file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + p.error_path);
    const HANDLE null_device = open_null_device();
    // A console of its own, so that console events reach the program alone.
    const PROCESS_INFORMATION info = start_process(program, make_command_line(program, arguments), directory.c_str(),
                                                   {null_device, null_device, error_file}, CREATE_NEW_CONSOLE);
    CloseHandle(error_file);
    CloseHandle(null_device);
    p.pid = static_cast<int>(info.dwProcessId);
    started[p.pid] = info.hProcess;
    return p;
}

// SIGINT and SIGBREAK become control-C and control-break on the program's
// console; anything else ends the program at once.
void send_signal(const running_program& p, int signal) {
    if (signal != SIGINT && signal != SIGBREAK) {
        if (const auto it = started.find(p.pid); it != started.end()) TerminateProcess(it->second, static_cast<UINT>(128 + signal));
        return;
    }
    // The event goes to every process on that console, this one included
    // while it is attached: this process lets it pass.
    SetConsoleCtrlHandler(swallow_console_event, TRUE);
    FreeConsole();
    if (AttachConsole(static_cast<DWORD>(p.pid))) {
        GenerateConsoleCtrlEvent(signal == SIGINT ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0);
        FreeConsole();
    }
    AttachConsole(ATTACH_PARENT_PROCESS);
}

process_result finish_program(const running_program& p, int timeout_seconds) {
    process_result result;
    const auto it = started.find(p.pid);
    if (it == started.end()) throw std::runtime_error("no such program");
    const HANDLE process = it->second;
    if (WaitForSingleObject(process, static_cast<DWORD>(timeout_seconds) * 1000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
        result.signal = 9;
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        result.exit_status = static_cast<int>(code);
    }
    CloseHandle(process);
    started.erase(it);
    std::ifstream err(p.error_path, std::ios::binary);
    result.standard_error.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    err.close();
    DeleteFileA(p.error_path.c_str());
    return result;
}

}  // namespace test_support
