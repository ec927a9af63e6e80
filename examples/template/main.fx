// template: the smallest complete main.fx, to copy and start from.
//
// hotfx compiles vs_main as vs_3_0 and ps_main as ps_3_0 from this file, and draws one quad
// over the whole 1280x1024 back buffer with them, once per frame. Save, press F5, and the
// file is compiled again; "Load Shader." means both stages compiled, and anything else is
// printed after "Error : ". docs/writing-shaders.md has the whole story.
//
// Frame rate here: about 45 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
// Xvfb, 2 cores shared with other jobs); docs/writing-shaders.md says how it was taken.

// c0.x is the time: 0 in the first frame, 0.016666 more in every frame drawn, so about one
// unit a second at 60 frames a second. Every other constant register is 0.
float4 time : register(c0);

struct vs_out {
    float4 position : POSITION0;
    float2 uv : TEXCOORD0;
};

// The quad's corners come already in clip space (x and y from -1 to 1, z 0), so the vertex
// stage only has to hand them on. uv is the same span: -1 at the left and bottom edges, 1 at
// the right and top ones.
vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}

// One call per pixel. uv arrives interpolated; the result is the pixel's colour (alpha is
// ignored: there is no blending and the back buffer keeps no alpha).
float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // Red grows to the right, green upwards, and blue pulses with the time.
    float3 colour = float3(uv * 0.5 + 0.5, 0.5 + 0.5 * sin(time.x));
    return float4(colour, 1);
}
