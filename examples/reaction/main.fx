// reaction: Gray-Scott reaction-diffusion. Two chemicals fill the plane: A is fed in
// everywhere, B turns A into more B where the two meet, and B decays; both spread, A twice as
// fast. From a scatter of drops of B in the first frame, rings grow, split into cells and pack
// the picture. Hold the left mouse button to pour in more B; Home (with --watch) starts again
// from the first frame.
//
// Shows: a pass that reads itself, the state of a simulation kept in float. The sampler
// chemicals is drawn by ps_chemicals, which reads what it drew the frame before (hotfx keeps
// two textures and swaps them, so nothing is copied) and takes one step of the equations.
// frame == 0 sows the first state, the same every run, so `hotfx.exe --frame 800` draws the
// frames before it and saves the same picture each time. ps_main only colours the state.
//
// Why float: the feed adds 0.0545 * (1 - A) to A in a step, less than half of 1/255 wherever A
// is above 0.964, so a texture of 8 bits a channel would round it away and the state would
// stick short of where the equations take it. Passes are 32-bit float where the device can
// draw into it; hotfx says so in one line where it can't.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

// (width, height, 1/width, 1/height) of the back buffer and of every pass: 1280x1024.
float4 resolution;
float frame;
// xy: the pointer while the left button is held, (0, 0) at the bottom left; z > 0 while held.
float4 mouse;
// r: chemical A, g: chemical B.
sampler2D chemicals;

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

// How fast A and B spread, how fast A is fed in, and how fast B decays (above the feed):
// this pair of feed and decay grows dividing cells; others give spots, stripes or nothing.
static const float2 diffusion = float2(1.0, 0.5);
static const float feed = 0.0545;
static const float decay = 0.062;

// The texture coordinate of the centre of the pixel being drawn, so that each read is one texel
// exactly: a read between texels would mix neighbours and blur the state a little every step.
float2 pixel_centre(float2 uv)
{
    return (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;
}

float hash(float2 p)
{
    return frac(sin(dot(p, float2(12.9898, 78.233))) * 43758.5453);
}

// The first frame's drops of B: in half the cells of a 32-pixel grid, a disc of 3 to 8 pixels
// somewhere inside it.
float sown(float2 pixel)
{
    float2 cell = floor(pixel / 32);
    float2 centre = (cell + 0.25 + 0.5 * float2(hash(cell), hash(cell + 17))) * 32;
    float radius = 3 + 5 * hash(cell + 31);
    return step(hash(cell + 53), 0.5) * step(length(pixel - centre), radius);
}

float4 ps_chemicals(float2 uv : TEXCOORD0) : COLOR0
{
    // This pixel in back-buffer pixels with (0, 0) at the bottom left, as the mouse counts.
    float2 pixel = (uv * 0.5 + 0.5) * resolution.xy;
    if (frame == 0)
        return float4(1, sown(pixel), 0, 1);

    float2 at = pixel_centre(uv);
    float2 dx = float2(resolution.z, 0), dy = float2(0, resolution.w);
    float2 here = tex2D(chemicals, at).rg;
    // The Laplacian: how far the neighbours, sides weighted 0.2 and corners 0.05, lie above the
    // pixel. The sampler wraps, so the edges meet.
    float2 spread =
        0.2 * (tex2D(chemicals, at - dx).rg + tex2D(chemicals, at + dx).rg +
               tex2D(chemicals, at - dy).rg + tex2D(chemicals, at + dy).rg) +
        0.05 * (tex2D(chemicals, at - dx - dy).rg + tex2D(chemicals, at + dx - dy).rg +
                tex2D(chemicals, at - dx + dy).rg + tex2D(chemicals, at + dx + dy).rg) -
        here;
    float a = here.x, b = here.y;
    float reaction = a * b * b;
    a += diffusion.x * spread.x - reaction + feed * (1 - a);
    b += diffusion.y * spread.y + reaction - (decay + feed) * b;

    // Pouring: B under the held button.
    if (mouse.z > 0 && length(pixel - mouse.xy) < 12)
        b = 1;
    return float4(saturate(a), saturate(b), 0, 1);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 at = pixel_centre(uv);
    float b = tex2D(chemicals, at).g;
    // Lit as if B were height: the slope, from the neighbours, tilts the surface to the light.
    float2 slope = float2(tex2D(chemicals, at + float2(resolution.z, 0)).g - tex2D(chemicals, at - float2(resolution.z, 0)).g,
                          tex2D(chemicals, at - float2(0, resolution.w)).g - tex2D(chemicals, at + float2(0, resolution.w)).g);
    float light = saturate(0.75 + dot(slope, float2(-1, 1)) * 6);

    // Deep blue where there is no B, through teal to a pale yellow where there is most.
    float t = saturate(b * 3);
    float3 colour = lerp(float3(0.02, 0.05, 0.15), float3(0.05, 0.55, 0.6), smoothstep(0, 0.5, t));
    colour = lerp(colour, float3(1, 0.95, 0.7), smoothstep(0.5, 1, t));
    return float4(colour * light, 1);
}
