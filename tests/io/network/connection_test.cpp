// The received-bytes buffer: geometric growth that a peer's announced length only caps, and
// borrowed storage that the buffer resizes, hands over or gives back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "io/network/connection.h"

namespace {

// Storage that records each resize and release, backed by malloc.
struct CountingStorage {
  std::vector<size_t> capacities;
  int released = 0;
  size_t refuseAbove = SIZE_MAX;
  static uint8_t *Resize(void *ud, uint8_t *data, size_t, size_t capacity) {
    auto *s = static_cast<CountingStorage *>(ud);
    if (capacity > s->refuseAbove) return nullptr;
    s->capacities.push_back(capacity);
    return static_cast<uint8_t *>(std::realloc(data, capacity));
  }
  static void Release(void *ud, uint8_t *data) {
    static_cast<CountingStorage *>(ud)->released++;
    std::free(data);
  }
  qmByteStorage Record() { return qmByteStorage{this, Resize, Release}; }
};

// Receives total bytes in pieces the way a download does, each reserved before it is written.
void Fill(qmByteBuffer *b, size_t total, size_t piece) {
  while (b->length < total) {
    size_t n = std::min(piece, total - b->length);
    ASSERT_TRUE(b->Reserve(n));
    std::memset(b->data + b->length, int(b->length % 251), n);
    b->length += n;
  }
}

TEST(ByteBuffer, GrowthDoublesAndStopsAtTheExpectedLength) {
  struct Case {
    const char *name;
    size_t expected;  // SIZE_MAX: nothing announced
    size_t total;     // bytes that arrive
    size_t finalCapacity;
  };
  const Case cases[] = {
      {"nothing announced: doubling", SIZE_MAX, (3 << 20) + 5, 4 << 20},
      {"announced and delivered: exactly that", (3 << 20) + 5, (3 << 20) + 5, (3 << 20) + 5},
      {"announced but fewer arrive: the doubling so far", (64 << 20), (3 << 20) + 5, 4 << 20},
      {"more arrive than announced: growth goes on", 1 << 20, (3 << 20) + 5, 4 << 20},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    qmByteBuffer b;
    b.expected = c.expected;
    ASSERT_TRUE(b.Reserve(1 << 20));
    Fill(&b, c.total, 256 << 10);
    EXPECT_EQ(b.length, c.total);
    EXPECT_EQ(b.capacity, c.finalCapacity);
    EXPECT_EQ(b.data[c.total - 1], uint8_t(((c.total - 1) / (256 << 10) * (256 << 10)) % 251));
  }
}

TEST(ByteBuffer, BorrowedStorageIsResizedHandedOverOrGivenBack) {
  CountingStorage counted;
  qmByteStorage storage = counted.Record();
  {
    qmByteBuffer b(&storage);
    b.expected = 10000;
    Fill(&b, 10000, 3000);
    EXPECT_EQ(counted.capacities, (std::vector<size_t>{4096, 8192, 10000}));
    uint8_t *kept = b.Release();
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.length, 0u);
    EXPECT_EQ(kept[9999], uint8_t(9000 % 251));
    std::free(kept);  // the caller's now
  }
  EXPECT_EQ(counted.released, 0) << "a block handed over is not released again";
  {
    qmByteBuffer b(&storage);
    Fill(&b, 100, 100);
  }
  EXPECT_EQ(counted.released, 1) << "a block nobody took goes back to its storage";
  counted.refuseAbove = 4096;
  qmByteBuffer b(&storage);
  Fill(&b, 4096, 4096);
  EXPECT_FALSE(b.Reserve(1)) << "a refusal is a failure";
  EXPECT_EQ(b.length, 4096u);
  EXPECT_EQ(b.capacity, 4096u) << "and leaves the bytes where they were";
}

}  // namespace
