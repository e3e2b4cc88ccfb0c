// Link databases of LINKFILES and LINKFONTS: text files naming the files and fonts to link
// into a compiled program, one name per line, bare or in double quotes.
#pragma once
#include <cstdint>

struct qmPlayerApplet;

// 0, ERR_READFILE (with the file name), ERR_LFSYNTAX or ERR_MEM.
uint32_t ParseLinkDatabase(qmPlayerApplet *applet, const char *fileName, int fontFlag);
// Appends one name to the linked-file list: a font as "::font:" and its name without
// ".font"; a name already in the list (without regard to case) is skipped. 0 or an error code.
uint32_t AddLinkedFileName(qmPlayerApplet *applet, const char *name, int fontFlag, const char *source);
