// The program file: a plain applet, a packed program ("QMZ") unpacked into a temporary file
// first, or the applet appended to the player's own executable. The applet is a magic
// followed by typed sections, read into the applet record until the bytecode section.
#pragma once
#include <cstdint>

struct VmState;
struct qmClArgs;
struct qmFileHandle;
struct qmPlayerApplet;
struct qmPlayerRun;

inline constexpr uint32_t kMagicQMA = 0x514D4100u;  // "QMA\0"
// The most a packed program may inflate to: its container does not record the unpacked size.
inline constexpr uint64_t kMaxPackedProgram = uint64_t(256) << 20;

// Fills the applet record from the program file of the command-line record and sets its
// applet flag. 0 or an error code; the registry's "script" is ":none:" afterwards either way.
uint32_t OpenProgramFile(VmState *L, qmPlayerRun *run);

// Reads the sections of an applet whose magic has been skipped: fh stands after the magic,
// appletStart is where the magic began and every offset of the applet counts from it.
// programName names the file in error messages. 0 or an error code; every length, count and
// offset is checked against the file and the record limits.
uint32_t ReadAppletSections(VmState *L, qmPlayerApplet *applet, qmFileHandle *fh, uint64_t appletStart,
                            const char *programName);
