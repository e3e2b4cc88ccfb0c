// Sentinel lists and byte-order readers and writers.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "runtime/byteorder.h"
#include "runtime/lists.h"

namespace {

struct Item {
  qmNode node;
  int value;
};

std::vector<int> Forward(qmList *list) {
  std::vector<int> v;
  for (qmNode *n = list->head; n->succ; n = n->succ) v.push_back(reinterpret_cast<Item *>(n)->value);
  return v;
}

std::vector<int> Backward(qmList *list) {
  std::vector<int> v;
  for (qmNode *n = list->tailPred; n->pred; n = n->pred) v.push_back(reinterpret_cast<Item *>(n)->value);
  return v;
}

TEST(Lists, OperationsKeepBothDirectionsInStep) {
  qmList list;
  NewList(&list);
  EXPECT_TRUE(IsListEmpty(&list));
  EXPECT_EQ(RemHead(&list), nullptr);
  Item a{{}, 1}, b{{}, 2}, c{{}, 3}, d{{}, 4}, e{{}, 5};
  AddTail(&list, &b.node);
  AddHead(&list, &a.node);
  AddTail(&list, &d.node);
  InsertNode(&list, &c.node, &b.node);  // after a middle node
  InsertNode(&list, &e.node, &d.node);  // after the last node: the new last one
  EXPECT_EQ(Forward(&list), (std::vector<int>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Backward(&list), (std::vector<int>{5, 4, 3, 2, 1}));
  EXPECT_EQ(list.tailPred, &e.node);
  RemoveNode(&c.node);
  EXPECT_EQ(RemHead(&list), &a.node);
  Item f{{}, 0};
  InsertNode(&list, &f.node, nullptr);  // null predecessor: the head
  EXPECT_EQ(Forward(&list), (std::vector<int>{0, 2, 4, 5}));
  EXPECT_EQ(Backward(&list), (std::vector<int>{5, 4, 2, 0}));
  while (RemHead(&list)) {
  }
  EXPECT_TRUE(IsListEmpty(&list));
  EXPECT_EQ(list.tail, nullptr);
}

TEST(ByteOrder, ReadsAndWritesBothOrders) {
  char path[] = "/tmp/qm_byteorder_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  qmFileHandle *f = FileOpen(path, FILE_MODE_WRITE);
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(WriteLongBE(f, 0x12345678));
  EXPECT_TRUE(WriteLongLE(f, 0x12345678));
  EXPECT_TRUE(WriteWordBE(f, 0xFFFE));
  EXPECT_TRUE(WriteWordLE(f, 0x8001));
  EXPECT_TRUE(WriteCString(f, "ok"));
  FileClose(f);

  FILE *raw = std::fopen(path, "rb");
  unsigned char bytes[16] = {};
  size_t n = std::fread(bytes, 1, sizeof bytes, raw);
  std::fclose(raw);
  const unsigned char expected[] = {0x12, 0x34, 0x56, 0x78, 0x78, 0x56, 0x34, 0x12, 0xFF, 0xFE, 0x01, 0x80, 'o', 'k'};
  ASSERT_EQ(n, sizeof expected);
  EXPECT_EQ(std::memcmp(bytes, expected, n), 0);

  f = FileOpen(path, FILE_MODE_READ);
  EXPECT_EQ(ReadLongBE(f), 0x12345678u);
  EXPECT_EQ(ReadLongLE(f), 0x12345678u);
  EXPECT_EQ(ReadWordBE(f), -2);       // sign-extended
  EXPECT_EQ(ReadWordLE(f), -32767);
  FileClose(f);
  std::remove(path);
}

}  // namespace
