// Link databases of LINKFILES and LINKFONTS: text files naming the files and fonts to link
// into a compiled program, one name per line, bare or in double quotes.
#pragma once
#include <cstddef>
#include <cstdint>

struct qmPlayerApplet;

// A database is read whole; a larger one is refused as unreadable.
inline constexpr uint64_t kMaxLinkDatabase = uint64_t(16) << 20;

// Reads a regular file only, so that a FIFO or a device named as a database can neither block
// nor feed the reader for ever. 0, ERR_READFILE (with the file name), ERR_LFSYNTAX or ERR_MEM.
uint32_t ParseLinkDatabase(qmPlayerApplet *applet, const char *fileName, int fontFlag);
// Walks the text of a database and appends each name. 0, ERR_LFSYNTAX or ERR_MEM.
uint32_t ParseLinkDatabaseText(qmPlayerApplet *applet, const char *text, size_t length, int fontFlag);
// Appends one name to the linked-file list: a font as "::font:" and its name without
// ".font"; a name already in the list (without regard to case) is skipped. 0 or an error code.
uint32_t AddLinkedFileName(qmPlayerApplet *applet, const char *name, int fontFlag);
