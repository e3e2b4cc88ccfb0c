// The clipboard's portable half: reading a clipboard tool's type list and the text
// conversions. The desktop layer (platform/sdl/clipboard.cpp) moves the data.
#include "platform/clipboard.h"

#include <cstring>

#include "platform/systemtext.h"

namespace {

const qmClipboardImageCoder *gCoder = nullptr;

bool IsTextTarget(const std::string &t) {
  return t == "UTF8_STRING" || t == "STRING" || t == "TEXT" || t == "COMPOUND_TEXT" || t.rfind("text/plain", 0) == 0;
}

// Types every owner offers about itself, which say nothing of the contents.
bool IsMetaTarget(const std::string &t) {
  return t == "TARGETS" || t == "TIMESTAMP" || t == "MULTIPLE" || t == "SAVE_TARGETS" || t == "DELETE" ||
         t == "INCR" || t.empty();
}

}  // namespace

void SetClipboardImageCoder(const qmClipboardImageCoder *coder) { gCoder = coder; }
const qmClipboardImageCoder *GetClipboardImageCoder() { return gCoder; }

int32_t ClipboardKindOfTargets(const char *targets) {
  bool text = false, image = false, other = false;
  const char *p = targets ? targets : "";
  while (*p) {
    const char *end = std::strchr(p, '\n');
    std::string t = end ? std::string(p, size_t(end - p)) : std::string(p);
    while (!t.empty() && (t.back() == '\r' || t.back() == ' ')) t.pop_back();
    if (IsTextTarget(t)) text = true;
    else if (t.rfind("image/", 0) == 0) image = true;
    else if (!IsMetaTarget(t)) other = true;
    if (!end) break;
    p = end + 1;
  }
  if (text) return CLIP_TEXT;
  if (image) return CLIP_IMAGE;
  return other ? CLIP_OTHER : CLIP_EMPTY;
}

std::string ClipboardTextIn(const char *utf8) {
  // A carriage return only ever comes from a carriage return, so line ends fold after decoding.
  std::string text = Utf8ToLatin1(utf8);
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\r') {
      out += text[i];
      continue;
    }
    out += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') i++;
  }
  return out;
}

std::string ClipboardTextOut(const char *latin1) {
  std::string out;
  for (const auto *p = reinterpret_cast<const unsigned char *>(latin1 ? latin1 : ""); *p; p++) {
    if (*p < 0x80) {
      out += static_cast<char>(*p);
    } else {
      out += static_cast<char>(0xc0 | (*p >> 6));
      out += static_cast<char>(0x80 | (*p & 0x3f));
    }
  }
  return out;
}
