// The converter's vector resampling (platform/audio.cpp dispatches to it).
#pragma once
#include <cstdint>

#ifdef QM_HAVE_AVX2
// Adds output frames four at a time while the four and the advance after them stay within the
// decoded float pairs dec[0, have): cur is dec[*used - 2] and next dec[*used - 1] on entry
// (*used >= 2) and on return; *phase (below 1 in 32.32) and *used move on with the frames made.
// Every lane takes the scalar loop's operations in its order, so the sums are the scalar ones.
uint32_t ResampleRunAvx2(const float *dec, uint32_t have, uint32_t *used, uint64_t *phase, uint64_t step, float *out,
                         uint32_t frames, float gainLeft, float gainRight);
#endif
