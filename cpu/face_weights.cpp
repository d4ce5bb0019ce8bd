// The portable backend of the face weights, and the choice of backend.
#include "cpu/face_weights.h"

#include "cpu/face_weights_kernel.h"

#include <cassert>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Double2 = double __attribute__((vector_size(16)));

Double2 squareRoot(Double2 v) {
#if defined(__SSE2__)
    return _mm_sqrt_pd(v);
#else
    return Double2{std::sqrt(v[0]), std::sqrt(v[1])};
#endif
}

using Backend = void (*)(FaceRun&);

Backend chosenBackend() {
    static const Backend backend = avx2Available() ? weighFacesAvx2 : weighFacesPortable;
    return backend;
}

} // namespace

void weighFacesPortable(FaceRun& run) {
    face_weights::weighFacesWith<Double2>(run, squareRoot);
}

#if !defined(GORVANE_FACE_WEIGHTS_AVX2)
bool avx2Available() {
    return false;
}

void weighFacesAvx2(FaceRun& run) {
    weighFacesPortable(run);
}
#else
bool avx2Available() {
    return __builtin_cpu_supports("avx2");
}
#endif

void weighFaces(FaceRun& run) {
    chosenBackend()(run);
}

const char* faceWeightsBackend() {
    return chosenBackend() == weighFacesAvx2 ? "avx2" : "portable";
}

double fastAtan2(double y, double x) {
    assert(y >= 0.0);
    return face_weights::atan2OfNonNegative(y, x);
}
