// palette: an animated colour palette. A smooth scalar field (sums of sines, a "plasma")
// picks a colour from a cosine palette, and the time slides the field and turns the
// palette, so the colours flow.
//
// Shows: colour from a formula instead of a texture, and animation driven by c0.x.
// A palette is colour(x) = a + b * cos(2 pi (c * x + d)) with one a, b, c, d per channel;
// change the four constants below, save and press F5 to try others.
//
// Frame rate here: about 15 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
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

static const float two_pi = 6.28318531;
static const float3 palette_a = float3(0.5, 0.5, 0.5);
static const float3 palette_b = float3(0.5, 0.5, 0.5);
static const float3 palette_c = float3(1.0, 1.0, 1.0);
static const float3 palette_d = float3(0.00, 0.33, 0.67);

float3 palette(float x)
{
    return palette_a + palette_b * cos(two_pi * (palette_c * x + palette_d));
}

// Four sine waves across the picture, one of them radial; the sum lies in [-4, 4].
float plasma(float2 p, float t)
{
    float v = sin(p.x * 3.0 + t);
    v += sin((p.y * 2.0 + t) * 1.3);
    v += sin((p.x + p.y) * 2.5 + t * 0.7);
    float2 centre = p + 0.8 * float2(sin(t * 0.3), cos(t * 0.4));
    v += sin(length(centre) * 6.0 - t);
    return v;
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float t = time.x;
    float2 p = float2(uv.x * 1.25, uv.y) * 1.5;
    float x = plasma(p, t) * 0.125 + 0.5;
    // The palette turns once every 10 time units, about ten seconds at 60 frames a second.
    return float4(palette(x + t * 0.1), 1);
}
