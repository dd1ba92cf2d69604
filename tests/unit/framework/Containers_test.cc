// Buffers, pointer lists, rings, the blocking and notify queues and message
// blocks.
#include <event2/event.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "framework/SP_ArrayList.h"
#include "framework/SP_BlockingQueue.h"
#include "framework/SP_Buffer.h"
#include "framework/SP_CircleQueue.h"
#include "framework/SP_MsgBlock.h"
#include "framework/SP_NotifyQueue.h"

namespace {

void* item(intptr_t n) { return reinterpret_cast<void*>(n); }
intptr_t num(const void* p) { return reinterpret_cast<intptr_t>(p); }

std::string content(const SP_Buffer& buffer) {
  return std::string(static_cast<const char*>(buffer.rawBytes()) ? static_cast<const char*>(buffer.rawBytes()) : "",
                     static_cast<size_t>(buffer.size()));
}

TEST(ArrayListTest, GrowsByHalfPlusOneFromTwo) {
  SP_ArrayList list(0);
  EXPECT_EQ(2, list.capacity());
  std::vector<int> capacities;
  for (int i = 1; i <= 18; ++i) {
    ASSERT_EQ(0, list.append(item(i)));
    capacities.push_back(list.capacity());
  }
  // After items 1..18: 2 2 4 4 7 7 7 11 11 11 11 17 ... 17 26
  EXPECT_EQ(2, capacities[1]);
  EXPECT_EQ(4, capacities[2]);
  EXPECT_EQ(4, capacities[3]);
  EXPECT_EQ(7, capacities[4]);
  EXPECT_EQ(11, capacities[7]);
  EXPECT_EQ(17, capacities[11]);
  EXPECT_EQ(26, capacities[17]);
  for (int i = 0; i < 18; ++i) EXPECT_EQ(i + 1, num(list.itemAt(i)));
}

TEST(ArrayListTest, IndexRules) {
  SP_ArrayList empty;
  EXPECT_EQ(nullptr, empty.itemAt(SP_ArrayList::LAST_INDEX));
  EXPECT_EQ(nullptr, empty.removeAt(SP_ArrayList::LAST_INDEX));
  EXPECT_EQ(-1, empty.append(nullptr));
  EXPECT_EQ(0, empty.count());

  SP_ArrayList list;
  for (int i = 1; i <= 3; ++i) list.append(item(i));
  struct Case {
    int index;
    intptr_t expected;
  } cases[] = {{0, 1}, {2, 3}, {SP_ArrayList::LAST_INDEX, 3}, {3, 0}, {-2, 0}, {100, 0}};
  for (const Case& c : cases) EXPECT_EQ(c.expected, num(list.itemAt(c.index))) << "index " << c.index;

  EXPECT_EQ(3, num(list.removeAt(SP_ArrayList::LAST_INDEX)));
  EXPECT_EQ(2, list.count());
  EXPECT_EQ(nullptr, list.removeAt(5));
  EXPECT_EQ(1, num(list.removeAt(0)));
  EXPECT_EQ(2, num(list.itemAt(0)));  // moved down
  list.clear();
  EXPECT_EQ(0, list.count());
  EXPECT_EQ(nullptr, list.itemAt(0));
}

TEST(CircleQueueTest, GrowthSequenceAndFifoAcrossWrapAndGrowth) {
  SP_CircleQueue queue;
  EXPECT_EQ(8, queue.capacity());
  intptr_t next = 1;
  intptr_t expect = 1;
  // Move the head past the middle and wrap the tail to the start.
  for (int i = 0; i < 6; ++i) queue.enqueue(item(next++));
  for (int i = 0; i < 5; ++i) ASSERT_EQ(expect++, num(queue.dequeue()));
  for (int i = 0; i < 7; ++i) queue.enqueue(item(next++));  // fills all 8, wrapped
  EXPECT_EQ(8, queue.length());
  EXPECT_EQ(8, queue.capacity());
  queue.enqueue(item(next++));  // grows with the ring wrapped
  EXPECT_EQ(13, queue.capacity());
  for (int i = 0; i < 12; ++i) queue.enqueue(item(next++));
  EXPECT_EQ(31, queue.capacity());  // 13 -> 20 -> 31
  EXPECT_EQ(expect, num(queue.front()));
  while (queue.length() > 0) ASSERT_EQ(expect++, num(queue.dequeue()));
  EXPECT_EQ(next, expect);
  EXPECT_EQ(nullptr, queue.dequeue());
  EXPECT_EQ(nullptr, queue.front());
}

TEST(BlockingQueueTest, DequeueWaitsForAnotherThread) {
  SP_BlockingQueue queue;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (int i = 1; i <= 100; ++i) queue.enqueue(item(i));
  });
  for (int i = 1; i <= 100; ++i) EXPECT_EQ(i, num(queue.dequeue()));
  producer.join();
  EXPECT_EQ(0, queue.length());
  EXPECT_EQ(nullptr, queue.front());
}

TEST(BufferTest, AppendForms) {
  SP_Buffer buffer;
  EXPECT_EQ(0, buffer.append("hello", 0));
  EXPECT_EQ("hello", content(buffer));
  buffer.append("xyz", 2);
  EXPECT_EQ("helloxy", content(buffer));
  buffer.appendFormat("100%% %d", 7);
  EXPECT_EQ("helloxy100% 7", content(buffer));

  SP_Buffer plain;
  plain.appendFormat("no percent here \\n");
  EXPECT_EQ("no percent here \\n", content(plain));

  SP_Buffer copy;
  SP_Buffer empty;
  copy.append(&empty);
  EXPECT_EQ(0, copy.size());
  copy.append(&buffer);
  EXPECT_EQ(content(buffer), content(copy));
  EXPECT_EQ(13, buffer.size());
  copy.append(&copy);
  EXPECT_EQ(content(buffer) + content(buffer), content(copy));
}

TEST(BufferTest, BytesOnNewBufferIsEmptyString) {
  SP_Buffer buffer;
  ASSERT_NE(nullptr, buffer.bytes());
  EXPECT_STREQ("", buffer.bytes());
  EXPECT_EQ(0, buffer.size());
}

TEST(BufferTest, BytesTerminatesWithoutChangingSize) {
  // Sizes around libevent's chain sizes, where the terminator may not fit.
  for (int size : {1, 100, 1000, 1024, 4095, 4096, 4097, 65536, 200000}) {
    SP_Buffer buffer;
    std::string data(static_cast<size_t>(size), 'a');
    for (int i = 0; i < size; ++i) data[static_cast<size_t>(i)] = static_cast<char>('a' + i % 26);
    // Several appends so that the content spans chains.
    for (int at = 0; at < size; at += 777) buffer.append(data.data() + at, std::min(777, size - at));
    const char* bytes = buffer.bytes();
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(size, buffer.size());
    EXPECT_EQ(static_cast<size_t>(size), std::strlen(bytes)) << size;
    EXPECT_EQ(0, std::memcmp(bytes, data.data(), static_cast<size_t>(size)));
    buffer.append("!", 1);
    EXPECT_EQ(data + "!", std::string(buffer.bytes()));
  }
}

TEST(BufferTest, TakeLineEndings) {
  struct Case {
    std::string input;
    const char* line;  // null: no line
    std::string left;
  } cases[] = {
      {"ab\r\ncd", "ab", "cd"}, {"ab\n\rcd", "ab", "cd"}, {"\r\r", "", "\r"},     {"abc", nullptr, "abc"},
      {"ab\ncd", "ab", "cd"},   {"ab\rcd", "ab", "cd"},   {"\n\n", "", "\n"},     {"ab\r\n\r\ncd", "ab", "\r\ncd"},
      {"", nullptr, ""},
  };
  for (const Case& c : cases) {
    SP_Buffer buffer;
    buffer.append(c.input.data(), static_cast<int>(c.input.size()));
    char* line = buffer.takeLine();
    if (c.line == nullptr) {
      EXPECT_EQ(nullptr, line) << c.input;
    } else {
      ASSERT_NE(nullptr, line) << c.input;
      EXPECT_STREQ(c.line, line);
    }
    std::free(line);
    EXPECT_EQ(c.left, content(buffer)) << c.input;
  }
}

TEST(BufferTest, ShrinkToDrainSearchMoveDetach) {
  SP_Buffer buffer;
  buffer.append("0123456789", 10);
  EXPECT_EQ(-1, buffer.shrinkTo(buffer.size()));
  EXPECT_EQ(-1, buffer.shrinkTo(11));
  EXPECT_EQ(-1, buffer.shrinkTo(-1));
  EXPECT_EQ(0, buffer.shrinkTo(6));
  EXPECT_EQ("012345", content(buffer));

  const char* at = static_cast<const char*>(buffer.search("34", 2));
  ASSERT_NE(nullptr, at);
  EXPECT_EQ(3, at - static_cast<const char*>(buffer.rawBytes()));
  EXPECT_EQ(nullptr, buffer.search("0123456", 7));  // longer than content
  EXPECT_EQ(nullptr, buffer.search("9", 1));

  buffer.drain(2);
  EXPECT_EQ("2345", content(buffer));
  char out[4];
  EXPECT_EQ(3, buffer.moveInto(out, sizeof(out)));
  EXPECT_STREQ("234", out);
  EXPECT_EQ("5", content(buffer));
  buffer.drain(100);
  EXPECT_EQ(0, buffer.size());

  buffer.append("payload", 0);
  buffer.ensureRoom(65536);
  SP_Buffer* other = buffer.detach();
  EXPECT_EQ(0, buffer.size());
  EXPECT_EQ("payload", content(*other));
  delete other;
  buffer.append("again", 0);
  buffer.clear();
  EXPECT_EQ(0, buffer.size());
}

TEST(MsgBlockTest, SimpleAndBufferBlocks) {
  SP_SimpleMsgBlock empty;
  EXPECT_EQ(nullptr, empty.data());
  EXPECT_EQ(0, empty.size());
  char* owned = static_cast<char*>(std::malloc(4));
  std::memcpy(owned, "abcd", 4);
  SP_SimpleMsgBlock block(owned, 4, 1);
  EXPECT_EQ(4, block.size());
  static char fixed[] = "xy";
  block.reset(fixed, 2, 0);  // frees the owned bytes (leak checkers see it)
  EXPECT_EQ(fixed, block.data());

  SP_BufferMsgBlock buffered;
  buffered.append("hello", 0);
  EXPECT_EQ(5, buffered.size());
  EXPECT_STREQ("hello", static_cast<const char*>(buffered.data()));
  SP_Buffer external;
  {
    SP_BufferMsgBlock borrowed(&external, 0);
    borrowed.append("z", 1);
  }
  EXPECT_EQ(1, external.size());
}

struct NotifyRecord {
  std::vector<intptr_t> items;
  int passes = 0;
};

void recordItem(void* item, void* arg) { static_cast<NotifyRecord*>(arg)->items.push_back(num(item)); }

TEST(NotifyQueueTest, OneWakeByteForTwoPushesAndOnePass) {
  struct event_base* base = event_base_new();
  ASSERT_NE(nullptr, base);
  NotifyRecord record;
  SP_NotifyQueue* queue = SP_NotifyQueue::create(base, 0, &recordItem, &record);
  ASSERT_NE(nullptr, queue);
  EXPECT_EQ(0, queue->push(item(1)));
  EXPECT_EQ(0, queue->push(item(2)));
  EXPECT_EQ(2, queue->length());
  EXPECT_EQ(1, queue->pendingWakeBytes());
  event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
  EXPECT_EQ((std::vector<intptr_t>{1, 2}), record.items);
  EXPECT_EQ(0, queue->length());
  EXPECT_EQ(0, queue->pendingWakeBytes());
  delete queue;
  event_base_free(base);
}

TEST(NotifyQueueTest, GrowsUnlimitedAndRefusesWhenLimitedRingIsFull) {
  struct event_base* base = event_base_new();
  NotifyRecord record;
  SP_NotifyQueue* unlimited = SP_NotifyQueue::create(base, 0, &recordItem, &record);
  for (int i = 1; i <= 3000; ++i) ASSERT_EQ(0, unlimited->push(item(i)));
  EXPECT_EQ(1, unlimited->pendingWakeBytes());
  event_base_loop(base, EVLOOP_ONCE | EVLOOP_NONBLOCK);
  ASSERT_EQ(3000u, record.items.size());
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(i + 1, record.items[static_cast<size_t>(i)]);
  delete unlimited;

  SP_NotifyQueue* limited = SP_NotifyQueue::create(base, 3, &recordItem, &record);  // ring of 4, limit 3
  EXPECT_EQ(0, limited->push(item(1)));
  EXPECT_EQ(0, limited->push(item(2)));
  EXPECT_EQ(0, limited->push(item(3)));
  EXPECT_EQ(-1, limited->push(item(4)));
  EXPECT_EQ(3, limited->length());
  delete limited;
  event_base_free(base);
}

TEST(NotifyQueueTest, ItemsFromManyThreadsAllArrive) {
  struct event_base* base = event_base_new();
  NotifyRecord record;
  SP_NotifyQueue* queue = SP_NotifyQueue::create(base, 0, &recordItem, &record);
  std::vector<std::thread> pushers;
  for (int t = 0; t < 4; ++t) {
    pushers.emplace_back([queue, t] {
      for (int i = 0; i < 500; ++i) queue->push(item(t * 1000 + i + 1));
    });
  }
  for (auto& p : pushers) p.join();
  while (record.items.size() < 2000) event_base_loop(base, EVLOOP_ONCE);
  EXPECT_EQ(2000u, record.items.size());
  delete queue;
  event_base_free(base);
}

}  // namespace
