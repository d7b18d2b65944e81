// Work split over threads: the thread setting (MarloSetThreads), the library's one pool of
// threads, and the band runner through which a filter splits the rows it walks.
//
// A run splits its rows into bands of whole rows, sized to the cache (RowBands). The caller's
// thread and up to slots() - 1 threads of the pool each take the next band nobody has taken
// and work it alone; a band's body keeps whatever it needs per thread in state indexed by
// Band::slot() (line buffers, counters), made before the run. With the setting 1, the default,
// a run is one band worked on the caller's thread: no thread is started and the filter does
// exactly what it does without this file.
//
// A band's body walks its rows in order and brackets the work on each row that touches the
// images with Enter and Leave:
//
//   const Status status = bands.Run(&progress, [&](Band& band) {
//     State& mine = state[band.slot()];
//     for (int32_t y = band.first(); y < band.end(); ++y) {
//       if (!band.Enter()) return;  // the run stops: touch the images no more
//       ... read row y, work it, write it ...
//       if (!band.Leave()) return;  // row y is done
//     }
//   });
//   if (status != Status::Ok) return status;
//   return progress.Finish();
//
// Progress. Only the caller's thread calls the progress callback. It steps `progress` once per
// row, for the rows in order as they are done, so the callback sees exactly the values of a run
// on one thread; with several threads a row counts as done at its Leave. While the callback
// runs no thread touches the images (each waits at its next Enter), so a callback may do
// anything to them, and when it stops the run or changes an image every thread returns from
// its Enter with false. Where the one-thread report falls after a row is read and before it is
// worked, the body calls Reached() there: on one thread it makes the report then.
//
// Abort: the run returns progress.status() (Aborted or Changed); every row up to the one whose
// report stopped it is done, and threads stop at their next row, so rows further down may hold
// results too. A run without progress (null) may leave out Enter and Leave.
//
// Rows are the unit of work: a body writes only the rows of its band, and reads other rows of
// the destination only where no other band writes them. A filter that reads the rows around
// the one it writes keeps, in place, the original rows just outside each band (BandEdges in
// frame/band_edges.h); one whose definition reads rows it has already changed stays on one
// thread.
//
// Results never depend on the number of threads or the bands: bands only decide which thread
// works which rows. Counts that a run gathers (histograms, sums) are kept per slot in 64-bit
// counters and added in slot order; a floating-point sum is formed per fixed chunk (Chunks),
// whatever the count, and the chunks are added in order.
#ifndef MARLO_FRAME_THREADS_H
#define MARLO_FRAME_THREADS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "frame/progress.h"
#include "frame/types.h"

namespace marlo {

// The most threads a run uses, whatever the setting asks for.
constexpr int32_t kMaxThreads = 256;

// The setting as MarloSetThreads stored it: 1 (the default), 0 (one per core) or n > 1.
int32_t ThreadSetting();
// The threads a run started now uses: 1 for the setting 1, the cores for 0, else the setting,
// at most kMaxThreads.
int32_t RunThreads();
// The processor's cores: physical cores where the system tells them (those this process may
// run on), else logical processors; at least 1.
int32_t CoreCount();

// For tests: every row split made from now on uses bands of this many rows whatever the rows'
// size (0 restores the sizing by the cache).
void SetBandRowsForTesting(int32_t rows);

// A reference to a callable, for the bodies of a run (valid while the call that takes it runs).
template <class Signature>
class FunctionRef;

template <class R, class... A>
class FunctionRef<R(A...)> {
 public:
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F&& f)  // NOLINT: implicit, so that a lambda can be passed as it is
      : object_(const_cast<void*>(static_cast<const void*>(&f))), call_([](void* o, A... a) -> R {
          return (*static_cast<std::remove_reference_t<F>*>(o))(std::forward<A>(a)...);
        }) {}
  R operator()(A... a) const { return call_(object_, std::forward<A>(a)...); }

 private:
  void* object_;
  R (*call_)(void*, A...);
};

class RowRun;

// One band of a run, as its body sees it.
class Band {
 public:
  int32_t index() const { return index_; }
  int32_t first() const { return first_; }  // the band's rows are first() .. end() - 1
  int32_t end() const { return end_; }
  int slot() const { return slot_; }  // 0 .. slots() - 1; the caller's thread is 0

  // Before the work on the next row touches an image. False when the run stops: the body must
  // then return without touching the images again.
  bool Enter();
  // Where the row's progress step falls, when it falls after reading and before the work (on
  // one thread the report is made here). False when the run stops.
  bool Reached();
  // The row is done (its progress step, unless Reached made it). False when the run stops.
  bool Leave();

 private:
  friend class RowRun;
  Band(RowRun* run, int32_t index, int32_t first, int32_t end, int slot)
      : run_(run), index_(index), first_(first), end_(end), slot_(slot) {}

  RowRun* run_;
  int32_t index_;
  int32_t first_;
  int32_t end_;
  int slot_;
  int32_t done_ = 0;      // rows of the band done so far
  bool reached_ = false;  // Reached made the current row's step
  bool inside_ = false;   // between Enter and Leave
};

// The rows of a run split into bands. Made once per run: it takes the thread count then, and
// every later use keeps it, whatever the setting becomes meanwhile.
class RowBands {
 public:
  // `rows` rows, each of which reads and writes about `rowBytes` bytes (source and destination
  // rows, line buffers): a band holds as many rows as fit kBandBytes, at least one. With one
  // thread the rows are one band.
  RowBands(int32_t rows, size_t rowBytes);
  // `count` bands of one row each, whatever the thread count: for work in fixed chunks (parts
  // of a table, floating-point sums reduced in chunk order).
  static RowBands Chunks(int32_t count);

  // Bytes of rows a band is sized to: what a core's second-level cache holds with room to spare.
  static constexpr size_t kBandBytes = 256 * 1024;

  int32_t rows() const { return rows_; }
  int32_t count() const { return count_; }
  int32_t first(int32_t band) const { return band * bandRows_; }
  int32_t end(int32_t band) const {
    return static_cast<int32_t>(std::min<int64_t>(int64_t{band} * bandRows_ + bandRows_, rows_));
  }
  // The threads that may work at once (at least 1), and so the per-thread states a body needs.
  int slots() const { return slots_; }
  bool parallel() const { return slots_ > 1; }

  // Runs body(band) for every band and returns Ok when all rows are done; with `progress`
  // (which may be null) the rows are reported as above, and a stopped run returns
  // progress->status(). An exception thrown by a body stops the run and is thrown again here
  // once every thread has left it.
  Status Run(Progress* progress, FunctionRef<void(Band&)> body) const;

 private:
  RowBands(int32_t rows, int32_t bandRows, int threads);
  static RowBands Split(int32_t rows, size_t rowBytes, int threads);

  int32_t rows_;
  int32_t bandRows_;
  int32_t count_;
  int slots_;
};

// Calls fn(first, end) for the pieces [0, piece), [piece, 2 * piece) ... of [0, count), spread
// over the run's threads: for tables whose entries are independent of each other.
void ForPieces(int32_t count, int32_t piece, FunctionRef<void(int32_t, int32_t)> fn);

}  // namespace marlo

#endif  // MARLO_FRAME_THREADS_H
