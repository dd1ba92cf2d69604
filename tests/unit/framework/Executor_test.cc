// Tasks, the executor's dispatcher and the thread pool.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/SP_Executor.h"
#include "framework/SP_ThreadPool.h"
#include "tests/support/TestSupport.h"
#include "tests/unit/framework/FrameworkTestUtil.h"

namespace {

using tavik::test::waitFor;

struct OrderLog {
  std::mutex mutex;
  std::vector<int> order;
  std::vector<pthread_t> threads;
};

struct OrderTask : SP_Task {
  OrderTask(OrderLog* log, int n) : log(log), n(n) {}
  void perform() override {
    {
      std::lock_guard<std::mutex> lock(log->mutex);
      log->order.push_back(n);
      log->threads.push_back(pthread_self());
    }
    delete this;
  }
  OrderLog* log;
  int n;
};

TEST(ExecutorTest, OneThreadRunsInOrderOnTheDispatcher) {
  fwtest::LogCapture logs;
  OrderLog log;
  {
    SP_Executor executor(1, "one");
    for (int i = 0; i < 200; ++i) executor.submit(new OrderTask(&log, i));
    ASSERT_TRUE(waitFor([&] {
      std::lock_guard<std::mutex> lock(log.mutex);
      return log.order.size() == 200;
    }));
  }
  for (int i = 0; i < 200; ++i) EXPECT_EQ(i, log.order[static_cast<size_t>(i)]);
  for (pthread_t t : log.threads) EXPECT_TRUE(pthread_equal(t, log.threads[0]));
  EXPECT_TRUE(logs.contains("[ex@one] Thread #"));
  EXPECT_EQ(0, logs.count("[tp@one] create thread#"));
}

TEST(ThreadPoolTest, ZeroCapacityGivesTwoAndNullTagIsUnknown) {
  fwtest::LogCapture logs;
  { SP_ThreadPool pool(0, nullptr); EXPECT_EQ(2, pool.capacity()); }
  EXPECT_TRUE(logs.contains("[tp@unknown] destroy 0 thread structure(s)"));
}

struct Gate {
  std::mutex mutex;
  std::condition_variable cond;
  bool open = false;
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  void wait() {
    ++started;
    std::unique_lock<std::mutex> lock(mutex);
    while (!open) cond.wait(lock);
    ++finished;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    cond.notify_all();
  }
};

void gateTask(void* arg) { static_cast<Gate*>(arg)->wait(); }

TEST(ExecutorTest, ThreadsAreCreatedLazilyUpToCapacity) {
  fwtest::LogCapture logs;
  Gate gate;
  {
    SP_Executor executor(2, "lazy");
    EXPECT_EQ(0, logs.count("[tp@lazy] create thread#"));
    for (int i = 0; i < 3; ++i) executor.submit(&gateTask, &gate);
    ASSERT_TRUE(waitFor([&] { return gate.started == 2; }));
    // The third waits in the dispatcher until a thread is parked.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(2, gate.started.load());
    EXPECT_EQ(2, logs.count("[tp@lazy] create thread#"));
    gate.release();
    ASSERT_TRUE(waitFor([&] { return gate.finished == 3; }));
  }
  EXPECT_EQ(2, logs.count("[tp@lazy] create thread#"));
  EXPECT_TRUE(logs.contains("[tp@lazy] destroy 2 thread structure(s)"));
}

TEST(ExecutorTest, IdleThreadIsReused) {
  fwtest::LogCapture logs;
  std::atomic<int> runs{0};
  {
    SP_Executor executor(8, "reuse");
    for (int i = 0; i < 20; ++i) {
      executor.submit([](void* arg) { ++*static_cast<std::atomic<int>*>(arg); }, &runs);
      ASSERT_TRUE(waitFor([&] { return runs == i + 1; }));
    }
    // Each task ran alone, so at most one new thread was ever needed at a time.
    EXPECT_LE(logs.count("[tp@reuse] create thread#"), 2);
  }
}

TEST(ExecutorTest, DestructionWaitsForTheRunningTask) {
  fwtest::LogCapture logs;
  Gate gate;
  int before = fwtest::quietThreadCount();
  std::thread releaser;
  {
    SP_Executor executor(4, "busy");
    executor.submit(&gateTask, &gate);
    ASSERT_TRUE(waitFor([&] { return gate.started == 1; }));
    releaser = std::thread([&] {
      // The running task, and possibly the stop's own wake-up task on a
      // second thread that has not parked yet.
      ASSERT_TRUE(logs.waitFor("thread(s) to finish"));
      gate.release();
    });
  }  // blocks until the task has ended
  EXPECT_EQ(1, gate.finished.load());
  releaser.join();
  EXPECT_EQ(1, logs.count("[tp@busy] waiting for 1 thread(s) to finish") +
                   logs.count("[tp@busy] waiting for 2 thread(s) to finish"));
  EXPECT_TRUE(logs.contains("thread(s) to exit")) << logs.dump();
  EXPECT_TRUE(waitFor([&] { return fwtest::threadCount() <= before; }));
}

TEST(ExecutorTest, StopTwiceIsOneStopAndQueuedTasksAreDropped) {
  Gate gate;
  std::atomic<int> ran{0};
  {
    SP_Executor executor(1, "stop");
    executor.submit(&gateTask, &gate);
    ASSERT_TRUE(waitFor([&] { return gate.started == 1; }));
    for (int i = 0; i < 5; ++i) executor.submit([](void* arg) { ++*static_cast<std::atomic<int>*>(arg); }, &ran);
    executor.stop();
    executor.stop();
    EXPECT_EQ(6, executor.pendingCount());  // five tasks and one wake-up
    gate.release();
  }
  EXPECT_EQ(0, ran.load());
}

}  // namespace
