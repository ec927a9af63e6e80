// live: what the room hears, as it hears it. The capture device's spectrum rings a disc, each
// bin a spoke from the lowest notes at the top round to the highest, held a moment after each
// peak; the waveform runs as a line through the middle; the bass swells the disc, and the disc
// turns with the music's energy, faster the louder it plays. In silence it is still a picture:
// the disc turns slowly on its own, the spokes rest short and the line lies flat.
//
// Shows: the three live inputs, filled when hotfx runs with any option (tools/view.sh runs it
// with --watch):
//   sound_in           512x2, as a WAV's picture: row 0 the spectrum of the last 2048 samples
//                      (-100 to -30 dB as 0 to 1), row 1 the last 512 samples (0.5 is silence);
//   sound_in_smoothed  512x1, each bin of row 0 held after a peak, falling back by at most
//                      0.5 a second;
//   sound_in_total     512x1 floats, each bin of row 0 added up over the frames since the load.
// Each texel is read at its centre. `hotfx.exe --watch --sound-in list` shows the devices;
// `--sound-in Monitor` (under Linux) hears what the computer itself plays.

sampler2D sound_in;
sampler2D sound_in_smoothed;
sampler2D sound_in_total;
float time;

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

static const float pi = 3.14159265;
// The spokes' bins grow by a constant factor, as pitch does: from bin 1 to bin 400.
static const float spokes = 96, highest_bin = 400;

float held(float bin)
{
    return tex2D(sound_in_smoothed, float2((bin + 0.5) / 512, 0.5)).r;
}

// The byte texel holds 128 * (1 + sample), so 128/255 is silence.
float sample_at(float along)
{
    return tex2D(sound_in, float2((along * 511 + 0.5) / 512, 0.75)).r * (255.0 / 128) - 1;
}

// The bass's bins summed since the load: it only grows, so the turn never jumps back.
float energy()
{
    float sum = 0;
    for (int bin = 1; bin < 9; bin++)
        sum += tex2D(sound_in_total, float2((bin + 0.5) / 512, 0.5)).r;
    return sum / 8;
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // Square units, so that the disc stays round in the 5:4 picture.
    float2 p = float2(uv.x * 1.25, uv.y);
    float radius = length(p);
    float turn = time * 0.15 + energy() * 0.01;
    float angle = frac((atan2(p.x, p.y) / (2 * pi)) + turn);

    float bass = (held(2) + held(4) + held(6)) / 3;
    float inner = 0.28 + 0.08 * bass;

    float3 colour = lerp(float3(0.03, 0.02, 0.08), float3(0.10, 0.04, 0.16), saturate(1 - radius));

    // The spokes: each the held level of its bin, from the disc's edge outwards.
    float spoke = floor(angle * spokes);
    float level = held(pow(highest_bin, spoke / spokes));
    float length_out = 0.03 + 0.5 * level;
    float inside = step(0.2, frac(angle * spokes)) * step(frac(angle * spokes), 0.8);
    float lit = inside * step(inner + 0.02, radius) * step(radius, inner + 0.02 + length_out);
    float3 hue = 0.5 + 0.5 * cos(2 * pi * (angle + float3(0, 0.33, 0.67)));
    colour = lerp(colour, hue * (0.45 + 0.55 * level), lit);

    // The disc, brighter with the bass.
    float disc = 1 - smoothstep(inner - 0.005, inner + 0.005, radius);
    colour = lerp(colour, float3(0.9, 0.45, 0.2) * (0.35 + 0.65 * bass) * (1 - 0.5 * radius / inner), disc);

    // The waveform's line across the disc, two pixels wide.
    float across = uv.x * 0.5 + 0.5;
    float wave_y = 0.15 * sample_at(across);
    float line = (1 - smoothstep(1, 2.5, abs(uv.y - wave_y) / (2.0 / 1024))) * disc;
    colour = lerp(colour, float3(0.95, 0.95, 1), line);

    return float4(colour, 1);
}
