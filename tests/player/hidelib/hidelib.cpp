// Preloaded into the player by tests: dlopen refuses every library whose name holds one of the
// comma-separated words of QM_TEST_HIDE_LIBS, as if it were not installed. Nothing else changes.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

extern "C" __attribute__((visibility("default"))) void *dlopen(const char *file, int mode) {
  using Open = void *(*)(const char *, int);
  static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"));
  const char *hidden = std::getenv("QM_TEST_HIDE_LIBS");
  if (file && hidden) {
    const char *word = hidden;
    while (*word) {
      const char *end = std::strchr(word, ',');
      size_t n = end ? size_t(end - word) : std::strlen(word);
      for (const char *p = file; n && *p; p++)
        if (std::strncmp(p, word, n) == 0) return nullptr;
      if (!end) break;
      word = end + 1;
    }
  }
  return next(file, mode);
}
