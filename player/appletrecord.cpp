#include "player/appletrecord.h"

#include <cstring>

#include "platform/memory.h"
#include "player/declarations.h"

void ResetDisplaySettings(qmDisplaySettings *s) {
  std::memset(s, 0, sizeof *s);
  s->displayMode = DISPMODE_NONE;
  s->hideTitleBar = -1;
  s->screenWidth = s->screenHeight = s->depth = -1;
  s->backfill.startColor = s->backfill.endColor = 0xFFFFFFFFu;
  s->backfill.pictureX = s->backfill.pictureY = kPositionCenter;
  s->backfill.transparentColor = 0xFFFFFFFFu;
}

void FreeAppletContents(qmPlayerApplet *applet) {
  MemFree(applet->base.bytecode);
  applet->base.bytecode = nullptr;
  applet->base.bytecodeLength = 0;
  FreeDeclarations(applet);
  FreeAppletLists(&applet->base);
}
