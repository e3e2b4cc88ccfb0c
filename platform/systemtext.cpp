#include "platform/systemtext.h"

#include "runtime/errcodes.h"

namespace {

constexpr unsigned char kMarker = static_cast<unsigned char>(kSystemByteMarker);

// Appends to a caller's buffer, keeping room for the terminator.
class Output {
 public:
  Output(char *out, size_t size) : out_(out), size_(size) {}
  bool Put(unsigned char c) {
    if (n_ + 1 >= size_) return false;
    out_[n_++] = static_cast<char>(c);
    return true;
  }
  bool PutBytes(const unsigned char *s, size_t len) {
    for (size_t i = 0; i < len; i++)
      if (!Put(s[i])) return false;
    return true;
  }
  bool PutEscaped(const unsigned char *s, size_t len) {
    for (size_t i = 0; i < len; i++)
      if (!Put(kMarker) || !Put(s[i])) return false;
    return true;
  }
  uint32_t Finish(bool fitted) {
    if (size_ == 0) return ERR_NAMETOOLONG;
    out_[fitted ? n_ : 0] = 0;
    return fitted ? 0 : static_cast<uint32_t>(ERR_NAMETOOLONG);
  }

 private:
  char *out_;
  size_t size_;
  size_t n_ = 0;
};

// True when the Latin-1 character c, followed by the characters that the system bytes at next
// read in as, would be taken for the raw bytes of a character beyond U+00FF on the way out.
// Only 0x80-0xBF characters can continue such a sequence, and those always read in plain.
bool JoinsOnTheWayOut(uint32_t c, const unsigned char *next) {
  if (c < 0xC4 || c > 0xF4) return false;
  unsigned char latin1[5] = {static_cast<unsigned char>(c)};
  size_t k = 1;
  while (k < 4) {
    uint32_t cp;
    size_t len = DecodeUtf8(next, &cp);
    if (len == 0 || cp < 0x80 || cp > 0xBF) break;
    latin1[k++] = static_cast<unsigned char>(cp);
    next += len;
  }
  latin1[k] = 0;
  uint32_t joined;
  return DecodeUtf8(latin1, &joined) > 0 && joined > 0xFF;
}

}  // namespace

size_t DecodeUtf8(const unsigned char *s, uint32_t *cp) {
  unsigned char c = s[0];
  size_t len;
  uint32_t v, min;
  if (c < 0x80) {
    *cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    len = 2, v = c & 0x1F, min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    len = 3, v = c & 0x0F, min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    len = 4, v = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  for (size_t i = 1; i < len; i++) {
    if ((s[i] & 0xC0) != 0x80) return 0;  // also stops at the terminating zero
    v = (v << 6) | (s[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  *cp = v;
  return len;
}

uint32_t TextFromSystem(const char *system, char *out, size_t size) {
  Output o(out, size);
  auto *s = reinterpret_cast<const unsigned char *>(system);
  bool fitted = true;
  while (*s && fitted) {
    uint32_t cp;
    size_t len = DecodeUtf8(s, &cp);
    if (len == 0) {
      fitted = o.PutEscaped(s, 1);
      len = 1;
    } else if (cp > 0xFF) {
      fitted = o.PutBytes(s, len);
    } else if (cp == kMarker || JoinsOnTheWayOut(cp, s + len)) {
      fitted = o.PutEscaped(s, len);
    } else {
      fitted = o.Put(static_cast<unsigned char>(cp));
    }
    s += len;
  }
  return o.Finish(fitted);
}

uint32_t TextToSystem(const char *latin1, char *out, size_t size) {
  Output o(out, size);
  auto *t = reinterpret_cast<const unsigned char *>(latin1);
  bool fitted = true;
  while (*t && fitted) {
    uint32_t cp;
    size_t len;
    if (*t == kMarker && t[1]) {
      fitted = o.Put(t[1]);
      len = 2;
    } else if ((len = DecodeUtf8(t, &cp)) > 1 && cp > 0xFF) {
      fitted = o.PutBytes(t, len);
    } else if (*t < 0x80) {
      fitted = o.Put(*t);
      len = 1;
    } else {
      fitted = o.Put(static_cast<unsigned char>(0xC0 | (*t >> 6))) &&
               o.Put(static_cast<unsigned char>(0x80 | (*t & 0x3F)));
      len = 1;
    }
    t += len;
  }
  return o.Finish(fitted);
}

std::string Utf8ToLatin1(const char *utf8) {
  std::string out;
  const auto *p = reinterpret_cast<const unsigned char *>(utf8 ? utf8 : "");
  while (*p) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(p, &cp);
    out += n != 0 && cp <= 0xff ? static_cast<char>(cp) : '?';
    p += n != 0 ? n : 1;
  }
  return out;
}
