// Base64 (RFC 4648 alphabet, "=" padding) as function bodies carry it: lines of 72 characters
// joined by one line feed, none after the last.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr size_t kBase64LineLength = 72;

void EncodeBase64Lines(const uint8_t *data, size_t length, std::string *out);
// Bytes below 33 are skipped; "=" counts as zero bits and a group with "=" ends the text.
// 0, or ERR_BADBASE64 for a foreign character or a text that stops inside a group.
uint32_t DecodeBase64(const char *text, size_t length, std::vector<uint8_t> *out);
