// The terrain: the mud skin projected along the three world axes (so steep faces do not
// stretch it), lit by the sun and a sky/ground ambient that the cell value darkens in enclosed
// places, and faded into the horizon colour with distance.
//
// Vertex: block-local position (-16..16), normal (any length, possibly zero), texture
// coordinate (u = v = the cell value: 1 in the open, 0 enclosed). matWorld scales by 10 and
// places the block; the tower spans about 2,560 world units.
@param texture2D entSkin1 filter=linear address=wrap
@param float4x4 matView
@param float4x4 matProj
@param float4x4 matWorld
@param float4x4 matWorldViewProj
@param float4 vecViewPos

@common
// Where the level puts the sun at the start (azimuth 30, elevation 40 degrees, in Direct3D
// axes with y up) and its colour. The engine animates the sun it draws; the terrain keeps this
// light so that the picture does not pulse.
const vec3 sunDirection = normalize(vec3(0.663, 0.643, 0.383));
const vec3 sunColour = vec3(1.00, 0.94, 0.78);
const vec3 skyAmbient = vec3(0.42, 0.50, 0.62);
const vec3 groundAmbient = vec3(0.20, 0.17, 0.13);
// The level's horizon colour, which distant terrain fades into.
const vec3 fogColour = vec3(0.627, 0.745, 0.863);
// Fog starts this far from the eye and grows with this length (world units): the nearest
// blocks from the start camera (about 2,900 away) stay clear, the far side of the tower
// (about 6,500) is half hidden.
const float fogStart = 1500.0;
const float fogLength = 8000.0;
// World units per repeat of the skin: fine detail near by, a coarser projection far away,
// where the fine one would flicker (the skin is sampled without mip-maps).
const float detailTile = 96.0;
const float broadTile = 768.0;
const float broadFrom = 500.0;
const float broadTo = 3000.0;
@end

@vs terrainVs
layout(location = 0) in vec3 position;
layout(location = 1) in vec3 normal;
layout(location = 2) in vec2 texcoord;
out vec3 worldPosition;
out vec3 worldNormal;
out float openness;
void main() {
    gl_Position = matWorldViewProj * vec4(position, 1.0);
    worldPosition = (matWorld * vec4(position, 1.0)).xyz;
    worldNormal = (matWorld * vec4(normal, 0.0)).xyz;
    openness = clamp(texcoord.x, 0.0, 1.0);
}
@end

@fs terrainFs
in vec3 worldPosition;
in vec3 worldNormal;
in float openness;
layout(location = 0) out vec4 color;

// The skin projected along x, y and z, blended by how squarely the surface faces each axis.
vec3 triplanar(vec3 p, vec3 n, float tile) {
    vec3 weights = pow(abs(n), vec3(4.0));
    weights /= weights.x + weights.y + weights.z;
    vec3 alongX = texture(entSkin1, p.zy / tile).rgb;
    vec3 alongY = texture(entSkin1, p.xz / tile).rgb;
    vec3 alongZ = texture(entSkin1, p.xy / tile).rgb;
    return alongX * weights.x + alongY * weights.y + alongZ * weights.z;
}

void main() {
    vec3 toEye = vecViewPos.xyz - worldPosition;
    float eyeDistance = length(toEye);

    // A vertex without a normal takes its face's, turned towards the eye: only the side
    // facing the eye is drawn.
    vec3 n = worldNormal;
    float length2 = dot(n, n);
    if (length2 > 1e-12) {
        n *= inversesqrt(length2);
    } else {
        n = cross(dFdx(worldPosition), dFdy(worldPosition));
        float faceLength2 = dot(n, n);
        n = faceLength2 > 0.0 ? n * inversesqrt(faceLength2) : vec3(0.0, 1.0, 0.0);
        if (dot(n, toEye) < 0.0) n = -n;
    }

    float broad = smoothstep(broadFrom, broadTo, eyeDistance);
    vec3 albedo = mix(triplanar(worldPosition, n, detailTile),
                      triplanar(worldPosition, n, broadTile), broad);

    float sun = max(dot(n, sunDirection), 0.0);
    vec3 ambient = mix(groundAmbient, skyAmbient, n.y * 0.5 + 0.5);
    vec3 light = sunColour * sun * mix(0.55, 1.0, openness) + ambient * mix(0.3, 1.0, openness);
    vec3 lit = albedo * light * 1.35;

    float fog = 1.0 - exp(-max(eyeDistance - fogStart, 0.0) / fogLength);
    color = vec4(mix(lit, fogColour, fog), 1.0);
}
@end

@technique renderTerrain
// Direct3D's default culling: the marching-cubes faces turn clockwise towards the open side.
@pass p0 vs=terrainVs fs=terrainFs cull=ccw zenable=true zwrite=true blend=none
