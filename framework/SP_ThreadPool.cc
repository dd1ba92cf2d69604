#include "framework/SP_ThreadPool.h"

#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "framework/SP_Log.h"

struct SP_ThreadPool::ThreadRecord {
  pthread_t id{};
  std::mutex mutex;
  std::condition_variable cond;
  Function function = nullptr;  // guarded by mutex; null while parked
  void* argument = nullptr;     // guarded by mutex
  SP_ThreadPool* pool = nullptr;
};

SP_ThreadPool::SP_ThreadPool(int capacity, const char* tag)
    : tag_(strdup(tag != nullptr ? tag : "unknown")), capacity_(capacity < 1 ? 2 : capacity),
      idleList_(static_cast<ThreadRecord**>(std::calloc(static_cast<size_t>(capacity_), sizeof(ThreadRecord*)))) {}

SP_ThreadPool::~SP_ThreadPool() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (idleCount_ < totalCount_) {
    sp_syslog(LOG_NOTICE, "[tp@%s] waiting for %d thread(s) to finish\n", tag_, totalCount_ - idleCount_);
    while (idleCount_ < totalCount_) allIdleSignal_.wait(lock);
  }
  stopFlag_ = 1;
  for (int i = 0; i < idleCount_; ++i) {
    std::lock_guard<std::mutex> recordLock(idleList_[i]->mutex);
    idleList_[i]->cond.notify_one();
  }
  if (totalCount_ > 0) {
    sp_syslog(LOG_NOTICE, "[tp@%s] waiting for %d thread(s) to exit\n", tag_, totalCount_);
    while (totalCount_ > 0) noneLeftSignal_.wait(lock);
  }
  sp_syslog(LOG_NOTICE, "[tp@%s] destroy %d thread structure(s)\n", tag_, idleCount_);
  for (int i = 0; i < idleCount_; ++i) delete idleList_[i];
  idleCount_ = 0;
  lock.unlock();
  std::free(idleList_);
  std::free(tag_);
}

int SP_ThreadPool::assign(Function function, void* argument) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (idleCount_ == 0) {
    if (totalCount_ < capacity_) {
      ThreadRecord* record = new ThreadRecord();
      record->function = function;
      record->argument = argument;
      record->pool = this;
      pthread_attr_t attr;
      pthread_attr_init(&attr);
      pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
      // Counted before the thread runs so that it can never see itself as
      // the last one alive too early.
      ++totalCount_;
      int rc = pthread_create(&record->id, &attr, &SP_ThreadPool::wrapperFunc, record);
      pthread_attr_destroy(&attr);
      if (rc != 0) {
        --totalCount_;
        sp_syslog(LOG_WARNING, "[tp@%s] cannot create thread\n", tag_);
        delete record;
        return -1;
      }
      sp_syslog(LOG_NOTICE, "[tp@%s] create thread#%ld\n", tag_, static_cast<long>(record->id));
      return 0;
    }
    idleSignal_.wait(lock);
  }
  ThreadRecord* record = idleList_[--idleCount_];
  idleList_[idleCount_] = nullptr;
  {
    std::lock_guard<std::mutex> recordLock(record->mutex);
    record->function = function;
    record->argument = argument;
  }
  // The parked thread tests `function` under the record's mutex, so the
  // signal may follow the unlock (records live as long as the pool).
  record->cond.notify_one();
  return 0;
}

int SP_ThreadPool::totalCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return totalCount_;
}

int SP_ThreadPool::idleCount() {
  std::lock_guard<std::mutex> lock(mutex_);
  return idleCount_;
}

int SP_ThreadPool::parkThread(ThreadRecord* record) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (idleCount_ >= capacity_) return -1;
  idleList_[idleCount_++] = record;
  idleSignal_.notify_one();
  if (idleCount_ == totalCount_) allIdleSignal_.notify_all();
  return 0;
}

void* SP_ThreadPool::wrapperFunc(void* arg) {
  ThreadRecord* record = static_cast<ThreadRecord*>(arg);
  SP_ThreadPool* pool = record->pool;
  bool inIdleList = false;  // then the pool's destructor frees the record
  while (pool->stopFlag_ == 0) {
    Function function;
    void* argument;
    {
      std::lock_guard<std::mutex> recordLock(record->mutex);
      function = record->function;
      argument = record->argument;
      record->function = nullptr;
      record->argument = nullptr;
    }
    if (function != nullptr) function(argument);
    if (pool->stopFlag_ != 0) break;
    // Parked first, then waiting under the record's own mutex: the work is
    // a field tested under that mutex, so a hand-over in between is never
    // missed, and the pool mutex is always taken before a record's.
    if (pool->parkThread(record) != 0) break;
    inIdleList = true;
    std::unique_lock<std::mutex> recordLock(record->mutex);
    while (record->function == nullptr && pool->stopFlag_ == 0) record->cond.wait(recordLock);
    if (record->function == nullptr) break;  // the pool is stopping
    inIdleList = false;                      // assign took it off the stack
  }
  if (!inIdleList) delete record;
  std::lock_guard<std::mutex> lock(pool->mutex_);
  if (--pool->totalCount_ == 0) pool->noneLeftSignal_.notify_all();
  return nullptr;
}
