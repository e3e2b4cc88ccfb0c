// CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320), as zlib and PNG compute it.
#pragma once
#include <cstddef>
#include <cstdint>

// Builds the 256-entry table; the player does it once at start-up (repeating is harmless).
void InitCRC32Table();
// One step over a block: pass 0xFFFFFFFF first and complement the final value.
uint32_t UpdateCRC32(uint32_t crc, const void *data, size_t length);
// The whole checksum of one block.
inline uint32_t CRC32Block(const void *data, size_t length) { return ~UpdateCRC32(0xFFFFFFFFu, data, length); }
