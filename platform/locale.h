// The user's language and country, from LANG ("de_CH.UTF-8": language de, country CH).
#pragma once
#include <cstdint>

enum : int32_t {
  LANGUAGE_ENGLISH = 0,
  LANGUAGE_UNKNOWN = 18,
  COUNTRY_UNKNOWN = 38,
};

// From the first two letters of LANG; LANGUAGE_UNKNOWN when unset or not in the table.
int32_t GetLanguageId();
// From the two letters after the first "_"; COUNTRY_UNKNOWN when unset, absent or not known.
int32_t GetCountryId();
// The same from a given LANG value (nullptr: unset).
int32_t LanguageIdFromLang(const char *lang);
int32_t CountryIdFromLang(const char *lang);

// The language's own name (english = 0) or English name (english = 1), in Latin-1, except
// Czech, whose own name is in ISO 8859-2; nullptr for an id without a name (above 17).
// These are the folder names of catalogs.
const char *GetLanguageName(int32_t id, int english);
