// filter: an image filter. picture.jpg, beside this file, is drawn over the whole window; right
// of a divider that sweeps to and fro it is drawn as ink on paper: the edges a Sobel filter
// finds, over the picture's colours reduced to a few tones. Hold the left mouse button to
// move the divider yourself.
//
// Shows: an image as a sampler (hotfx loads NAME.png, .jpg, .jpeg, .bmp, .dds or .tga beside
// main.fx for a sampler called NAME, at any size), reading its neighbouring texels, and mouse.
// picture.jpg is a frame of examples/raymarch that hotfx rendered, made smaller: 640x512.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

float4 resolution;
float time;
float4 mouse;
sampler2D picture;

// One texel of picture.jpg, in texture coordinates. hotfx doesn't tell a shader an image's
// size, so it is written here.
static const float2 texel = 1.0 / float2(640, 512);

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

float brightness(float2 at)
{
    return dot(tex2D(picture, at).rgb, float3(0.299, 0.587, 0.114));
}

// How strongly the brightness changes at a point: the length of the Sobel gradient.
float edge(float2 at)
{
    float2 dx = float2(texel.x, 0), dy = float2(0, texel.y);
    float top_left = brightness(at - dx - dy), top = brightness(at - dy), top_right = brightness(at + dx - dy);
    float left = brightness(at - dx), right = brightness(at + dx);
    float bottom_left = brightness(at - dx + dy), bottom = brightness(at + dy), bottom_right = brightness(at + dx + dy);
    float across = (top_right + 2 * right + bottom_right) - (top_left + 2 * left + bottom_left);
    float down = (bottom_left + 2 * bottom + bottom_right) - (top_left + 2 * top + top_right);
    return length(float2(across, down));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // Images are stored top row first, so the texture's v runs downwards.
    float2 at = float2(uv.x, -uv.y) * 0.5 + 0.5;
    float3 colour = tex2D(picture, at).rgb;

    // The divider in back-buffer pixels: swept by the time until the first click, then where
    // the mouse left it (mouse.z stays non-zero after the button goes up).
    float divider = mouse.z != 0 ? mouse.x : resolution.x * (0.5 + 0.35 * sin(time * 0.7));
    float x = (uv.x * 0.5 + 0.5) * resolution.x;

    if (x > divider) {
        float3 tones = floor(colour * 4 + 0.5) / 4;
        float ink = saturate(edge(at) * 3 - 0.2);
        colour = lerp(lerp(float3(0.97, 0.95, 0.9), tones, 0.35), float3(0.1, 0.1, 0.15), ink);
    }
    colour = lerp(colour, float3(1, 0.8, 0.2), 1 - smoothstep(1, 2.5, abs(x - divider)));
    return float4(colour, 1);
}
