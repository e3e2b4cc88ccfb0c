// A source's picture decoded at the file's size, handed to the engine at the size it asks for.
#pragma once
#include <cstdint>

#include "graphics/scale.h"
#include "media/videocore/videosource.h"

// Copies or scales width x height pixels of A, R, G, B bytes (rows bytesPerRow apart) into the
// engine's frame (smoothly when it asks so). 0, or -1 without memory for the scale tables,
// which stay in scale between calls.
int PutSourcePicture(const uint8_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, qmDecodedFrame *frame,
                     qmScaleBuffers *scale);

// Scales width x height pixels of A, R, G, B bytes into toWidth x toHeight (rows toBytesPerRow
// apart). 0, or -1 without memory for the scale tables.
int ScaleVideoPicture(const uint8_t *pixels, int32_t width, int32_t height, int32_t bytesPerRow, uint8_t *to,
                      int32_t toWidth, int32_t toHeight, int32_t toBytesPerRow, int32_t smooth, qmScaleBuffers *scale);
