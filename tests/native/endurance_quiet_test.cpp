// Long runs against the quiet stand-in, built without sanitizers: a million frames and a
// thousand reloads leave the heap holding exactly the bytes it held before, and every object
// handed out holding the references it held before. ctest also runs these under valgrind's
// leak check.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#include "quiet_program.h"

namespace {

// Bytes handed out by malloc and not yet freed, from the heap and from mapped chunks. The old
// mallinfo, because valgrind answers it for its own heap and leaves mallinfo2 to glibc, whose
// heap it doesn't use; the sums here stay far below where its int fields would overflow.
size_t heap_in_use()
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    struct mallinfo info = mallinfo();
#pragma GCC diagnostic pop
    return size_t(info.uordblks) + size_t(info.hblkhd);
}

// Runs the procedure with standard output thrown away: a reload prints a line each time.
template <class Procedure>
void silenced(Procedure procedure)
{
    fflush(stdout);
    int kept = dup(STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
    procedure();
    fflush(stdout);
    dup2(kept, STDOUT_FILENO);
    close(kept);
}

struct endurance : quiet_program_test {
    // Runs frames after the first three and returns {references, heap bytes} before and after.
    // A set keeps the tables a load grew for it, and the second load is the first into the other
    // set; valgrind's measure of the heap then settles with the third.
    void frames(long count)
    {
        silenced([&] {
            for (int i = 0; i < 3; ++i)
                render_frame();
            references_before = quiet.live_references;
            heap_before = heap_in_use();
            for (long i = 0; i < count; ++i)
                render_frame();
            references_after = quiet.live_references;
            heap_after = heap_in_use();
        });
    }
    long references_before = -1, references_after = -2;
    size_t heap_before = 1, heap_after = 2;
};

TEST_F(endurance, a_million_frames_with_both_shaders)
{
    silenced(load_shaders);
    frames(1000000);
    EXPECT_EQ(references_before, 4);  // the Direct3D object, the device, two shaders
    EXPECT_EQ(references_after, references_before);
    EXPECT_EQ(heap_after, heap_before);
}

TEST_F(endurance, a_million_frames_that_report_both_shaders_missing)
{
    quiet.compile_fails = true;
    silenced(load_shaders);
    frames(1000000);
    EXPECT_EQ(references_before, 2);
    EXPECT_EQ(references_after, references_before);
    EXPECT_EQ(heap_after, heap_before);
}

TEST_F(endurance, a_thousand_reloads_with_f5_held)
{
    quiet.f5 = (SHORT)0x8000;
    frames(1000);
    EXPECT_EQ(references_before, 4);
    EXPECT_EQ(references_after, references_before);
    EXPECT_EQ(heap_after, heap_before);
}

TEST_F(endurance, a_thousand_failing_reloads_with_f5_held)
{
    quiet.f5 = (SHORT)0x8000;
    quiet.compile_fails = true;
    frames(1000);
    EXPECT_EQ(references_before, 2);
    EXPECT_EQ(references_after, references_before);
    EXPECT_EQ(heap_after, heap_before);
}

TEST_F(endurance, a_thousand_reloads_with_every_input_and_an_image)
{
    quiet.f5 = (SHORT)0x8000;
    quiet.inputs = true;
    use_named_inputs(true);
    frames(1000);
    use_named_inputs(false);
    release_device_resources(false);
    EXPECT_EQ(references_before, 11);  // and an image per stage, the previous frame's two textures and their surfaces, the back buffer
    EXPECT_EQ(references_after, references_before);
    EXPECT_EQ(heap_after, heap_before);
}

// The measure itself: a block kept in each of a thousand frames is seen. (A freed block
// waiting in malloc's per-thread cache still counts as in use, so one block alone is not.)
TEST_F(endurance, the_heap_measure_sees_a_block_kept_per_frame)
{
    static void* kept[1000];
    size_t before = heap_in_use();
    for (void*& block : kept)
        block = malloc(64);
    size_t during = heap_in_use();
    for (void* block : kept)
        free(block);
    EXPECT_GE(during - before, 900u * 64u);
}

}  // namespace
