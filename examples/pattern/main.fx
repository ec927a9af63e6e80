// pattern: a still 2D picture made from the texture coordinate alone: a Truchet tiling of
// quarter circles, each tile turned by a hash of its place, on a soft vignette.
//
// Shows: repeating space with floor and frac, a cheap hash, correcting the aspect ratio of
// the 1280x1024 back buffer, and anti-aliased lines whose width comes from fwidth.
// No time is used: the picture is the same in every frame.
//
// Frame rate here: about 28 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
// Xvfb, 2 cores shared with other jobs); docs/writing-shaders.md says how it was taken.

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

// The back buffer is 1280 wide and 1024 high while uv runs from -1 to 1 both ways, so one
// unit of u is 1.25 times as long on screen as one unit of v. Scaling u by this makes the
// units square, and circles round.
static const float aspect = 1280.0 / 1024.0;
static const float tiles_high = 8;

// A number in [0, 1) that looks random from tile to tile and is the same in every frame.
float hash(float2 cell)
{
    return frac(sin(dot(cell, float2(127.1, 311.7))) * 43758.5453);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 p = float2(uv.x * aspect, uv.y) * tiles_high * 0.5;
    float2 cell = floor(p);
    float2 local = frac(p) - 0.5;

    // Mirroring x in half of the tiles turns their pair of arcs by a quarter. step gives 0
    // or 1 as a float, where the ternary operator would not compile on Wine for an int.
    float flip = step(0.5, hash(cell));
    local.x = lerp(local.x, -local.x, flip);

    // Distance to the nearer of two quarter circles centred on opposite corners.
    float arc_a = abs(length(local - 0.5) - 0.5);
    float arc_b = abs(length(local + 0.5) - 0.5);
    float d = min(arc_a, arc_b);

    // fwidth is how much d changes from one pixel to the next: an edge about one pixel of
    // the back buffer soft, whatever the number of tiles.
    float edge = fwidth(d);
    float line_mask = 1 - smoothstep(0.06 - edge, 0.06 + edge, d);

    float3 paper = lerp(float3(0.10, 0.12, 0.20), float3(0.16, 0.10, 0.22), hash(cell + 7));
    float3 ink = lerp(float3(0.95, 0.70, 0.30), float3(0.30, 0.80, 0.90), uv.x * 0.5 + 0.5);
    float3 colour = lerp(paper, ink, line_mask);
    colour *= 1 - 0.35 * dot(uv, uv) * 0.5;
    return float4(colour, 1);
}
