// clock: shows the time that hotfx hands the shaders in c0.x, as a clock face and as a
// counter. The time grows by 0.016666 in every frame drawn, so it counts frames, not
// seconds: at 60 frames a second the second hand goes round in a minute, on a slower
// renderer it takes longer. The counter reads c0.x to two decimals (the hundredths change
// almost every frame: 1.67 per frame).
//
// Shows: angles from the time, hands and ticks as distance fields, and digits drawn with
// seven segments using float arithmetic only (Wine's compiler can't do the ternary operator
// on ints, and shader model 3 has no integer operators to pick bits out of a mask).
//
// Frame rate here: about 15 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
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

static const float two_pi = 6.28318531;
static const float2 face_centre = float2(0, 0.22);
static const float face_radius = 0.62;
static const float2 counter_origin = float2(-0.87, -0.92);  // bottom left of the first digit
static const float digit_width = 0.2;
static const float digit_height = 0.3;
static const float digit_pitch = 0.26;
static const float digit_count = 7;                         // five whole, two hundredths

float segment(float2 p, float2 a, float2 b, float thickness)
{
    float2 pa = p - a;
    float2 ba = b - a;
    float h = saturate(dot(pa, ba) / dot(ba, ba));
    return length(pa - ba * h) - thickness;
}

// 1 when n (a whole number held in a float) equals k, else 0.
float is(float n, float k)
{
    return 1 - step(0.5, abs(n - k));
}

// Distance to the lit segments of digit n in a cell whose bottom left corner is the origin.
// A segment that is off is pushed far away instead of being skipped.
float digit(float2 p, float n)
{
    float w = digit_width;
    float h = digit_height;
    float off_a = is(n, 1) + is(n, 4);
    float off_b = is(n, 5) + is(n, 6);
    float off_c = is(n, 2);
    float off_d = is(n, 1) + is(n, 4) + is(n, 7);
    float off_e = is(n, 1) + is(n, 3) + is(n, 4) + is(n, 5) + is(n, 7) + is(n, 9);
    float off_f = is(n, 1) + is(n, 2) + is(n, 3) + is(n, 7);
    float off_g = is(n, 0) + is(n, 1) + is(n, 7);
    float t = 0.018;
    float d = segment(p, float2(0, h), float2(w, h), t) + off_a * 10;
    d = min(d, segment(p, float2(w, h), float2(w, h / 2), t) + off_b * 10);
    d = min(d, segment(p, float2(w, h / 2), float2(w, 0), t) + off_c * 10);
    d = min(d, segment(p, float2(0, 0), float2(w, 0), t) + off_d * 10);
    d = min(d, segment(p, float2(0, 0), float2(0, h / 2), t) + off_e * 10);
    d = min(d, segment(p, float2(0, h / 2), float2(0, h), t) + off_f * 10);
    d = min(d, segment(p, float2(0, h / 2), float2(w, h / 2), t) + off_g * 10);
    return d;
}

// The counter: c0.x in hundredths, one digit per cell, most significant first, and a point
// before the last two.
float counter(float2 p, float t)
{
    float2 q = p - counter_origin;
    float cell = clamp(floor(q.x / digit_pitch), 0, digit_count - 1);
    float place = floor(pow(10, digit_count - 1 - cell) + 0.5);
    // Whole numbers up to 2^24 are exact in a float; the 0.5 keeps the divisions away from
    // whole results, which a rounded reciprocal could take just below.
    float hundredths = floor(t * 100);
    float above = floor((hundredths + 0.5) / place);
    float n = above - 10 * floor((above + 0.5) / 10);
    float d = digit(q - float2(cell * digit_pitch, 0), n);
    float point = length(q - float2((digit_count - 2) * digit_pitch - 0.03, 0)) - 0.022;
    return min(d, point);
}

float2 rotate(float2 p, float angle)
{
    float c = cos(angle);
    float s = sin(angle);
    return float2(c * p.x - s * p.y, s * p.x + c * p.y);
}

// A hand from the centre, pointing up at angle 0 and turning clockwise.
float hand(float2 p, float turns, float length_, float thickness)
{
    float2 q = rotate(p, turns * two_pi);
    return segment(q, float2(0, -0.06), float2(0, length_), thickness);
}

float ticks(float2 p)
{
    float angle = atan2(p.x, p.y) / two_pi * 60;            // in minute marks
    float nearest = floor(angle + 0.5) / 60;
    float2 q = rotate(p, nearest * two_pi);
    float major = is(frac(nearest * 12 + 0.001) * 12, 0);    // every fifth mark
    float inner = face_radius - lerp(0.05, 0.11, major);
    return segment(q, float2(0, inner), float2(0, face_radius - 0.03), lerp(0.006, 0.014, major));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float t = time.x;
    float2 p = float2(uv.x * 1.25, uv.y);                   // square units
    float2 f = p - face_centre;

    float face = length(f) - face_radius;
    float marks = ticks(f);
    float hours = hand(f, t / 43200, 0.32, 0.022);
    float minutes = hand(f, t / 3600, 0.48, 0.016);
    float seconds = hand(f, t / 60, 0.55, 0.006);
    float digits = counter(p, t);

    float px = 2.0 / 1024;                                  // one pixel of the back buffer
    float3 colour = float3(0.12, 0.13, 0.16);
    colour = lerp(colour, float3(0.95, 0.94, 0.90), 1 - smoothstep(-px, px, face));
    colour = lerp(colour, float3(0.15, 0.15, 0.18), 1 - smoothstep(-px, px, min(marks, min(hours, minutes))));
    colour = lerp(colour, float3(0.85, 0.15, 0.10), 1 - smoothstep(-px, px, seconds));
    colour = lerp(colour, float3(0.40, 0.95, 0.55), 1 - smoothstep(-px, px, digits));
    return float4(colour, 1);
}
