#include "runtime/errreport.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "runtime/applet.h"
#include "runtime/auxlib.h"
#include "runtime/context.h"
#include "runtime/errmessages.h"
#include "runtime/registry.h"
#include "runtime/rttags.h"
#include "runtime/strutil.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_debug.h"
#include "runtime/vm/vm_state.h"

namespace {


bool IsNameKind(const char *namewhat) {
  for (const char *kind : {"global", "local", "field", "method"})
    if (namewhat && std::strcmp(namewhat, kind) == 0) return true;
  return false;
}

// The include node that holds the error line of an applet run without its source.
const qmIncludeFile *FindIncludeOfError(VmState *L) {
  const VmErrorState &err = G(L)->err;
  const qmApplet *applet = GetAppletRecord(L);
  if (applet == nullptr) return nullptr;
  const char *source = err.sourcename[0] == '?' ? "" : err.sourcename;
  for (const qmIncludeFile *n = applet->includeFiles; n; n = n->next)
    if (std::strcmp(n->sourceKey, source) == 0 && int64_t(n->firstLine) <= err.line && err.line <= int64_t(n->lastLine))
      return n;
  return nullptr;
}

bool ScriptIsApplet(const char *script) { return script && std::strcmp(script, ":none:") == 0; }

void ReportFileName(VmState *L, char *out, size_t size) {
  const char *script = vm_registry_getstring(L, "script");
  const char *name = nullptr;
  if (ScriptIsApplet(script)) {
    const qmIncludeFile *node = FindIncludeOfError(L);
    if (node) name = node->name;
  } else {
    name = script;
  }
  if (name == nullptr || name[0] == 0) name = kErrorDefaultFileName;
  ChunkDisplayNameInto(name, out, size);
}

void PrintWord(int32_t index) {
  if (IsQuiet()) return;
  std::printf("%s\n", GetErrorText(index));
  std::fflush(stdout);
}

}  // namespace

uint32_t HandleCommandError(VmState *L, uint32_t code) { return vm_handlecommanderror(L, code); }

uint32_t CallErrorHandler(VmState *L, uint32_t code) {
  VmErrorState &err = G(L)->err;
  if (err.handlerref == -1) return code;
  // The command that failed is still the innermost record: name it and its calling line.
  std::strcpy(err.funcname, "----");
  err.line = -1;
  vm_fillerrorfunction(L);
  char message[kErrorMessageSize];
  FormatErrorMessage(code, message, sizeof message);
  if (!vm_checkstack(L, 5)) return code;
  vm_getref(L, err.handlerref);
  vm_pushnumber(L, code);
  vm_pushstring(L, message);
  vm_pushstring(L, err.funcname);
  vm_pushnumber(L, err.line);
  std::strcpy(err.funcname, "----");
  err.line = -1;
  return vm_callback(L, 4, 0);
}

void SetErrorHandler(VmState *L, int i) {
  ReleaseErrorHandler(L);
  if (vm_type(L, i) != VM_TFUNCTION) return;
  vm_pushvalue(L, i);
  G(L)->err.handlerref = vm_ref(L, VM_REGISTRYINDEX);
}

void ReleaseErrorHandler(VmState *L) {
  VmErrorState &err = G(L)->err;
  if (err.handlerref != -1) vm_unref(L, VM_REGISTRYINDEX, err.handlerref);
  err.handlerref = -1;
}

bool HasErrorHandler(VmState *L) { return G(L)->err.handlerref != -1; }

void FillErrorFunctionName(VmState *L) {
  VmErrorState &err = G(L)->err;
  bool sourceTaken = false;
  VmDebug ar;
  for (int level = 0; vm_getstack(L, level, &ar); level++) {
    if (!vm_getinfo(L, "Sn", &ar)) continue;
    const char *source = ar.source ? ar.source : "?";
    if (!sourceTaken && source[0] != '?' && source[0] != '=') {
      CopyString(err.sourcename, source, sizeof err.sourcename);
      sourceTaken = true;
    }
    if (std::strcmp(err.funcname, "----") != 0) continue;
    bool native = ar.what && std::strcmp(ar.what, "C") == 0;
    bool mainChunk = ar.what && std::strcmp(ar.what, "main") == 0;
    if (IsNameKind(ar.namewhat)) {
      const char *name;
      if (native) {
        name = ar.name ? FindRegisteredCommandName(ar.name) : nullptr;
        if (name == nullptr) name = "?";
      } else {
        name = ar.name ? ar.name : "anonymous";
      }
      CopyString(err.funcname, name, sizeof err.funcname);
    } else if (!native && !mainChunk && (ar.namewhat == nullptr || ar.namewhat[0] == 0)) {
      CopyString(err.funcname, "<<unnamed>>", sizeof err.funcname);
    }
  }
  if (err.line == -1 && vm_getstack(L, 1, &ar) && vm_getinfo(L, "l", &ar)) err.line = ar.currentline;
}

int32_t MapErrorLine(VmState *L) {
  const VmErrorState &err = G(L)->err;
  const char *script = vm_registry_getstring(L, "script");
  if (ScriptIsApplet(script)) {
    const qmIncludeFile *node = FindIncludeOfError(L);
    if (node == nullptr) return -1;
    return int32_t(err.line - int64_t(node->firstLine) + node->lineOffset + 1);
  }
  int64_t sum = 0;
  const qmApplet *applet = GetAppletRecord(L);
  if (applet && script)
    for (const qmIncludeFile *n = applet->includeFiles; n; n = n->next)
      if (Stricmp(n->name, script) == 0) sum += int64_t(n->lastLine) - n->firstLine;
  double begin = vm_registry_getnumber(L, "beginline");
  return int32_t(err.line - int64_t(begin) + sum + 1);
}

void GetErrorReport(VmState *L, uint32_t code, char *message, size_t messageSize, char *file, size_t fileSize,
                    int32_t *line) {
  FormatErrorMessage(code, message, messageSize);
  if (file && fileSize) file[0] = 0;
  if (line) *line = 0;
  if (!IsLineInfoOn()) return;
  if (file && fileSize) ReportFileName(L, file, fileSize);
  if (line) *line = MapErrorLine(L);
}

char *BuildScriptErrorText(VmState *L, const char *message, int plain, char *out, size_t size) {
  if (plain || !IsLineInfoOn()) {
    CopyString(out, message, size);
    return out;
  }
  char file[1024];
  ReportFileName(L, file, sizeof file);
  int32_t line = MapErrorLine(L);
  const char *function = G(L)->err.funcname;
  // The words may come from a catalog: they are arguments here, never the format.
  if (std::strcmp(function, "----") == 0)
    std::snprintf(out, size, "%s\n%s: %s (%s: %d)", message, GetErrorText(MSG_FILE), file,
                  GetErrorText(MSG_CURRENT_LINE), line);
  else
    std::snprintf(out, size, "%s\n%s: %s (%s: %d - %s: %s)", message, GetErrorText(MSG_FILE), file,
                  GetErrorText(MSG_CURRENT_LINE), line, GetErrorText(MSG_IN_FUNCTION), function);
  return out;
}

void ShowScriptError(VmState *L, const char *message, int plain) {
  char text[kErrorMessageSize + 1200];
  BuildScriptErrorText(L, message, plain, text, sizeof text);
  qmPlayerContext *ctx = GetPlayerContext(L);
  if (ctx && ctx->showErrorRequester) {
    ctx->showErrorRequester(kRequesterTitle, text);
  } else {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
  }
}

void PrintDoneMessage() { PrintWord(MSG_DONE); }
void PrintFailedMessage() { PrintWord(MSG_FAILED); }
