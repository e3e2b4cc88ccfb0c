// The string library's command handlers: argument checks, the engine call, the results.
#include "player/string/lib_string.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "io/crc32.h"
#include "io/md5.h"
#include "runtime/parsenumber.h"
#include "player/string/eval_command.h"
#include "player/string/pattern.h"
#include "player/string/string_format.h"
#include "player/string/string_number.h"
#include "player/string/string_ops.h"
#include "runtime/auxlib.h"
#include "runtime/cmdargs.h"
#include "runtime/errcodes.h"
#include "runtime/registry.h"
#include "runtime/vm/vm_api.h"
#include "runtime/vm/vm_number.h"

namespace {

constexpr int32_t kTypeInteger = 1;  // the system library's #INTEGER
// A %s conversion gives the string, or its width (at most two digits) when that is longer.
constexpr size_t kMaxFormatWidth = 99;

void PushString(VmState *L, const std::string &s) { vm_pushlstring(L, s.data(), s.size()); }

uint32_t StrLowerStr(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  std::string out(len, '\0');
  LowerBytes(s, len, out.data());
  PushString(L, out);
  return 1;
}

uint32_t StrUpperStr(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  std::string out(len, '\0');
  UpperBytes(s, len, out.data());
  PushString(L, out);
  return 1;
}

uint32_t StrVal(VmState *L) {
  CheckArgCount(L, 1, 1);
  const char *s = vm_checkstring(L, 1, nullptr);
  size_t consumed = 0;
  uint32_t error = 0;
  double v = ParseNumber(s, &consumed, &error);
  if (error) v = 0, consumed = 0;  // no number is no error here
  vm_pushnumber(L, v);
  vm_pushnumber(L, double(consumed));
  return 2;
}

uint32_t StrStrStr(VmState *L) {
  CheckArgCount(L, 1, 2);
  double n = vm_checknumber(L, 1);
  PushString(L, NumberToCutText(n, vm_optword32(L, 2, 0)));
  return 1;
}

uint32_t StrUnrightStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t n = vm_checkword32(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  size_t cut = size_t(n) < len ? size_t(n) : len;
  vm_pushlstring(L, s + cut, len - cut);
  return 1;
}

uint32_t StrUnleftStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t n = vm_checkword32(L, 2);
  if (n < 0) return ERR_WRONGUSAGE;
  size_t cut = size_t(n) < len ? size_t(n) : len;
  vm_pushlstring(L, s, len - cut);
  return 1;
}

uint32_t StrChr(VmState *L) {
  CheckArgCount(L, 1, 1);
  int32_t code = vm_checkword32(L, 1);
  if (code < 0 || code > 255) return ERR_WRONGUSAGE;
  char c = char(code);
  vm_pushlstring(L, &c, 1);
  return 1;
}

uint32_t StrMidStr(VmState *L) {
  CheckArgCount(L, 3, 3);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int64_t pos = vm_checkword32(L, 2), n = vm_checkword32(L, 3);
  // The part of [pos, pos + n) that lies within the string; a negative pos cuts the front.
  int64_t from = pos < 0 ? 0 : pos, to = pos + n;
  if (to > int64_t(len)) to = int64_t(len);
  if (n <= 0 || from >= to) vm_pushlstring(L, "", 0);
  else vm_pushlstring(L, s + from, size_t(to - from));
  return 1;
}

uint32_t StrRightStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t n = vm_checkword32(L, 2);
  size_t k = n < 1 ? 0 : (size_t(n) < len ? size_t(n) : len);
  vm_pushlstring(L, s + len - k, k);
  return 1;
}

uint32_t StrLeftStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t n = vm_checkword32(L, 2);
  size_t k = n < 1 ? 0 : (size_t(n) < len ? size_t(n) : len);
  vm_pushlstring(L, s, k);
  return 1;
}

uint32_t StrFindStr(VmState *L) {
  CheckArgCount(L, 2, 4);
  size_t len, subLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *sub = vm_checkstring(L, 2, &subLen);
  bool cs = vm_optflag(L, 3, true);
  int32_t start = vm_optword32(L, 4, 0);
  if (start < 0) return ERR_WRONGUSAGE;
  vm_pushnumber(L, double(FindBytes(s, len, sub, subLen, size_t(start), cs)));
  return 1;
}

uint32_t StrAddStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t la, lb;
  const char *a = vm_checkstring(L, 1, &la);
  const char *b = vm_checkstring(L, 2, &lb);
  if (uint32_t code = CheckResultLength(la, 1, lb)) return code;
  std::string out;
  out.reserve(la + lb);
  out.append(a, la).append(b, lb);
  PushString(L, out);
  return 1;
}

uint32_t StrHexStr(VmState *L) {
  CheckArgCount(L, 1, 1);
  PushString(L, HexText(vm_checkinteger(L, 1)));
  return 1;
}

uint32_t StrAsc(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  vm_pushnumber(L, len ? double(static_cast<unsigned char>(s[0])) : 0);
  return 1;
}

uint32_t StrStrLen(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  vm_checkstring(L, 1, &len);
  vm_pushnumber(L, double(len));
  return 1;
}

uint32_t StrReplaceStr(VmState *L) {
  CheckArgCount(L, 3, 5);
  size_t len, searchLen, replLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *search = vm_checkstring(L, 2, &searchLen);
  const char *repl = vm_checkstring(L, 3, &replLen);
  bool cs = vm_optflag(L, 4, true);
  int32_t start = vm_optword32(L, 5, 0);
  if (start < 0) return ERR_WRONGUSAGE;
  if (replLen > searchLen) {
    size_t count = CountBytes(s, len, search, searchLen, size_t(start), cs);
    if (uint32_t code = CheckResultLength(len, count, replLen - searchLen)) return code;
  }
  std::string out;
  ReplaceBytes(s, len, search, searchLen, repl, replLen, size_t(start), cs, &out);
  PushString(L, out);
  return 1;
}

uint32_t StrBinStr(VmState *L) {
  CheckArgCount(L, 1, 2);
  uint32_t v = vm_checkinteger(L, 1);
  PushString(L, BinaryText(v, vm_optword32(L, 2, kTypeInteger)));
  return 1;
}

struct SplitTarget {
  VmState *L;
  int index;
};

uint32_t StrSplitStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len, sepLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *sep = vm_checkstring(L, 2, &sepLen);
  if (sepLen != 1) return ERR_WRONGUSAGE;
  vm_newtable(L);
  SplitTarget target{L, 0};
  size_t count = SplitBytes(s, len, sep[0], [](void *ctx, const char *p, size_t n) {
    auto *t = static_cast<SplitTarget *>(ctx);
    vm_pushlstring(t->L, p, n);
    vm_rawseti(t->L, -2, t->index++);
  }, &target);
  vm_pushnumber(L, double(count));
  return 2;
}

uint32_t StrPadNum(VmState *L) {
  CheckArgCount(L, 2, 2);
  int32_t n = vm_checkword32(L, 1), digits = vm_checkword32(L, 2);
  if (n < 0 || digits < 1) return ERR_WRONGUSAGE;
  if (uint32_t code = CheckResultLength(size_t(digits), 0, 0)) return code;
  PushString(L, PaddedNumber(n, digits));
  return 1;
}

uint32_t StrStrToArray(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  vm_newtable(L);
  for (size_t i = 0; i < len; i++) {
    vm_pushnumber(L, double(static_cast<unsigned char>(s[i])));
    vm_rawseti(L, -2, int(i));
  }
  vm_pushnumber(L, 0);
  vm_rawseti(L, -2, int(len));
  return 1;
}

uint32_t StrTrimStr(VmState *L) {
  CheckArgCount(L, 3, 3);
  size_t len, cLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *c = vm_checkstring(L, 2, &cLen);
  int32_t side = vm_checkword32(L, 3);
  if (cLen != 1) return ERR_WRONGUSAGE;
  size_t begin, n;
  TrimBytes(s, len, c[0], side, &begin, &n);
  vm_pushlstring(L, s + begin, n);
  return 1;
}

uint32_t StrToString(VmState *L) {
  CheckArgCount(L, 1, 1);
  if (vm_callmeta(L, 1, "__tostring")) return 1;
  char text[64];
  switch (vm_type(L, 1)) {
    case VM_TNIL: vm_pushstring(L, "Nil"); return 1;
    case VM_TBOOLEAN: vm_pushstring(L, vm_toboolean(L, 1) ? "true" : "false"); return 1;
    case VM_TNUMBER: {
      int n = vm_number2str(vm_tonumber(L, 1), text, sizeof text);
      vm_pushlstring(L, text, size_t(n));
      return 1;
    }
    case VM_TSTRING: vm_pushvalue(L, 1); return 1;
    case VM_TTABLE: std::snprintf(text, sizeof text, "Table: %p", vm_topointer(L, 1)); break;
    case VM_TFUNCTION: std::snprintf(text, sizeof text, "Function: %p", vm_topointer(L, 1)); break;
    case VM_TTHREAD: std::snprintf(text, sizeof text, "Thread: %p", vm_topointer(L, 1)); break;
    default: std::snprintf(text, sizeof text, "UserData: %p", vm_topointer(L, 1)); break;
  }
  vm_pushstring(L, text);
  return 1;
}

uint32_t StrToNumber(VmState *L) {
  CheckArgCount(L, 1, 2);
  int32_t base = vm_optword32(L, 2, 10);
  if (base == 10) {
    double v = 0;
    if (vm_type(L, 1) == VM_TNUMBER) v = vm_tonumber(L, 1);
    else if (!vm_str2number(vm_checkstring(L, 1, nullptr), &v)) v = 0;
    vm_pushnumber(L, v);
    return 1;
  }
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  if (base < 2 || base > 36) return ERR_WRONGUSAGE;
  vm_pushnumber(L, double(ParseUnsigned32(s, len, base)));
  return 1;
}

uint32_t StrUnmidStr(VmState *L) {
  CheckArgCount(L, 3, 3);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t pos = vm_checkword32(L, 2), n = vm_checkword32(L, 3);
  if (pos < 0 || n < 0) return ERR_WRONGUSAGE;
  // A position at or past the end removes nothing.
  size_t from = size_t(pos) < len ? size_t(pos) : len;
  size_t to = from + size_t(n) < len ? from + size_t(n) : len;
  std::string out;
  out.reserve(len - (to - from));
  out.append(s, from).append(s + to, len - to);
  PushString(L, out);
  return 1;
}

uint32_t StrCountStr(VmState *L) {
  CheckArgCount(L, 2, 4);
  size_t len, subLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *sub = vm_checkstring(L, 2, &subLen);
  bool cs = vm_optflag(L, 3, true);
  int32_t start = vm_optword32(L, 4, 0);
  if (start < 0) return ERR_WRONGUSAGE;
  vm_pushnumber(L, double(CountBytes(s, len, sub, subLen, size_t(start), cs)));
  return 1;
}

uint32_t StrInsertStr(VmState *L) {
  CheckArgCount(L, 3, 4);
  size_t len, insLen;
  const char *s = vm_checkstring(L, 1, &len);
  const char *ins = vm_checkstring(L, 2, &insLen);
  int32_t pos = vm_checkword32(L, 3);
  bool overwrite = vm_optflag(L, 4, false);
  if (pos < 0) return ERR_WRONGUSAGE;
  if (uint32_t code = CheckResultLength(len, 1, insLen)) return code;
  size_t at = size_t(pos) < len ? size_t(pos) : len;
  size_t rest = overwrite ? at + insLen : at;
  if (rest > len) rest = len;
  std::string out;
  out.reserve(at + insLen + (len - rest));
  out.append(s, at).append(ins, insLen).append(s + rest, len - rest);
  PushString(L, out);
  return 1;
}

uint32_t StrRepeatStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  int32_t n = vm_checkword32(L, 2);
  if (n < 1) return ERR_WRONGUSAGE;
  if (uint32_t code = CheckResultLength(0, size_t(n), len)) return code;
  std::string out;
  RepeatBytes(s, len, size_t(n), &out);
  PushString(L, out);
  return 1;
}

uint32_t StrMD5Str(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  if (len == 0) return ERR_WRONGUSAGE;
  qmMD5Context ctx;
  uint8_t digest[16];
  char hex[33];
  MD5Init(&ctx);
  MD5Digest(&ctx, s, len);
  MD5Final(&ctx, digest);
  MD5ToHex(digest, hex);
  vm_pushlstring(L, hex, 32);
  return 1;
}

uint32_t StrCRC32Str(VmState *L) {
  CheckArgCount(L, 1, 1);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  if (len == 0) return ERR_WRONGUSAGE;
  vm_pushnumber(L, double(~UpdateCRC32(0xFFFFFFFFu, s, len)));
  return 1;
}

uint32_t StrFormatStr(VmState *L) {
  CheckArgCount(L, 1, VM_ANYARGS);
  size_t len;
  const char *format = vm_checkstring(L, 1, &len);
  const char *p = format, *end = format + len;
  std::string out;
  int arg = 1;
  while (p < end) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    if (p + 1 < end && p[1] == '%') {
      out.push_back('%');
      p += 2;
      continue;
    }
    qmFormatConversion conv;
    size_t convLen = ParseFormatConversion(p, end, &conv);
    if (convLen == 0) return ERR_WRONGUSAGE;
    p += convLen;
    arg++;
    switch (FormatKindOf(conv.letter)) {
      case FORMAT_REAL: AppendFormattedReal(&conv, vm_checknumber(L, arg), &out); break;
      case FORMAT_SIGNED: AppendFormattedSigned(&conv, vm_checkword32(L, arg), &out); break;
      case FORMAT_UNSIGNED: AppendFormattedUnsigned(&conv, vm_checkinteger(L, arg), &out); break;
      case FORMAT_STRING: {
        size_t sLen;
        const char *s = vm_checkstring(L, arg, &sLen);
        if (uint32_t code = CheckResultLength(out.size() + kMaxFormatWidth, 1, sLen)) return code;
        AppendFormattedString(&conv, s, sLen, &out);
        break;
      }
      case FORMAT_QUOTED: {
        size_t sLen;
        const char *s = vm_checkstring(L, arg, &sLen);
        // Two quotes, and at most four bytes for each byte (a zero byte becomes \000).
        if (uint32_t code = CheckResultLength(out.size() + 2, 4, sLen)) return code;
        AppendQuoted(s, sLen, &out);
        break;
      }
    }
  }
  PushString(L, out);
  return 1;
}

// Pushes the values of a match [s, e): its captures, or the whole match.
uint32_t PushCaptures(VmState *L, const qmMatchState *ms, const char *s, const char *e, int *count) {
  int n = PatternResultCount(ms);
  if (!vm_checkstack(L, n)) return ERR_STACK;
  for (int i = 0; i < n; i++) {
    qmCaptureValue v;
    if (uint32_t code = PatternGetCapture(ms, i, s, e, &v)) return code;
    if (v.text) vm_pushlstring(L, v.text, v.length);
    else vm_pushnumber(L, v.position);
  }
  *count = n;
  return 0;
}

// The stop check of a long match: the interpreter's periodic check (the event pump) runs as it
// would between instructions, and a quit request it sees ends the command.
uint32_t PatternQuitCheck(void *data) {
  auto *L = static_cast<VmState *>(data);
  vm_runperiodiccheck(L);
  return vm_endrequested(L) ? uint32_t(ERR_USERABORT) : 0;
}

// The iterator of PatternFindStr: upvalues subject, pattern, current position.
uint32_t PatternFindNext(VmState *L) {
  const char *s = vm_tostring(L, vm_upvalueindex(1));
  size_t len = vm_strlen(L, vm_upvalueindex(1));
  const char *pattern = vm_tostring(L, vm_upvalueindex(2));
  double pos = vm_tonumber(L, vm_upvalueindex(3));
  if (pos > double(len)) return 0;  // the last match was empty and at the end
  qmMatchState ms;
  PatternBegin(&ms, s, len, pattern);
  ms.stopCheck = PatternQuitCheck;
  ms.stopData = L;
  int first = PatternFirstByte(&ms, pattern);
  for (const char *src = s + size_t(pos); src <= ms.srcEnd; src++) {
    if (first >= 0) {  // no match can begin before the next copy of the first byte
      src = static_cast<const char *>(std::memchr(src, first, size_t(ms.srcEnd - src)));
      if (!src) return 0;
    }
    const char *e = PatternMatchAt(&ms, src, pattern);
    if (ms.error) return ms.error;
    if (!e) continue;
    size_t next = size_t(e - s) + (e == src ? 1 : 0);  // past an empty match
    vm_pushnumber(L, double(next));
    vm_replace(L, vm_upvalueindex(3));
    int n;
    if (uint32_t code = PushCaptures(L, &ms, src, e, &n)) return code;
    return uint32_t(n);
  }
  return 0;
}

uint32_t StrPatternFindStr(VmState *L) {
  CheckArgCount(L, 2, 2);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  const char *pattern = vm_checkstring(L, 2, nullptr);
  vm_settop(L, 2);
  vm_pushlstring(L, s, len);
  vm_pushstring(L, pattern);
  vm_pushnumber(L, 0);
  vm_pushcclosure(L, PatternFindNext, 3);
  return 1;
}

// Walks the replacement of the match [s, e) for a string repl, handing each piece to add:
// "%1".."%9" give captures, '%' and any other byte give that byte.
template <class Add>
uint32_t WalkStringReplacement(const qmMatchState *ms, const char *repl, size_t replLen, const char *s,
                               const char *e, Add add) {
  for (size_t i = 0; i < replLen; i++) {
    char c = repl[i];
    if (c != '%' || i + 1 == replLen) {  // a lone final '%' stays as it is
      add(&repl[i], 1);
      continue;
    }
    c = repl[++i];
    if (c < '0' || c > '9') {
      add(&repl[i], 1);
      continue;
    }
    int index = c - '1';
    if (index < 0 || index >= ms->level) return ERR_INVCAPIDX;
    qmCaptureValue v;
    if (uint32_t code = PatternGetCapture(ms, index, s, e, &v)) return code;
    if (v.text) {
      add(v.text, v.length);
    } else {
      char text[VM_MAXNUMBER2STR];
      int n = vm_number2str(v.position, text, sizeof text);
      add(text, size_t(n));
    }
  }
  return 0;
}

// Adds the replacement of the match, sized first: captures repeated in it can make it far
// longer than the subject.
uint32_t AddStringReplacement(const qmMatchState *ms, const char *repl, size_t replLen, const char *s, const char *e,
                              std::string *out) {
  size_t length = 0;
  auto measure = [&length](const char *, size_t n) { length += n; };
  if (uint32_t code = WalkStringReplacement(ms, repl, replLen, s, e, measure)) return code;
  if (uint32_t code = CheckResultLength(out->size(), 1, length)) return code;
  return WalkStringReplacement(ms, repl, replLen, s, e, [out](const char *p, size_t n) { out->append(p, n); });
}

uint32_t StrPatternReplaceStr(VmState *L) {
  CheckArgCount(L, 3, 4);
  size_t len;
  const char *s = vm_checkstring(L, 1, &len);
  const char *pattern = vm_checkstring(L, 2, nullptr);
  int replType = vm_type(L, 3);
  if (replType != VM_TSTRING && replType != VM_TNUMBER && replType != VM_TFUNCTION) return ERR_WRONGUSAGE;
  size_t replLen = 0;
  const char *repl = replType == VM_TFUNCTION ? nullptr : vm_checkstring(L, 3, &replLen);
  int64_t max = vm_isnoneornil(L, 4) ? int64_t(len) + 1 : vm_checkword32(L, 4);
  bool anchor = pattern[0] == '^';
  if (anchor) pattern++;
  qmMatchState ms;
  PatternBegin(&ms, s, len, pattern);
  ms.stopCheck = PatternQuitCheck;
  ms.stopData = L;
  std::string out;
  out.reserve(len);
  const char *src = s;
  int64_t count = 0;
  int first = anchor ? -1 : PatternFirstByte(&ms, pattern);
  while (count < max) {
    if (first >= 0) {  // the bytes before the next copy of the first byte stay as they are
      auto *next = static_cast<const char *>(std::memchr(src, first, size_t(ms.srcEnd - src)));
      if (!next) break;
      out.append(src, size_t(next - src));
      src = next;
    }
    const char *e = PatternMatchAt(&ms, src, pattern);
    if (ms.error) return ms.error;
    if (e) {
      count++;
      if (repl) {
        if (uint32_t code = AddStringReplacement(&ms, repl, replLen, src, e, &out)) return code;
      } else {
        vm_pushvalue(L, 3);
        int n;
        if (uint32_t code = PushCaptures(L, &ms, src, e, &n)) return code;
        uint32_t code = vm_call(L, n, 1);
        if (code >= 1000) return code;
        int t = vm_type(L, -1);
        if (t == VM_TSTRING || t == VM_TNUMBER) {
          size_t rl;
          const char *r = vm_checkstring(L, -1, &rl);
          if (uint32_t code = CheckResultLength(out.size(), 1, rl)) return code;
          out.append(r, rl);
        }
        vm_pop(L, 1);  // any other result deletes the match
      }
    }
    if (e && e > src) src = e;
    else if (src < ms.srcEnd) out.push_back(*src++);
    else break;
    if (anchor) break;
    if (uint32_t code = CheckResultLength(out.size(), 0, 0)) return code;
  }
  out.append(src, size_t(ms.srcEnd - src));
  PushString(L, out);
  vm_pushnumber(L, double(count));
  return 2;
}

const qmCommandEntry kStringCommands[] = {
    {"LowerStr", StrLowerStr},
    {"UpperStr", StrUpperStr},
    {"Val", StrVal},
    {"StrStr", StrStrStr},
    {"UnrightStr", StrUnrightStr},
    {"UnleftStr", StrUnleftStr},
    {"Chr", StrChr},
    {"MidStr", StrMidStr},
    {"RightStr", StrRightStr},
    {"LeftStr", StrLeftStr},
    {"FindStr", StrFindStr},
    {"AddStr", StrAddStr},
    {"HexStr", StrHexStr},
    {"Asc", StrAsc},
    {"StrLen", StrStrLen},
    {"ReplaceStr", StrReplaceStr},
    {"BinStr", StrBinStr},
    {"SplitStr", StrSplitStr},
    {"PadNum", StrPadNum},
    {"StrToArray", StrStrToArray},
    {"TrimStr", StrTrimStr},
    {"ToString", StrToString},
    {"ToNumber", StrToNumber},
    {"UnmidStr", StrUnmidStr},
    {"CountStr", StrCountStr},
    {"InsertStr", StrInsertStr},
    {"RepeatStr", StrRepeatStr},
    {"MD5Str", StrMD5Str},
    {"CRC32Str", StrCRC32Str},
    {"FormatStr", StrFormatStr},
    {"PatternFindStr", StrPatternFindStr},
    {"PatternReplaceStr", StrPatternReplaceStr},
    {"Eval", StrEval},
    {nullptr, nullptr},
};

}  // namespace

const qmLibrary kStringLibrary = {"string", kStringCommands, nullptr, nullptr, nullptr, FREERANK_LAST};
