// The program's own picture reader: the first 64 bytes of a file choose IFF ILBM, PNG or BMP
// (our readers) or JPEG, TIFF and still GIF (the platform's decoder). Every reader opens the
// file itself by name (a plain path or a ":::chunk" name) and treats it as hostile.
//
// Pixels out: a new array (MemAlloc; the caller frees it with MemFree or FreeImagePixels) of
// width x height words 0xAARRGGBB, rows top to bottom without gaps; the alpha byte is 0 for
// pictures without an alpha channel. Without pixels out a call is a probe: size (and the alpha
// flag) only, nothing allocated.
#pragma once
#include <cstdint>

// 0, ERR_READFILE (the file cannot be opened), ERR_LOADPICTURE2 (unknown format or a broken
// file), ERR_MEM. The file name is the error argument. paletteIn (256 entries, the used ones
// ended by 0xFFFFFFFF), pen and uniqueTransparency concern ILBM only, as do paletteOut (a new
// 256-entry copy, or 0) and transparentOut (a colour, or 0xFFFFFFFF). Nothing is written to
// any output unless the result is 0; paletteOut, transparentOut and alphaOut may be null.
uint32_t LoadImageFile(const char *name, uint32_t *paletteIn, int32_t pen, int32_t uniqueTransparency,
                       uint32_t **pixelsOut, uint32_t **paletteOut, uint32_t *transparentOut, int32_t *widthOut,
                       int32_t *heightOut, int32_t *alphaOut);

struct qmFormatPlugins;
struct qmPluginImage;

// LoadImageWithPlugins's outputs beyond LoadImageFile's (each may be null).
struct qmPluginLoadExtras {
  int32_t *forcedAlpha;      // 1: the picture's alpha channel is loaded whether asked for or not
  qmPluginImage **vector;    // a vector picture's source (one use, the caller's), else null
};

// LoadImageFile after the image-loader plug-ins (plugins may be null): the first plug-in that
// takes the file gives the picture (no palette, no transparent colour); the others go to the
// program's own reader.
uint32_t LoadImageWithPlugins(const qmFormatPlugins *plugins, const char *name, uint32_t *paletteIn, int32_t pen,
                              int32_t uniqueTransparency, uint32_t **pixelsOut, uint32_t **paletteOut,
                              uint32_t *transparentOut, int32_t *widthOut, int32_t *heightOut, int32_t *alphaOut,
                              const qmPluginLoadExtras &extras = {});

// IFF ILBM: 1 to 8 planes with a colour map, extra-half-brite, HAM6, HAM8 and 24 planes.
// 0, ERR_READFILE, ERR_LOADPICTURE2, ERR_MEM.
uint32_t LoadILBM(const char *name, uint32_t *paletteIn, int32_t pen, int32_t uniqueTransparency,
                  uint32_t *transparentOut, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut,
                  uint32_t **paletteOut);
// PNG through libpng; the result goes to *errorOut: 0, ERR_READFILE, ERR_MEM, ERR_LOADPICTURE2.
// *alphaOut is 1 when the picture has an alpha channel (or a tRNS chunk).
void LoadPNG(const char *name, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut, int32_t *alphaOut,
             uint32_t *errorOut);
// Windows BMP, bottom-up rows of 1, 4, 8 (plain or RLE8) and 24 bits.
// 0, ERR_READFILE, ERR_MEM, ERR_LOADPICTURE2.
uint32_t LoadBMP(const char *name, int32_t *widthOut, int32_t *heightOut, uint32_t **pixelsOut);
