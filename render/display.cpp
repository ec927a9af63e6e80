#include "render/render.h"

// The back buffer is fixed at 1280x1024 and the window is stretched over it; presenting
// waits for one retrace, which is what paces the main loop.
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
