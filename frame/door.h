// How a filter's run treats its images before the work: the checks of the source and the
// preparation of the destination.
#ifndef MARLO_FRAME_DOOR_H
#define MARLO_FRAME_DOOR_H

#include "frame/types.h"

namespace marlo {

// The destination treatment of the filters that create an empty destination: refuses a null
// image, an empty source or a source whose type fails `accepts`; creates an empty destination
// with the source's type and size; refuses a non-empty destination of another type or size
// (it would receive rows of the wrong layout).
Status PrepareDestination(Kasa* src, Kasa* dst, bool (*accepts)(int type));

// The destination treatment of the filters that write every source position into an existing
// destination (auto adjustment, noise removal): refuses a null or empty image, and a
// destination of another type or smaller than the source. A larger one is written in its
// top-left part.
Status CheckCoveringDestination(const Kasa* src, const Kasa* dst);

}  // namespace marlo

#endif  // MARLO_FRAME_DOOR_H
