// The row loop shared by the filters that map every sample through a table per channel
// (contrast and brightness, light adjustment, tint addition, tint removal).
#ifndef MARLO_FRAME_CHANNEL_MAP_H
#define MARLO_FRAME_CHANNEL_MAP_H

#include "frame/frame.h"

namespace marlo {

// What happens to the padding bytes at the end of each destination row of an 8-bit image. A
// 16-bit row is always written whole, so its padding always comes from the source.
enum class RowPadding { Keep, CopyFromSource };

// Maps every sample of `src` into `dst` through the tables (indexed and filled with sample
// values in machine order): red, green and blue samples through their own table, a grey sample
// through `red`. Works on the stored rows directly, so src == dst is fine. `dst` must have the
// source's type and size, of the width D (the callers' front door sees to it). Steps `progress`
// after each row is written and returns Aborted as soon as the callback asks; calls Finish after
// the last row. The rows are split into bands over the run's threads (frame/threads.h).
template <class D>
Status MapChannels(Kasa& src, Kasa& dst, const typename D::Sample* red,
                   const typename D::Sample* green, const typename D::Sample* blue,
                   RowPadding padding, Progress& progress);

}  // namespace marlo

#endif  // MARLO_FRAME_CHANNEL_MAP_H
