// IFF ILBM building blocks, shared by the picture reader and the IFF ANIM and CDXL readers,
// and the 24-plane ILBM writer. IFF integers are big-endian.
#pragma once
#include <cstdint>

struct qmFileHandle;

// Plane row length of an ILBM: whole 16-bit words.
inline int32_t IlbmRowBytes(int32_t width) { return ((width + 15) / 16) * 2; }

// Searches byte by byte from the current position (a second pass from byte 12 when the first
// reached the end); "BODY" ends a pass unless it is the name sought. 1 with the file at the
// chunk's size field, else 0.
int FindIFFChunk(qmFileHandle *file, const char *name);

// Bodies into a plane buffer: plane-major for 1 to 8 planes (plane p is height x rowBytes
// bytes after plane p - 1), row-major for 24 planes (each row's 24 plane rows in order). Mask
// rows (masking 1) are skipped. 1 when every row was filled, 0 when the body ended early or a
// depth other than 1..8 and 24 was given.
int ReadPlanarRows(qmFileHandle *file, uint8_t *planes, uint32_t unused, int32_t width, int32_t height,
                   int32_t depth, int32_t masking);
int UnpackByteRun1(qmFileHandle *file, uint8_t *planes, uint32_t bodySize, int32_t width, int32_t height,
                   int32_t depth, int32_t masking);

// 1 to 8 planes: ORs plane bits into the index bytes of out (which must be zero; one byte per
// pixel, outBytesPerRow apart). 24 planes: 0x00RRGGBB words into out (outBytesPerRow apart).
// Other depths: nothing.
void PlanarToChunky(const uint8_t *planes, int32_t width, int32_t height, int32_t depth, int32_t rowBytes,
                    void *out, int32_t outBytesPerRow);

// Index bytes to 0x00RRGGBB words through a 256-entry palette. Hold-and-modify pictures of
// 6 or 8 planes give DecodeHam their plane count.
void DecodeHam(const uint8_t *indices, uint32_t *out, const uint32_t *palette, int32_t width, int32_t height,
               int32_t planes);
void ChunkyToArgb(const uint8_t *indices, uint32_t *out, const uint32_t *palette, int32_t width, int32_t height);

// Writes 0xAARRGGBB pixels as a 24-plane ByteRun1 ILBM (alpha is not written).
// 0, ERR_WRITEFILE (the name is the error argument), ERR_MEM.
uint32_t SaveILBM(const char *name, const uint32_t *pixels, int32_t width, int32_t height);
