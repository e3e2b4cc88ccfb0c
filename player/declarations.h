// The applet's declarations: objects that exist before the main chunk runs. Each becomes a
// call of the script command that makes such an object, with an option table built from the
// declaration; displays are created afterwards, and plug-in requirements are tested first.
#pragma once
#include <cstdint>

struct VmState;
struct qmPlayerApplet;

enum : int32_t {
  DECL_BGPIC = 0, DECL_BRUSH = 1, DECL_ANIM = 2, DECL_MUSIC = 3, DECL_SAMPLE = 4, DECL_BUTTON = 5,
  DECL_KEYDOWN = 6, DECL_SPRITE = 7, DECL_FILE = 8, DECL_FONT = 9, DECL_DISPLAY = 10, DECL_VIDEO = 11,
  DECL_PLUGIN = 12,
};

inline constexpr uint32_t kMaxRegions = 64;
inline constexpr uint32_t kMaxGradientColors = 64;

struct qmGradientColor {
  uint32_t color;
  double position;
};

struct qmGradient {
  int32_t style;
  uint32_t startColor;
  uint32_t endColor;
  uint32_t count;  // extra colours
  int32_t angle;
  qmGradientColor colors[kMaxGradientColors];
  double centerX, centerY, balance, border;
};

struct qmBGPicDecl {
  int32_t fillStyle;
  uint32_t fillColor;
  qmGradient gradient;
  uint32_t textureBrush;
  int32_t textureX, textureY;
  uint32_t cache, cachedLoad;  // a file declared again: decoded once (MarkSharedLoads)
};

// Brushes, anims and sprites.
struct qmImageDecl {
  int32_t width, height, x, y, frames, framesPerRow;
  int32_t globalAlpha;  // -1 none
  uint32_t cache, cacheAlpha, cachedLoad, fromDisk, hardware;
};

struct qmButtonDecl {
  int32_t values[4];
};

struct qmRegion {
  int32_t type, x, y, width, height;
};

struct qmDisplayDecl {
  char title[256];
  uint32_t flags, mask;
  int32_t bgpic, x, y, width, height;
  uint32_t color;
  int32_t scaleWidth, scaleHeight;
  qmRegion drag[kMaxRegions], size[kMaxRegions];
  uint32_t dragCount, sizeCount;
  int32_t fillStyle;
  qmGradient gradient;
  uint32_t textureBrush;
  int32_t textureX, textureY;
  char pubScreen[256];
};

// Display flag bits beyond the window flags of the options.
enum : uint32_t {
  DISPFLAG_BGPIC = 0x200, DISPFLAG_ACTIVE = 0x400, DISPFLAG_HIDDEN = 0x800, DISPFLAG_LAYERS = 0x1000,
  DISPFLAG_NOCLOSE = 0x4000, DISPFLAG_KEEPSCREENON = 0x40000,
};

struct qmDeclaration {
  qmDeclaration *next;
  int32_t type;
  uint32_t id;
  char *fileName;  // owned; null for displays
  uint32_t nameOffset, nameLength;
  uint32_t flags;  // 1 for entries read from an applet
  uint32_t dataOffset, dataLength;  // length 0: not linked
  uint32_t param1, param2;
  int32_t line;
  void *record;  // owned type record, or null
  char container[1024];
  char baseDir[1024];
  uint32_t quiet;
};

// Appends a node with copies of the name and of the type record (a size of 0 for types
// without one); *out (optional) gets the node. 0 or ERR_MEM.
uint32_t AddDeclaration(qmPlayerApplet *applet, int32_t type, uint32_t id, const char *name, uint32_t param1,
                        uint32_t param2, int32_t line, uint32_t flags, const void *record, qmDeclaration **out);
// Display 1: 640 x 480 centred, titled "Quenmoor" or title, active. 0 or ERR_MEM.
uint32_t AddDefaultDisplay(qmPlayerApplet *applet, const char *title, qmDeclaration **out);
void InitGradient(qmGradient *g);
void FreeDeclarations(qmPlayerApplet *applet);

// The table on the stack top gets the gradient keys / the region list under key.
void PushGradientTags(VmState *L, const qmGradient *g);
void PushRegionTable(VmState *L, const char *key, uint32_t count, const qmRegion *regions);

// Before the calls: the option window flags and scale sizes go into every display not locked
// against them; repeated image files are marked for the shared decode cache.
void MergeDisplayOptions(qmPlayerApplet *applet);
void MarkSharedLoads(qmPlayerApplet *applet);

// Runs the declarations of types 0 to 9 and 11 in order, then the displays; the first error
// ends the phase and is returned. Displays are only recorded while no CreateDisplay command
// exists. programPath is the container of linked data; appletBase the appended applet's offset.
uint32_t RunDeclarations(VmState *L, qmPlayerApplet *applet, const char *programPath, uint64_t appletBase);
