// keys: a keyboard to play on. The letter keys, the space bar and the arrows are drawn as
// keycaps: a key glows while it is held, and each press toggles its cap's colour on or off,
// so the letters you type leave a pattern. Above them, a three-by-three grid lights the cell
// of the direction held with the arrows or W, A, S and D, the middle one at rest. Click into
// hotfx's window (tools/view.sh) and type.
//
// Shows: the sampler keyboard, a 256x3 picture of the keys by their Windows virtual-key code
// (A is 65, the arrows 37 to 40, Space 32): row 0 reads 1 while a key is down, row 1 only in
// the frame it went down, row 2 flips at every press. Each texel is read at its centre. While
// a shader reads keyboard the time keys need Ctrl (Ctrl+Space, Ctrl+arrows, Ctrl+Home), so
// Space and the arrows are the shader's. With --frame and --frames every key reads up, so the
// gallery shows the keyboard at rest.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

float4 resolution;
sampler2D keyboard;

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

static const float held = 0, went_down = 1, toggled = 2;
static const float vk_space = 32, vk_left = 37, vk_up = 38, vk_right = 39, vk_down = 40;

// One of the three rows, 0 or 1, for a virtual-key code.
float key(float vk, float row)
{
    return tex2D(keyboard, float2((vk + 0.5) / 256, (row + 0.5) / 3)).r;
}

// A 3x5 pixel font: 15 bits a glyph, the top-left dot the highest. Shader model 3 can't index
// an array of constants by a computed number, hence the chain.
float glyph(float vk)
{
    return vk == 65 ? 11245.0 : vk == 66 ? 27566.0 : vk == 67 ? 14627.0 : vk == 68 ? 27502.0 :
           vk == 69 ? 31143.0 : vk == 70 ? 31140.0 : vk == 71 ? 14699.0 : vk == 72 ? 23533.0 :
           vk == 73 ? 29847.0 : vk == 74 ? 4714.0 : vk == 75 ? 23469.0 : vk == 76 ? 18727.0 :
           vk == 77 ? 24557.0 : vk == 78 ? 27501.0 : vk == 79 ? 11114.0 : vk == 80 ? 27556.0 :
           vk == 81 ? 11123.0 : vk == 82 ? 27565.0 : vk == 83 ? 14478.0 : vk == 84 ? 29842.0 :
           vk == 85 ? 23407.0 : vk == 86 ? 23402.0 : vk == 87 ? 23549.0 : vk == 88 ? 23213.0 :
           vk == 89 ? 23186.0 : vk == 90 ? 29351.0 : vk == 37 ? 6105.0 : vk == 38 ? 11922.0 :
           vk == 39 ? 19956.0 : vk == 40 ? 9402.0 : 0.0;
}

// The letter keys' codes, row by row: QWERTYUIOP at 0, ASDFGHJKL at 10, ZXCVBNM at 20.
float letter(float at)
{
    return at == 0 ? 81.0 : at == 1 ? 87.0 : at == 2 ? 69.0 : at == 3 ? 82.0 : at == 4 ? 84.0 :
           at == 5 ? 89.0 : at == 6 ? 85.0 : at == 7 ? 73.0 : at == 8 ? 79.0 : at == 9 ? 80.0 :
           at == 10 ? 65.0 : at == 11 ? 83.0 : at == 12 ? 68.0 : at == 13 ? 70.0 : at == 14 ? 71.0 :
           at == 15 ? 72.0 : at == 16 ? 74.0 : at == 17 ? 75.0 : at == 18 ? 76.0 : at == 20 ? 90.0 :
           at == 21 ? 88.0 : at == 22 ? 67.0 : at == 23 ? 86.0 : at == 24 ? 66.0 : at == 25 ? 78.0 :
           at == 26 ? 77.0 : 0.0;
}

// Layout in back-buffer pixels from the top left: 80 pixels a key, each cap 70 across.
static const float pitch = 80, cap = 35;
static const float2 board = float2(80, 500);
static const float arrows_left = 960;

// The key whose cell holds a pixel: (virtual-key code or 0, its cap's centre, its half width).
float4 key_at(float2 p)
{
    float row = floor((p.y - board.y) / pitch);
    float centre_y = board.y + (row + 0.5) * pitch;
    float4 found = float4(0, 0, centre_y, cap);
    if (row >= 0 && row < 3 && p.x < arrows_left - pitch) {
        // Each row of a real keyboard sits a little further right than the one above.
        float offset = row == 0 ? 0.0 : row == 1 ? 20.0 : 60.0;
        float column = floor((p.x - board.x - offset) / pitch);
        float at = lerp(-1, row * 10 + column, step(0, column) * step(column, 9));
        found.xy = float2(letter(at), board.x + offset + (column + 0.5) * pitch);
    } else if (row == 3 && p.x >= 300 && p.x < 780) {
        found = float4(vk_space, 540, centre_y, 235);
    } else if (p.x >= arrows_left && p.x < arrows_left + 3 * pitch) {
        float column = floor((p.x - arrows_left) / pitch);
        float vk = row == 2 ? (column == 1 ? vk_up : 0.0) : row == 3 ? (column == 0 ? vk_left : column == 1 ? vk_down : vk_right) : 0.0;
        found.xy = float2(vk, arrows_left + (column + 0.5) * pitch);
    }
    return found;
}

// Distance to a box with rounded corners, negative inside.
float rounded_box(float2 q, float2 half_size, float radius)
{
    float2 d = abs(q) - half_size + radius;
    return length(max(d, 0)) + min(max(d.x, d.y), 0) - radius;
}

float3 hue(float t)
{
    return 0.5 + 0.5 * cos(6.28318531 * (t + float3(0, 0.33, 0.67)));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 p = float2(uv.x * 0.5 + 0.5, 0.5 - uv.y * 0.5) * resolution.xy;
    float3 colour = lerp(float3(0.09, 0.1, 0.14), float3(0.03, 0.03, 0.05), p.y / resolution.y);

    // The direction grid: the cell (1 + right - left, 1 + down - up) lights.
    float right = max(key(vk_right, held), key(68, held)), left = max(key(vk_left, held), key(65, held));
    float down = max(key(vk_down, held), key(83, held)), up = max(key(vk_up, held), key(87, held));
    float2 lit_cell = float2(1 + right - left, 1 + down - up);
    float2 grid = (p - float2(640, 300)) / 90 + 1.5;
    float2 cell = floor(grid);
    if (all(cell >= 0) && all(cell < 3)) {
        float edge = rounded_box((frac(grid) - 0.5) * 90, 38, 10);
        float on = step(dot(abs(cell - lit_cell), 1), 0.5);
        float3 face = lerp(float3(0.13, 0.15, 0.2), float3(0.3, 0.9, 1), on);
        colour = lerp(colour, face, 1 - smoothstep(-1, 1, edge));
        colour += float3(0.3, 0.9, 1) * on * 0.25 * exp(-0.15 * max(edge, 0)) * step(0, edge);
    }

    // The keycaps.
    float4 found = key_at(p);
    float vk = found.x;
    if (vk > 0) {
        float down_now = key(vk, held), on = key(vk, toggled), flash = key(vk, went_down);
        // A held cap sinks a little.
        float2 q = p - found.yz - float2(0, 3 * down_now);
        float edge = rounded_box(q, float2(found.w, cap), 10);
        float3 tint = hue(found.y / 1280 * 0.8 + found.z / 1024 * 0.5);
        float3 face = float3(0.17, 0.18, 0.23) - 0.0015 * q.y;
        face = lerp(face, tint * 0.9, on);
        face = lerp(face, float3(1, 0.86, 0.45), 0.85 * down_now) + 0.4 * flash;
        float3 ink = lerp(lerp(float3(0.8, 0.82, 0.88), tint, 0.35), float3(0.08, 0.08, 0.1), max(on, down_now));
        // The glyph's dots, 8 pixels each, 3 across and 5 down around the cap's centre.
        float2 dot_at = floor((q + float2(12, 20)) / 8);
        float2 in_dot = frac((q + float2(12, 20)) / 8);
        float bit = 14 - (dot_at.y * 3 + dot_at.x);
        float inside = step(0, min(dot_at.x, dot_at.y)) * step(dot_at.x, 2) * step(dot_at.y, 4);
        float shown = inside * fmod(floor(glyph(vk) / exp2(bit)), 2) * step(in_dot.x, 0.85) * step(in_dot.y, 0.85);
        face = lerp(face, ink, shown);
        colour = lerp(colour, face, 1 - smoothstep(-1, 1, edge));
        // A rim of light round a held cap, in the cell's margin.
        colour += float3(1, 0.8, 0.35) * down_now * 0.5 * exp(-0.4 * max(edge, 0)) * step(0, edge);
    }
    return float4(colour, 1);
}
