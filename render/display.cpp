#include <stdio.h>

#include "render/render.h"

// The back buffer is 1280x1024 unless --size says otherwise, and the window is stretched over
// it; presenting waits for one retrace, which is what paces the main loop.
D3DPRESENT_PARAMETERS present_params = {
    1280,                     // BackBufferWidth
    1024,                     // BackBufferHeight
    D3DFMT_X8R8G8B8,          // BackBufferFormat
    1,                        // BackBufferCount
    D3DMULTISAMPLE_NONE,      // MultiSampleType
    0,                        // MultiSampleQuality
    D3DSWAPEFFECT_DISCARD,    // SwapEffect
    NULL,                     // hDeviceWindow: the focus window given to CreateDevice
    TRUE,                     // Windowed
    TRUE,                     // EnableAutoDepthStencil
    D3DFMT_D24S8,             // AutoDepthStencilFormat
    0,                        // Flags
    0,                        // FullScreen_RefreshRateInHz
    D3DPRESENT_INTERVAL_ONE,  // PresentationInterval
};

// --size, before the window: the back buffer, and with it the passes, the previous frame and
// resolution, where the device can draw into a texture that large. Returns false after
// saying the limit.
bool use_picture_size(unsigned long width, unsigned long height)
{
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DCAPS9 caps;
    bool known = direct3d && direct3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps) == D3D_OK;
    if (direct3d)
        direct3d->Release();
    if (known && (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight)) {
        fprintf(stderr, "hotfx: --size %lux%lu: this device draws at most %lux%lu\n", width, height,
                (unsigned long)caps.MaxTextureWidth, (unsigned long)caps.MaxTextureHeight);
        return false;
    }
    present_params.BackBufferWidth = width;
    present_params.BackBufferHeight = height;
    return true;
}

// Full screen and back (app/screen.cpp): the size the back buffer takes at the start of the next
// frame, which a Reset gives it, and where in the window's client area the picture is shown:
// all of it, or with --size in full screen the largest rectangle of the picture's aspect, with
// bars beside it.
static UINT wanted_width = 0, wanted_height = 0;
static RECT shown_in;
static bool placed = false;

void resize_picture(UINT width, UINT height)
{
    wanted_width = width;
    wanted_height = height;
    // Before the device, the size is simply what it is created with.
    if (!device)
        take_new_size();
}

// Returns true when the back buffer is to change; present_params then says how. Present shows
// the picture in a part of the client area only from a back buffer that it copies.
bool take_new_size()
{
    D3DSWAPEFFECT swap = placed ? D3DSWAPEFFECT_COPY : D3DSWAPEFFECT_DISCARD;
    if ((!wanted_width || (wanted_width == present_params.BackBufferWidth &&
                           wanted_height == present_params.BackBufferHeight)) &&
        swap == present_params.SwapEffect)
        return false;
    if (wanted_width) {
        present_params.BackBufferWidth = wanted_width;
        present_params.BackBufferHeight = wanted_height;
    }
    present_params.SwapEffect = swap;
    return true;
}

void show_picture_in(const RECT* place)
{
    placed = place != NULL;
    if (place)
        shown_in = *place;
    if (!device)
        take_new_size();
}

// What Present is given as its destination: NULL for the whole client area.
const RECT* picture_place()
{
    return placed ? &shown_in : NULL;
}
