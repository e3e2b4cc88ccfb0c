// Text objects: formatted text rendered once into a picture and kept with the request it was
// made from, so that it can be rendered again at another size or angle. VM-free: the library
// keeps the records in its object list.
#pragma once
#include <cstdint>

#include "runtime/registry.h"
#include "text/textlayout.h"

struct qmTextObject {
  qmObjectHeader header;  // type TEXTOBJECT
  qmBitmap *bitmap;
  qmMask *mask;             // or null
  qmAlphaChannel *alpha;    // or null
  int32_t width, height;           // the current picture
  int32_t baseWidth, baseHeight;   // the picture as first made; sizes refer to it
  int32_t xOffset, yOffset;        // the picture's place from the object's origin; 0 when turned
  uint32_t locked;  // a counter: each holder (a move) raises it
  int32_t temporary;
  qmTextRequest request;    // owned: its text and tables
  int32_t targetWidth, targetHeight;  // the size asked for (the base size at first)
  double rotation;          // degrees, 0..360
};

// Copies the request with its own text and tables: 0 or ERR_MEM.
uint32_t CopyTextRequest(const qmTextRequest *from, qmTextRequest *to);
void FreeTextRequest(qmTextRequest *request);

// Lays the request out for the output kind and renders it at the scale |sx| x |sy|: a scalable
// font is drawn at that size, with wrap width, margins, cursor x, tab stops, shadow distance and
// edge size scaled alike (*fontScaled 1); other fonts are drawn at their own size (*fontScaled
// 0). With keepTables, breaks and tab choices made by the pass stay in the request. 0 or an
// error code; the caller frees the box.
uint32_t RenderTextAtScale(qmTextRequest *request, int32_t kind, double sx, double sy, qmConstantLookup lookup,
                           void *context, int32_t keepTables, qmTextBox *box, int32_t *fontScaled);
// Lays the object's request out (recording its breaks and tab choices the first time) and
// renders it at the object's target size and rotation into a new picture. 0 or an error;
// the object keeps its old picture on an error.
uint32_t RenderTextObject(qmTextObject *object, qmConstantLookup lookup, void *context);
// Frees the picture, planes and request (not the record).
void FreeTextObjectData(qmTextObject *object);
