// Any bytes must either parse into a consistent volume or give a reason, never read outside
// the input or crash.
#include "platform/d3d9/dds_volume.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const d3dx::DdsVolumeParse parsed = d3dx::parseDdsVolume({data, size});
    if (!parsed.volume) {
        if (parsed.error.empty()) std::abort();
        return 0;
    }
    const d3dx::VolumeImage& image = parsed.volume->image;
    if (image.rgba.size() != 4ull * image.width * image.height * image.depth) std::abort();
    // Resizing reads every texel through the image's own indexing.
    const d3dx::VolumeImage resized = d3dx::boxFilterVolume(image, 3, 2, 5);
    if (resized.rgba.size() != 4u * 3 * 2 * 5) std::abort();
    return 0;
}
