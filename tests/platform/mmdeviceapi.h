// Stand-in for <mmdeviceapi.h>, with the COM calls that reach it: just the names loopback capture
// uses. No stand-in registers a class, so loopback is never there to open.
#pragma once

#include <string.h>
#include <d3d9.h>  // IUnknown

struct GUID { DWORD Data1; WORD Data2, Data3; BYTE Data4[8]; };
typedef GUID IID, CLSID;
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return memcmp(&a, &b, sizeof a) == 0; }
#define SUCCEEDED(status) ((HRESULT)(status) >= 0)
#define FAILED(status) ((HRESULT)(status) < 0)
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_ALL 0x17
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags);
void WINAPI CoUninitialize();
HRESULT WINAPI CoCreateInstance(const CLSID& class_id, IUnknown* outer, DWORD context, const IID& id, LPVOID* made);
void WINAPI CoTaskMemFree(LPVOID memory);
enum EDataFlow { eRender };
enum ERole { eConsole };
struct PROPVARIANT;
struct IMMDevice : IUnknown { virtual HRESULT Activate(const IID&, DWORD, PROPVARIANT*, void**) = 0; };
struct IMMDeviceEnumerator : IUnknown { virtual HRESULT GetDefaultAudioEndpoint(EDataFlow, ERole, IMMDevice**) = 0; };
