// The AVX2 backend of the face weights: four faces per step. Built with -mavx2 only (no FMA, and
// no contraction), and called only where the processor has AVX2.
#include "cpu/face_weights.h"

#include "cpu/face_weights_kernel.h"

#include <immintrin.h>

namespace {

using Double4 = double __attribute__((vector_size(32)));

Double4 squareRoot(Double4 v) {
    return _mm256_sqrt_pd(v);
}

} // namespace

void weighFacesAvx2(FaceRun& run) {
    face_weights::weighFacesWith<Double4>(run, squareRoot);
}
