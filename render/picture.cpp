#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

// The system-memory copy that each saved frame is read back into: made for the first and kept
// for the rest, as the back buffer's size and format never change.
static IDirect3DSurface9* copy = NULL;

// With "-" as the name, frames go to standard output as raw pixels: this is standard output
// as it was when the program started, while what hotfx prints goes to standard error.
static int frame_stream = -1;

void send_frames_to_stdout()
{
    frame_stream = _dup(1);
    _setmode(frame_stream, _O_BINARY);
    _dup2(2, 1);
}

// Returns false when a write fails, as it does once the reader has closed its end of a pipe.
static bool write_all(const char* bytes, unsigned size)
{
    while (size > 0) {
        int written = _write(frame_stream, bytes, size);
        if (written <= 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

// Rows top first, 4 bytes a pixel as the back buffer holds them (blue, green, red, unused);
// rows that lie back to back in memory go in one write.
static bool write_frame(const D3DLOCKED_RECT& locked)
{
    unsigned row = present_params.BackBufferWidth * 4, rows = present_params.BackBufferHeight;
    bool whole = locked.Pitch == (INT)row;
    for (unsigned y = 0; y < rows; y += whole ? rows : 1) {
        if (!write_all((const char*)locked.pBits + y * locked.Pitch, whole ? row * rows : row))
            return false;
    }
    return true;
}

// Frames on their way into a video want speed more than size, and deflating a PNG takes
// longer than drawing the frame: a name that ends in ".bmp" is written as a plain bitmap.
static D3DXIMAGE_FILEFORMAT file_format(const char* path)
{
    size_t length = strlen(path);
    return length >= 4 && lstrcmpiA(path + length - 4, ".bmp") == 0 ? D3DXIFF_BMP : D3DXIFF_PNG;
}

// Saves the back buffer as the scene left it, unscaled, as a PNG file (or a bitmap, above), or
// for "-" writes it to standard output (send_frames_to_stdout): from a copy in system memory.
// Returns 0, 1 when the picture could not be read back from the device, or 4 when the file
// could not be written or standard output took no more.
int save_picture(const char* path)
{
    bool to_stdout = strcmp(path, "-") == 0;
    IDirect3DSurface9* back_buffer = NULL;
    D3DLOCKED_RECT locked;
    HRESULT status = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back_buffer);
    if (status == D3D_OK && !copy)
        status = device->CreateOffscreenPlainSurface(present_params.BackBufferWidth,
                                                     present_params.BackBufferHeight,
                                                     present_params.BackBufferFormat,
                                                     D3DPOOL_SYSTEMMEM, &copy, NULL);
    if (status == D3D_OK)
        status = device->GetRenderTargetData(back_buffer, copy);
    if (status == D3D_OK && to_stdout)
        status = copy->LockRect(&locked, NULL, D3DLOCK_READONLY);

    int result = 0;
    if (status != D3D_OK) {
        printf("Error : can't read the picture back from the device (status 0x%08X)\n", (unsigned)status);
        result = 1;
    } else if (to_stdout) {
        bool written = write_frame(locked);
        copy->UnlockRect();
        if (!written) {
            printf("Error : can't write the frames to standard output\n");
            result = 4;
        }
    } else if ((status = D3DXSaveSurfaceToFileA(path, file_format(path), copy, NULL, NULL)) != D3D_OK) {
        printf("Error : can't write %s (status 0x%08X)\n", path, (unsigned)status);
        result = 4;
    }
    if (back_buffer)
        back_buffer->Release();
    return result;
}

void release_picture_copy()
{
    if (copy) {
        copy->Release();
        copy = NULL;
    }
}
