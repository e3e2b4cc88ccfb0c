// The system font list: the fonts in the script's font paths and in fontconfig's font folders,
// with family, style-derived weight and slant, and where each face lies in its file.
#pragma once
#include <cstdint>

#include "platform/file.h"
#include "text/font.h"

struct qmFontListEntry {
  qmFontListEntry *next;       // in scan order
  char *fullName;              // family, a blank and the style when there is one
  char *family;
  char *path;
  int32_t weight;              // FONTWEIGHT_ values, 80 unless a style word says otherwise
  int32_t slant;               // FONTSLANT_ values, 0 unless a style word says otherwise
  uint64_t resourcePosition;   // a face inside a resource file: its data's file position
  uint64_t resourceLength;
  uint64_t collectionOffset;   // a face of a collection: its table directory's file position
  int32_t bitmap;              // 1 for bitmap .font fonts
  uint8_t *sizes;              // the sizes a .font lists, distinct, in first-seen order
  int32_t sizeCount;
};

struct qmStyleWord {
  const char *word;
  int32_t isSlant;  // 0: sets the weight
  int32_t value;
};

// Longest family or style name kept; longer names are cut.
constexpr int32_t kFontNameChars = 255;

// Builds the state's list unless it exists: its font paths, fontconfig's folders, "Fonts". With
// the once-per-face flag a regular face is listed only under its full name; without, also under
// its family alone.
void ScanFontFolders(qmFontState *fonts, int32_t oncePerFace);
const qmFontListEntry *GetFontList(const qmFontState *fonts);
void FreeFontList(qmFontState *fonts);
// Adds the folder's fonts to the list: 0, ERR_LOCK2 (folder as error argument) when the folder
// cannot be read.
uint32_t ScanFontDirectory(qmFontState *fonts, const char *folder, int32_t oncePerFace);
// Family (name 1) and style (name 2) of the face whose offset table is at base: 1, or 0 when
// the file is no sfnt or has no name table. Both buffers hold kFontNameChars + 1 bytes. Table
// offsets count from base in a resource block (tablesFromBase 1) and from the file's start in
// a collection (0).
int32_t ReadTrueTypeNames(qmFileHandle *file, char *family, char *style, uint64_t base, int32_t tablesFromBase);
// Appends an entry unless its full name is listed already.
void AddFontListEntry(qmFontState *fonts, const char *path, const char *family, const char *style, int32_t bitmap, int32_t resource,
                      uint64_t resourcePosition, uint64_t resourceLength, uint64_t collectionOffset,
                      const uint8_t *sizes, int32_t sizeCount);
// fontconfig's configuration for the scan and the system engine, loaded once for the process
// and held by the state from its first use: 1 when usable.
int32_t StartFontconfig(qmFontState *fonts);
// The state's hold ends; the configuration goes with the last hold (the state's freeing).
void ReleaseFontconfig(qmFontState *fonts);
const qmStyleWord *FindStyleWord(const char *word);
int32_t IsRegularStyleName(const char *style);
// The file of the face with that full name (weight -1), or of that family with that weight and
// slant; collection faces are copied to a temporary file first (*temporary = 1). With the
// plain-files flag faces inside collections and resource files do not count. Null when none.
// The answer stays valid until the state's next call.
const char *MapFontNameToFile(qmFontState *fonts, const char *name, int32_t weight, int32_t slant, int32_t plainFiles,
                              uint64_t *resourcePosition, uint64_t *resourceLength, int32_t *temporary);
