// The thread setting, the pool and the band runner (see frame/threads.h).
#include "frame/threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#if defined(__linux__)
#include <sched.h>
#endif
#endif

namespace marlo {

namespace {

// Locks, condition variables and threads of the platform: the Windows build's compiler has no
// std::mutex or std::thread (its thread model is Windows' own).
#if defined(_WIN32)
class Mutex {
 public:
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }
  SRWLOCK* native() { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class Condition {
 public:
  void Wait(Mutex& m) { SleepConditionVariableSRW(&cv_, m.native(), INFINITE, 0); }
  void NotifyOne() { WakeConditionVariable(&cv_); }
  void NotifyAll() { WakeAllConditionVariable(&cv_); }

 private:
  CONDITION_VARIABLE cv_ = CONDITION_VARIABLE_INIT;
};

void YieldProcessor() {
  SwitchToThread();
}
#else
class Mutex {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  std::mutex& native() { return mutex_; }

 private:
  std::mutex mutex_;
};

class Condition {
 public:
  void Wait(Mutex& m) {
    std::unique_lock<std::mutex> lock(m.native(), std::adopt_lock);
    cv_.wait(lock);
    lock.release();
  }
  void NotifyOne() { cv_.notify_one(); }
  void NotifyAll() { cv_.notify_all(); }

 private:
  std::condition_variable cv_;
};

void YieldProcessor() {
  std::this_thread::yield();
}
#endif

class Locked {
 public:
  explicit Locked(Mutex& m) : mutex_(m) { mutex_.lock(); }
  ~Locked() { mutex_.unlock(); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  Mutex& mutex_;
};

std::atomic<int32_t> g_setting{1};
std::atomic<int32_t> g_testBandRows{0};

int32_t Resolve(int32_t setting) {
  if (setting == 0) return std::min(CoreCount(), kMaxThreads);
  return std::clamp(setting, int32_t{1}, kMaxThreads);
}

#if defined(__linux__)
// A number from a one-line file of the system, or -1.
long ReadNumber(const char* format, int cpu) {
  char path[128];
  std::snprintf(path, sizeof path, format, cpu);
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return -1;
  long value = -1;
  if (std::fscanf(f, "%ld", &value) != 1) value = -1;
  std::fclose(f);
  return value;
}
#endif

int32_t CountCores() {
#if defined(_WIN32)
  DWORD bytes = 0;
  GetLogicalProcessorInformation(nullptr, &bytes);
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && bytes > 0) {
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> info(
        bytes / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) + 1);
    if (GetLogicalProcessorInformation(info.data(), &bytes)) {
      int32_t cores = 0;
      for (size_t i = 0; i < bytes / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION); ++i) {
        if (info[i].Relationship == RelationProcessorCore) ++cores;
      }
      if (cores > 0) return cores;
    }
  }
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  return std::max<int32_t>(1, static_cast<int32_t>(system.dwNumberOfProcessors));
#else
#if defined(__linux__)
  // The processors this process may run on, counted once per (package, core) pair.
  cpu_set_t allowed;
  if (sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
    std::set<std::pair<long, long> > cores;
    int32_t logical = 0;
    bool known = true;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (!CPU_ISSET(cpu, &allowed)) continue;
      ++logical;
      const long package =
          ReadNumber("/sys/devices/system/cpu/cpu%d/topology/physical_package_id", cpu);
      const long core = ReadNumber("/sys/devices/system/cpu/cpu%d/topology/core_id", cpu);
      if (package < 0 || core < 0) known = false;
      cores.insert({package, core});
    }
    if (known && !cores.empty()) return static_cast<int32_t>(cores.size());
    if (logical > 0) return logical;
  }
#endif
  return std::max<int32_t>(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
#endif
}

}  // namespace

int32_t ThreadSetting() {
  return g_setting.load();
}

int32_t RunThreads() {
  return Resolve(g_setting.load());
}

int32_t CoreCount() {
  static const int32_t cores = CountCores();
  return cores;
}

void SetBandRowsForTesting(int32_t rows) {
  g_testBandRows.store(std::max(rows, int32_t{0}));
}

// One run of a body over the bands of a RowBands. On one thread it works the bands in order on
// the caller's thread. Otherwise the pool's threads are offered the run and take bands as the
// caller does; the caller also reports the rows done (CatchUp) and, while it calls the callback,
// keeps every other thread out of the images through a gate (Close, Open) that each row passes
// at its Enter and leaves at its Leave.
class RowRun {
 public:
  RowRun(const RowBands& bands, Progress* progress, FunctionRef<void(Band&)> body)
      : bands_(bands),
        progress_(progress),
        body_(body),
        parallel_(bands.parallel()),
        reporting_(parallel_ && progress != nullptr && progress->active()) {}

  RowRun* nextRun = nullptr;  // the pool's list of runs

  Status Go();

  bool Enter(Band& band);
  bool Reached(Band& band);
  bool Leave(Band& band);

  // A thread of the pool in slot `slot`.
  void Help(int slot) { Work(slot); }
  bool HasWork() const {
    return next_.load(std::memory_order_relaxed) < bands_.count() &&
           !stop_.load(std::memory_order_relaxed);
  }

  // The pool's bookkeeping, under the pool's lock.
  int freeSlots = 0;  // slots no thread of the pool has taken yet
  int nextSlot = 1;
  int helpers = 0;  // threads of the pool in the run now

 private:
  void Work(int slot);
  int32_t Claim();
  void Finished();
  bool CatchUp();
  // A row is done that the caller has not reported yet (on the caller's thread).
  bool Reportable() const {
    return reportBand_ < bands_.count() &&
           done_[static_cast<size_t>(reportBand_)].load() > reportRows_;
  }
  void Close();
  void Open();

  const RowBands& bands_;
  Progress* progress_;
  FunctionRef<void(Band&)> body_;
  bool parallel_;
  bool reporting_;

  std::atomic<bool> stop_{false};
  std::atomic<int32_t> next_{0};                  // the next band to take
  std::unique_ptr<std::atomic<int32_t>[]> done_;  // rows done per band, when reporting

  // The gate.
  std::atomic<int32_t> active_{0};  // threads between Enter and Leave
  std::atomic<bool> closed_{false};
  Mutex gateMutex_;
  Condition gateOpened_;

  // Bands finished, for the caller's wait at the end.
  Mutex mutex_;
  Condition finishedChanged_;
  int32_t finished_ = 0;
  std::atomic<bool> waiting_{false};  // the caller sleeps for rows to report
  std::exception_ptr error_;

  // The caller's reporting position: the band and how many of its rows are reported.
  int32_t reportBand_ = 0;
  int32_t reportRows_ = 0;
};

namespace {

// The pool: created on the first run that asks for threads and kept while the library is
// loaded. A thread of it waits for runs with a free slot and bands left, works in one until
// its bands run out, and waits again. Threads beyond the setting end as soon as they are idle.
class Pool {
 public:
  // The pool, made on first use; null once it has been torn down.
  static Pool* Get();
  // The pool if it exists (a change of the setting does not make one).
  static Pool* Existing() { return s_pool.load(); }

  // Offers `run` to up to `helpers` threads, starting threads up to the setting where fewer
  // exist.
  void Offer(RowRun* run, int helpers);
  // Takes the run back; returns once every thread that joined it has left.
  void Withdraw(RowRun* run);
  // The setting changed: threads beyond it end once idle.
  void Resize();

  Pool() = default;
#if !defined(_WIN32)
  ~Pool();
#endif

 private:
  void Main();
  bool Start();
  void Reap();
  int32_t Wanted() const {
    return RunThreads() - 1;
  }
#if defined(_WIN32)
  static DWORD WINAPI ThreadMain(void* pool);
#endif

  static std::atomic<Pool*> s_pool;

  Mutex mutex_;
  Condition wake_;          // threads wait here for runs
  Condition left_;          // Withdraw waits here for threads to leave
  RowRun* runs_ = nullptr;  // the runs offered, linked through nextRun (no allocation)
  int32_t live_ = 0;        // threads in Main
  bool shutdown_ = false;
#if !defined(_WIN32)
  std::vector<std::thread> threads_;
  std::vector<std::thread::id> ended_;  // threads that have left Main, to be joined
#endif
};

std::atomic<Pool*> Pool::s_pool{nullptr};

Pool* Pool::Get() {
#if defined(_WIN32)
  // Never destroyed: each thread holds the library loaded (see Start), so the library unloads
  // only once every thread has ended, or when the process ends, when Windows has already ended
  // the threads and nothing of theirs may be waited for.
  static Pool* const pool = new Pool;
  s_pool.store(pool);
  return pool;
#else
  // Destroyed when the library is unloaded or the process exits: every thread is joined then.
  static Pool pool;
  static const bool registered = (s_pool.store(&pool), true);
  (void)registered;
  return s_pool.load();
#endif
}

#if !defined(_WIN32)
Pool::~Pool() {
  {
    Locked lock(mutex_);
    shutdown_ = true;
    s_pool.store(nullptr);
    wake_.NotifyAll();
  }
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}
#endif

void Pool::Offer(RowRun* run, int helpers) {
  Locked lock(mutex_);
  Reap();
  run->freeSlots = helpers;
  run->nextRun = runs_;
  runs_ = run;
  const int32_t wanted = std::min<int32_t>(helpers, Wanted());
  while (live_ < wanted && Start()) {
  }
  if (helpers >= live_) {
    wake_.NotifyAll();
  } else {
    for (int i = 0; i < helpers; ++i) wake_.NotifyOne();
  }
}

void Pool::Withdraw(RowRun* run) {
  Locked lock(mutex_);
  for (RowRun** link = &runs_; *link != nullptr; link = &(*link)->nextRun) {
    if (*link == run) {
      *link = run->nextRun;
      break;
    }
  }
  while (run->helpers > 0) left_.Wait(mutex_);
}

void Pool::Resize() {
  Locked lock(mutex_);
  Reap();
  wake_.NotifyAll();
}

void Pool::Main() {
  Locked lock(mutex_);
  for (;;) {
    if (shutdown_ || live_ > Wanted()) break;
    RowRun* run = nullptr;
    for (RowRun* r = runs_; r != nullptr; r = r->nextRun) {
      if (r->freeSlots > 0 && r->HasWork()) {
        run = r;
        break;
      }
    }
    if (run == nullptr) {
      wake_.Wait(mutex_);
      continue;
    }
    const int slot = run->nextSlot++;
    --run->freeSlots;
    ++run->helpers;
    mutex_.unlock();
    run->Help(slot);
    mutex_.lock();
    if (--run->helpers == 0) left_.NotifyAll();
  }
  --live_;
#if !defined(_WIN32)
  ended_.push_back(std::this_thread::get_id());
#endif
}

#if defined(_WIN32)
DWORD WINAPI Pool::ThreadMain(void* pool) {
  static_cast<Pool*>(pool)->Main();
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&Pool::ThreadMain), &self);
  FreeLibraryAndExitThread(self, 0);  // the reference Start took
  return 0;
}

bool Pool::Start() {
  // The thread holds the library loaded while it lives, so that its code cannot be unmapped
  // under it; it lets go as it ends (FreeLibraryAndExitThread).
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&Pool::ThreadMain), &self)) {
    return false;
  }
  HANDLE thread = CreateThread(nullptr, 0, &Pool::ThreadMain, this, 0, nullptr);
  if (thread == nullptr) {
    FreeLibrary(self);
    return false;
  }
  CloseHandle(thread);
  ++live_;
  return true;
}

void Pool::Reap() {}
#else
bool Pool::Start() {
  try {
    threads_.emplace_back([this] { Main(); });
  } catch (...) {
    return false;  // no more threads: the runs make do with those there are
  }
  ++live_;
  return true;
}

void Pool::Reap() {
  // Each of these has left Main and only returns now.
  for (std::thread::id id : ended_) {
    const auto it = std::find_if(threads_.begin(), threads_.end(),
                                 [id](const std::thread& t) { return t.get_id() == id; });
    if (it == threads_.end()) continue;
    it->join();
    threads_.erase(it);
  }
  ended_.clear();
}
#endif

}  // namespace

Status RowRun::Go() {
  if (reporting_) {
    // Without memory for the counters the bands are worked in order on this thread, which gives
    // the same rows: a run allocates nothing else, so it cannot fail half-way.
    done_.reset(new (std::nothrow) std::atomic<int32_t>[static_cast<size_t>(bands_.count())]());
    if (!done_) parallel_ = reporting_ = false;
  }
  if (!parallel_) {
    for (int32_t b = 0; b < bands_.count() && !stop_.load(); ++b) {
      Band band(this, b, bands_.first(b), bands_.end(b), 0);
      body_(band);
    }
    return stop_.load() ? progress_->status() : Status::Ok;
  }

  Pool* pool = Pool::Get();
  if (pool != nullptr) pool->Offer(this, bands_.slots() - 1);
  Work(0);
  // No band is left to take (or the run stops): wait for those taken, reporting meanwhile.
  const int32_t taken = next_.exchange(bands_.count());
  {
    Locked lock(mutex_);
    while (finished_ < taken) {
      if (!reporting_) {
        finishedChanged_.Wait(mutex_);
        continue;
      }
      mutex_.unlock();
      CatchUp();
      mutex_.lock();
      // Sleeps until a band finishes or, while waiting_ is set, a row is done (Leave).
      waiting_.store(true);
      if (finished_ < taken && (stop_.load() || !Reportable())) finishedChanged_.Wait(mutex_);
      waiting_.store(false);
    }
  }
  if (pool != nullptr) pool->Withdraw(this);
  if (error_) std::rethrow_exception(error_);
  if (reporting_) CatchUp();
  return stop_.load() ? progress_->status() : Status::Ok;
}

void RowRun::Work(int slot) {
  for (int32_t b = Claim(); b >= 0; b = Claim()) {
    Band band(this, b, bands_.first(b), bands_.end(b), slot);
    try {
      body_(band);
    } catch (...) {
      Locked lock(mutex_);
      if (!error_) error_ = std::current_exception();
      stop_.store(true);
    }
    if (band.inside_) active_.fetch_sub(1);  // a body that returned between Enter and Leave
    Finished();
  }
}

int32_t RowRun::Claim() {
  int32_t b = next_.load();
  while (b < bands_.count() && !stop_.load()) {
    if (next_.compare_exchange_weak(b, b + 1)) return b;
  }
  return -1;
}

void RowRun::Finished() {
  Locked lock(mutex_);
  ++finished_;
  finishedChanged_.NotifyOne();
}

bool RowRun::Enter(Band& band) {
  if (reporting_) {
    if (band.slot() == 0 && !CatchUp()) return false;
    for (;;) {
      active_.fetch_add(1);
      if (!closed_.load()) break;
      active_.fetch_sub(1);
      Locked lock(gateMutex_);
      while (closed_.load()) gateOpened_.Wait(gateMutex_);
    }
    band.inside_ = true;
  }
  if (stop_.load()) {
    if (band.inside_) {
      band.inside_ = false;
      active_.fetch_sub(1);
    }
    return false;
  }
  return true;
}

bool RowRun::Reached(Band& band) {
  if (!parallel_) {
    band.reached_ = true;
    if (progress_ != nullptr && !progress_->Step()) {
      stop_.store(true);
      return false;
    }
  }
  return !stop_.load();
}

bool RowRun::Leave(Band& band) {
  ++band.done_;
  if (!parallel_) {
    const bool step = !band.reached_;
    band.reached_ = false;
    if (step && progress_ != nullptr && !progress_->Step()) {
      stop_.store(true);
      return false;
    }
    return true;
  }
  if (reporting_) {
    done_[static_cast<size_t>(band.index())].store(band.done_);
    band.inside_ = false;
    active_.fetch_sub(1);
    if (waiting_.load()) {
      Locked lock(mutex_);
      finishedChanged_.NotifyOne();
    }
  }
  return !stop_.load();
}

bool RowRun::CatchUp() {
  while (reportBand_ < bands_.count() && !stop_.load()) {
    const int32_t done = done_[static_cast<size_t>(reportBand_)].load();
    while (reportRows_ < done) {
      ++reportRows_;
      if (!progress_->StepCalls()) {
        progress_->Step();
        continue;
      }
      // The callback may do anything to the images: nobody else touches them meanwhile.
      Close();
      const bool go = progress_->Step();
      if (!go) stop_.store(true);
      Open();
      if (!go) return false;
    }
    if (reportRows_ < bands_.end(reportBand_) - bands_.first(reportBand_)) break;
    ++reportBand_;
    reportRows_ = 0;
  }
  return !stop_.load();
}

void RowRun::Close() {
  closed_.store(true);
  while (active_.load() != 0) YieldProcessor();
}

void RowRun::Open() {
  {
    Locked lock(gateMutex_);
    closed_.store(false);
  }
  gateOpened_.NotifyAll();
}

bool Band::Enter() {
  return run_->Enter(*this);
}

bool Band::Reached() {
  return run_->Reached(*this);
}

bool Band::Leave() {
  return run_->Leave(*this);
}

namespace {

// Rows per band: as many as fit RowBands::kBandBytes, at least one; all of them on one thread.
int32_t BandRows(int32_t rows, size_t rowBytes, int threads) {
  if (threads <= 1) return rows;  // one band: the work of one thread, unchanged
  const int32_t forced = g_testBandRows.load();
  if (forced > 0) return forced;
  const size_t fit = RowBands::kBandBytes / std::max<size_t>(rowBytes, 1);
  return static_cast<int32_t>(std::clamp<size_t>(fit, 1, static_cast<size_t>(std::max(rows, 1))));
}

}  // namespace

RowBands::RowBands(int32_t rows, int32_t bandRows, int threads)
    : rows_(std::max(rows, int32_t{0})), bandRows_(std::max(bandRows, int32_t{1})) {
  count_ = static_cast<int32_t>((int64_t{rows_} + bandRows_ - 1) / bandRows_);
  slots_ = std::max(1, std::min(threads, static_cast<int>(count_)));
}

RowBands RowBands::Split(int32_t rows, size_t rowBytes, int threads) {
  return RowBands(rows, BandRows(rows, rowBytes, threads), threads);
}

RowBands::RowBands(int32_t rows, size_t rowBytes) : RowBands(Split(rows, rowBytes, RunThreads())) {}

RowBands RowBands::Chunks(int32_t count) {
  return RowBands(count, 1, RunThreads());
}

Status RowBands::Run(Progress* progress, FunctionRef<void(Band&)> body) const {
  RowRun run(*this, progress, body);
  return run.Go();
}

void ForPieces(int32_t count, int32_t piece, FunctionRef<void(int32_t, int32_t)> fn) {
  if (count <= 0) return;
  piece = std::max(piece, int32_t{1});
  const auto pieces = static_cast<int32_t>((int64_t{count} + piece - 1) / piece);
  RowBands::Chunks(pieces).Run(nullptr, [&](Band& part) {
    const int32_t first = part.index() * piece;
    fn(first, static_cast<int32_t>(std::min<int64_t>(int64_t{first} + piece, count)));
  });
}

}  // namespace marlo

extern "C" {

int32_t MARLO_STDCALL MarloSetThreads(int32_t count) {
  if (count < 0) return 0;
  marlo::g_setting.store(count);
  if (marlo::Pool* pool = marlo::Pool::Existing()) pool->Resize();
  return marlo::Resolve(count);
}

int32_t MARLO_STDCALL MarloGetThreads(void) {
  return marlo::g_setting.load();
}

}  // extern "C"
