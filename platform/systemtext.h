// Text that crosses the process boundary: names, arguments and environment values are the
// system's bytes (UTF-8 as a rule), text inside the player is ISO Latin-1.
//
// Reading in, left to right: a UTF-8 character up to U+00FF becomes its Latin-1 byte; a valid
// UTF-8 character beyond U+00FF keeps its raw bytes (such names read as they are on disk); any
// other byte becomes kSystemByteMarker (SUB) followed by that byte. A character that would read
// differently on the way out is escaped the same way, byte by byte: SUB itself, and a letter
// 0xC4-0xF4 that the 0x80-0xBF characters after it would join into a raw character beyond
// U+00FF. Writing out, left to right: SUB and a byte give that byte; a valid UTF-8 sequence
// beyond U+00FF is copied; any other character becomes its UTF-8. So out(in(s)) == s for every
// byte string s, and in(out(t)) == t for every Latin-1 text t without SUB.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr char kSystemByteMarker = '\x1A';

// Both write at most twice the input's length and a terminator into out (size bytes): 0, or
// ERR_NAMETOOLONG with out emptied when it does not fit.
uint32_t TextFromSystem(const char *system, char *out, size_t size);
uint32_t TextToSystem(const char *latin1, char *out, size_t size);

// Decodes one UTF-8 character at s (shortest form, no surrogates, at most U+10FFFF): its
// length and code point, or 0 when the bytes there are no such character.
size_t DecodeUtf8(const unsigned char *s, uint32_t *cp);

// Text another program hands over as UTF-8 (a dialog's answer, the clipboard): each character
// up to U+00FF becomes its Latin-1 byte, every other character and every stray byte "?".
std::string Utf8ToLatin1(const char *utf8);
