// paint: a paint program in one shader. Hold the left mouse button in the window and drag to
// paint; the colour runs through the rainbow as the time goes on. Home (with --watch) gives
// a clean sheet. Until the first click a brush paints by itself, so that there is something
// to see.
//
// Shows: previous_frame, the picture of the frame before, as the canvas that every frame
// copies and adds to (each pixel reads its own texel, exactly); mouse, the pointer in
// back-buffer pixels while the button is held; frame, to lay down the paper in the first frame.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

// (width, height, 1/width, 1/height) of the back buffer: 1280x1024.
float4 resolution;
float time;
float frame;
// xy: the pointer while the left button is held, (0, 0) at the bottom left; z > 0 while it is
// held; all 0 until the first click.
float4 mouse;
sampler2D previous_frame;

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

static const float3 paper = float3(0.96, 0.94, 0.88);
static const float brush_radius = 14;

float3 rainbow(float t)
{
    return 0.5 + 0.5 * cos(6.28318531 * (t + float3(0, 0.33, 0.67)));
}

// Distance from p to the segment from a to b.
float segment_distance(float2 p, float2 a, float2 b)
{
    float2 ab = b - a;
    float along = saturate(dot(p - a, ab) / max(dot(ab, ab), 1e-6));
    return length(p - a - ab * along);
}

// Where the brush that paints by itself is at a time: a slow figure of loops.
float2 self_brush(float t)
{
    return resolution.xy * (0.5 + float2(0.38 * sin(t * 1.7), 0.34 * sin(t * 2.6 + 0.5)));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // This pixel in back-buffer pixels with (0, 0) at the bottom left, as the mouse counts.
    float2 pixel = (uv * 0.5 + 0.5) * resolution.xy;
    // Its own texel of the previous frame: the texture's v runs downwards, the coordinate
    // points at the pixel's top-left corner, and a texel is read exactly at its centre; rounding
    // to the pixel first keeps a read from taking a little of a neighbour, which would blur the
    // canvas frame by frame.
    float2 own_texel = (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;
    float3 canvas = frame < 0.5 ? paper : tex2D(previous_frame, own_texel).rgb;

    // Distance to the stroke of this frame: the pointer while the button is held, or the
    // brush's way since the frame before while nobody has clicked yet.
    float distance = 1e6;
    if (mouse.z > 0)
        distance = length(pixel - mouse.xy);
    else if (all(mouse == 0))
        distance = segment_distance(pixel, self_brush(time - 0.016666), self_brush(time));

    float cover = 1 - smoothstep(brush_radius - 1.5, brush_radius, distance);
    return float4(lerp(canvas, rainbow(time * 0.1), cover), 1);
}
