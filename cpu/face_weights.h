// The angle weights of the smooth normals, a run of faces at a time: each face's normal
// cross(p1 - p0, p2 - p0), its length (twice the face's area), and each corner's angle divided by
// that length, so that weight * normal is the corner's share of its vertex's angle-weighted
// normal. Faces of no area come out with a twice-area that is 0 or not finite.
//
// One interface, two backends, picked once by what the processor has: two faces per step in the
// compiler's portable vectors (SSE2 on x86-64), and four per step in AVX2. Both give the same bits:
// every lane does the same IEEE operations in the same order, and neither fuses a multiply into
// an add.
#pragma once

struct FaceRun {
    static constexpr int length = 64; // a multiple of both backends' widths
    double corners[9][length];        // x, y, z of corner 0, then those of corners 1 and 2
    double normals[3][length];        // x, y, z of cross(p1 - p0, p2 - p0)
    double twiceAreas[length];        // the normal's length
    double weights[3][length];        // each corner's angle over the twice-area
    int count = 0;                    // faces in the run, at most `length`
};

// Fills the normals, twice-areas and weights of the run's `count` faces from their corners. It
// may also fill those of the faces after them, up to a multiple of four, from whatever corners
// they hold, so `run` must be initialised throughout.
void weighFaces(FaceRun& run);

// The backend that weighFaces uses: "avx2" or "portable".
const char* faceWeightsBackend();

// The backends themselves, for tests that compare them. weighFacesAvx2 may be called only when
// avx2Available().
void weighFacesPortable(FaceRun& run);
bool avx2Available();
void weighFacesAvx2(FaceRun& run);

// atan2(y, x) for y >= 0, within 1e-7 (a polynomial fit, no library call, no branch): the corner
// angles of the weighting without an arccosine each.
double fastAtan2(double y, double x);
