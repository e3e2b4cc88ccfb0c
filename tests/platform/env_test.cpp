#include "platform/env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "platform/date.h"
#include "platform/locale.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"

namespace {

TEST(Environment, SetGetAndUnset) {
  EXPECT_EQ(SetEnvVar("QM_TEST_VAR", "one"), 0u);
  EXPECT_EQ(SetEnvVar("QM_TEST_VAR", "two"), 0u);
  char *value = GetEnvVar("QM_TEST_VAR");
  ASSERT_NE(value, nullptr);
  EXPECT_STREQ(value, "two");
  MemFree(value);
  EXPECT_EQ(UnsetEnvVar("QM_TEST_VAR"), 0u);
  EXPECT_EQ(GetEnvVar("QM_TEST_VAR"), nullptr);
  EXPECT_EQ(SetEnvVar("BAD=NAME", "x"), static_cast<uint32_t>(ERR_SETENV));
  EXPECT_EQ(SetEnvVar("", "x"), static_cast<uint32_t>(ERR_SETENV));
}

TEST(Environment, NamesAndValuesAreConvertedAtTheBoundary) {
  struct Case {
    const char *name, *system, *latin1;
  } cases[] = {
      {"ascii", "plain", "plain"},
      {"e acute", "caf\xC3\xA9", "caf\xE9"},
      {"beyond Latin-1", "\xE2\x82\xAC", "\xE2\x82\xAC"},
      {"no UTF-8", "x\xFF", "x\x1A\xFF"},
  };
  for (const Case &c : cases) {
    setenv("QM_TEST_VAR", c.system, 1);
    char *value = GetEnvVar("QM_TEST_VAR");
    ASSERT_NE(value, nullptr) << c.name;
    EXPECT_STREQ(value, c.latin1) << c.name;
    ASSERT_EQ(SetEnvVar("QM_TEST_VAR", value), 0u) << c.name;
    EXPECT_STREQ(std::getenv("QM_TEST_VAR"), c.system) << c.name;
    MemFree(value);
  }
  ASSERT_EQ(SetEnvVar("QM_TEST_\xC9", "\xE9"), 0u);
  EXPECT_STREQ(std::getenv("QM_TEST_\xC3\x89"), "\xC3\xA9");
  EXPECT_EQ(UnsetEnvVar("QM_TEST_\xC9"), 0u);
  EXPECT_EQ(std::getenv("QM_TEST_\xC3\x89"), nullptr);
  unsetenv("QM_TEST_VAR");
}

TEST(Environment, TemporaryFilesAreCreatedPrivateAndDistinct) {
  std::set<std::string> names;
  for (int i = 0; i < 3; i++) {
    char buffer[1024];
    ASSERT_EQ(TempFileName(buffer), buffer);
    struct stat st;
    ASSERT_EQ(stat(buffer, &st), 0) << buffer;  // exists already: nobody can slip in first
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0077, 0u);
    names.insert(buffer);
  }
  for (const auto &n : names) std::filesystem::remove(n);
  EXPECT_EQ(names.size(), 3u);
}

TEST(Language, LangGivesLanguageAndCountry) {
  struct Case {
    const char *lang;  // nullptr: unset
    int32_t language, country;
  };
  const Case cases[] = {
      {"de_CH.UTF-8", 1, 29}, {"C", 18, 38},         {"pt", 6, 38},
      {nullptr, 18, 38},      {"en_GB", 0, 0},       {"en_UK", 0, 0},
      {"en_US.UTF-8", 0, 1},  {"fr_FR@euro", 4, 11}, {"sv_SE", 7, 31},
      {"DE_de", 18, 38},      {"de_", 1, 38},        {"de_X", 1, 38},
      {"", 18, 38},           {"e", 18, 38},         {"nb_NO.UTF-8", 18, 21},
      {"ru_UA", 17, 37},      {"cs_CZ", 14, 7},      {"POSIX", 18, 38},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(LanguageIdFromLang(c.lang), c.language) << (c.lang ? c.lang : "(unset)");
    EXPECT_EQ(CountryIdFromLang(c.lang), c.country) << (c.lang ? c.lang : "(unset)");
  }
  // The environment itself is read.
  const char *saved = std::getenv("LANG");
  std::string keep = saved ? saved : "";
  setenv("LANG", "it_IT.UTF-8", 1);
  EXPECT_EQ(GetLanguageId(), 3);
  EXPECT_EQ(GetCountryId(), 13);
  if (saved) setenv("LANG", keep.c_str(), 1);
  else unsetenv("LANG");
}

TEST(Language, NamesAreLatin1FolderNames) {
  EXPECT_STREQ(GetLanguageName(1, 0), "deutsch");
  EXPECT_STREQ(GetLanguageName(1, 1), "german");
  EXPECT_STREQ(GetLanguageName(4, 0), "fran\xE7" "ais");
  EXPECT_STREQ(GetLanguageName(14, 0), "\xE8" "e\xB9" "tina");
  EXPECT_STREQ(GetLanguageName(17, 1), "unknown");
  EXPECT_EQ(GetLanguageName(18, 0), nullptr);
  EXPECT_EQ(GetLanguageName(-1, 0), nullptr);
}

// Dates are local times; a fixed zone keeps the expectations independent of the machine.
class Dates : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *tz = std::getenv("TZ");
    hadTz = tz != nullptr;
    if (tz) savedTz = tz;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadTz) setenv("TZ", savedTz.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }
  bool hadTz = false;
  std::string savedTz;
};

TEST_F(Dates, ConvertBothWaysAndRefuseDatesThatDoNotExist) {
  uint32_t times[3] = {0, 0, 1234567890u};
  qmDate date{};
  TimeToDate(times, &date, 2);
  EXPECT_EQ(date.year, 2009u);
  EXPECT_EQ(date.month, 1u);  // February
  EXPECT_EQ(date.day, 13u);
  EXPECT_EQ(date.hours, 23u);
  EXPECT_EQ(date.minutes, 31u);
  EXPECT_EQ(date.seconds, 30u);
  EXPECT_EQ(DateToTime(&date, times, 1), 1);
  EXPECT_EQ(times[1], 1234567890u);

  struct Case {
    qmDate date;
    int ok;
  };
  const Case cases[] = {
      {{0, 0, 0, 16, 8, 1982}, 1},   // 16 September 1982
      {{0, 0, 0, 29, 1, 2024}, 1},   // leap day
      {{0, 0, 0, 29, 1, 2023}, 0},   // no such day
      {{0, 0, 0, 31, 3, 2020}, 0},   // 31 April
      {{0, 0, 0, 1, 12, 2020}, 0},   // month 12 does not exist (0-11)
      {{0, 0, 0, 0, 0, 2020}, 0},
      {{0, 0, 0, 1, 0, 1969}, 0},    // before 1970
      {{0, 0, 25, 1, 0, 2020}, 0},
  };
  for (const auto &c : cases) {
    uint32_t t[1] = {7};
    EXPECT_EQ(DateToTime(&c.date, t, 0), c.ok) << c.date.day << "." << c.date.month << "." << c.date.year;
  }
}

TEST_F(Dates, TextsHaveTheirFormats) {
  char a[kDateTextSize], b[kDateTextSize];
  GetDateTimeString(DATE_TEXT_NUMERIC, a, b);
  EXPECT_EQ(std::strlen(a), 8u);
  EXPECT_EQ(a[2], '-');
  EXPECT_EQ(a[5], '-');
  EXPECT_EQ(std::strlen(b), 8u);
  EXPECT_EQ(b[2], ':');
  GetDateTimeString(DATE_TEXT_TIME, a, nullptr);
  EXPECT_EQ(std::strlen(a), 8u);
  EXPECT_EQ(a[5], ':');

  const char *saved = std::getenv("LC_ALL");
  std::string keep = saved ? saved : "";
  setenv("LC_ALL", "C", 1);
  GetDateTimeString(DATE_TEXT_LOCALE, a, nullptr);  // the C locale's short date: mm/dd/yy
  EXPECT_EQ(std::strlen(a), 8u);
  EXPECT_EQ(a[2], '/');
  GetDateTimeString(DATE_TEXT_WEEKDAY, a, nullptr);
  const std::set<std::string> days{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday",
                                   "Friday", "Saturday"};
  EXPECT_TRUE(days.count(a)) << a;
  if (saved) setenv("LC_ALL", keep.c_str(), 1);
  else unsetenv("LC_ALL");
}

}  // namespace
