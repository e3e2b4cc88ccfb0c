// Doubly linked lists with sentinels in the header: an empty list's head points at the
// header's tail field and its tail predecessor at the header itself, so the first node's
// predecessor and the last node's successor are sentinels and no operation tests for null.
#pragma once

// The header's fields are read and written as nodes, so node accesses may alias a list header:
// without this the optimiser keeps stale sentinel values and a walk never meets the tail.
struct __attribute__((may_alias)) qmNode {
  qmNode *succ;
  qmNode *pred;
};

struct qmList {
  qmNode *head;
  qmNode *tail;  // always null: the successor field of the tail sentinel
  qmNode *tailPred;
};

void NewList(qmList *list);
void AddHead(qmList *list, qmNode *node);
void AddTail(qmList *list, qmNode *node);
// The first node, unlinked, or null for an empty list.
qmNode *RemHead(qmList *list);
void RemoveNode(qmNode *node);
// A null predecessor inserts at the head; the last node as predecessor appends.
void InsertNode(qmList *list, qmNode *node, qmNode *pred);
inline bool IsListEmpty(const qmList *list) { return list->tailPred == reinterpret_cast<const qmNode *>(list); }
