// The terrain: the mud skin projected along the three world axes (so steep faces do not
// stretch it), lit by the sun and by sky, ground and bounce light that the cell value darkens
// in enclosed places, and faded into the horizon colour with distance.
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
// The sun where the engine's animation starts it (azimuth 0, elevation 40 degrees; Direct3D
// axes, y up) and its colour. The engine moves the sun it draws; the terrain keeps this light,
// so that the picture does not pulse while the user flies.
const vec3 sunDirection = vec3(0.766, 0.643, 0.0);
const vec3 sunColour = vec3(1.00, 0.94, 0.78);
// Light from the sky above and from the ground below, and a weak bounce from the side away
// from the sun, so that faces in shadow keep their shape.
const vec3 skyAmbient = vec3(0.50, 0.58, 0.70);
const vec3 groundAmbient = vec3(0.26, 0.22, 0.17);
const vec3 bounceColour = vec3(0.30, 0.26, 0.20);
// The level's horizon colour, which distant terrain fades into.
const vec3 fogColour = vec3(0.627, 0.745, 0.863);
// Fog grows with the square of the distance beyond fogStart (world units): from the start
// camera the near side of the tower (about 2,900 away) is clear, its middle (4,700) lightly
// veiled and its far side (6,500) half hidden.
const float fogStart = 2000.0;
const float fogLength = 5000.0;
// World units per repeat of the skin: fine detail near by, and a coarse projection that breaks
// up the repeats and takes over far away, where the fine one would flicker (the skin is sampled
// without mip-maps).
const float detailTile = 96.0;
const float broadTile = 1024.0;
const float broadNear = 0.3;
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

    // From broadTo on the fine projection has no weight: its three samples are skipped there.
    float broad = mix(broadNear, 1.0, smoothstep(broadFrom, broadTo, eyeDistance));
    vec3 albedo = triplanar(worldPosition, n, broadTile);
    if (broad < 1.0) albedo = mix(triplanar(worldPosition, n, detailTile), albedo, broad);

    float sun = max(dot(n, sunDirection), 0.0);
    vec3 awayFromSun = normalize(vec3(-sunDirection.x, 0.0, -sunDirection.z));
    float bounce = max(dot(n, awayFromSun), 0.0);
    vec3 ambient = mix(groundAmbient, skyAmbient, n.y * 0.5 + 0.5) + bounceColour * bounce;
    vec3 light = sunColour * sun * mix(0.6, 1.0, openness) + ambient * mix(0.35, 1.0, openness);
    vec3 lit = albedo * light * 1.35;

    float beyond = max(eyeDistance - fogStart, 0.0) / fogLength;
    float fog = 1.0 - exp(-beyond * beyond);
    color = vec4(mix(lit, fogColour, fog), 1.0);
}
@end

@technique renderTerrain
// Direct3D's default culling: the marching-cubes faces turn clockwise towards the open side.
@pass p0 vs=terrainVs fs=terrainFs cull=ccw zenable=true zwrite=true blend=none
