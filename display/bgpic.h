// The background-picture record: the picture a display shows behind everything else, and the
// same record as the target of a Select* command or of double buffering. Its three image sets:
// the master (as loaded or created, the source of every re-rendering), the unscaled set at the
// size the script sees, and the shown set the display shows (scaled while the display scales).
#pragma once
#include <cstdint>

#include "graphics/bitmap.h"
#include "graphics/gradientfill.h"
#include "runtime/objectid.h"

struct qmClipRegion;
struct qmObjectRegistry;
struct qmDisplay;
struct qmObjectRegistry;
struct qmScene;

enum : uint32_t { FILLNONE = 0, FILLCOLOR = 1, FILLGRADIENT = 2, FILLTEXTURE = 3 };

// How a picture was filled, so that it can be filled anew at another size.
struct qmFillStyle {
  uint32_t fillStyle;  // FILL*
  uint32_t fillColor;  // RGB
  qmGradientSpec gradient;
  qmObjectId textureBrush;
  qmBitmap *textureBitmap;  // cached copy of the texture; owned by the record
  int32_t textureX, textureY;
  int32_t textureWidth, textureHeight;
};

// A plane set: a bitmap with its optional mask and alpha channel.
struct qmPlaneSet {
  qmBitmap *bitmap;
  qmMask *mask;
  qmAlphaChannel *alpha;
};

// Frees the planes of a set and clears it.
void FreePlaneSet(qmPlaneSet *set);

// A sprite shown on a picture (the sprite engine's, sprites/sprite.h); the list is in drawing
// order, later nodes on top. The clip rectangle is the one active when the sprite was first shown.
struct qmSprite;
struct qmShownSprite {
  qmShownSprite *next;
  qmObjectId id;
  int32_t x, y, width, height;
  int32_t frame;  // from 1
  qmSprite *sprite;
  int32_t clipped;
  int32_t clipX, clipY, clipWidth, clipHeight;
  int32_t slot;  // its entry in the picture's sprite spans
};

// A shown sprite's rectangle (right and bottom edges exclusive) beside its node: a refresh finds
// the sprites that reach it in one pass over an array rather than a walk along the list.
struct qmShownSpriteSpan {
  int32_t x1, y1, x2, y2;
  qmShownSprite *node;
  const qmSprite *sprite;  // the node's, so that a sprite's node is found without walking the list
};

struct qmLayerListHead {
  void *head, *tail, *tailPred;
};

struct qmBGPic {
  qmObjectHeader header;  // type BGPIC
  void *pluginImage;      // a loaded source that renders at any size; null for created pictures
  // A plane is owned by the first set that holds it (master, then unscaled, then shown).
  qmPlaneSet shown, unscaled, master;
  int32_t shownWidth, shownHeight;
  int32_t unscaledWidth, unscaledHeight;  // the size the script sees
  int32_t masterWidth, masterHeight;
  uint32_t sourceRowLength;
  uint32_t transparentColor;  // kNoTransparency for none
  uint32_t *palette;          // 256 RGB entries, or null; owned
  qmLayerListHead layers;
  qmShownSprite *shownSprites;
  // One span per shown sprite in drawing order, kept with the list; null when it could not be
  // allocated, and the list is walked instead.
  qmShownSpriteSpan *spriteSpans;
  int32_t spriteSpanCount, spriteSpanCapacity;
  uint32_t lock;
  uint32_t deleted;  // freed by the script but still shown by a display or a layer
  void *buttons;
  // Select* target records only.
  uint32_t selectedType;  // BGPIC, BRUSH, ANIM or LAYER; BRUSH also for the double buffer
  int32_t selectedFrame;
  void *selectedRecord;
  qmObjectId selectedId;
  uint32_t prepared;  // the target's mask or alpha channel was made ready for drawing
  uint32_t modified;
  uint32_t layersChanged;
  qmClipRegion *activeClip;
  qmFillStyle fill;
  uint32_t kind;  // 0 raster; 1 scalable (re-rendered from its source or its fill)
  // Loaded while the applet's declarations ran: the decoded pixels (master size, rows without
  // gaps) the planes are made from, and whether an alpha channel is made of them; null once made.
  uint32_t *preloadPixels;
  uint32_t preloadAlpha;
  int32_t declLine;  // with preloadPixels: the declaration's line, for the report if they fail
};

inline constexpr uint32_t kNoTransparency = 0xFFFFFFFFu;

// FindBGPic flags.
enum : int32_t { FINDBGPIC_MODIFY = 1, FINDBGPIC_DELETED = 2, FINDBGPIC_NOCOPY = 4 };

// A new listed record whose three sets are the given planes (taken over) at width x height;
// fill may be null. An automatic id gets the record as handle and *id is updated. 0 or ERR_MEM
// (the planes are then the caller's again).
uint32_t NewBGPicRecord(qmObjectRegistry *objects, qmObjectId *id, uint32_t kind, int32_t width, int32_t height,
                        const qmPlaneSet &planes, uint32_t transparentColor, const qmFillStyle *fill,
                        qmBGPic **out);
uint32_t FindBGPic(const qmObjectRegistry *objects, const qmObjectId *id, qmBGPic **out, int32_t flags);
// A listed copy under the new id with copies of every distinct plane: 0 or ERR_MEM.
uint32_t CopyBGPicRecord(qmObjectRegistry *objects, const qmBGPic *pic, qmObjectId *newId, qmBGPic **out);
// Frees the picture of that id: refused while it is the selected output (ERR_MODIFYABGPIC);
// one that a display shows is only flagged and re-keyed to its own handle. Lenient (strict 0):
// a missing picture is no error.
uint32_t FreeBGPicCore(qmScene *scene, const qmObjectId *id, int32_t strict);
// Frees every flagged picture that no display shows any more.
void FreeMarkedBGPics(qmScene *scene);
// Frees the shown-sprite nodes (the sprites stay) without a refresh.
void FreeBGPicSpriteList(qmBGPic *pic);
// Frees the planes (each once), palette, texture copy, shown-sprite nodes and user data; not the record.
void FreeBGPicContents(qmScene *scene, qmBGPic *pic);
// The display of the scene that shows the picture as its background, or null.
qmDisplay *DisplayShowingBGPic(const qmScene *scene, const qmBGPic *pic);
// No picture keeps the region as its active clip region any more: the listed pictures, the
// displays' own, and their Select* and double-buffer records.
void ForgetActiveClipRegion(qmScene *scene, const qmClipRegion *region);

// Frees the unscaled and shown sets where they are not the master's planes.
void FreeDerivedSets(qmBGPic *pic);
// The master rendered at width x height into new planes: a raster picture is scaled, a filled
// scalable one filled anew. 0 or ERR_MEM.
uint32_t RenderBGPicAtSize(const qmBGPic *pic, int32_t width, int32_t height, int32_t smooth, qmPlaneSet *out);
// The picture's logical size becomes width x height (rendered from the master): 0 or ERR_MEM.
uint32_t SetBGPicSize(qmBGPic *pic, int32_t width, int32_t height, int32_t smooth);
// The shown set rendered from the master at the display's scaled size, and the scale factors;
// a display that scales layers gets the picture's layers rendered at them.
uint32_t ScaleBGPicForDisplay(qmScene *scene, qmDisplay *display, qmBGPic *pic);
// The shown set back to the unscaled set, factors 1.0 (display may be null), and the layers
// back to their unscaled states.
void ResetBGPicScale(qmScene *scene, qmDisplay *display, qmBGPic *pic);

// Paints a picture of width x height from the fill settings (colour, gradient or tiled
// texture). 0 or the gradient's error.
uint32_t FillPictureFromStyle(qmBitmap *bitmap, int32_t width, int32_t height, const qmFillStyle *fill);
// Whether FillPictureFromStyle paints every pixel 0 (black) with these settings.
bool FillIsBlack(const qmFillStyle *fill);

// A Select* or double-buffer record: with clear the record is zeroed first; then all three
// sets are the given planes at width x height.
void InitSelectRecord(qmBGPic *pic, uint32_t selectedType, void *selectedRecord, int32_t frame,
                      const qmObjectId *id, const qmPlaneSet &planes, int32_t width, int32_t height, int32_t clear);

// The display's background copy and layer buffer at the picture's shown size (reallocated
// when asked), the shown bitmap copied into them. 0 or ERR_MEM.
uint32_t PrepareDisplayBuffers(qmDisplay *display, qmBGPic *pic, int32_t reallocate);
// The same, newly allocated, for a picture known to be all black: cleared buffers, no copies.
uint32_t PrepareBlackDisplayBuffers(qmDisplay *display, qmBGPic *pic);
// What a refresh copies to the window: the background copy, or with layers on the layer buffer
// composed anew over the whole picture.
qmBitmap *GetBGPicRefreshSource(qmScene *scene, qmDisplay *display, qmBGPic *pic);
