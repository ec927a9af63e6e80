// shapes: 2D signed distance fields. Each shape is a function giving, for a point, its
// distance to the shape's outline: negative inside, positive outside. Distances combine
// (min is a union, a smooth minimum melts two shapes together) and turn into pixels with a
// one-pixel smoothstep, which gives clean, anti-aliased edges at any size.
//
// Shows: circle, rounded box and segment distances, a smooth union, outlines and a soft
// shadow, all from one distance. The circle and the box move with the time.
//
// Frame rate here: about 28 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
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

float circle(float2 p, float radius)
{
    return length(p) - radius;
}

// half_size is the box's half width and height before rounding the corners by radius.
float rounded_box(float2 p, float2 half_size, float radius)
{
    float2 q = abs(p) - half_size + radius;
    return length(max(q, 0)) + min(max(q.x, q.y), 0) - radius;
}

float segment(float2 p, float2 a, float2 b, float thickness)
{
    float2 pa = p - a;
    float2 ba = b - a;
    float h = saturate(dot(pa, ba) / dot(ba, ba));
    return length(pa - ba * h) - thickness;
}

// Like min, but blends the two within distance k of each other, so the shapes flow together.
float smooth_union(float a, float b, float k)
{
    float h = saturate(0.5 + 0.5 * (b - a) / k);
    return lerp(b, a, h) - k * h * (1 - h);
}

float2 rotate(float2 p, float angle)
{
    float c = cos(angle);
    float s = sin(angle);
    return float2(c * p.x - s * p.y, s * p.x + c * p.y);
}

float scene(float2 p, float t)
{
    float blob = circle(p - float2(0.55 * sin(t * 0.8), 0.15), 0.28);
    float box = rounded_box(rotate(p + float2(0.35, 0.1), t * 0.5), float2(0.35, 0.22), 0.06);
    float bar = segment(p, float2(-0.9, -0.6), float2(0.9, -0.45), 0.04);
    return min(smooth_union(blob, box, 0.15), bar);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float t = time.x;
    // Square units: u spans 1280 pixels of the back buffer, v only 1024.
    float2 p = float2(uv.x * 1.25, uv.y);
    float d = scene(p, t);
    float shadow_d = scene(p + float2(-0.03, 0.04), t);

    // One pixel of the back buffer is 2/1024 units high; fwidth measures it for us.
    float pixel = fwidth(d);
    float fill = 1 - smoothstep(-pixel, pixel, d);
    float outline = 1 - smoothstep(-pixel, pixel, abs(d) - 0.008);
    float shadow = 1 - smoothstep(-0.05, 0.05, shadow_d);

    // Faint contour lines of the field outside the shapes show the distances themselves.
    float contours = 0.5 + 0.5 * cos(d * 80);
    float3 background = lerp(float3(0.93, 0.91, 0.86), float3(0.86, 0.84, 0.80), contours * step(0, d));
    float3 colour = background * (1 - 0.25 * shadow);
    colour = lerp(colour, float3(0.20, 0.55, 0.85), fill);
    colour = lerp(colour, float3(0.08, 0.10, 0.18), outline);
    return float4(colour, 1);
}
