#include "runtime/applet.h"

#include <cstring>

#include "platform/memory.h"
#include "runtime/auxlib.h"
#include "runtime/errcodes.h"
#include "runtime/rtsupport.h"
#include "runtime/strutil.h"

template <typename Node>
static void AppendNode(Node **head, Node *node) {
  while (*head) head = &(*head)->next;
  *head = node;
}

uint32_t AddLinkedFile(qmApplet *applet, const char *name, const char *container, uint32_t offset,
                       uint32_t length) {
  if (std::strlen(name) >= sizeof(qmLinkedFile::name) ||
      std::strlen(container) >= sizeof(qmLinkedFile::container))
    return ERR_NAMETOOLONG;
  auto *node = static_cast<qmLinkedFile *>(MemAlloc(sizeof(qmLinkedFile), 1));
  if (node == nullptr) return ERR_MEM;
  CopyString(node->name, name, sizeof node->name);
  CopyString(node->container, container, sizeof node->container);
  node->offset = offset;
  node->length = length;
  AppendNode(&applet->linkedFiles, node);
  return 0;
}

uint32_t AddIncludeFile(qmApplet *applet, uint32_t firstLine, uint32_t lastLine, uint32_t lineOffset,
                        const char *name, const char *sourceKey) {
  if (std::strlen(name) >= sizeof(qmIncludeFile::name) ||
      std::strlen(sourceKey) >= sizeof(qmIncludeFile::sourceKey))
    return ERR_NAMETOOLONG;
  auto *node = static_cast<qmIncludeFile *>(MemAlloc(sizeof(qmIncludeFile), 1));
  if (node == nullptr) return ERR_MEM;
  node->firstLine = firstLine;
  node->lastLine = lastLine;
  node->lineOffset = lineOffset;
  CopyString(node->name, name, sizeof node->name);
  CopyString(node->sourceKey, sourceKey, sizeof node->sourceKey);
  AppendNode(&applet->includeFiles, node);
  return 0;
}

void FreeAppletLists(qmApplet *applet) {
  for (qmLinkedFile *n = applet->linkedFiles; n;) {
    qmLinkedFile *next = n->next;
    MemFree(n);
    n = next;
  }
  for (qmIncludeFile *n = applet->includeFiles; n;) {
    qmIncludeFile *next = n->next;
    MemFree(n);
    n = next;
  }
  applet->linkedFiles = nullptr;
  applet->includeFiles = nullptr;
}

qmApplet *GetAppletRecord(VmState *L) {
  if (L == nullptr) L = GetMainState();
  if (L == nullptr) return nullptr;
  return static_cast<qmApplet *>(vm_registry_getudata(L, "applet"));
}

void SetAppletRecord(VmState *L, qmApplet *applet) { vm_registry_setlightudata(L, "applet", applet); }
