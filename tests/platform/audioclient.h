// Stand-in for <audioclient.h>: just the names loopback capture uses.
#pragma once

#include <mmdeviceapi.h>

typedef LONGLONG REFERENCE_TIME;
typedef uint32_t UINT32;
#define WAVE_FORMAT_IEEE_FLOAT 3
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE
struct WAVEFORMATEXTENSIBLE { WAVEFORMATEX Format; WORD wValidBitsPerSample; DWORD dwChannelMask; GUID SubFormat; };
enum AUDCLNT_SHAREMODE { AUDCLNT_SHAREMODE_SHARED };
#define AUDCLNT_STREAMFLAGS_LOOPBACK 0x00020000
#define AUDCLNT_BUFFERFLAGS_SILENT 0x2
#define AUDCLNT_E_UNSUPPORTED_FORMAT ((HRESULT)0x88890008L)
struct IAudioClient : IUnknown {
    virtual HRESULT Initialize(AUDCLNT_SHAREMODE, DWORD, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*, const GUID*) = 0;
    virtual HRESULT GetMixFormat(WAVEFORMATEX** format) = 0;
    virtual HRESULT Start() = 0, Stop() = 0;
    virtual HRESULT GetService(const IID& id, void** service) = 0;
};
struct IAudioCaptureClient : IUnknown {
    virtual HRESULT GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* position, UINT64* qpc_position) = 0;
    virtual HRESULT ReleaseBuffer(UINT32 frames) = 0;
    virtual HRESULT GetNextPacketSize(UINT32* frames) = 0;
};
