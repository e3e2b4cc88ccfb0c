#include "runtime/rttags.h"

#include <cstdio>
#include <new>

#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/errmessages.h"
#include "runtime/vnames.h"
#include "runtime/vm/vm_state.h"

namespace {
template <typename Hook>
struct HookNode {
  HookNode *next;
  Hook hook;
};
}  // namespace

struct qmRuntimeTags {
  uint32_t eventTimeout = 1500;
  uint32_t quiet = 0;
  uint32_t declarations = 0;
  uint32_t lineInfo = 0;
  HookNode<qmSetTagHook> *setHooks = nullptr;
  HookNode<qmGetTagHook> *getHooks = nullptr;
  qmPluginHook *pluginHooks = nullptr;
};

namespace {

// The tags of the run being played, bound by the runtime support; without a run (the tags' own
// tests, start-up before the script state exists) a record of the module's own stands in.
qmRuntimeTags gOwnTags;
qmRuntimeTags *gBoundTags = nullptr;

qmRuntimeTags &Tags() { return gBoundTags ? *gBoundTags : gOwnTags; }

template <typename Hook>
uint32_t AppendHook(HookNode<Hook> **head, Hook hook) {
  auto *node = static_cast<HookNode<Hook> *>(MemAlloc(sizeof(HookNode<Hook>), 1));
  if (node == nullptr) return ERR_MEM;
  node->hook = hook;
  while (*head) head = &(*head)->next;
  *head = node;
  return 0;
}

template <typename Node>
void FreeNodes(Node **head) {
  for (Node *n = *head; n;) {
    Node *next = n->next;
    MemFree(n);
    n = next;
  }
  *head = nullptr;
}

void ClearTags(qmRuntimeTags *t) {
  FreeNodes(&t->setHooks);
  FreeNodes(&t->getHooks);
  FreeNodes(&t->pluginHooks);
  *t = qmRuntimeTags{};
}

}  // namespace

qmRuntimeTags *NewRuntimeTags() { return new (std::nothrow) qmRuntimeTags{}; }

void DeleteRuntimeTags(qmRuntimeTags *tags) {
  if (tags == nullptr) return;
  if (gBoundTags == tags) gBoundTags = nullptr;
  ClearTags(tags);
  delete tags;
}

void BindRuntimeTags(qmRuntimeTags *tags) { gBoundTags = tags; }

uint32_t GetRuntimeTags(void *context, const qmTagItem *tags) {
  qmRuntimeTags &run = Tags();
  uint32_t answered = 0;
  VmErrorState *err = GetErrorState();
  for (const qmTagItem *t = tags; t->tag != 0; t++) {
    auto *result = reinterpret_cast<uintptr_t *>(t->value);
    switch (t->tag) {
      case RTTAG_EVENTTIMEOUT: *result = run.eventTimeout; break;
      case RTTAG_QUIET: *result = run.quiet; break;
      case RTTAG_DECLARATIONS: *result = run.declarations; break;
      case RTTAG_CALLBACKDEPTH: *result = err->callbackdepth; break;
      case RTTAG_EXITONERROR: *result = err->exitonerror; break;
      default: {
        bool handled = false;
        for (auto *h = run.getHooks; h && !handled; h = h->next) handled = h->hook(context, t->tag, result) != 0;
        if (!handled) continue;
      }
    }
    answered++;
  }
  return answered;
}

uint32_t SetRuntimeTags(void *context, const qmTagItem *tags) {
  qmRuntimeTags &run = Tags();
  uint32_t taken = 0;
  VmErrorState *err = GetErrorState();
  for (const qmTagItem *t = tags; t->tag != 0; t++) {
    switch (t->tag) {
      case RTTAG_EVENTTIMEOUT: run.eventTimeout = uint32_t(t->value); break;
      case RTTAG_QUIET: run.quiet = uint32_t(t->value); break;
      case RTTAG_DECLARATIONS: run.declarations = uint32_t(t->value); break;
      case RTTAG_CALLBACKDEPTH:
        if (t->value) err->callbackdepth++;
        else if (err->callbackdepth > 0) err->callbackdepth--;
        break;
      case RTTAG_EXITONERROR: err->exitonerror = t->value ? 1 : 0; break;
      case RTTAG_LINEINFO: run.lineInfo = uint32_t(t->value); break;
      default: {
        bool handled = false;
        for (auto *h = run.setHooks; h && !handled; h = h->next) handled = h->hook(context, t->tag, t->value) != 0;
        if (!handled) continue;
      }
    }
    taken++;
  }
  return taken;
}

uint32_t AddSetTagHook(qmSetTagHook hook) { return AppendHook(&Tags().setHooks, hook); }
uint32_t AddGetTagHook(qmGetTagHook hook) { return AppendHook(&Tags().getHooks, hook); }

int AddPluginHook(uint32_t kind, uintptr_t first, uintptr_t second) {
  if (kind != 0) return 0;
  auto *node = static_cast<qmPluginHook *>(MemAlloc(sizeof(qmPluginHook), 1));
  if (node == nullptr) return 0;
  node->kind = kind;
  node->first = first;
  node->second = second;
  qmPluginHook **head = &Tags().pluginHooks;
  while (*head) head = &(*head)->next;
  *head = node;
  return 1;
}

const qmPluginHook *GetPluginHooks() { return Tags().pluginHooks; }

uint32_t GetEventTimeout() { return Tags().eventTimeout; }
int IsQuiet() { return Tags().quiet != 0; }
int IsLineInfoOn() { return Tags().lineInfo != 0; }
bool DeclarationsRunning() { return Tags().declarations != 0; }

void PrintStatusMessage(const char *format, const char *name, int dots) {
  if (IsQuiet()) return;
  char line[kErrorMessageSize];
  char shown[kChunkNameSize];
  FormatMessageText(format, name ? ChunkDisplayName(name, shown, sizeof shown) : "", 0, line, sizeof line);
  std::fputs(line, stdout);
  if (dots) std::fputs("...", stdout);
  std::fflush(stdout);
}

void ResetRuntimeTags() { ClearTags(&Tags()); }
