#include "runtime/lists.h"

// The header doubles as two nodes: {head, tail} is the head sentinel (its succ is head) and
// {tail, tailPred} the tail sentinel (its succ is the null tail, its pred tailPred).
static qmNode *HeadSentinel(qmList *list) { return reinterpret_cast<qmNode *>(&list->head); }
static qmNode *TailSentinel(qmList *list) { return reinterpret_cast<qmNode *>(&list->tail); }

void NewList(qmList *list) {
  list->head = TailSentinel(list);
  list->tail = nullptr;
  list->tailPred = HeadSentinel(list);
}

void AddHead(qmList *list, qmNode *node) {
  qmNode *first = list->head;
  node->succ = first;
  node->pred = HeadSentinel(list);
  first->pred = node;
  list->head = node;
}

void AddTail(qmList *list, qmNode *node) {
  qmNode *last = list->tailPred;
  node->succ = TailSentinel(list);
  node->pred = last;
  last->succ = node;
  list->tailPred = node;
}

qmNode *RemHead(qmList *list) {
  qmNode *first = list->head;
  if (first->succ == nullptr) return nullptr;  // only the tail sentinel is left
  RemoveNode(first);
  return first;
}

void RemoveNode(qmNode *node) {
  node->pred->succ = node->succ;
  node->succ->pred = node->pred;
}

void InsertNode(qmList *list, qmNode *node, qmNode *pred) {
  if (pred == nullptr) {
    AddHead(list, node);
  } else if (pred->succ == nullptr) {
    // pred is the tail sentinel itself
    AddTail(list, node);
  } else {
    qmNode *next = pred->succ;
    node->succ = next;
    node->pred = pred;
    next->pred = node;
    pred->succ = node;
  }
}
