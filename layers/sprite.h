// The sprite record and list, and the sprites shown over a display's background picture: a
// sprite is a run of frames of one size; showing, moving or removing it recomposes only the
// rectangles it covered, from the background and every shown sprite that reaches them.
#pragma once
#include <cstdint>

#include "display/bgpic.h"
#include "graphics/bitmap.h"
#include "runtime/objectid.h"

struct qmObjectRegistry;
struct qmScene;
struct qmDisplay;
struct qmBrush;
struct qmAnim;
struct qmAnimFrames;

// Rows of a frame taken together when a refresh is planned.
inline constexpr int32_t kSpriteBand = 8;
// A band of kSpriteBand rows of a frame: the columns that draw something (through its mask or
// alpha channel) in any of its rows, and a run of columns that replaces what lies below (mask
// bit set, alpha 255, or a frame without either) in every one of them, empty unless all its rows
// lie in the frame. Right ends exclusive; an empty run has from == to.
struct qmSpriteBandRuns {
  int32_t shownFrom, shownTo;
  int32_t opaqueFrom, opaqueTo;
};

struct qmSprite {
  qmObjectHeader header;  // type SPRITE
  int32_t width, height;  // of every frame
  int32_t frameCount;
  uint32_t lock;     // a counter: each holder (a move) raises it; non-zero refuses every change
  uint32_t deleted;  // a flagged sprite is invisible to every command
  // Null-terminated; a sprite made of other sprites owns no frames and shows theirs in order.
  qmSprite **sources;
  uint32_t transparentColor;  // the colour its masks were keyed on; kNoTransparentColor for none
  qmBitmap **bitmaps;         // frameCount entries each; mask and alpha entries may be null
  qmMask **masks;
  qmAlphaChannel **alphas;
  // Per frame, the runs of its bands from each row 1 - kSpriteBand to height - 1 (entry
  // row + kSpriteBand - 1), made when first asked for; dropped whenever the frames change.
  qmSpriteBandRuns **bandRuns;
};

// FindSprite flags.
enum : int32_t {
  FINDSPRITE_MODIFY = 1,   // a held sprite fails with ERR_LOCKEDOBJ
  FINDSPRITE_DELETED = 2,  // flagged sprites count
};

// 0 with *out, ERR_LOCKEDOBJ, or the missing-object error (ERR_FINDSPRITE / ERR_FINDARRAY).
uint32_t FindSprite(const qmObjectRegistry *objects, const qmObjectId *id, qmSprite **out, int32_t flags);
// Appends a record taking over the arrays given (sources for a linked sprite, else the frame
// arrays). An automatic id gets the record as handle. 0 or ERR_MEM (the
// arrays are the caller's again).
uint32_t NewSpriteRecord(qmObjectRegistry *objects, qmObjectId *id, int32_t width, int32_t height, qmBitmap **bitmaps, qmMask **masks, qmAlphaChannel **alphas, int32_t frameCount,
                         uint32_t transparentColor, qmSprite **sources, qmSprite **out);
// The planes of frame index (from 0): a linked sprite's come from the source that holds the
// index. Nulls when there is no such frame.
void GetSpriteFrame(const qmSprite *sprite, int32_t index, const qmBitmap **bitmap, const qmMask **mask,
                    const qmAlphaChannel **alpha);
// The band runs of frame index (from 0) over the part its bitmap and its mask (or else its alpha
// channel) both hold, from the sprite that holds the frame, with that part's height; null when
// there is no such frame or no memory for them.
const qmSpriteBandRuns *GetSpriteBandRuns(qmSprite *sprite, int32_t index, int32_t *height);
// Whether another sprite is made of this one.
bool SpriteIsSource(const qmObjectRegistry *objects, const qmSprite *sprite);

// 0 when the scene's output is the current display itself, else the code of what is selected
// (double buffering, SelectAnim, SelectBrush, SelectBGPic, SelectMask, SelectAlphaChannel).
uint32_t CheckDisplayOutput(const qmScene *scene);
// 0 when sprites may be drawn: CheckDisplayOutput, then layers off and a background picture
// without layers (else ERR_LAYERSOFF).
uint32_t CheckSpriteOutput(const qmScene *scene);
// Shows the sprite at (x, y) (special positions resolved against its size) with frame (from 1;
// 0: the next one, 1 for a sprite not yet shown) on the current display's picture, refreshing
// what changed. 0 or ERR_ANIMFRAME.
uint32_t ShowSprite(qmScene *scene, qmSprite *sprite, int32_t x, int32_t y, int32_t frame);
// The sprite's node on the current display's picture, or null.
qmShownSprite *FindShownSprite(const qmScene *scene, const qmSprite *sprite);
// The node of the unflagged sprite of that id on the current display's picture: 0, the sprite's
// look-up error, or ERR_SPRITEONSCREEN (id as argument) / ERR_SPRITEONSCREEN2 when not shown.
uint32_t LookUpShownSprite(const qmScene *scene, const qmObjectId *id, qmShownSprite **out);
// Whether any display's picture or listed picture shows the sprite.
bool SpriteIsShownAnywhere(const qmScene *scene, const qmSprite *sprite);
// Takes the sprite off the current display's picture and refreshes its rectangle: 0, or
// ERR_SPRITEONSCREEN (id as argument) / ERR_SPRITEONSCREEN2 when it is not shown there.
uint32_t RemoveShownSprite(qmScene *scene, qmSprite *sprite);
// Takes every sprite off the current display's picture: ERR_LOCKEDOBJ when one is held. With
// keep the composed picture becomes the display's background first, so they stay visible.
uint32_t RemoveAllShownSprites(qmScene *scene, int32_t keep);

// Unlinks and frees the sprite, after every sprite made of it; every picture that shows one of
// them loses its node, a display showing it is refreshed there.
void FreeSpriteRecord(qmScene *scene, qmSprite *sprite);
// The unflagged sprite of that id freed: ERR_LOCKEDOBJ when held; a missing one is an error
// (ERR_FINDSPRITE / ERR_FINDARRAY) only when strict.
uint32_t FreeSpriteById(qmScene *scene, const qmObjectId *id, int32_t strict);
void FreeAllSprites(qmScene *scene);

// Every frame scaled to width x height (either may be kKeepAspect) with its planes; the same
// size does nothing, a sprite without frames only takes the size. On a failure the sprite keeps
// all its frames and its size. 0, ERR_BADDIMENSIONS, ERR_WRONGUSAGE, ERR_MEM or ERR_LOCKBMAP.
uint32_t ScaleSpriteFrames(qmSprite *sprite, double width, double height, int32_t smooth);
// Every frame mirrored in place: direction 0 top to bottom, any other left to right.
uint32_t FlipSpriteFrames(qmSprite *sprite, int32_t direction);
// A listed copy with its own planes (a linked sprite: its own source list) and user data. 0 or
// ERR_MEM (nothing listed).
uint32_t CopySpriteRecord(qmObjectRegistry *objects, const qmSprite *src, qmObjectId *newId, qmSprite **out);

// A sprite of frames cut from a picture: frames of width x height, perRow in each row, the
// first at (x, y). 0, ERR_BADDIMENSIONS, ERR_COORDSRANGE (a frame outside the picture) or ERR_MEM.
uint32_t NewSpriteFromPicture(qmObjectRegistry *objects, qmObjectId *id, const qmBitmap *bitmap, const qmMask *mask,
                              const qmAlphaChannel *alpha, int32_t pictureWidth, int32_t pictureHeight, int32_t width,
                              int32_t height, int32_t frames, int32_t perRow, int32_t x, int32_t y,
                              uint32_t transparentColor, qmSprite **out);
// A sprite of the frames the anim frame builder made (MakeAnimFrames): the record takes the
// frame arrays over and frees the empty raw-frame array. 0 or ERR_MEM (the frames are freed).
uint32_t NewSpriteFromFrames(qmObjectRegistry *objects, qmObjectId *id, qmAnimFrames *frames,
                             uint32_t transparentColor, qmSprite **out);
// A sprite of copies of every frame of the anim at its current size. 0, ERR_MEM or the anim's
// frame errors.
uint32_t NewSpriteFromAnim(qmObjectRegistry *objects, qmObjectId *id, qmAnim *anim, qmSprite **out);
// A linked sprite of the sources in order (count of them, all of one size). 0, ERR_WRONGUSAGE
// (none), ERR_SPRITELINK (a source is itself linked), ERR_WRONGSPRITESIZE or ERR_MEM.
uint32_t NewLinkedSprite(qmObjectRegistry *objects, qmObjectId *id, qmSprite *const *sources, int32_t count,
                         qmSprite **out);

// Draws the picture's shown sprites that reach the rectangle into dst (composed at the
// picture's shown size): over the background's part of the rectangle when one is given (its
// pixels under opaque sprite pixels are not copied), else over what dst holds.
void DrawShownSprites(qmScene *scene, const qmBGPic *pic, qmBitmap *dst, const qmBitmap *background, int32_t x,
                      int32_t y, int32_t width, int32_t height);
// Whether a shown sprite of the picture reaches the rectangle.
bool SpritesCoverRect(const qmBGPic *pic, int32_t x, int32_t y, int32_t width, int32_t height);
// The sprite's node rectangle recomposed and shown on the display that shows the picture.
void RefreshSpriteRect(qmScene *scene, qmDisplay *display, int32_t x, int32_t y, int32_t width, int32_t height);
