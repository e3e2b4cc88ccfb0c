// Palette quantizer.
#include "graphics/quantize.h"

void QuantizePalette(qmQuantizeRequest *request) { request->result = 0; }

int32_t QuantizeImage(const uint32_t *, int32_t, int32_t, int32_t, int32_t, uint32_t, int32_t, int32_t, uint8_t *,
                      uint32_t *, int32_t *) {
  return 0;
}
