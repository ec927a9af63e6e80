// The shader both programs draw in the platform benchmarks: light, so that the frame rate
// shows each program's own cost per frame rather than the rasteriser's. bench/platform.py
// swaps the 0.5 for another value before each reload.
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
    return float4(frac(uv.x + time.x), uv.y * 0.5 + 0.5, 0.5, 1);
}
