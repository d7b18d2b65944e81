// What every filter works with, one concern per header:
//   frame/types.h     the outcome of a run and of an export, image types, sample depths and
//                     ForDepth;
//   frame/door.h      the checks of the images and the preparation of the destination;
//   frame/rows.h      every access to an image's stored rows;
//   frame/progress.h  the progress protocol;
//   frame/hooks.h     the busy and message hooks;
//   frame/threads.h   the thread setting and the band runner that splits a run's rows.
// Row kernels with an AVX2 variant add frame/simd.h; filters that read neighbouring rows in
// place add frame/band_edges.h.
#ifndef MARLO_FRAME_FRAME_H
#define MARLO_FRAME_FRAME_H

#include "frame/door.h"
#include "frame/hooks.h"
#include "frame/progress.h"
#include "frame/rows.h"
#include "frame/threads.h"
#include "frame/types.h"

#endif  // MARLO_FRAME_FRAME_H
