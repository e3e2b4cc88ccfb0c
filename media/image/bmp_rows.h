// Row converters of the BMP reader: stored blue, green, red bytes to 0x00RRGGBB words.
#pragma once
#include <cstdint>

// n pixels from 3 x n bytes; reads no byte past them.
void Bgr24ToArgbRow(const uint8_t *in, uint32_t *out, int32_t n);
void Bgr24ToArgbRowScalar(const uint8_t *in, uint32_t *out, int32_t n);
#ifdef QM_HAVE_AVX2
void Bgr24ToArgbRowAvx2(const uint8_t *in, uint32_t *out, int32_t n);
#endif
