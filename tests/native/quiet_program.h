// For tests on the quiet stand-in: the program with a device, the way start-up leaves it,
// and every reference it took given back at the end.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include "quiet.h"
#include "render/render.h"
#include "state.h"

struct quiet_program_test : ::testing::Test {
    void SetUp() override
    {
        quiet = quiet_state{};
        device_lost = false;
        driver_failing = false;
        device_failed = false;
        frame_number = 0;
        frame_time = 0;
        restart_chain();
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, NULL, 0, &present_params, &device);
        // stdout's buffer is allocated by the first line printed, whichever test prints it.
        printf("%s", "");
        fflush(stdout);
    }
    void TearDown() override
    {
        release_shaders();
        device->Release();
        d3d->Release();
        device = NULL;
        d3d = NULL;
        EXPECT_EQ(quiet.live_references, 0);
    }
};
