#pragma once

#include "platform/fp_control.hpp"

namespace test_support {

// Puts the vector unit's flushing modes in place for the object's lifetime.
class scoped_fp_modes {
public:
    explicit scoped_fp_modes(platform::fp_modes modes) : saved_(platform::get_fp_ops().get_fp_modes()) {
        platform::get_fp_ops().set_fp_modes(modes);
    }
    ~scoped_fp_modes() { platform::get_fp_ops().set_fp_modes(saved_); }
    scoped_fp_modes(const scoped_fp_modes&) = delete;
    scoped_fp_modes& operator=(const scoped_fp_modes&) = delete;

private:
    platform::fp_modes saved_;
};

}  // namespace test_support
