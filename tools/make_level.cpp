// Writes the engine level "level.wmb": a clear sky, the sun, and a camera start from which
// the whole Tower is in view.
//   make_level OUTPUT
#include "generated_file.h"
#include "platform/engine/level_format.h"

namespace {

constexpr EngineNumber whole(int value) {
    return value * 1024;
}

// The Tower spans engine x and y from -320 to 2240 and z from 180 to 2740, around
// (960, 960, 1460). The camera stands 4050 units from that centre, looking at it from the
// south-west (pan 45) and from above (tilt -20): as near as the program's field of view (100
// degrees) keeps all of the Tower's corners in view, wide or 4:3.
engine::Level towerLevel() {
    engine::Level level;
    level.sky = engine::LevelSky{
        .zenith = {38, 82, 156},
        .horizon = {160, 190, 220},
        .haze = {205, 210, 215},
        .ground = {72, 64, 52},
    };
    level.sun =
        engine::LevelSun{.colour = {255, 240, 200}, .azimuth = whole(30), .elevation = whole(40)};
    level.camera = engine::LevelCamera{
        .x = whole(-1731),
        .y = whole(-1731),
        .z = whole(2845),
        .pan = whole(45),
        .tilt = whole(-20),
        .roll = 0,
    };
    return level;
}

} // namespace

int main(int argc, char** argv) {
    return tools::writeGeneratedFile(argc, argv, "make_level",
                                     [] { return engine::serializeLevel(towerLevel()); });
}
