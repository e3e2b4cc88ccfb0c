#include "player/playerrun.h"

#include <cstring>

#include "platform/fileops.h"
#include "platform/memory.h"
#include "runtime/errcodes.h"
#include "runtime/strutil.h"

uint32_t AddTempFile(qmPlayerRun *run, const char *path) {
  auto *node = static_cast<qmTempFile *>(MemAlloc(sizeof(qmTempFile), 1));
  if (node == nullptr) return ERR_MEM;
  CopyString(node->path, path, sizeof node->path);
  node->next = run->tempFiles;
  run->tempFiles = node;
  return 0;
}

void RemoveTempFiles(qmPlayerRun *run) {
  for (qmTempFile *t = run->tempFiles; t;) {
    qmTempFile *next = t->next;
    RemoveFile(t->path);
    MemFree(t);
    t = next;
  }
  run->tempFiles = nullptr;
}
