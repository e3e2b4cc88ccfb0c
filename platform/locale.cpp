#include "platform/locale.h"

#include <cstdlib>
#include <iterator>
#include <cstring>

namespace {

struct Code {
  char letters[3];
  int32_t id;
};

// Searched in this order; the first match wins.
constexpr Code kLanguages[] = {
    {"da", 8},  {"de", 1},  {"en", 0},  {"es", 5},  {"fr", 4},  {"el", 13},
    {"it", 3},  {"hu", 12}, {"nl", 2},  {"no", 10}, {"pl", 11}, {"pt", 6},
    {"fi", 9},  {"sv", 7},  {"tr", 15}, {"cs", 14}, {"hr", 16}, {"ru", 17},
};

constexpr Code kCountries[] = {
    {"AD", 36}, {"AU", 2},  {"AT", 34}, {"BE", 3},  {"BG", 4},  {"BR", 5},  {"CA", 6},
    {"CH", 29}, {"CZ", 7},  {"DK", 8},  {"DE", 9},  {"ES", 10}, {"FI", 30}, {"FR", 11},
    {"GB", 0},  {"UK", 0},  {"GR", 12}, {"IT", 13}, {"IE", 33}, {"IS", 35}, {"LI", 14},
    {"LT", 15}, {"LU", 16}, {"HU", 17}, {"MT", 18}, {"MC", 19}, {"NL", 20}, {"NO", 21},
    {"PL", 22}, {"PT", 23}, {"RO", 24}, {"RU", 25}, {"SM", 26}, {"SE", 31}, {"SK", 27},
    {"SI", 28}, {"TR", 32}, {"UA", 37}, {"US", 1},
};

// Indexed by language id: {own name, English name}.
constexpr const char *kLanguageNames[][2] = {
    {"english", "english"},
    {"deutsch", "german"},
    {"nederlands", "dutch"},
    {"italiano", "italian"},
    {"fran\xE7" "ais", "french"},
    {"espa\xF1ol", "spanish"},
    {"portugu\xEAs", "portuguese"},
    {"svenska", "swedish"},
    {"dansk", "danish"},
    {"suomi", "finnish"},
    {"norsk", "norwegian"},
    {"polski", "polish"},
    {"magyar", "hungarian"},
    {"greek", "greek"},
    {"\xE8" "e\xB9" "tina", "czech"},  // ISO 8859-2
    {"t\xFCrk\xE7" "e", "turkish"},
    {"hrvatski", "croatian"},
    {"unknown", "unknown"},
};

template <size_t N>
int32_t Find(const Code (&table)[N], const char *letters, int32_t notFound) {
  if (!letters || std::strlen(letters) < 2) return notFound;
  for (const auto &code : table)
    if (letters[0] == code.letters[0] && letters[1] == code.letters[1]) return code.id;
  return notFound;
}

}  // namespace

int32_t LanguageIdFromLang(const char *lang) { return Find(kLanguages, lang, LANGUAGE_UNKNOWN); }

int32_t CountryIdFromLang(const char *lang) {
  const char *underscore = lang ? std::strchr(lang, '_') : nullptr;
  return Find(kCountries, underscore ? underscore + 1 : nullptr, COUNTRY_UNKNOWN);
}

int32_t GetLanguageId() { return LanguageIdFromLang(std::getenv("LANG")); }

int32_t GetCountryId() { return CountryIdFromLang(std::getenv("LANG")); }

const char *GetLanguageName(int32_t id, int english) {
  if (id < 0 || id >= static_cast<int32_t>(std::size(kLanguageNames))) return nullptr;
  return kLanguageNames[id][english ? 1 : 0];
}
