// Operations on files and folders by path. Paths are Latin-1 names as everywhere inside the
// player; each operation returns 1 on success and 0 on failure unless said otherwise.
#pragma once
#include <cstddef>
#include <cstdint>

// A file or an empty folder; a symbolic link itself, never what it points to.
int RemoveFile(const char *path);
// What a writer that failed leaves: the path goes only when it is a plain file (what the writer
// made), never a device, a pipe or a link it wrote through.
int RemoveFailedOutput(const char *path);

// What a path is, for walks that must not leave their tree or run in circles.
struct qmFileIdentity {
  uint64_t device, inode;
  uint32_t isLink;       // the path itself is a symbolic link (only without followLinks)
  uint32_t isDirectory;
};
// 1 and *out; 0 when the path does not exist. With followLinks 0 a link is described itself.
int GetFileIdentity(const char *path, int followLinks, qmFileIdentity *out);
int RenameFile(const char *oldPath, const char *newPath);
// 0 or ERR_CREATEDIR; the folder gets mode 0755.
uint32_t CreateDir(const char *path);
// times[0] the access time, times[1] the modification time, in seconds since 1970.
int SetFileDate(const char *path, const uint32_t *times);
// FILEATTR_ bits (platform/dir.h).
int SetProtection(const char *path, uint32_t bits);
// Comments are not stored on this platform: 0.
int SetFileComment(const char *path, const char *comment);
// Changes the current folder and returns the previous one as a new allocation (MemFree);
// nullptr, with nothing changed, when the change fails or out of memory.
char *SetCurrentDir(const char *path);
// 1 and the absolute, resolved path in buffer; a path that does not exist yet is joined to the
// current folder when relative. 0 when the result does not fit in size bytes.
int GetFullPath(const char *path, char *buffer, size_t size);
// Writes "unimplemented"; 0.
int ReadVolumeName(const char *path, char *buffer);
// Sets both to 0; 0.
int QueryVolumeSpace(const char *path, uint64_t *freeBytes, uint64_t *usedBytes);
