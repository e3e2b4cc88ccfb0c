#include "runtime/rttags.h"

#include <cstdio>

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

struct RuntimeTags {
  uint32_t eventTimeout = 1500;
  uint32_t quiet = 0;
  uint32_t declarations = 0;
  uint32_t lineInfo = 0;
  HookNode<qmSetTagHook> *setHooks = nullptr;
  HookNode<qmGetTagHook> *getHooks = nullptr;
  qmPluginHook *pluginHooks = nullptr;
};

RuntimeTags gTags;

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

}  // namespace

uint32_t GetRuntimeTags(void *context, const qmTagItem *tags) {
  uint32_t answered = 0;
  VmErrorState *err = GetErrorState();
  for (const qmTagItem *t = tags; t->tag != 0; t++) {
    auto *result = reinterpret_cast<uintptr_t *>(t->value);
    switch (t->tag) {
      case RTTAG_EVENTTIMEOUT: *result = gTags.eventTimeout; break;
      case RTTAG_QUIET: *result = gTags.quiet; break;
      case RTTAG_DECLARATIONS: *result = gTags.declarations; break;
      case RTTAG_CALLBACKDEPTH: *result = err->callbackdepth; break;
      case RTTAG_EXITONERROR: *result = err->exitonerror; break;
      default: {
        bool handled = false;
        for (auto *h = gTags.getHooks; h && !handled; h = h->next) handled = h->hook(context, t->tag, result) != 0;
        if (!handled) continue;
      }
    }
    answered++;
  }
  return answered;
}

uint32_t SetRuntimeTags(void *context, const qmTagItem *tags) {
  uint32_t taken = 0;
  VmErrorState *err = GetErrorState();
  for (const qmTagItem *t = tags; t->tag != 0; t++) {
    switch (t->tag) {
      case RTTAG_EVENTTIMEOUT: gTags.eventTimeout = uint32_t(t->value); break;
      case RTTAG_QUIET: gTags.quiet = uint32_t(t->value); break;
      case RTTAG_DECLARATIONS: gTags.declarations = uint32_t(t->value); break;
      case RTTAG_CALLBACKDEPTH:
        if (t->value) err->callbackdepth++;
        else if (err->callbackdepth > 0) err->callbackdepth--;
        break;
      case RTTAG_EXITONERROR: err->exitonerror = t->value ? 1 : 0; break;
      case RTTAG_LINEINFO: gTags.lineInfo = uint32_t(t->value); break;
      default: {
        bool handled = false;
        for (auto *h = gTags.setHooks; h && !handled; h = h->next) handled = h->hook(context, t->tag, t->value) != 0;
        if (!handled) continue;
      }
    }
    taken++;
  }
  return taken;
}

uint32_t AddSetTagHook(qmSetTagHook hook) { return AppendHook(&gTags.setHooks, hook); }
uint32_t AddGetTagHook(qmGetTagHook hook) { return AppendHook(&gTags.getHooks, hook); }

int AddPluginHook(uint32_t kind, uintptr_t first, uintptr_t second) {
  if (kind != 0) return 0;
  auto *node = static_cast<qmPluginHook *>(MemAlloc(sizeof(qmPluginHook), 1));
  if (node == nullptr) return 0;
  node->kind = kind;
  node->first = first;
  node->second = second;
  qmPluginHook **head = &gTags.pluginHooks;
  while (*head) head = &(*head)->next;
  *head = node;
  return 1;
}

const qmPluginHook *GetPluginHooks() { return gTags.pluginHooks; }

uint32_t GetEventTimeout() { return gTags.eventTimeout; }
int IsQuiet() { return gTags.quiet != 0; }
int IsLineInfoOn() { return gTags.lineInfo != 0; }
bool DeclarationsRunning() { return gTags.declarations != 0; }

void PrintStatusMessage(const char *format, const char *name, int dots) {
  if (IsQuiet()) return;
  char line[kErrorMessageSize];
  FormatMessageText(format, name ? ChunkDisplayName(name) : "", 0, line, sizeof line);
  std::fputs(line, stdout);
  if (dots) std::fputs("...", stdout);
  std::fflush(stdout);
}

void ResetRuntimeTags() {
  FreeNodes(&gTags.setHooks);
  FreeNodes(&gTags.getHooks);
  FreeNodes(&gTags.pluginHooks);
  gTags.eventTimeout = 1500;
  gTags.quiet = 0;
  gTags.declarations = 0;
  gTags.lineInfo = 0;
}
