// blur: a Gaussian blur in two passes. picture.jpg is blurred across into the pass blur_x,
// blur_x is blurred down into the pass blur_y, and the picture shows the image as it is left
// of a divider and blurred right of it. The blur's width breathes with the time; hold the left
// mouse button to move the divider.
//
// Shows: passes. A sampler NAME for which this file has a function ps_NAME is drawn by that
// function into a float texture of the back buffer's size in every frame, before ps_main, and
// reads as that picture. blur_y reads blur_x, so hotfx draws blur_x first: "Passes in order:
// blur_x blur_y" after "Load Shader.". A blur of radius r in one pass reads (2r + 1)^2 texels
// a pixel; across and then down it reads 2 (2r + 1).
// picture.jpg is examples/filter's, a frame of examples/raymarch made smaller: 640x512.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

// (width, height, 1/width, 1/height) of the back buffer and of every pass: 1280x1024.
float4 resolution;
float time;
float4 mouse;
sampler2D picture;
sampler2D blur_x;
sampler2D blur_y;

struct vs_out {
    float4 position : POSITION0;
    float2 uv : TEXCOORD0;
};

// One vertex stage for all: each pass is drawn with vs_main and its own pixel stage.
vs_out vs_main(float3 position : POSITION0, float2 uv : TEXCOORD0)
{
    vs_out o;
    o.position = float4(position, 1);
    o.uv = uv;
    return o;
}

// Taps on each side of the centre; Wine's compiler unrolls the fixed loops.
static const float taps = 12;

// The width of the bell in back-buffer pixels: from 9 in the first frame down to 1 and back.
float sigma()
{
    return 5 + 4 * cos(time * 0.8);
}

// The texture coordinate of the centre of the pixel being drawn. It points at the pixel's
// top-left corner otherwise, and each pass would move the picture by half a pixel.
float2 pixel_centre(float2 uv)
{
    return (floor((float2(uv.x, -uv.y) * 0.5 + 0.5) * resolution.xy + 0.5) + 0.5) * resolution.zw;
}

// The weighted mean of 2 taps + 1 reads along one direction, the weights a bell of width
// sigma. The taps are sigma / 4 apart, so they span three widths each way; linear filtering
// fills in between them. The weight of tap i is exp(-i^2 / 32), made by multiplying, because
// Wine's compiler got exp() of the counter wrong in a loop this long (the sum came out 0).
float3 blur(sampler2D source, float2 at, float2 direction)
{
    float2 stride = direction * resolution.zw * sigma() / 4;
    float3 sum = tex2D(source, at).rgb;
    float weights = 1;
    // Tap i's weight is tap i - 1's times exp(-(2i - 1) / 32).
    float weight = 1, ratio = 0.96923323;  // exp(-1/32)
    for (float i = 1; i <= taps; i++) {
        weight *= ratio;
        ratio *= 0.93941306;  // exp(-1/32)^2
        sum += weight * (tex2D(source, at + stride * i).rgb + tex2D(source, at - stride * i).rgb);
        weights += 2 * weight;
    }
    return sum / weights;
}

// The image has its own size, 640x512; read by texture coordinate it fills the picture all the
// same. Images and passes wrap at the edges, so the blur there mixes in the far side.
float4 ps_blur_x(float2 uv : TEXCOORD0) : COLOR0
{
    return float4(blur(picture, pixel_centre(uv), float2(1, 0)), 1);
}

float4 ps_blur_y(float2 uv : TEXCOORD0) : COLOR0
{
    return float4(blur(blur_x, pixel_centre(uv), float2(0, 1)), 1);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 at = pixel_centre(uv);
    // The divider in back-buffer pixels: in the middle until the first click, then where the
    // mouse left it (mouse.z stays non-zero after the button goes up).
    float divider = mouse.z != 0 ? mouse.x : resolution.x * 0.5;
    float x = (uv.x * 0.5 + 0.5) * resolution.x;

    float3 colour = x < divider ? tex2D(picture, at).rgb : tex2D(blur_y, at).rgb;
    colour = lerp(colour, float3(1, 0.8, 0.2), 1 - smoothstep(1, 2.5, abs(x - divider)));
    return float4(colour, 1);
}
