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
enum D3DXINCLUDE_TYPE { D3DXINC_LOCAL, D3DXINC_SYSTEM };
// As its C binding lays it out, which is how a compiler written in C, as Wine's is, calls it.
struct ID3DXInclude;
struct ID3DXIncludeVtbl {
    HRESULT(WINAPI* Open)(ID3DXInclude*, D3DXINCLUDE_TYPE type, LPCSTR name, LPCVOID parent, LPCVOID* data, UINT* bytes);
    HRESULT(WINAPI* Close)(ID3DXInclude*, LPCVOID data);
};
struct ID3DXInclude {
    const ID3DXIncludeVtbl* lpVtbl;
};
typedef ID3DXInclude* LPD3DXINCLUDE;
typedef const char* D3DXHANDLE;
enum D3DXREGISTER_SET { D3DXRS_BOOL, D3DXRS_INT4, D3DXRS_FLOAT4, D3DXRS_SAMPLER };
enum D3DXPARAMETER_CLASS { D3DXPC_SCALAR, D3DXPC_VECTOR, D3DXPC_MATRIX_ROWS, D3DXPC_MATRIX_COLUMNS, D3DXPC_OBJECT };
enum D3DXPARAMETER_TYPE { D3DXPT_BOOL = 1, D3DXPT_INT = 2, D3DXPT_FLOAT = 3, D3DXPT_SAMPLER = 10, D3DXPT_SAMPLER1D,
                          D3DXPT_SAMPLER2D, D3DXPT_SAMPLER3D, D3DXPT_SAMPLERCUBE };
struct D3DXCONSTANTTABLE_DESC { LPCSTR Creator; DWORD Version; UINT Constants; };
struct D3DXCONSTANT_DESC {  // Name, RegisterSet, RegisterIndex, RegisterCount, Class, Type, Rows, Columns, Elements
    LPCSTR Name; D3DXREGISTER_SET RegisterSet; UINT RegisterIndex, RegisterCount; D3DXPARAMETER_CLASS Class;
    D3DXPARAMETER_TYPE Type; UINT Rows, Columns, Elements, StructMembers = 0, Bytes = 0; const void* DefaultValue = 0;
};
struct ID3DXConstantTable : ID3DXBuffer {  // of its methods, those hotfx calls
    virtual HRESULT GetDesc(D3DXCONSTANTTABLE_DESC*) = 0;
    virtual HRESULT GetConstantDesc(D3DXHANDLE, D3DXCONSTANT_DESC*, UINT*) = 0;
    virtual D3DXHANDLE GetConstant(D3DXHANDLE, UINT) = 0;
};
typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;
#define D3DX_DEFAULT ((UINT)-1)
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)
struct D3DXIMAGE_INFO;
HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID data, UINT size, UINT width, UINT height,
                                                  UINT levels, DWORD, D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR,
                                                  D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DTexture9** texture);
HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT size, UINT edge, UINT levels, DWORD,
    D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*, IDirect3DCubeTexture9** cube);
HRESULT WINAPI D3DXCreateVolumeTextureFromFileInMemoryEx(IDirect3DDevice9*, LPCVOID, UINT size, UINT width, UINT height,
    UINT depth, UINT levels, DWORD, D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
    IDirect3DVolumeTexture9** volume);
HRESULT WINAPI D3DXCreateTextureFromFileExA(IDirect3DDevice9*, LPCSTR file, UINT width, UINT height, UINT levels, DWORD,
                                            D3DFORMAT, D3DPOOL pool, DWORD, DWORD, D3DCOLOR, D3DXIMAGE_INFO*, PALETTEENTRY*,
                                            IDirect3DTexture9** texture);

HRESULT WINAPI D3DXCompileShaderFromFileA(LPCSTR file, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                          LPCSTR entry, LPCSTR profile, DWORD flags,
                                          LPD3DXBUFFER* code, LPD3DXBUFFER* messages,
                                          LPD3DXCONSTANTTABLE* constants);

HRESULT WINAPI D3DXPreprocessShaderFromFileA(LPCSTR file, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                            LPD3DXBUFFER* text, LPD3DXBUFFER* messages);

enum D3DXIMAGE_FILEFORMAT { D3DXIFF_BMP = 0, D3DXIFF_PNG = 3 };

HRESULT WINAPI D3DXSaveSurfaceToFileA(LPCSTR file, D3DXIMAGE_FILEFORMAT format, LPDIRECT3DSURFACE9 surface,
                                      const PALETTEENTRY* palette, const RECT* rect);
