// Counts every heap allocation in the process, the C library's own included, by standing in
// front of malloc; built without sanitizers, against the quiet stand-in.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include "quiet_program.h"

extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_calloc(size_t count, size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void* __libc_memalign(size_t alignment, size_t size);

static long allocations = 0;

extern "C" void* malloc(size_t size)
{
    ++allocations;
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size)
{
    ++allocations;
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size)
{
    ++allocations;
    return __libc_realloc(block, size);
}
extern "C" void* aligned_alloc(size_t alignment, size_t size)
{
    ++allocations;
    return __libc_memalign(alignment, size);
}

namespace {

struct allocation : quiet_program_test {
    // Allocations made by a thousand frames after the first.
    long per_thousand_frames()
    {
        render_frame();
        long before = allocations;
        for (int i = 0; i < 1000; ++i)
            render_frame();
        return allocations - before;
    }
};

TEST_F(allocation, none_in_frames_that_draw_with_both_shaders)
{
    load_shaders();
    ASSERT_NE(drawn_pixel_shader(), nullptr);
    EXPECT_EQ(per_thousand_frames(), 0);
}

TEST_F(allocation, none_in_frames_that_report_missing_shaders)
{
    quiet.compile_fails = true;
    load_shaders();
    ASSERT_EQ(drawn_vertex_shader(), nullptr);
    EXPECT_EQ(per_thousand_frames(), 0);
}

TEST_F(allocation, none_of_the_programs_own_in_a_reload_every_frame)
{
    quiet.f5 = (SHORT)0x8000;
    EXPECT_EQ(per_thousand_frames(), 0);
    EXPECT_NE(drawn_vertex_shader(), nullptr);
}

TEST_F(allocation, none_in_frames_that_wait_for_a_lost_device)
{
    load_shaders();
    quiet.device_lost = true;
    quiet.reset_fails = true;
    EXPECT_EQ(per_thousand_frames(), 0);
    EXPECT_TRUE(device_lost);
    EXPECT_EQ(drawn_vertex_shader(), nullptr);
}

// Four bundles of /level 0.5 and /level/1 0.25 before each frame, applied to a global that
// ps_main reads. The stand-in's clock stands still, so no save of main.values falls due.
TEST_F(allocation, none_in_frames_that_apply_osc_messages)
{
    static const char bundle[] = "#bundle\0\0\0\0\0\0\0\0\1\0\0\0\20/level\0\0,f\0\0\77\0\0\0"
                                 "\0\0\0\24/level/1\0\0\0\0,f\0\0\76\200\0\0";
    quiet.datagram = bundle;
    quiet.datagram_size = sizeof bundle - 1;
    quiet.datagrams_per_frame = 4;
    const BYTE loopback[4] = {127, 0, 0, 1};
    use_options(true, false);
    ASSERT_TRUE(listen_osc(loopback, 9000));
    load_shaders();
    EXPECT_EQ(per_thousand_frames(), 0);
    EXPECT_EQ(drawn_set()->globals[0].value[0], 0.25f);
    stop_osc();
    use_options(false, false);
}

TEST_F(allocation, none_in_frames_that_hear_a_tone_in_sound_in_and_its_companions)
{
    quiet.listens = true;
    use_named_inputs(true);
    load_shaders();
    ASSERT_TRUE(drawn_set()->listens);
    EXPECT_EQ(per_thousand_frames(), 0);
    stop_listening();
    use_named_inputs(false);
}

TEST_F(allocation, the_counter_sees_an_allocation)
{
    long before = allocations;
    void* block = malloc(16);
    free(block);
    EXPECT_EQ(allocations - before, 1);
}

}  // namespace
