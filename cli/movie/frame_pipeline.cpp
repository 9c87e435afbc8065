#include "frame_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace lenstrove::cli::movie {
namespace {

class Pipeline {
 public:
  Pipeline(const PipelineStages& stages, int inFlight) : stages_(stages), inFlight_(inFlight) {}

  void produce() {
    guarded([&] {
      for (std::int64_t slot = 0;; ++slot) {
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] { return failed_ || slot - delivered_ < inFlight_; });
          if (failed_) return;
        }
        FrameJob job;
        if (!stages_.next(job)) break;
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back({slot, std::move(job)});
        ++produced_;
        changed_.notify_all();
      }
    });
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

  void work(int worker) {
    guarded([&] {
      while (true) {
        std::pair<std::int64_t, FrameJob> item;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] { return failed_ || closed_ || !pending_.empty(); });
          if (failed_ || pending_.empty()) return;
          item = std::move(pending_.front());
          pending_.pop_front();
        }
        stages_.work(item.second, worker);
        std::lock_guard<std::mutex> lock(mutex_);
        done_.emplace(item.first, std::move(item.second));
        changed_.notify_all();
      }
    });
  }

  void deliver() {
    guarded([&] {
      while (true) {
        FrameJob job;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          changed_.wait(lock, [&] {
            return failed_ || done_.count(delivered_) != 0 || (closed_ && delivered_ == produced_);
          });
          if (failed_ || done_.count(delivered_) == 0) return;
          auto found = done_.find(delivered_);
          job = std::move(found->second);
          done_.erase(found);
        }
        stages_.deliver(job);
        job = FrameJob{};  // the frame's memory goes before the next may come in
        std::lock_guard<std::mutex> lock(mutex_);
        ++delivered_;
        changed_.notify_all();
      }
    });
  }

  void rethrowFirstError() {
    if (error_) std::rethrow_exception(error_);
  }

 private:
  template <typename Body>
  void guarded(Body body) {
    try {
      body();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!error_) error_ = std::current_exception();
      failed_ = true;
      changed_.notify_all();
    }
  }

  const PipelineStages& stages_;
  const std::int64_t inFlight_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<std::int64_t, FrameJob>> pending_;
  std::map<std::int64_t, FrameJob> done_;
  std::int64_t produced_ = 0;
  std::int64_t delivered_ = 0;
  bool closed_ = false;
  bool failed_ = false;
  std::exception_ptr error_;
};

}  // namespace

void RunPipeline(const PipelineStages& stages, int workers, int inFlight) {
  Pipeline pipeline(stages, std::max(inFlight, workers + 1));
  std::vector<std::thread> threads;
  for (int i = 0; i < workers; ++i) threads.emplace_back([&pipeline, i] { pipeline.work(i); });
  threads.emplace_back([&pipeline] { pipeline.deliver(); });
  pipeline.produce();
  for (std::thread& thread : threads) thread.join();
  pipeline.rethrowFirstError();
}

}  // namespace lenstrove::cli::movie
