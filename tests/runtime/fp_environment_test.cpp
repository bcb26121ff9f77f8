#include "runtime/fp_environment.hpp"

#include "platform/fp_control.hpp"

#include <gtest/gtest.h>

namespace {

TEST(set_up_processor, turns_on_only_the_modes_asked_for) {
    const platform::fp_ops& fp = platform::get_fp_ops();
    runtime::establish_fp_environment();
    EXPECT_FALSE(fp.get_fp_modes().flush_to_zero);
    EXPECT_FALSE(fp.get_fp_modes().denormals_are_zero);

    runtime::set_up_processor(0);
    EXPECT_FALSE(fp.get_fp_modes().flush_to_zero);

    runtime::set_up_processor(runtime::flush_to_zero_bit);
    EXPECT_TRUE(fp.get_fp_modes().flush_to_zero);
    EXPECT_FALSE(fp.get_fp_modes().denormals_are_zero);

    runtime::set_up_processor(runtime::flush_to_zero_bit | runtime::denormals_are_zero_bit);
    EXPECT_TRUE(fp.get_fp_modes().flush_to_zero);
    EXPECT_EQ(fp.get_fp_modes().denormals_are_zero, fp.has_denormals_are_zero());

    // The modes are real: a subnormal product flushes to zero.
    volatile float tiny = 0x1p-66f;  // squared: 2^-132, a subnormal
    volatile float product = tiny * tiny;
    EXPECT_EQ(product, 0.0f);

    runtime::establish_fp_environment();
    EXPECT_FALSE(fp.get_fp_modes().flush_to_zero);
    EXPECT_FALSE(fp.get_fp_modes().denormals_are_zero);
    product = tiny * tiny;
    EXPECT_NE(product, 0.0f);
}

}  // namespace
