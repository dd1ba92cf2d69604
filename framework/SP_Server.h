// A TCP server with its own event-loop thread, session table and two
// executors ("work" for handler calls, "act" for finished messages). A
// service builds one, configures it, calls run(), watches isLoopRunning()
// and stops it with requestStop() from any thread. Public face of
// framework/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class SP_HandlerFactory;
class SP_IOChannelFactory;
class SP_NotifyQueue;

class SP_Server {
 public:
  // bindAddress: dotted IPv4, empty or null for any; port 0 picks a free
  // port (see listenPort()). The server owns handlerFactory.
  SP_Server(const char* bindAddress, int port, SP_HandlerFactory* handlerFactory);
  // Deletes both factories. A server still running is stopped first and
  // waited for, so the loop never outlives the object.
  ~SP_Server();
  SP_Server(const SP_Server&) = delete;
  SP_Server& operator=(const SP_Server&) = delete;

  // Values below 1 are ignored. Set before run().
  void setSessionTimeout(int seconds);
  void setWorkerCount(int count);
  void setConnectionLimit(int count);
  // Stores the limit unless below 1; always replaces the refusal text.
  void setQueueLimit(int limit, const char* refusalText);
  // Owned from now on; at most once, before run(). Default: plain sockets.
  void setChannelFactory(SP_IOChannelFactory* factory);

  // Starts the server thread. Returns 0, or the thread creation's error
  // number. isLoopRunning() is true from here until the loop has ended
  // (also when the listener then fails to open).
  int run();
  // Any thread (or the loop's SIGINT/SIGTERM handler). The loop is woken at
  // once and ends after its current pass.
  void requestStop();
  int isLoopRunning() const { return loopRunning_.load(); }
  // Waits until the loop has ended; true when it has within timeoutMs
  // (negative: no limit).
  bool waitStopped(int timeoutMs = -1);
  // requestStop() + waitStopped(): ends the server from another thread.
  // Never call it (or waitStopped) from a handler: the loop would wait for
  // the very thread that waits for it.
  void shutdown();

  // The port being listened on, 0 while not listening.
  int listenPort() const { return listenPort_.load(); }
  int sessionTimeout() const { return timeoutSeconds_; }
  int workerCount() const { return workerCount_; }
  int connectionLimit() const { return connectionLimit_; }
  int queueLimit() const { return queueLimit_; }
  const char* refusalText() const { return refusalText_; }

  static void sigHandler(int signal, short events, void* server);
  // The "act" task for one finished message.
  static void outputCompleted(void* record);

 private:
  static void* eventLoop(void* server);
  void loop();
  void setLoopEnded();

  SP_HandlerFactory* handlerFactory_;
  SP_IOChannelFactory* channelFactory_ = nullptr;
  char bindAddress_[64];
  int port_;
  std::atomic<int> stopRequested_{0};
  std::atomic<int> loopRunning_{0};
  int timeoutSeconds_ = 600;
  int workerCount_ = 4;
  int connectionLimit_ = 256;
  int queueLimit_ = 128;
  char* refusalText_;
  std::atomic<int> listenPort_{0};
  std::mutex mutex_;
  std::condition_variable ended_;  // loopRunning_ became 0
  SP_NotifyQueue* wakeQueue_ = nullptr;  // guarded by mutex_; the loop's notify queue
};
