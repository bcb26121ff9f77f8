#include "tests/support/process.hpp"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace test_support {
namespace {

int wait_for(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void note_end(int status, process_result& result) {
    if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

}  // namespace
process_result run_program(const std::string& program, const std::string& directory,
                           const std::vector<std::string>& arguments) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int null_fd = ::open("/dev/null", O_RDONLY);
        ::dup2(null_fd, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (::chdir(directory.c_str()) != 0) ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    process_result result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                (i == 0 ? result.standard_output : result.standard_error).append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    note_end(wait_for(child), result);
    return result;
}

std::string tri2stl_path() { return TRI2STL_EXECUTABLE; }

}  // namespace test_support

namespace test_support {

process_result run_in_child(const std::function<void()>& body) {
    int err_pipe[2];
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(err_pipe[1], 2);
        body();
        ::_exit(0);
    }
    ::close(err_pipe[1]);
    process_result result;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(err_pipe[0], chunk, sizeof chunk);
        if (n > 0) {
            result.standard_error.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(err_pipe[0]);
    note_end(wait_for(child), result);
    return result;
}

}  // namespace test_support

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

namespace test_support {

running_program start_program(const std::string& program, const std::string& directory,
                              const std::vector<std::string>& arguments) {
    running_program p;
    p.error_path = directory + "/.stderr";
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int null_fd = ::open("/dev/null", O_RDWR);
        const int err_fd = ::open(p.error_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(null_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(err_fd, 2);
        // The test's own blocked signals must not leak into the program.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::chdir(directory.c_str()) != 0) ::_exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    p.pid = child;
    return p;
}

void send_signal(const running_program& p, int signal) { ::kill(p.pid, signal); }

process_result finish_program(const running_program& p, int timeout_seconds) {
    process_result result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    for (;;) {
        const pid_t r = ::waitpid(p.pid, &status, WNOHANG);
        if (r == p.pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(p.pid, SIGKILL);
            ::waitpid(p.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    note_end(status, result);
    std::ifstream err(p.error_path, std::ios::binary);
    result.standard_error.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    ::unlink(p.error_path.c_str());
    return result;
}

}  // namespace test_support
