#include "platform/fp_control.hpp"

#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

constexpr std::uint32_t mxcsr_flags = 0x003f;  // bits 0-5: pending exceptions
constexpr std::uint32_t mxcsr_daz = 0x0040;    // bit 6
constexpr std::uint32_t mxcsr_masks = 0x1f80;  // bits 7-12
constexpr std::uint32_t mxcsr_ftz = 0x8000;    // bit 15

constexpr std::uint16_t x87_masks = 0x003f;      // bits 0-5
constexpr std::uint16_t x87_precision = 0x0300;  // bits 8-9
// The C library's start-up on this platform leaves the x87 unit at 64-bit
// significands; binary64 steps that happen to run there must round as binary64.
constexpr std::uint16_t x87_precision_53_bits = 0x0200;

// FXSAVE stores MXCSR_MASK at byte 28; 0 there means the default mask 0xFFBF,
// in which bit 6 (denormals-are-zero) is not writable.
bool win32_has_denormals_are_zero() {
    // The save area must be 16-byte aligned; a thread's stack on this platform
    // may be aligned to 4 only, so the area is aligned by hand.
    unsigned char storage[512 + 16] = {};
    const auto at = reinterpret_cast<std::uintptr_t>(storage);
    unsigned char* area = storage + ((16 - (at & 15)) & 15);
    asm volatile("fxsave (%0)" : : "r"(area) : "memory");
    std::uint32_t mask;
    std::memcpy(&mask, area + 28, sizeof mask);
    return (mask & mxcsr_daz) != 0;
}

void win32_reset_fp_environment() {
    std::uint16_t control;
    asm volatile("fnclex");
    asm volatile("fnstcw %0" : "=m"(control));
    control = static_cast<std::uint16_t>((control | x87_masks) & ~x87_precision);
    control = static_cast<std::uint16_t>(control | x87_precision_53_bits);
    asm volatile("fldcw %0" : : "m"(control));
    std::uint32_t csr = _mm_getcsr();
    csr &= ~(mxcsr_flags | mxcsr_daz | mxcsr_ftz);
    csr |= mxcsr_masks;
    _mm_setcsr(csr);
}

fp_modes win32_get_fp_modes() {
    const std::uint32_t csr = _mm_getcsr();
    return {(csr & mxcsr_ftz) != 0, (csr & mxcsr_daz) != 0};
}

void win32_set_fp_modes(fp_modes modes) {
    std::uint32_t csr = _mm_getcsr() & ~(mxcsr_ftz | mxcsr_daz);
    if (modes.flush_to_zero) csr |= mxcsr_ftz;
    if (modes.denormals_are_zero && win32_has_denormals_are_zero()) csr |= mxcsr_daz;
    _mm_setcsr(csr);
}

constexpr fp_ops win32_fp_ops = {win32_reset_fp_environment, win32_has_denormals_are_zero, win32_get_fp_modes,
                                 win32_set_fp_modes};

}  // namespace

const fp_ops& get_fp_ops() noexcept { return win32_fp_ops; }

}  // namespace platform
