#include "io/dos/dos_base64.h"

#include "runtime/errcodes.h"

namespace {
const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SixBits(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}
}  // namespace

void EncodeBase64Lines(const uint8_t *data, size_t length, std::string *out) {
  size_t column = 0;
  auto put = [&](char c) {
    if (column == kBase64LineLength) {
      out->push_back('\n');
      column = 0;
    }
    out->push_back(c);
    column++;
  };
  out->reserve(out->size() + (length + 2) / 3 * 4 * (kBase64LineLength + 1) / kBase64LineLength + 1);
  for (size_t i = 0; i < length; i += 3) {
    uint32_t group = uint32_t(data[i]) << 16;
    size_t n = length - i < 3 ? length - i : 3;
    if (n > 1) group |= uint32_t(data[i + 1]) << 8;
    if (n > 2) group |= data[i + 2];
    put(kAlphabet[group >> 18 & 63]);
    put(kAlphabet[group >> 12 & 63]);
    put(n > 1 ? kAlphabet[group >> 6 & 63] : '=');
    put(n > 2 ? kAlphabet[group & 63] : '=');
  }
}

uint32_t DecodeBase64(const char *text, size_t length, std::vector<uint8_t> *out) {
  uint32_t group = 0;
  int filled = 0;
  bool pad[4] = {};  // which places of the group held "="
  for (size_t i = 0; i < length; i++) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c < 33) continue;
    int v = 0;
    pad[filled] = c == '=';
    if (c != '=' && (v = SixBits(c)) < 0) return ERR_BADBASE64;
    group = group << 6 | uint32_t(v);
    if (++filled < 4) continue;
    int bytes = pad[2] ? 1 : pad[3] ? 2 : 3;
    out->push_back(uint8_t(group >> 16));
    if (bytes > 1) out->push_back(uint8_t(group >> 8));
    if (bytes > 2) out->push_back(uint8_t(group));
    if (bytes < 3) return 0;
    group = 0;
    filled = 0;
  }
  return filled ? uint32_t(ERR_BADBASE64) : 0;
}
