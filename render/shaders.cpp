#include <stdio.h>
#include <string.h>
#include <d3dx9.h>

#include "render/render.h"

// The file, then the vertex and pixel entry points.
const char* const shader_source[3] = {"main.fx", "vs_main", "ps_main"};
static const char vertex_profile[] = "vs_3_0";
static const char pixel_profile[] = "ps_3_0";
static const DWORD compile_flags = D3DXSHADER_OPTIMIZATION_LEVEL3 | D3DXSHADER_PREFER_FLOW_CONTROL;

static const struct {
    D3DSAMPLERSTATETYPE state;
    DWORD value;
} sampler_settings[] = {
    {D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MIPFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP},
    {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP},
};

IDirect3DVertexShader9* vertex_shader = NULL;
IDirect3DPixelShader9* pixel_shader = NULL;

void release_shaders()
{
    if (vertex_shader) {
        vertex_shader->Release();
        vertex_shader = NULL;
    }
    if (pixel_shader) {
        pixel_shader->Release();
        pixel_shader = NULL;
    }
    release_inputs();
}

// Compiles one entry point of the file as it is on disk now. Returns the code, or NULL after
// printing why there is none. Compiler warnings that come with code are dropped.
static ID3DXBuffer* compile(const char* entry, const char* profile)
{
    ID3DXBuffer* code = NULL;
    ID3DXBuffer* messages = NULL;
    ID3DXConstantTable* table = NULL;
    HRESULT status = D3DXCompileShaderFromFileA(shader_source[0], NULL, NULL, entry, profile, compile_flags,
                                                &code, &messages, named_inputs ? &table : NULL);
    // The text need not end in a zero byte, so it is measured within the buffer's size.
    const char* text = messages ? (const char*)messages->GetBufferPointer() : NULL;
    int length = text ? (int)strnlen(text, messages->GetBufferSize()) : 0;
    if (status != D3D_OK && length > 0) {
        printf("Error : %.*s\n", length, text);
    } else if (status != D3D_OK) {
        printf("Error : %s: %s (%s) failed to compile, status 0x%08X, no message from the compiler\n",
               shader_source[0], entry, profile, (unsigned)status);
    } else if (!code) {
        printf("Error : %s: %s (%s) compiled to nothing\n", shader_source[0], entry, profile);
    }
    if (messages)
        messages->Release();
    if (status != D3D_OK && code) {
        code->Release();
        code = NULL;
    }
    if (table) {
        if (code)
            read_inputs(entry == shader_source[2], table);
        table->Release();
    }
    return code;
}

// The vertex stage, then the pixel stage: each compiled, then made by the device. Returns
// false after saying why a stage has no shader.
static bool create_vertex_shader(IDirect3DVertexShader9** shader)
{
    ID3DXBuffer* code = compile(shader_source[1], vertex_profile);
    if (!code)
        return false;
    HRESULT status = device->CreateVertexShader((const DWORD*)code->GetBufferPointer(), shader);
    code->Release();
    if (status == D3D_OK)
        return true;
    *shader = NULL;
    printf("Error : %s compiled, but the device refused it as a vertex shader (status 0x%08X)\n", shader_source[1],
           (unsigned)status);
    return false;
}

static bool create_pixel_shader(IDirect3DPixelShader9** shader)
{
    ID3DXBuffer* code = compile(shader_source[2], pixel_profile);
    if (!code)
        return false;
    HRESULT status = device->CreatePixelShader((const DWORD*)code->GetBufferPointer(), shader);
    code->Release();
    if (status == D3D_OK)
        return true;
    *shader = NULL;
    printf("Error : %s compiled, but the device refused it as a pixel shader (status 0x%08X)\n", shader_source[2],
           (unsigned)status);
    return false;
}

// Both shaders are rebuilt from the file every time. Without options a load starts from
// nothing, so a failed stage, and every stage after it, stays without a shader until the next
// load. With one, the last good pair draws on, with its inputs, until a load makes both.
void load_shaders()
{
    if (!named_inputs)
        release_shaders();
    begin_inputs();
    IDirect3DVertexShader9* vertex = NULL;
    IDirect3DPixelShader9* pixel = NULL;
    bool complete = create_vertex_shader(&vertex) && create_pixel_shader(&pixel);
    if (complete || !named_inputs) {
        release_shaders();
        vertex_shader = vertex;
        pixel_shader = pixel;
    } else if (vertex) {
        vertex->Release();
    }
    end_inputs(complete || !named_inputs);
    if (!complete)
        return;
    printf("Load Shader.\n");
    set_sampler_states();
}

// After a complete load, and again after a reset of the device, which forgets them.
void set_sampler_states()
{
    set_sampler_states_of(0);
    set_input_samplers();
}

// Images and the previous frame are read as sampler 0 is.
void set_sampler_states_of(DWORD sampler)
{
    for (const auto& setting : sampler_settings)
        device->SetSamplerState(sampler, setting.state, setting.value);
}
