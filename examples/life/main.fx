// life: Conway's Game of Life on a 320x256 grid of 4x4-pixel cells, the edges joined round
// like a torus. Every frame is one generation, read from the frame before: a live cell with
// two or three live neighbours lives on, a dead cell with exactly three comes alive. Cells
// that died leave a fading trail. Hold the left mouse button to sow live cells; Home (with
// --watch) starts again from the first generation.
//
// Shows: previous_frame as the state of a simulation, read at exact texel centres (a read
// between texels would mix neighbouring cells, and the state would blur away); frame, to sow
// the first generation; mouse.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

// (width, height, 1/width, 1/height) of the back buffer: 1280x1024.
float4 resolution;
float frame;
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

static const float cell_size = 4;

// The state of the cell that holds texture pixel (column, row from the top), read at the
// centre of one of its texels: 1 if alive. The sampler wraps, so the edges meet.
float alive_at(float2 cell)
{
    float2 texel = cell * cell_size + 1;
    return step(0.5, tex2D(previous_frame, (texel + 0.5) * resolution.zw).g);
}

// A fixed scatter of live cells for the first generation, about one in five.
float seed(float2 cell)
{
    return step(0.8, frac(sin(dot(cell, float2(12.9898, 78.233))) * 43758.5453));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // The pixel's column and row from the top: the coordinate points at the pixel's top-left
    // corner, so rounding gives the pixel itself.
    float2 pixel = floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5);
    float2 cell = floor(pixel / cell_size);

    if (frame < 0.5)
        return float4(0, seed(cell), 0, 1);

    float4 before = tex2D(previous_frame, (cell * cell_size + 1.5) * resolution.zw);
    float neighbours =
        alive_at(cell + float2(-1, -1)) + alive_at(cell + float2(0, -1)) + alive_at(cell + float2(1, -1)) +
        alive_at(cell + float2(-1, 0))                                   + alive_at(cell + float2(1, 0)) +
        alive_at(cell + float2(-1, 1))  + alive_at(cell + float2(0, 1))  + alive_at(cell + float2(1, 1));
    float was_alive = step(0.5, before.g);
    // Two or three neighbours keep a cell alive; exactly three bring a dead one to life.
    float alive = step(neighbours, 3.5) * (was_alive * step(1.5, neighbours) + (1 - was_alive) * step(2.5, neighbours));

    // Sowing: a disc of live cells under the held button (the mouse counts rows upwards).
    float2 pointer = float2(mouse.x, resolution.y - mouse.y);
    if (mouse.z > 0 && length(pixel - pointer) < 24)
        alive = max(alive, seed(cell + frame));

    // Live cells are green; a cell that dies keeps a red glow that fades over a second.
    float glow = max(before.r * 0.94, was_alive * (1 - alive));
    return float4(glow * (1 - alive), alive, 0.25 * alive + 0.2 * glow, 1);
}
