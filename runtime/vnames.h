// Virtual file names for data inside another file or in memory (see platform/vfile.h for the
// two forms), the resolution of the applet's linked files to such names, path helpers that
// know about them, and locks and examine records that treat a virtual name as a plain file.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/dir.h"

struct VmState;
struct qmApplet;

inline constexpr size_t kChunkNameSize = 1024;

// ":::chunk" offset+base ":" length "*" display-name "/" container into out (size bytes).
// Returns out, or nullptr (out emptied) when the name does not fit.
char *MakeChunkName(const char *name, char *out, size_t size, uint64_t offset, uint64_t length,
                    uint64_t base, const char *container);
// ":::chunkS" reference ":" length "*" display-name "/" address in hexadecimal. The reference
// is that of a window registered with RegisterMemoryWindow; the address is for people only.
char *MakeMemoryChunkName(const char *name, char *out, size_t size, int32_t reference, uint64_t length,
                          const void *address);

// The name a user should see: for a virtual name its display name; otherwise the part after
// the last "/" or "\" (empty when the name ends with one), else after the first ":", else the
// whole name. ChunkDisplayName answers with a part of the name itself where it can, and writes
// the display name of a virtual name into the caller's buffer; ChunkDisplayNameInto always copies.
const char *ChunkDisplayName(const char *name, char *buffer, size_t size);
char *ChunkDisplayNameInto(const char *name, char *out, size_t size);

// The virtual name of a linked file (written into the applet record's resolvedName, valid until
// the next resolution), or name itself when it is not linked. With fontFlag set, font names are looked up
// among the linked fonts; *font (optional) becomes 1 when a linked font was found.
const char *ResolveLinkedFile(qmApplet *applet, const char *name, int fontFlag, int *font);
// The string argument at idx, resolved with the state's applet record.
const char *ResolveLinkedFileArg(VmState *L, int idx, int fontFlag, int *font);

// Appends name to the path (size bytes), with a "/" unless the path is empty or ends in "/"
// or "\". 1, or 0 with the path unchanged when the result does not fit.
int AddPart(char *path, size_t size, const char *name);
// Where the folder part of the path ends (see the implementation for the rule).
char *GetPathPart(char *path);
const char *GetPathPart(const char *path);

// A new, empty temporary file whose name ends in the extension of the virtual name's display
// name; its name in out (kMaxPathLength + 1 bytes). Returns out, or nullptr on failure.
char *MakeTempChunkFileName(char *out, const char *virtualName);
// Copies a plain or virtual file to a real file: 0, ERR_READFILE (source), ERR_WRITEFILE
// (destination not opened), ERR_WRITE (not everything written) or ERR_MEM.
uint32_t ExtractChunkToFile(const char *source, const char *destination);

struct qmVirtualLock {
  qmLock *lock;       // the platform's lock of a real path; null for a virtual name
  char name[kChunkNameSize];
};

// nullptr when the path cannot be locked, or is a virtual name that is malformed, too long
// or names a memory window that does not exist.
qmVirtualLock *LockVirtualPath(const char *path, int32_t mode);
void UnlockVirtualPath(qmVirtualLock *lock);
// 0. A virtual name is a plain file of its window's length, protection 15, no comment, and
// all three times 16 September 1982, 00:00:00 local time.
uint32_t ExamineVirtualPath(qmVirtualLock *lock, qmFileInfo *info);
int ExamineNextVirtualEntry(qmVirtualLock *lock, const char **name, uint32_t *isDirectory, qmFileInfo *info);
// 0 with *isDirectory set, or ERR_NOTADIR (a virtual name never is one).
uint32_t CheckVirtualDirectory(qmVirtualLock *lock, uint32_t *isDirectory);
// 1 and the full name in out, or 0.
int GetVirtualLockName(qmVirtualLock *lock, char *out, size_t size);
