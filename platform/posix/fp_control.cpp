#include "platform/fp_control.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace platform {
namespace {

#if defined(__x86_64__) || defined(__i386__)

constexpr std::uint32_t mxcsr_flags = 0x003f;  // bits 0-5: pending exceptions
constexpr std::uint32_t mxcsr_daz = 0x0040;    // bit 6
constexpr std::uint32_t mxcsr_masks = 0x1f80;  // bits 7-12
constexpr std::uint32_t mxcsr_ftz = 0x8000;    // bit 15
constexpr std::uint16_t x87_masks = 0x003f;

bool x86_has_denormals_are_zero() {
    // FXSAVE stores MXCSR_MASK at byte 28; 0 there means the default mask
    // 0xFFBF, in which bit 6 (denormals-are-zero) is not writable.
    alignas(16) unsigned char area[512] = {};
    asm volatile("fxsave %0" : "=m"(area));
    std::uint32_t mask;
    std::memcpy(&mask, area + 28, sizeof mask);
    return (mask & mxcsr_daz) != 0;
}

void x86_reset_fp_environment() {
    std::uint16_t control;
    asm volatile("fnclex");
    asm volatile("fnstcw %0" : "=m"(control));
    control = static_cast<std::uint16_t>(control | x87_masks);
    asm volatile("fldcw %0" : : "m"(control));
    std::uint32_t csr = _mm_getcsr();
    csr &= ~(mxcsr_flags | mxcsr_daz | mxcsr_ftz);
    csr |= mxcsr_masks;
    _mm_setcsr(csr);
}

fp_modes x86_get_fp_modes() {
    const std::uint32_t csr = _mm_getcsr();
    return {(csr & mxcsr_ftz) != 0, (csr & mxcsr_daz) != 0};
}

void x86_set_fp_modes(fp_modes modes) {
    std::uint32_t csr = _mm_getcsr() & ~(mxcsr_ftz | mxcsr_daz);
    if (modes.flush_to_zero) csr |= mxcsr_ftz;
    if (modes.denormals_are_zero && x86_has_denormals_are_zero()) csr |= mxcsr_daz;
    _mm_setcsr(csr);
}

constexpr fp_ops native_fp_ops = {x86_reset_fp_environment, x86_has_denormals_are_zero,
                                  x86_get_fp_modes, x86_set_fp_modes};

#else

// No vector unit modes to manage on this processor.
void plain_reset_fp_environment() {}
bool plain_has_denormals_are_zero() { return false; }
fp_modes plain_get_fp_modes() { return {}; }
void plain_set_fp_modes(fp_modes) {}

constexpr fp_ops native_fp_ops = {plain_reset_fp_environment, plain_has_denormals_are_zero,
                                  plain_get_fp_modes, plain_set_fp_modes};

#endif

}  // namespace

const fp_ops& get_fp_ops() noexcept { return native_fp_ops; }

}  // namespace platform
