#ifndef LENSTROVE_HOST_THREAD_POOL_H
#define LENSTROVE_HOST_THREAD_POOL_H

// The worker threads behind the multithread suite. Run(function, n) runs
// function(0..n-1) each on its own worker thread, all at once, and returns
// when every one has finished. Workers are kept between calls and the pool
// grows when more indices are pending than workers are idle, so several
// renders may run jobs at the same time without one waiting for another's
// threads. Past kMaxWorkers indices queue for the next free worker.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace lenstrove::host {

class ThreadPool {
 public:
  static constexpr unsigned kMaxWorkers = 256;

  // The pool the suite hands out; lives until the process ends.
  static ThreadPool& Shared();

  ThreadPool() = default;
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // function(index, count) for every index below count.
  void Run(const std::function<void(unsigned index, unsigned count)>& function, unsigned count);

  // The index of the job this thread is running, for multiThreadIndex;
  // false on a thread the pool did not start.
  static bool CurrentIndex(unsigned* index);
  static bool OnWorkerThread();
  static unsigned ProcessorCount();

 private:
  struct Job;
  struct Task {
    Job* job;
    unsigned index;
  };

  void WorkLoop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  std::vector<std::thread> workers_;
  size_t idle_ = 0;
  bool stopping_ = false;
};

}  // namespace lenstrove::host

#endif
