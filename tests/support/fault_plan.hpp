#pragma once

#include "platform/console_ops.hpp"
#include "platform/file_ops.hpp"
#include "platform/memory_ops.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace test_support {

enum class file_call { get_full_path, open_file, get_file_kind, read_file, write_file, set_end_of_file, close_file };

struct file_call_record {
    file_call call;
    std::size_t bytes;  // asked to read or write; 0 for the other calls
};

enum class allocation_call { allocate, allocate_zeroed, reallocate };

// Every storage request, refused or not, in order. file_calls_before places it
// among the file calls: that many of them came before it.
struct allocation_record {
    allocation_call call;
    std::size_t bytes;
    std::size_t file_calls_before;
};

// Stands between the program and the native backend: records every file call
// and makes chosen calls fail. The nth call (from 1) of one operation can be
// refused with a chosen result; every other call reaches the backend. Only one
// plan is in use at a time; it is installed for its own lifetime.
class fault_plan {
public:
    fault_plan();
    ~fault_plan();
    fault_plan(const fault_plan&) = delete;
    fault_plan& operator=(const fault_plan&) = delete;

    void fail(file_call call, int nth, platform::os_result result);
    // Runs action when the nth call of one operation is made, before that
    // call fails or reaches the backend: to make something happen at an
    // exact point of a run, such as a console event.
    void on_call(file_call call, int nth, std::function<void()> action);
    // The nth allocation (allocate, allocate_zeroed or reallocate, counted
    // together) returns nullptr; may be called for several n.
    void fail_allocation(int nth);
    // A get_full_path that always reports the path as too long.
    void refuse_full_path() { refuse_full_path_ = true; }
    // Captures what would go to the standard error stream, and answers
    // describe_os_error with "text for N" or, for codes in no_text, nothing.
    void capture_error_stream(std::vector<std::uint32_t> no_text = {});
    // Answers describe_os_error as capture_error_stream does, but lets the
    // writes reach the real standard error stream: for a forked child whose
    // stream the parent reads.
    void replace_system_texts(std::vector<std::uint32_t> no_text = {});

    [[nodiscard]] const std::vector<file_call_record>& calls() const noexcept { return calls_; }
    [[nodiscard]] int count(file_call call) const noexcept;
    [[nodiscard]] const std::vector<allocation_record>& allocations() const noexcept { return allocations_log_; }
    [[nodiscard]] const std::string& error_stream() const noexcept { return error_stream_; }

    // For the trampolines.
    struct planned_failure {
        file_call call;
        int nth;
        platform::os_result result;
    };
    bool take_failure(file_call call, platform::os_result* result);
    bool take_allocation_failure();
    void record_allocation(allocation_call call, std::size_t bytes) {
        allocations_log_.push_back({call, bytes, calls_.size()});
    }
    void record(file_call call, std::size_t bytes);
    bool refuses_full_path() const noexcept { return refuse_full_path_; }
    void append_error_stream(const char* text, std::size_t n) { error_stream_.append(text, n); }
    bool has_text_for(std::uint32_t code) const;

private:
    struct planned_action {
        file_call call;
        int nth;
        std::function<void()> action;
    };
    std::vector<planned_failure> failures_;
    std::vector<planned_action> actions_;
    std::vector<int> recorded_;
    std::vector<file_call_record> calls_;
    std::vector<allocation_record> allocations_log_;
    std::vector<int> seen_;
    std::vector<int> allocation_failures_;
    int allocations_ = 0;
    bool refuse_full_path_ = false;
    bool captures_errors_ = false;
    std::vector<std::uint32_t> no_text_;
    std::string error_stream_;
};

}  // namespace test_support
