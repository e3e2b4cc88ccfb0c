// Error codes to messages: the generated tables, the substitution of the error argument, user
// errors and the catalog's replacement texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "platform/catalog.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vm/vm_state.h"

namespace {

std::string Message(uint32_t code, const char *arg = "", uint32_t number = 0) {
  SetErrorArgument(arg);
  SetErrorNumber(number);
  char out[kErrorMessageSize];
  FormatErrorMessage(code, out, sizeof out);
  return out;
}

struct ErrorStateScope {
  VmErrorState state;
  ErrorStateScope() {
    ResetErrorState(&state);
    BindErrorState(&state);
  }
  ~ErrorStateScope() {
    BindErrorState(nullptr);
    FreeUserErrors();
    SetMessageCatalog(nullptr);
  }
};

TEST(ErrorTables, EveryUsedCodeHasNameIndexAndText) {
  std::set<int32_t> indices;
  int used = 0;
  for (uint32_t code = kFirstErrorCode; code <= kLastErrorCode; code++) {
    int32_t index = GetErrorMessageIndex(code);
    bool unused = code == 1249 || (code >= 1406 && code <= 1408);
    if (unused) {
      EXPECT_EQ(qm_error_name(code), nullptr) << code;
      EXPECT_EQ(index, -2) << code;
      continue;
    }
    used++;
    ASSERT_NE(qm_error_name(code), nullptr) << code;
    if (code == ERR_OPENFONT || code == ERR_ERRORCALLED) {
      EXPECT_EQ(index, -1);
      continue;
    }
    EXPECT_TRUE(indices.insert(index).second) << "index " << index << " of " << code << " used twice";
    ASSERT_NE(GetBuiltinErrorText(index), nullptr) << code;
  }
  EXPECT_EQ(used, 505);
}

TEST(ErrorTables, RuntimeCodesKeepTheirIndexAndText) {
  struct Row {
    uint32_t code;
    int32_t index;
    const char *text;
  } rows[] = {
      {ERR_MEM, 13, "Out of memory!"},
      {ERR_READFILE, 3, "Cannot read file %s !"},
      {ERR_WRONGUSAGE, 66, "Wrong usage/parameters for this command!\nRead the documentation!"},
      {ERR_NUMEXPECTED, 169, "Number expected in argument %ld!"},
      {ERR_NUMTABLEARG, 224, "Number expected in table argument \"%s\"!"},
      {ERR_TOOMANYARGS, 228, "Too many arguments for this function!"},
      {ERR_FINDLAYER, 447, "Cannot find layer \"%s\" in current BGPic!"},
      {ERR_UDEXPECTED, 660, "Userdata expected in argument %ld!"},
      {ERR_PERCENTFORMATSTR, 672, "Invalid percent format in table argument \"%s\"!"},
  };
  for (const Row &r : rows) {
    EXPECT_EQ(GetErrorMessageIndex(r.code), r.index) << r.code;
    EXPECT_STREQ(GetBuiltinErrorText(r.index), r.text) << r.code;
  }
  EXPECT_STREQ(GetErrorText(MSG_UNKNOWN_ERROR), "Unknown error code!");
  EXPECT_STREQ(GetErrorText(MSG_CURRENT_LINE), "current line");
  EXPECT_STREQ(GetErrorText(MSG_FILE), "File");
  EXPECT_STREQ(GetErrorText(MSG_IN_FUNCTION), "In function");
  EXPECT_STREQ(GetErrorText(MSG_SKIPPED), "skipped");
  // An index without a row reads as an unknown code.
  EXPECT_STREQ(GetErrorText(9999), "Unknown error code!");
}

TEST(FormatMessageText, SubstitutesOnceByHand) {
  struct Case {
    const char *name, *format, *text;
    uint32_t number;
    const char *expected;
  } cases[] = {
      {"text", "Cannot read file %s !", "a.png", 0, "Cannot read file a.png !"},
      {"number ld", "Number expected in argument %ld!", "x", 2, "Number expected in argument 2!"},
      {"number d", "FTP error %d occurred!", "", 4294967295u, "FTP error 4294967295 occurred!"},
      {"text wins over number", "Cannot open font %s with size %ld!", "topaz", 8,
       "Cannot open font topaz with size %ld!"},
      {"only the first", "%s%s%n", "A", 0, "A%s%n"},
      {"percent sign", "ends with \"%%\"", "", 0, "ends with \"%\""},
      {"plain", "Stack overflow!", "ignored", 7, "Stack overflow!"},
      {"trailing percent", "100%", "", 0, "100%"},
      {"text with percent", "File %s", "%n%s", 0, "File %n%s"},
  };
  for (const Case &c : cases) {
    char out[256];
    FormatMessageText(c.format, c.text, c.number, out, sizeof out);
    EXPECT_STREQ(out, c.expected) << c.name;
  }
}

TEST(FormatMessageText, StaysInsideTheBuffer) {
  std::string longText(5000, 'x');
  char out[32];
  std::memset(out, '#', sizeof out);
  FormatMessageText("Cannot read file %s !", longText.c_str(), 0, out, 16);
  EXPECT_EQ(std::strlen(out), 15u);
  EXPECT_EQ(out[16], '#');
}

TEST(FormatErrorMessage, ArgumentsAndFileNames) {
  ErrorStateScope scope;
  struct Case {
    const char *name;
    uint32_t code;
    const char *arg;
    uint32_t number;
    const char *expected;
  } cases[] = {
      {"argument position", ERR_NUMEXPECTED, "", 2, "Number expected in argument 2!"},
      {"loader code: file part", ERR_READFILE, "/a/b/pic.png", 0, "Cannot read file pic.png !"},
      {"virtual name: display name", ERR_READFILE, ":::chunk4196:20*pic.png//x/app", 0,
       "Cannot read file pic.png !"},
      {"virtual name for any code", ERR_NOTADIR, ":::chunk1:2*data.bin//x/app", 0, "data.bin is not a directory!"},
      {"other code keeps the path", ERR_TABLEDECLA, "a/b{}", 0, "Table a/b{} not found!"},
      {"argument is the message", ERR_ERRORCALLED, "my %s message %n", 0, "my %s message %n"},
      {"font message", ERR_OPENFONT, "Cannot open font topaz with size 8!", 0, "Cannot open font topaz with size 8!"},
      {"unused code", 1249, "x", 0, "Unknown error code!"},
      {"unused code 1407", 1407, "x", 0, "Unknown error code!"},
      {"no code at all", 999, "x", 0, "Unknown error code!"},
  };
  for (const Case &c : cases) EXPECT_EQ(Message(c.code, c.arg, c.number), c.expected) << c.name;
}

TEST(FormatErrorMessage, ArgumentIsCutToItsBuffer) {
  ErrorStateScope scope;
  std::string huge(4000, 'y');
  char *buffer = SetErrorArgument(huge.c_str());
  EXPECT_EQ(std::strlen(buffer), kErrorArgumentSize - 1);
  EXPECT_EQ(buffer, scope.state.argtext);
}

TEST(UserErrors, NumberedFrom1509AndNeverFormatted) {
  ErrorStateScope scope;
  EXPECT_EQ(AddUserError("First %s failed"), 1509u);
  EXPECT_EQ(AddUserError("%s%s%n"), 1510u);
  EXPECT_EQ(Message(1509, "step"), "First step failed");
  EXPECT_EQ(Message(1510, "A"), "A%s%n");
  EXPECT_EQ(Message(1511, "A"), "Unknown error code!");
  FreeUserErrors();
  EXPECT_EQ(Message(1509), "Unknown error code!");
  EXPECT_EQ(AddUserError("again"), 1509u);
}

// A plain-text catalog: line n is the string of index n.
std::string WriteCatalog(const std::map<int, std::string> &strings) {
  char path[] = "/tmp/qm_catalog_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  FILE *f = fdopen(fd, "w");
  int last = strings.rbegin()->first;
  for (int i = 0; i <= last; i++) {
    auto it = strings.find(i);
    std::fprintf(f, "%s\n", it != strings.end() ? it->second.c_str() : "");
  }
  std::fclose(f);
  return path;
}

TEST(MessageCatalog, ReplacesTextsAndStaysUnformatted) {
  ErrorStateScope scope;
  std::string path = WriteCatalog({{13, "Kein Speicher!"}, {169, "%s%s%n Argument %ld falsch"}, {91, "Unbekannt!"}});
  qmCatalog *catalog = CatalogOpenFile(path.c_str());
  ASSERT_NE(catalog, nullptr);
  SetMessageCatalog(catalog);
  EXPECT_EQ(Message(ERR_MEM), "Kein Speicher!");
  // A translation with stray conversions is filled once by hand, never handed to printf.
  EXPECT_EQ(Message(ERR_NUMEXPECTED, "T", 3), "T%s%n Argument %ld falsch");
  EXPECT_EQ(Message(1300 + 106), "Unbekannt!");
  // Indices beyond the catalog's strings keep the built-in text.
  EXPECT_EQ(Message(ERR_PERCENTFORMATSTR, "key"), "Invalid percent format in table argument \"key\"!");
  SetMessageCatalog(nullptr);
  CatalogClose(catalog);
  std::remove(path.c_str());
}

}  // namespace
