#include "player/clargs.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/errcodes.h"

char *CopyArgText(const char *text) {
  size_t n = std::strlen(text) + 1;
  if (n > UINT32_MAX) return nullptr;
  auto *copy = static_cast<char *>(MemAlloc(uint32_t(n), 0));
  if (copy) std::memcpy(copy, text, n);
  return copy;
}

uint32_t AddUserArg(qmClArgs *args, const char *name, const char *value) {
  auto *node = static_cast<qmUserArg *>(MemAlloc(sizeof(qmUserArg), 1));
  if (node == nullptr) return ERR_MEM;
  node->name = CopyArgText(name);
  node->value = value ? CopyArgText(value) : nullptr;
  if (node->name == nullptr || (value && node->value == nullptr)) {
    MemFree(node->name);
    MemFree(node->value);
    MemFree(node);
    return ERR_MEM;
  }
  if (args->lastUserArg) args->lastUserArg->next = node;
  else args->userArgs = node;
  args->lastUserArg = node;
  return 0;
}

uint32_t SetLastUserArgValue(qmClArgs *args, const char *value) {
  qmUserArg *last = args->lastUserArg;
  if (last == nullptr) return 0;
  char *copy = CopyArgText(value);
  if (copy == nullptr) return ERR_MEM;
  MemFree(last->value);
  last->value = copy;
  return 0;
}

void FreeUserArgs(qmClArgs *args) {
  for (qmUserArg *n = args->userArgs; n;) {
    qmUserArg *next = n->next;
    MemFree(n->name);
    MemFree(n->value);
    MemFree(n);
    n = next;
  }
  args->userArgs = nullptr;
  args->lastUserArg = nullptr;
}
