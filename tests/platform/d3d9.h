// Stand-in for <d3d9.h>: the Direct3D 9 names hotfx uses, interfaces as abstract structs
// with only the methods it calls.
#pragma once

#include <windows.h>

#define D3D_SDK_VERSION 32
#define D3DADAPTER_DEFAULT 0
#define D3DCREATE_HARDWARE_VERTEXPROCESSING 0x00000040L
#define D3DPRESENT_INTERVAL_ONE 0x00000001L
// Shader code: an instruction token's opcode and length, a comment's length.
enum D3DSHADER_INSTRUCTION_OPCODE_TYPE { D3DSIO_MOV = 1, D3DSIO_LRP = 18, D3DSIO_M4x4 = 20, D3DSIO_M4x3 = 21,
                                         D3DSIO_M3x4 = 22, D3DSIO_M3x3 = 23, D3DSIO_M3x2 = 24, D3DSIO_DCL = 31,
                                         D3DSIO_POW = 32, D3DSIO_CRS = 33, D3DSIO_NRM = 36, D3DSIO_SINCOS = 37,
                                         D3DSIO_DEFB = 47, D3DSIO_DEFI = 48, D3DSIO_DEF = 81, D3DSIO_COMMENT = 0xFFFE,
                                         D3DSIO_END = 0xFFFF };
#define D3DSI_OPCODE_MASK 0x0000FFFF
#define D3DSI_INSTLENGTH_MASK 0x0F000000
#define D3DSI_INSTLENGTH_SHIFT 24
#define D3DSI_COMMENTSIZE_SHIFT 16
#define D3DSI_COMMENTSIZE_MASK (0x7FFF << D3DSI_COMMENTSIZE_SHIFT)

#define D3D_OK 0L
#define S_OK 0L
#define S_FALSE 1L
#define D3DERR_INVALIDCALL ((HRESULT)0x8876086CL)
#define D3DERR_DEVICELOST ((HRESULT)0x88760868L)
#define D3DERR_DEVICENOTRESET ((HRESULT)0x88760869L)
#define D3DERR_DRIVERINTERNALERROR ((HRESULT)0x88760827L)
#define D3DERR_OUTOFVIDEOMEMORY ((HRESULT)0x8876017CL)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)

#define D3DCLEAR_TARGET 0x00000001L
#define D3DCLEAR_ZBUFFER 0x00000002L
#define D3DCLEAR_STENCIL 0x00000004L

#define D3DLOCK_READONLY 0x00000010L
#define D3DFVF_XYZ 0x002
#define D3DFVF_TEX1 0x100

typedef DWORD D3DCOLOR;

enum D3DFORMAT { D3DFMT_UNKNOWN = 0, D3DFMT_A8R8G8B8 = 21, D3DFMT_L8 = 50, D3DFMT_X8R8G8B8 = 22, D3DFMT_D24S8 = 75,
                 D3DFMT_A16B16G16R16F = 113, D3DFMT_A32B32G32R32F = 116, D3DFMT_R32F = 114 };
enum D3DRESOURCETYPE { D3DRTYPE_TEXTURE = 3 };
enum D3DMULTISAMPLE_TYPE { D3DMULTISAMPLE_NONE = 0 };
enum D3DSWAPEFFECT { D3DSWAPEFFECT_DISCARD = 1, D3DSWAPEFFECT_COPY = 3 };
enum D3DDEVTYPE { D3DDEVTYPE_HAL = 1 };
struct D3DCAPS9 {
    DWORD MaxTextureWidth, MaxTextureHeight;
};
enum D3DPRIMITIVETYPE { D3DPT_TRIANGLESTRIP = 5 };
enum D3DPOOL { D3DPOOL_DEFAULT = 0, D3DPOOL_MANAGED = 1, D3DPOOL_SYSTEMMEM = 2 };
enum { D3DUSAGE_RENDERTARGET = 1, D3DUSAGE_QUERY_FILTER = 0x20000, D3DVERTEXTEXTURESAMPLER0 = 257 };
enum D3DBACKBUFFER_TYPE { D3DBACKBUFFER_TYPE_MONO = 0 };
enum D3DSAMPLERSTATETYPE {
    D3DSAMP_ADDRESSU = 1,
    D3DSAMP_ADDRESSV = 2,
    D3DSAMP_ADDRESSW = 3,
    D3DSAMP_BORDERCOLOR = 4,
    D3DSAMP_MAGFILTER = 5,
    D3DSAMP_MINFILTER = 6,
    D3DSAMP_MIPFILTER = 7,
    D3DSAMP_MIPMAPLODBIAS = 8,
    D3DSAMP_MAXANISOTROPY = 10,
};
enum D3DTEXTUREFILTERTYPE { D3DTEXF_NONE = 0, D3DTEXF_POINT = 1, D3DTEXF_LINEAR = 2, D3DTEXF_ANISOTROPIC = 3 };
enum D3DTEXTUREADDRESS {
    D3DTADDRESS_WRAP = 1, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER, D3DTADDRESS_MIRRORONCE
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

struct D3DRECT {
    LONG x1, y1, x2, y2;
};

struct IUnknown {
    virtual ~IUnknown() {}  // lets the stand-in delete what it made
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct IDirect3DVertexShader9 : IUnknown {};
struct IDirect3DPixelShader9 : IUnknown {};
struct D3DLOCKED_RECT { INT Pitch; void* pBits; };
struct IDirect3DSurface9 : IUnknown {  // never locked here: raw frames are shown on the real stacks
    virtual HRESULT LockRect(D3DLOCKED_RECT*, const RECT*, DWORD) { return D3DERR_INVALIDCALL; }
    virtual HRESULT UnlockRect() { return D3D_OK; }
};
typedef IDirect3DSurface9* LPDIRECT3DSURFACE9;
struct IDirect3DBaseTexture9 : IUnknown {};
struct IDirect3DCubeTexture9 : IDirect3DBaseTexture9 {};
struct IDirect3DVolumeTexture9 : IDirect3DBaseTexture9 {};
struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    virtual HRESULT GetSurfaceLevel(UINT, IDirect3DSurface9**) = 0;
    virtual HRESULT LockRect(UINT, D3DLOCKED_RECT*, const RECT*, DWORD) = 0;
    virtual HRESULT UnlockRect(UINT) = 0;
};

enum D3DQUERYTYPE { D3DQUERYTYPE_EVENT = 8, D3DQUERYTYPE_TIMESTAMP = 10, D3DQUERYTYPE_TIMESTAMPDISJOINT = 11,
                    D3DQUERYTYPE_TIMESTAMPFREQ = 12 };
#define D3DISSUE_END (1 << 0)
#define D3DISSUE_BEGIN (1 << 1)
#define D3DGETDATA_FLUSH (1 << 0)
struct IDirect3DQuery9 : IUnknown {
    virtual HRESULT Issue(DWORD flags) = 0;
    virtual HRESULT GetData(void* data, DWORD size, DWORD flags) = 0;
};

struct IDirect3DDevice9 : IUnknown {
    virtual HRESULT TestCooperativeLevel() = 0;
    virtual HRESULT Reset(D3DPRESENT_PARAMETERS* params) = 0;
    virtual HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                          DWORD stencil) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT Present(const RECT* source, const RECT* dest, HWND override_window,
                            const RGNDATA* dirty) = 0;
    virtual HRESULT CreateVertexShader(const DWORD* code, IDirect3DVertexShader9** shader) = 0;
    virtual HRESULT CreatePixelShader(const DWORD* code, IDirect3DPixelShader9** shader) = 0;
    virtual HRESULT SetVertexShaderConstantF(UINT first, const float* data, UINT count) = 0;
    virtual HRESULT SetPixelShaderConstantF(UINT first, const float* data, UINT count) = 0;
    virtual HRESULT SetVertexShader(IDirect3DVertexShader9* shader) = 0;
    virtual HRESULT SetPixelShader(IDirect3DPixelShader9* shader) = 0;
    virtual HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetFVF(DWORD fvf) = 0;
    virtual HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* data,
                                    UINT stride) = 0;
    virtual HRESULT GetBackBuffer(UINT swap_chain, UINT index, D3DBACKBUFFER_TYPE type,
                                  IDirect3DSurface9** surface) = 0;
    virtual HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DSurface9** surface, HANDLE* shared) = 0;
    virtual HRESULT GetRenderTargetData(IDirect3DSurface9* target, IDirect3DSurface9* copy) = 0;
    virtual HRESULT SetTexture(DWORD, IDirect3DBaseTexture9*) = 0;
    virtual HRESULT CreateTexture(UINT, UINT, UINT, DWORD, D3DFORMAT, D3DPOOL, IDirect3DTexture9**, HANDLE*) = 0;
    virtual HRESULT UpdateSurface(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const POINT*) = 0;
    virtual HRESULT StretchRect(IDirect3DSurface9*, const RECT*, IDirect3DSurface9*, const RECT*, D3DTEXTUREFILTERTYPE) = 0;
    virtual HRESULT ColorFill(IDirect3DSurface9*, const RECT*, D3DCOLOR) = 0;
    virtual HRESULT SetRenderTarget(DWORD, IDirect3DSurface9*) = 0;
    virtual HRESULT CreateQuery(D3DQUERYTYPE, IDirect3DQuery9**) = 0;
};

struct IDirect3D9 : IUnknown {
    virtual HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behaviour,
                                 D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) = 0;
    virtual HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT display, DWORD usage,
                                      D3DRESOURCETYPE resource, D3DFORMAT format) = 0;
    virtual HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) = 0;
};

IDirect3D9* WINAPI Direct3DCreate9(UINT sdk_version);
