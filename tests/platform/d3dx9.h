// Stand-in for <d3dx9.h>: the HLSL compiler entry and its result buffer, and the saving of
// a surface to a file.
#pragma once

#include <d3d9.h>

#define D3DXSHADER_PREFER_FLOW_CONTROL (1 << 10)
#define D3DXSHADER_OPTIMIZATION_LEVEL3 (1 << 15)

struct ID3DXBuffer : IUnknown {
    virtual LPVOID GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

struct D3DXMACRO {
    LPCSTR Name;
    LPCSTR Definition;
};
struct ID3DXInclude;
typedef ID3DXInclude* LPD3DXINCLUDE;
struct ID3DXConstantTable;
typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;

HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR file, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                          LPCSTR entry, LPCSTR profile, DWORD flags,
                                          LPD3DXBUFFER* code, LPD3DXBUFFER* messages,
                                          LPD3DXCONSTANTTABLE* constants);

enum D3DXIMAGE_FILEFORMAT { D3DXIFF_BMP = 0, D3DXIFF_PNG = 3 };

HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR file, D3DXIMAGE_FILEFORMAT format, LPDIRECT3DSURFACE9 surface,
                                      const PALETTEENTRY* palette, const RECT* rect);
