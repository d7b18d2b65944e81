// Counts kept in several copies of 32-bit counters (the histograms of auto adjustment and auto
// exposure).
#ifndef MARLO_FRAME_SPLIT_COUNTERS_H
#define MARLO_FRAME_SPLIT_COUNTERS_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace marlo {

// The counters are added into 64-bit totals before any of them could overflow. They stay in
// cache; spreading successive items over the copies keeps a run of equal items from waiting for
// one counter's previous increment.
template <class Total>
class SplitCounters {
 public:
  SplitCounters(size_t span, size_t copies)
      : span_(span), copies_(copies), counters_(span * copies, 0), totals_(span, 0) {}

  // The `span` counters of copy k (0 <= k < copies).
  uint32_t* Copy(size_t k) { return counters_.data() + k * span_; }

  // Announces up to `items` more counts per counter; first adds the counters into the totals
  // when those counts could overflow them.
  void Expect(uint64_t items) {
    if (pending_ + items > UINT32_MAX) Flush();
    pending_ += items;
  }

  // Adds every counter into the totals and clears it.
  void Flush() {
    for (size_t copy = 0; copy < copies_; ++copy) {
      uint32_t* c = Copy(copy);
      for (size_t k = 0; k < span_; ++k) {
        totals_[k] += c[k];
        c[k] = 0;
      }
    }
    pending_ = 0;
  }

  // The totals, complete after a final Flush.
  const std::vector<Total>& totals() const { return totals_; }

 private:
  size_t span_;
  size_t copies_;
  std::vector<uint32_t> counters_;
  std::vector<Total> totals_;
  uint64_t pending_ = 0;
};

}  // namespace marlo

#endif  // MARLO_FRAME_SPLIT_COUNTERS_H
