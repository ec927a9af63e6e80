#include <stdio.h>
#include <d3dx9.h>

#include "render/render.h"

// Frames on their way into a video want speed more than size, and deflating a PNG takes
// longer than drawing the frame: a name that ends in ".bmp" is written as a plain bitmap.
static D3DXIMAGE_FILEFORMAT file_format(const char* path)
{
    return same_name(extension_of(path), ".bmp") ? D3DXIFF_BMP : D3DXIFF_PNG;
}

// Saves the back buffer as the scene left it, unscaled, as a PNG file (or a bitmap, above): D3DX
// writes it from a copy in system memory. Returns 0, 1 when the picture could not be read back
// from the device, or 4 when the file could not be written.
int save_picture(const char* path)
{
    IDirect3DSurface9* back_buffer = NULL;
    IDirect3DSurface9* copy = NULL;
    HRESULT status = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_buffer);
    if (status == D3D_OK)
        status = device->CreateOffscreenPlainSurface(present_params.BackBufferWidth,
                                                     present_params.BackBufferHeight,
                                                     present_params.BackBufferFormat,
                                                     D3DPOOL_SYSTEMMEM, &copy, NULL);
    if (status == D3D_OK)
        status = device->GetRenderTargetData(back_buffer, copy);

    int result = 0;
    if (status != D3D_OK) {
        printf("Error : can't read the picture back from the device (status 0x%08X)\n", (unsigned)status);
        result = 1;
    } else if ((status = D3DXSaveSurfaceToFileA(path, file_format(path), copy, NULL, NULL)) != D3D_OK) {
        printf("Error : can't write %s (status 0x%08X)\n", path, (unsigned)status);
        result = 4;
    }
    if (copy)
        copy->Release();
    if (back_buffer)
        back_buffer->Release();
    return result;
}
