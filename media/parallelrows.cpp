#include "media/parallelrows.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace media {
namespace {

// One call's bands: taken one by one by the caller and the helpers, counted down when done.
struct TBandJob {
  const std::function<void(int, int)>* fn = nullptr;
  std::vector<std::pair<int, int>> bands;
  std::atomic<size_t> next{0};
  std::mutex lock;
  std::condition_variable finished;
  size_t done = 0;  // under lock

  // Runs bands until none is left to take; true when it ran any.
  void Work() {
    for (size_t i; (i = next.fetch_add(1)) < bands.size();) {
      (*fn)(bands[i].first, bands[i].second);
      std::lock_guard guard(lock);
      if (++done == bands.size()) finished.notify_all();
    }
  }
};

class TBandPool {
 public:
  static TBandPool& Shared() {
    // Never destroyed: helpers may still be waiting for work when the program ends.
    static TBandPool* pool = new TBandPool;
    return *pool;
  }
  int Helpers() const { return static_cast<int>(threads_.size()); }

  void Offer(const std::shared_ptr<TBandJob>& job, int copies) {
    {
      std::lock_guard guard(lock_);
      for (int i = 0; i < copies; ++i) queue_.push_back(job);
    }
    wake_.notify_all();
  }

 private:
  TBandPool() {
    const unsigned hardware = std::max(1u, std::thread::hardware_concurrency());
    const unsigned helpers = std::min(3u, hardware - 1);
    for (unsigned i = 0; i < helpers; ++i) threads_.emplace_back([this] { Serve(); }).detach();
  }
  void Serve() {
    for (;;) {
      std::shared_ptr<TBandJob> job;
      {
        std::unique_lock guard(lock_);
        wake_.wait(guard, [this] { return !queue_.empty(); });
        job = std::move(queue_.front());
        queue_.pop_front();
      }
      job->Work();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<TBandJob>> queue_;
  std::vector<std::thread> threads_;
};

}  // namespace

std::vector<TRowBand> RowBands(int rows, int minRows, int align) {
  if (rows <= 0) return {};
  const int most = TBandPool::Shared().Helpers() + 1;
  const int count = std::clamp(rows / std::max(1, minRows), 1, most);
  if (count == 1) return {{0, rows}};
  std::vector<TRowBand> bands;
  const int step = std::max(align, (rows / count + align - 1) & ~(align - 1));
  for (int first = 0; first < rows; first += step) bands.push_back({first, std::min(step, rows - first)});
  return bands;
}

void ForEachRowBand(int rows, int minRows, int align,
                    const std::function<void(int firstRow, int rowCount)>& fn) {
  const std::vector<TRowBand> bands = RowBands(rows, minRows, align);
  if (bands.size() == 1) {
    fn(0, rows);
    return;
  }
  if (bands.empty()) return;
  auto job = std::make_shared<TBandJob>();
  job->fn = &fn;
  for (const TRowBand& band : bands) job->bands.emplace_back(band.first, band.count);
  TBandPool::Shared().Offer(job, static_cast<int>(job->bands.size()) - 1);
  job->Work();
  std::unique_lock guard(job->lock);
  job->finished.wait(guard, [&] { return job->done == job->bands.size(); });
}

}  // namespace media
