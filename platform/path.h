// Path rules shared by every file operation of the platform layer. Names inside the player are
// ISO Latin-1 with either slash; the file system wants "/" and UTF-8.
#pragma once
#include <cstddef>

inline constexpr size_t kMaxPathLength = 1023;  // longer names are used as they are

// The name to use: virtual ":::chunk" names are copied unchanged; names longer than
// kMaxPathLength are returned themselves (not copied, not converted); others are copied into
// buffer (kMaxPathLength + 1 bytes) with "\" turned into "/".
const char *NormalizeSlashes(const char *path, char *buffer);

// A new allocation (MemFree) of the Latin-1 path in the file system's spelling (TextToSystem)
// with "\" turned into "/", or nullptr for a name longer than kMaxPathLength or when out of
// memory; callers then use the unconverted name. Every name the player hands to the system
// goes through here.
char *ToFileSystemPath(const char *path);

// Converts UTF-8 text to Latin-1 into out (size bytes) only when that loses nothing: 1 on
// success; 0 when the text is not UTF-8, holds characters beyond Latin-1 or does not fit.
// Names read in go through TextFromSystem instead, which keeps every byte.
int FromFileSystemName(const char *utf8, char *out, size_t size);

// The path of the running executable, read in as Latin-1 (TextFromSystem), into out
// (kMaxPathLength + 1 bytes); an empty text when it cannot be found or does not fit.
void GetExecutablePath(char *out);
