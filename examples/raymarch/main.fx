// raymarch: a small 3D scene drawn by sphere tracing a distance field. For each pixel a ray
// leaves the camera; the scene's distance function says how far the ray may safely advance,
// and it advances by that until it is close enough to a surface or has gone too far.
//
// Shows: a camera built from uv, a bounded marching loop, normals from the distance field,
// simple lighting and fog. The camera circles the scene with the time.
//
// The work is per pixel and the back buffer has 1,310,720 of them, so the loop is kept short
// (max_steps) for the software renderer: raise it for a GPU.
//
// Frame rate here: about 6 a second, on Wine 10's wined3d over Mesa's llvmpipe (software,
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

static const int max_steps = 40;
static const float far_plane = 20;
static const float surface = 0.002;

float sphere(float3 p, float radius)
{
    return length(p) - radius;
}

float torus(float3 p, float ring, float tube)
{
    return length(float2(length(p.xz) - ring, p.y)) - tube;
}

// The distance from p to the nearest surface: a floor at y = 0, a ball and a tilted ring.
float scene(float3 p)
{
    float ground = p.y;
    float ball = sphere(p - float3(0, 0.8, 0), 0.8);
    float3 q = p - float3(1.6, 0.45, 0.6);
    q = float3(q.x, 0.8 * q.y - 0.6 * q.z, 0.6 * q.y + 0.8 * q.z);
    float ring = torus(q, 0.55, 0.16);
    return min(ground, min(ball, ring));
}

// The gradient of the distance is the surface normal; four samples on a tetrahedron
// estimate it with the fewest evaluations.
float3 normal_at(float3 p)
{
    const float2 e = float2(0.001, -0.001);
    return normalize(e.xyy * scene(p + e.xyy) + e.yyx * scene(p + e.yyx) +
                     e.yxy * scene(p + e.yxy) + e.xxx * scene(p + e.xxx));
}

// How far along the ray the first surface lies, or far_plane when none is met. Wine's
// compiler unrolls this loop into max_steps copies, and a break in it stops the compile
// ("not yet implemented feature: Instruction type HLSL_IR_LOOP"). So every ray takes every
// step; once on a surface its steps are tiny.
float march(float3 origin, float3 direction)
{
    float travelled = 0;
    for (int i = 0; i < max_steps; i++)
        travelled = min(travelled + scene(origin + direction * travelled), far_plane);
    return travelled;
}

float3 sky(float3 direction)
{
    return lerp(float3(0.75, 0.80, 0.90), float3(0.35, 0.50, 0.80), saturate(direction.y * 2));
}

float4 ps_main(float2 uv : TEXCOORD0) : COLOR0
{
    float t = time.x * 0.3;
    float3 eye = float3(4.5 * sin(t), 2.2, 4.5 * cos(t));
    float3 target = float3(0.4, 0.6, 0);
    float3 forward = normalize(target - eye);
    float3 right = normalize(cross(float3(0, 1, 0), forward));
    float3 up = cross(forward, right);
    // u is stretched by the back buffer's 1280/1024 so that the view is not squeezed.
    float3 direction = normalize(forward * 1.8 + right * uv.x * 1.25 + up * uv.y);

    float distance = march(eye, direction);
    float3 colour = sky(direction);
    if (distance < far_plane) {
        float3 p = eye + direction * distance;
        float3 n = normal_at(p);
        float3 light = normalize(float3(0.6, 0.9, 0.3));
        float diffuse = saturate(dot(n, light));
        float ambient = 0.25 + 0.2 * n.y;
        // The floor gets a checker from its own x and z; everything else a warm colour.
        float on_floor = step(p.y, 0.01);
        float checker = frac((floor(p.x) + floor(p.z)) * 0.5) * 2;
        float3 albedo = lerp(float3(0.85, 0.55, 0.35), lerp(float3(0.3, 0.3, 0.35), float3(0.8, 0.8, 0.8), checker), on_floor);
        float3 half_way = normalize(light - direction);
        float specular = pow(saturate(dot(n, half_way)), 40) * (1 - on_floor);
        float3 lit = albedo * (ambient + diffuse) + specular;
        float fog = exp(-0.01 * distance * distance);
        colour = lerp(colour, lit, fog);
    }
    return float4(pow(colour, 0.4545), 1);
}
