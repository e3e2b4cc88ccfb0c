#include "runtime/errmessages.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/catalog.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"
#include "platform/vfile.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_state.h"

namespace {

struct MessageRow {
  int32_t index;
  const char *text;
};

constexpr MessageRow kMessages[] = {
#define QM_ERROR(code, name, index, text) {index, text},
#include "runtime/errcodes.def"
#undef QM_ERROR
#define QM_MESSAGE(index, text) {index, text},
#include "runtime/messages.def"
#undef QM_MESSAGE
};
constexpr size_t kMessageCount = sizeof kMessages / sizeof kMessages[0];

constexpr int32_t kNoMessage = -2;
constexpr uint32_t kMapSize = kLastErrorCode - kFirstErrorCode + 1;

struct CodeMap {
  int32_t index[kMapSize];
};

constexpr CodeMap MakeCodeMap() {
  CodeMap m{};
  for (uint32_t i = 0; i < kMapSize; i++) m.index[i] = kNoMessage;
#define QM_ERROR(code, name, idx, text) m.index[(code) - kFirstErrorCode] = (idx);
#include "runtime/errcodes.def"
#undef QM_ERROR
  return m;
}
constexpr CodeMap kCodeMap = MakeCodeMap();

// Every row with a text has an index of its own, and only the argument codes have none: the
// catalog numbers strings by index, so two rows sharing one would translate each other.
constexpr bool MessageIndicesAreSound() {
  for (size_t i = 0; i < kMessageCount; i++) {
    if ((kMessages[i].index < 0) != (kMessages[i].text == nullptr)) return false;
    if (kMessages[i].index < 0) continue;
    for (size_t j = i + 1; j < kMessageCount; j++)
      if (kMessages[i].index == kMessages[j].index) return false;
  }
  return true;
}
static_assert(MessageIndicesAreSound(), "message indices must be unique, and -1 only without a text");

constexpr bool CodesAscend() {
  uint32_t previous = 0;
#define QM_ERROR(code, name, idx, text) \
  if ((code) <= previous || (code) > kLastErrorCode) return false; \
  previous = (code);
#include "runtime/errcodes.def"
#undef QM_ERROR
  return true;
}
static_assert(CodesAscend(), "errcodes.def lists each code once, in order, up to the last code");

// The loaders' messages about files that cannot be loaded: their argument is cut to the file part.
constexpr uint32_t kFileNameCodes[] = {ERR_LOADPICTURE, ERR_READFILE,   ERR_OPENSOUND,    ERR_NOALPHA,
                                       ERR_OPENANIM2,   ERR_OPENSOUND2, ERR_LOADPICTURE2, ERR_IMAGEERROR};

struct qmUserError {
  qmUserError *next;
  const char *text;
  // the text follows the node
};

}  // namespace

struct qmUserErrors {
  qmUserError *head = nullptr;
  qmUserError **tail = &head;
  uint32_t count = 0;
};

namespace {

// The message catalog is the process's: it is opened once before any run and read only.
const qmCatalog *gCatalog = nullptr;
// The user errors of the run being played, bound by the runtime support; without a run (the
// messages' own tests) a list of the module's own stands in.
qmUserErrors gOwnUserErrors;
qmUserErrors *gBoundUserErrors = nullptr;
VmErrorState gOwnErrorState;
VmErrorState *gErrorState = nullptr;

qmUserErrors &UserErrors() { return gBoundUserErrors ? *gBoundUserErrors : gOwnUserErrors; }

void ClearUserErrors(qmUserErrors *list) {
  for (qmUserError *u = list->head; u;) {
    qmUserError *next = u->next;
    MemFree(u);
    u = next;
  }
  list->head = nullptr;
  list->tail = &list->head;
  list->count = 0;
}

const char *UserErrorText(uint32_t n) {
  qmUserError *u = UserErrors().head;
  for (; u && n > 0; n--) u = u->next;
  return u ? u->text : nullptr;
}

void Append(char *out, size_t size, size_t *len, const char *s, size_t n) {
  if (*len + 1 >= size) return;
  size_t room = size - 1 - *len;
  if (n > room) n = room;
  std::memcpy(out + *len, s, n);
  *len += n;
  out[*len] = 0;
}

}  // namespace

void ResetErrorState(VmErrorState *s) {
  s->lastcode = 0;
  s->line = -1;
  CopyString(s->funcname, "----", sizeof s->funcname);
  CopyString(s->sourcename, "?", sizeof s->sourcename);
  s->argtext[0] = 0;
  s->argnum = 0;
  s->exitonerror = 1;
  s->callbackdepth = 0;
  s->handlerref = -1;
  s->inhandler = 0;
}

void BindErrorState(VmErrorState *state) { gErrorState = state; }

VmErrorState *GetErrorState() {
  if (gErrorState == nullptr) {
    ResetErrorState(&gOwnErrorState);
    gErrorState = &gOwnErrorState;
  }
  return gErrorState;
}

int32_t GetErrorMessageIndex(uint32_t code) {
  if (code < kFirstErrorCode || code > kLastErrorCode) return kNoMessage;
  return kCodeMap.index[code - kFirstErrorCode];
}

const char *GetBuiltinErrorText(int32_t index) {
  if (index < 0) return nullptr;
  for (const MessageRow &row : kMessages)
    if (row.index == index) return row.text;
  return nullptr;
}

void SetMessageCatalog(const qmCatalog *catalog) { gCatalog = catalog; }

const char *GetErrorText(int32_t index) {
  const char *text = GetBuiltinErrorText(index);
  if (text == nullptr) {
    // An index without a row of its own reads as an unknown code, translated if possible.
    text = CatalogGetString(gCatalog, index, nullptr);
    if (text) return text;
    index = MSG_UNKNOWN_ERROR;
    text = GetBuiltinErrorText(index);
  }
  return CatalogGetString(gCatalog, index, text);
}

char *SetErrorArgument(const char *text) {
  VmErrorState *s = GetErrorState();
  CopyString(s->argtext, text ? text : "", sizeof s->argtext);
  return s->argtext;
}

void SetErrorNumber(uint32_t n) { GetErrorState()->argnum = n; }

uint32_t AddUserError(const char *text) {
  size_t n = std::strlen(text);
  if (n > 0xFFFF0000u) return ERR_MEM;
  auto *u = static_cast<qmUserError *>(MemAlloc(uint32_t(sizeof(qmUserError) + n + 1), 1));
  if (u == nullptr) return ERR_MEM;
  char *copy = reinterpret_cast<char *>(u + 1);
  std::memcpy(copy, text, n + 1);
  u->text = copy;
  qmUserErrors &list = UserErrors();
  *list.tail = u;
  list.tail = &u->next;
  return kFirstUserError + list.count++;
}

void FreeUserErrors() { ClearUserErrors(&UserErrors()); }

qmUserErrors *NewUserErrors() { return new (std::nothrow) qmUserErrors{}; }

void DeleteUserErrors(qmUserErrors *list) {
  if (list == nullptr) return;
  if (gBoundUserErrors == list) gBoundUserErrors = nullptr;
  ClearUserErrors(list);
  delete list;
}

void BindUserErrors(qmUserErrors *list) { gBoundUserErrors = list; }

char *FormatMessageText(const char *format, const char *text, uint32_t number, char *out, size_t size) {
  if (size == 0) return out;
  out[0] = 0;
  size_t len = 0;
  // What the one substitution is: the first "%s" when there is one, else the first "%d"/"%ld".
  bool useText = std::strstr(format, "%s") != nullptr;
  bool substituted = false;
  char numberText[16];
  size_t numberLength = size_t(std::snprintf(numberText, sizeof numberText, "%u", number));
  const char *p = format;
  while (*p) {
    if (p[0] == '%' && p[1] == '%') {
      Append(out, size, &len, "%", 1);
      p += 2;
      continue;
    }
    if (!substituted && p[0] == '%') {
      if (useText && p[1] == 's') {
        Append(out, size, &len, text ? text : "", text ? std::strlen(text) : 0);
        substituted = true;
        p += 2;
        continue;
      }
      if (!useText && (p[1] == 'd' || (p[1] == 'l' && p[2] == 'd'))) {
        Append(out, size, &len, numberText, numberLength);
        substituted = true;
        p += p[1] == 'd' ? 2 : 3;
        continue;
      }
    }
    Append(out, size, &len, p, 1);
    p++;
  }
  return out;
}

char *FormatErrorMessage(uint32_t code, char *out, size_t size) {
  if (size == 0) return out;
  VmErrorState *s = GetErrorState();
  const char *format;
  if (code >= kFirstUserError) {
    format = UserErrorText(code - kFirstUserError);
    if (format == nullptr) format = GetErrorText(MSG_UNKNOWN_ERROR);
  } else {
    int32_t index = GetErrorMessageIndex(code);
    if (index == -1) {
      // The argument is the whole message, written by its raiser: nothing in it is a format.
      CopyString(out, s->argtext, size);
      return out;
    }
    if (index == kNoMessage) format = GetErrorText(MSG_UNKNOWN_ERROR);
    else format = GetErrorText(index);
  }
  const char *argument = s->argtext;
  bool cut = IsChunkName(argument) != 0;
  for (uint32_t c : kFileNameCodes) cut = cut || c == code;
  char display[kErrorArgumentSize];
  if (cut) {
    ChunkDisplayNameInto(argument, display, sizeof display);
    argument = display;
  }
  return FormatMessageText(format, argument, s->argnum, out, size);
}
