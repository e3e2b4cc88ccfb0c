// GIF animations: a reader that gives random access to the composed frames of a GIF87a/89a
// file, and a GIF89a writer of palette-indexed frames (anims and still pictures alike).
// Integers in the file are little-endian.
#pragma once
#include <cstdint>

struct qmFileHandle;

// One frame of the reader's table.
struct qmGifFrameEntry {
  uint32_t delay;     // hundredths of a second
  uint8_t keyFrame;   // 1: covers the screen, no transparent index, disposal not 3
  uint64_t start;     // file position of the frame's first block (its control extension)
};

struct qmGifReader {
  qmFileHandle *file;
  int32_t width, height;       // logical screen
  uint32_t globalPalette[256]; // 0x00RRGGBB
  uint32_t localPalette[256];
  const uint32_t *palette;     // the one in use: global or local
  uint32_t *canvas;            // width x height 0x00RRGGBB words
  uint32_t *saved;             // canvas under a disposal-3 frame, same size
  int32_t background;          // background colour index
  int32_t framesDecoded;       // index of the next frame in sequence; -1 after the scan or an error
  int32_t frameCount;
  uint64_t dataStart;          // first block after the header and global colour table
  qmGifFrameEntry *frames;
  int32_t frameCapacity;
  // The frame decoded last.
  int32_t disposal, left, top, frameWidth, frameHeight, transparent;  // transparent -1: none
};

// Opens a GIF and scans its frames: the reader, or null. With sizeOnly only *width and *height
// are reported (0 when the head is no GIF) and the result is null.
qmGifReader *GifOpen(const char *fileName, int32_t *width, int32_t *height, int32_t *frames, int32_t sizeOnly);
// Frame index (0-based) composed on the screen: a new width x height buffer of 0x00RRGGBB words
// (MemAlloc; the caller frees it), or null.
uint32_t *GifLoadFrame(qmGifReader *reader, int32_t index);
// The frame's delay in milliseconds (0 outside the table).
uint32_t GifGetFrameDelay(const qmGifReader *reader, int32_t index);
void GifCloseReader(qmGifReader *reader);

struct qmGifWriter {
  qmFileHandle *file;
  char *fileName;              // the error argument of a failed write
  int32_t width, height;       // logical screen; every frame has this size
  int32_t framesWritten;
  uint8_t *previous;           // indices of the frame written last (made with the first optimised frame)
  uint8_t *work;               // width x height bytes
  uint32_t previousPalette[256];
  int32_t previousDisposed;    // the frame written last goes back to the background when shown
  int32_t failed;              // a write fell short: later frames and the close report it
};

// Creates fileName and writes the head. 0 and *out, ERR_MEM, or ERR_WRITEFILE (the name is the
// error argument).
uint32_t GifCreate(const char *fileName, int32_t width, int32_t height, qmGifWriter **out);
// One frame of width x height palette indices (the writer's size). palette holds 256 0x00RRGGBB
// words of which colours (1..256) are used; entries colours..255 are set to 0xFFFFFFFF. With
// transparentIndex -1 the entry colours - 1 is flagged transparent all the same, for the pixels
// an optimised frame leaves alone: callers keep it free, and a frame whose pixels use it goes
// out whole without the flag. With optimize only the rectangle that changed since the frame
// before is written, and its unchanged pixels become colours - 1 in the caller's array.
// delayMs is stored in hundredths. 0, ERR_MEM, ERR_WRONGUSAGE (size, colours, transparent
// index or a pixel out of range; nothing is written), ERR_WRITEFILE.
uint32_t GifWriteFrame(qmGifWriter *writer, uint8_t *indices, int32_t width, int32_t height, int32_t delayMs,
                       uint32_t *palette, int32_t colours, int32_t transparentIndex, int32_t optimize);
// Writes the trailer, closes the file and frees the writer. 0, or ERR_WRITEFILE when any write
// of the file failed.
uint32_t GifClose(qmGifWriter *writer);
