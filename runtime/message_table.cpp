#include "runtime/message_table.hpp"

namespace runtime {
namespace {

constexpr message_entry message_table[] = {
    {9, severity::severe, "permission to access file denied, unit %d, file %s"},
    {10, severity::severe, "cannot overwrite existing file, unit %d, file %s"},
    {24, severity::severe, "end-of-file during read, unit %d, file %s"},
    {28, severity::severe, "CLOSE error, unit %d, file %s"},
    {29, severity::severe, "file not found, unit %d, file %s"},
    {30, severity::severe, "open failure, unit %d, file %s"},
    {38, severity::severe, "error during write, unit %d, file %s"},
    {39, severity::severe, "error during read, unit %d, file %s"},
    {41, severity::severe, "insufficient virtual memory"},
    {42, severity::severe, "no such device, unit %d, file %s"},
    {43, severity::severe, "file name specification error, unit %d, file %s"},
    {47, severity::severe, "write to READONLY file, unit %d, file %s"},
    {59, severity::severe, "list-directed I/O syntax error, unit %d, file %s"},
    {63, severity::severe, "output conversion error, unit %d, file %s"},
    {64, severity::severe, "input conversion error, unit %d, file %s"},
    {66, severity::severe, "output statement overflows record, unit %d, file %s"},
    {98, severity::severe, "cannot allocate memory for the file buffer - out of memory, unit %d, file %s"},
    {157, severity::severe, "Program Exception - access violation"},
    {158, severity::severe, "Program Exception - datatype misalignment"},
    {159, severity::severe, "Program Exception - breakpoint"},
    {160, severity::severe, "Program Exception - single step"},
    {161, severity::severe, "Program Exception - array bounds exceeded"},
    {164, severity::severe, "Program Exception - integer divide by zero"},
    {165, severity::severe, "Program Exception - integer overflow"},
    {166, severity::severe, "Program Exception - privileged instruction"},
    {167, severity::severe, "Program Exception - in page error"},
    {168, severity::severe, "Program Exception - illegal instruction"},
    {169, severity::severe, "Program Exception - noncontinuable exception"},
    {170, severity::severe, "Program Exception - stack overflow"},
    {171, severity::severe, "Program Exception - invalid disposition"},
    {172, severity::severe, "Program Exception - exception code = 0x%lx (%ld)"},
    {179, severity::severe, "Cannot allocate array - overflow on array size calculation."},
    {200, severity::error, "program aborting due to %s event"},
};

constexpr const char* prefixes[] = {
    "iorun: ",
    "iorun: info (%i): ",
    "iorun: warning (%i): ",
    "iorun: error (%i): ",
    "iorun: severe (%i): ",
};

}  // namespace

const message_entry* find_message(std::uint16_t number) noexcept {
    for (const message_entry& entry : message_table) {
        if (entry.number == number) return &entry;
    }
    return nullptr;
}

const char* severity_prefix(severity level) noexcept { return prefixes[static_cast<unsigned>(level)]; }

}  // namespace runtime
