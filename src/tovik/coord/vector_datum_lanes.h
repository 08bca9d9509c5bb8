#pragma once

#include "tovik/coord/vector_datum_batch.h"

namespace tovik::vector_datum_lanes {

// The AVX2 and AVX-512 lanes of VectorDatumBatch. Each lives in a translation unit built for its
// instruction set (-mavx2 -mfma, -mavx512f): clang passes vector arguments as the flags of the
// calling unit say, whatever the caller's target attribute, so SLEEF's AVX functions called from
// a baseline unit would get their arguments in the wrong registers. Call these only when the CPU
// has the unit; each converts one block of 4 or 8 points from and to plain arrays.

void convertAvx2Block(VectorDatumBatch::Operation operation, const double* lat, const double* lon, double* outLat,
                      double* outLon);
void convertAvx512Block(VectorDatumBatch::Operation operation, const double* lat, const double* lon, double* outLat,
                        double* outLon);

}  // namespace tovik::vector_datum_lanes
