// music: a sound made visible. music.wav, beside this file, is read as the sampler music: its
// spectrum rises as bars along the bottom, lowest notes on the left, its waveform runs as a
// line across the top, and a disc behind the line swells and flares with every kick drum.
// Under --watch (tools/view.sh) the sound plays while the time runs, Space pauses both, and
// Home starts again; after its 8 seconds the bars fall and the line lies flat.
//
// Shows: a sampler NAME with NAME.wav beside main.fx, read as a 512x2 picture of the sound at
// the frame's time: row 0 the spectrum (512 bins from 0 up to a quarter of the sample rate,
// -100 to -30 dB as 0 to 1), row 1 the last 512 samples (0.5 is silence); both rows read 0
// once the sound has ended. Each texel is read at its centre.
//
// music.wav is tools/make-sound.sh's beat and tone: `tools/make-sound.sh music.wav 8 22050 1`.
// Put any other 8, 16, 24 or 32-bit PCM or 32-bit float WAV in its place, mono or stereo, at
// any rate. The inputs are found by name and filled only when hotfx runs with an option
// (--watch, --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

sampler2D music;

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

static const float bars = 64;
// The bars' bins grow by a constant factor, as pitch does: from bin 1 to bin 480.
static const float highest_bin = 480;
// Where the waveform's line rests and how far a full-scale sample moves it.
static const float line_at = 0.42, line_swing = 0.3;

// The level of a bin from 0 to 1, between two bins a mix of both. Row 0's centre is v = 0.25.
float level(float bin)
{
    return tex2D(music, float2((bin + 0.5) / 512, 0.25)).r;
}

// The byte texel holds 128 * (1 + sample), so 128/255 is silence.
float sample_at(float along)
{
    return tex2D(music, float2((along * 511 + 0.5) / 512, 0.75)).r * (255.0 / 128) - 1;
}

float3 bar_colour(float height)
{
    return lerp(float3(0.1, 0.75, 0.85), float3(0.95, 0.25, 0.65), saturate(height * 1.4)) +
           float3(0.6, 0.5, 0.1) * saturate(height * 3 - 2);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float across = uv.x * 0.5 + 0.5;

    // The kick drum falls from 160 Hz to 45: at a rate of 22050 a second, a bin is 10.8 Hz wide,
    // so it fills bins 4 to 15. Another rate moves it.
    float kick = smoothstep(0.2, 0.8, (level(4) + level(6) + level(8)) / 3);

    // Past its end the sound reads 0 everywhere, the waveform's -1: a sure sign, as no sound
    // sits at -1 for long.
    float ended = step(sample_at(0.2) + sample_at(0.5) + sample_at(0.8), -2.999);

    float3 colour = lerp(float3(0.02, 0.02, 0.06), float3(0.07, 0.03, 0.13), uv.y * 0.5 + 0.5);

    // The disc: square units, so that it stays round in the 5:4 picture.
    float from_centre = length(float2(uv.x * 1.25, uv.y - line_at));
    float radius = 0.2 + 0.12 * kick;
    float disc = 1 - smoothstep(radius - 0.01, radius + 0.01, from_centre);
    float fill = (0.3 + 0.6 * kick) * (1 - 0.35 * from_centre / radius);
    float halo = exp(-8 * max(from_centre - radius, 0)) * (0.1 + 0.45 * kick);
    colour += float3(0.9, 0.45, 0.15) * lerp(halo, fill, disc);

    // The bars: each shows the loudest of three bins across its part of the spectrum.
    float bar = floor(across * bars);
    float low = pow(highest_bin, bar / bars), high = pow(highest_bin, (bar + 1) / bars);
    float height = max(max(level(low), level((low + high) / 2)), level(high));
    float base = -0.92, top = base + 0.02 + height * 0.95;
    float inside = step(0.12, frac(across * bars)) * step(frac(across * bars), 0.88);
    float lit = inside * step(base, uv.y) * step(uv.y, top);
    colour = lerp(colour, bar_colour((uv.y - base) / 0.95) * (0.55 + 0.45 * height), lit);
    // A floor that the bars stand on, and their faint mirror below it.
    float mirror = inside * step(uv.y, base) * step(base - uv.y, (top - base) * 0.3);
    colour += bar_colour(0) * mirror * 0.2 * (1 - (base - uv.y) / max((top - base) * 0.3, 0.001));

    // The waveform's line, two pixels wide however steep: the vertical distance to it, divided
    // by the slope's stretch, both in pixels (a pixel is 2/1024 of v).
    float wave_y = line_at + line_swing * lerp(sample_at(across), 0, ended);
    float slope = ddx(wave_y) / (2.0 / 1024);
    float distance = abs(uv.y - wave_y) / (2.0 / 1024) / sqrt(1 + slope * slope);
    float line = 1 - smoothstep(1, 2.5, distance);
    colour = lerp(colour, lerp(float3(0.85, 0.95, 1), float3(0.35, 0.35, 0.45), ended), line);

    return float4(colour, 1);
}
