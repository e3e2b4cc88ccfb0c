// The link record: 45 bytes in the executable's data that tell a linked program where its
// appended applet starts. The tool that appends an applet finds the record by its signature
// and patches the offset.
#pragma once
#include <cstddef>
#include <cstdint>

inline constexpr size_t kLinkRecordSize = 45;
inline constexpr size_t kLinkOffsetPosition = 32;
inline constexpr size_t kLinkSignaturePosition = 36;
inline constexpr uint32_t kNothingAppended = 0xDEADC0DEu;
inline constexpr uint8_t kLinkSignature[8] = {0xC0, 0xDE, 0xCA, 0xFE, 0xC0, 0xCA, 0xC0, 0x1A};

// Copies the executable's record into out (kLinkRecordSize bytes).
void CopyLinkRecord(uint8_t *out);
// The big-endian offset of a record.
uint32_t LinkRecordOffset(const uint8_t *record);
