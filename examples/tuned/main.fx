// A flower tuned with controls: run it with --watch, and a window "hotfx controls" beside the
// picture has a trackbar for each annotated global, a colour button for the petals and a check
// box for the stem. What you set is saved in main.values, which --frame reads too.
float time;
float4 resolution;

float speed < string UIName = "Speed"; float UIMin = 0; float UIMax = 4; > = 1;
float petals < string UIName = "Petals"; float UIMin = 3; float UIMax = 12; float UIStep = 1; > = 5;
float3 petal_colour < string UIName = "Petal colour"; string UIWidget = "Color"; > = float3(0.9, 0.3, 0.5);
float3 sky < string UIName = "Sky"; string UIWidget = "Color"; > = float3(0.1, 0.15, 0.3);
float2 centre < string UIName = "Centre"; float UIMin = -0.5; float UIMax = 0.5; > = float2(0, 0.1);
bool stem < string UIName = "Stem"; > = true;

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

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 p = float2(uv.x * resolution.x / resolution.y, uv.y) - centre;
    float angle = atan2(p.y, p.x) + time * speed * 0.5;
    float radius = length(p);
    float edge = 0.35 + 0.15 * cos(angle * round(petals));
    float3 colour = sky * (1.2 - 0.5 * uv.y);
    float on_stem = (float)stem * step(p.y, 0) * step(abs(p.x + 0.05 * sin(p.y * 8)), 0.012);
    colour = lerp(colour, float3(0.2, 0.6, 0.25), on_stem);
    float flower = smoothstep(edge + 0.01, edge - 0.01, radius);
    colour = lerp(colour, petal_colour * (0.6 + 0.4 * radius / edge), flower);
    colour = lerp(colour, float3(1, 0.85, 0.3), smoothstep(0.09, 0.07, radius));
    return float4(colour, 1);
}
