// A slowly turning interference of rings. c0.x is the frame-counted time.
//
// Frame rate here: about 24 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
// Xvfb, 2 cores shared with other jobs); docs/writing-shaders.md says how it was taken.
float4 time : register(c0);

struct vs_out {
    float4 position : POSITION0;
    float2 uv : TEXCOORD0;
};

vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float t = time.x;
    float2 a = float2(cos(t * 0.7), sin(t * 0.9)) * 0.6;
    float2 b = float2(sin(t * 0.5), cos(t * 0.3)) * 0.6;
    float waves = sin(length(uv - a) * 24 - t * 3) + sin(length(uv - b) * 20 - t * 2);
    float3 colour = 0.5 + 0.5 * cos(waves * 1.5 + t + float3(0, 2.1, 4.2));
    return float4(colour * (1 - 0.3 * dot(uv, uv)), 1);
}
