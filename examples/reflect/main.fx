// reflect: a polished marble ball in a sky. The camera circles the ball; each pixel's ray either
// misses it and shows the sky, or meets it and shows the sky mirrored in its surface, through
// veins of darker stone that drift slowly through the ball.
//
// Shows: a cube map and a volume. A samplerCUBE NAME reads NAME.dds as a cube map, looked up
// by a direction; a sampler3D NAME reads NAME.dds as a volume, looked up by a point in 3D.
// sky.dds and marble.dds were made by tools/make-textures.py (sky and noise): a sky over a
// checkered ground in six 64 x 64 faces, and 32 x 32 x 32 value noise that tiles.
//
// The inputs are found by name and filled only when hotfx runs with an option (--watch,
// --frame, --frames), as tools/view.sh does; docs/writing-shaders.md lists them all.

float4 resolution;
float time;
samplerCUBE sky;
sampler3D marble;

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

// Where a ray from origin along direction (of length 1) first meets the ball of radius 1 at
// the centre, or a negative distance where it misses.
float hit_ball(float3 origin, float3 direction)
{
    float b = dot(origin, direction);
    float c = dot(origin, origin) - 1;
    float h = b * b - c;
    return h < 0 ? -1 : -b - sqrt(h);
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    // The camera, 3.2 from the ball and a little above it, looks just over its centre.
    float angle = time * 0.3;
    float3 eye = float3(sin(angle), 0.25, -cos(angle)) * 3.2;
    float3 forward = normalize(float3(0, 0.3, 0) - eye);
    float3 right = normalize(cross(float3(0, 1, 0), forward));
    float3 up = cross(forward, right);
    float2 screen = uv * float2(resolution.x / resolution.y, 1);
    float3 direction = normalize(forward * 1.8 + right * screen.x + up * screen.y);

    float distance = hit_ball(eye, direction);
    if (distance < 0)
        return texCUBE(sky, direction);

    float3 at = eye + direction * distance;
    float3 normal = at;
    // The stone: noise taken at the point, drifting upwards with the time; veins where it
    // crosses a few levels.
    float stone = tex3D(marble, at * 0.45 + float3(0, time * 0.02, 0)).r;
    float vein = 1 - smoothstep(0, 0.12, abs(frac(stone * 3) - 0.5));
    float3 base = lerp(float3(0.9, 0.88, 0.84), float3(0.25, 0.22, 0.28), vein);
    // More of the sky is mirrored at a grazing angle than straight on.
    float fresnel = 0.08 + 0.92 * pow(1 - saturate(dot(-direction, normal)), 5);
    float3 mirrored = texCUBE(sky, reflect(direction, normal)).rgb;
    float3 lit = base * (0.35 + 0.65 * saturate(dot(normal, normalize(float3(0.5, 0.17, 0.85)))));
    return float4(lerp(lit, mirrored, fresnel + 0.25 * (1 - vein)), 1);
}
