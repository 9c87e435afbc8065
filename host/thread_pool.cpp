#include "thread_pool.h"

#include <algorithm>

namespace lenstrove::host {

namespace {

// What the current thread is running: set on pool workers only.
thread_local bool tls_worker = false;
thread_local unsigned tls_index = 0;

}  // namespace

struct ThreadPool::Job {
  const std::function<void(unsigned, unsigned)>* function;
  unsigned count;
  unsigned remaining;
  std::condition_variable finished;
};

ThreadPool& ThreadPool::Shared() {
  // Never destroyed: plug-ins may still hold the suite while static objects
  // are torn down, and workers must not be joined from a static destructor.
  static ThreadPool* pool = new ThreadPool;
  return *pool;
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void ThreadPool::Run(const std::function<void(unsigned, unsigned)>& function, unsigned count) {
  if (count == 0) return;
  Job job{&function, count, count, {}};
  std::unique_lock lock(mutex_);
  for (unsigned i = 0; i < count; ++i) queue_.push_back({&job, i});
  // Every pending index gets a thread of its own, up to the limit.
  while (idle_ < queue_.size() && workers_.size() < kMaxWorkers) {
    workers_.emplace_back([this] { WorkLoop(); });
    ++idle_;
  }
  wake_.notify_all();
  job.finished.wait(lock, [&] { return job.remaining == 0; });
}

void ThreadPool::WorkLoop() {
  tls_worker = true;
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping
    Task task = queue_.front();
    queue_.pop_front();
    --idle_;
    lock.unlock();
    tls_index = task.index;
    (*task.job->function)(task.index, task.job->count);
    lock.lock();
    ++idle_;
    if (--task.job->remaining == 0) task.job->finished.notify_all();
  }
}

bool ThreadPool::CurrentIndex(unsigned* index) {
  if (!tls_worker) return false;
  *index = tls_index;
  return true;
}

bool ThreadPool::OnWorkerThread() { return tls_worker; }

unsigned ThreadPool::ProcessorCount() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace lenstrove::host
