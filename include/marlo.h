// marlo.h - seventeen photographic enhancement filters working on Kasa images.
//
// Conventions shared by every export:
// - Images are passed as Kasa pointers (kasa.h); the caller owns them. A filter never keeps a
//   pointer after it returns and keeps no state between calls, so different threads may run
//   filters at the same time on different images (two calls must not write one destination).
// - Results are 1 for success and 0 for failure, except LightAdjustment (0 success, 1 failure).
//   No exception ever leaves an export; a failed allocation gives the failure result.
// - 24-bit and 48-bit RGB are processed by every filter that lists them; 8-bit and 16-bit grey
//   where a filter says so. Channel-indexed parameter arrays are in the order red, green, blue.
// - Progress: filters that take a ProgressCallback call it as callback(start, end, current).
//   With a null callback nothing is reported. Unless a filter says otherwise the protocol is:
//   first (start, end, start); then, after each row, at most one report whose value is strictly
//   greater than the last one reported and never above end; finally (start, end, end) unless
//   the last report already gave end. A nonzero return from a per-row report aborts the filter
//   at that row; rows not yet written keep what the destination held (with more than one thread,
//   rows below it may hold their results: see MarloSetThreads). A callback that replaces the
//   source or the destination ends the call with the failure result (see ProgressCallback).
// - Threads: each call works on the caller's thread alone unless MarloSetThreads asks for more;
//   results are the same at any thread count.
// - Host hooks: where a filter would show a wait cursor, marlo calls the busy handler with 1
//   before the work and with 0 after it; where it would show a message box, it calls the message
//   handler with the exact text. Handlers are process-wide and may be changed at any time.
#ifndef MARLO_H
#define MARLO_H

#include <stdint.h>

#include "kasa.h"

#if defined(_WIN32) && !defined(_WIN64)
#define MARLO_STDCALL __stdcall
#else
#define MARLO_STDCALL
#endif

#if defined(_WIN32)
#if defined(MARLO_BUILDING)
#define MARLO_API __declspec(dllexport)
#else
#define MARLO_API __declspec(dllimport)
#endif
#else
#define MARLO_API __attribute__((visibility("default")))
#endif

extern "C" {

// Progress callback: returns nonzero to ask the filter to stop (where the filter allows it).
// The callback may look at the images of the call, but if it re-creates, copies into or empties
// the source or the destination so that its type, width or height changes, the filter stops:
// after every report, also one whose answer the filter ignores, it checks that both images
// still have the type, width and height they had when it began reporting, and if not it reads
// and writes neither again and returns its failure result (0; 1 for LightAdjustment), also
// where an abort would have given 1. (RemoveRedEyeClr on 24-bit RGB reports once per pixel and
// checks after the reports of each row, before it writes that row.)
typedef int32_t(MARLO_STDCALL* ProgressCallback)(int32_t start, int32_t end, int32_t current);
// Receives the text of a message (the two distortion effects report bad parameters this way).
typedef void (*MarloMessageHandler)(const char* text);
// Called with 1 when a long filter starts and with 0 when it ends (a wait cursor, for example).
typedef void (*MarloBusyHandler)(int busy);

// Installs a message handler and returns the previous one. Null restores the default handler,
// which writes the text and a newline to standard error; on Windows it shows the text in a modal
// message box (MessageBoxA, OK button, exclamation icon, the host program's name as caption).
MARLO_API MarloMessageHandler MarloSetMessageHandler(MarloMessageHandler handler);
// Installs a busy handler and returns the previous one. Null removes it (nothing is called).
// There is none at first, except on Windows, where the first handler shows the system wait
// cursor (LoadCursorA(NULL, IDC_WAIT), SetCursor) and restores the thread's previous cursor at 0;
// the value returned when another is installed puts it back.
// In Marlo.dll the two setters are exported by ordinal only (18 and 19 respectively): the import
// library reaches them by name, GetProcAddress by MAKEINTRESOURCEA(18) and (19).
MARLO_API MarloBusyHandler MarloSetBusyHandler(MarloBusyHandler handler);

// MarloSetThreads: how many threads each filter call uses from now on.
//   count: 1, the default, works each call on the caller's thread alone: no thread is started.
//     0 uses one thread per core (physical cores where the system tells them apart, among those
//     the process may run on); n > 1 uses n threads, at most 256. A call uses the setting as it
//     was when the call began; the setting is process-wide and may be changed from any thread
//     at any time, also while filters run.
//   Result: the number of threads a call now uses (1 or more); 0 for a negative count, which is
//     refused and leaves the setting as it was.
//   The threads come from one pool, started by the first call that needs it and ended when the
//   library is unloaded. Calls from several threads at once share it: besides the callers' own
//   threads, no more threads work than the setting asks for. Lowering the setting ends the
//   threads beyond it as soon as they are idle (1 ends them all). In Marlo.dll each thread keeps
//   the library loaded while it lives: set 1 before FreeLibrary to let the library unload.
//   At any count every output byte, every result code and every progress report (values and
//   order) are those of one thread. The progress callback is called only on the caller's
//   thread, and while it runs no other thread touches the images, so it may look at them,
//   replace them or call filters itself. Above 1 one thing differs: when the callback aborts a
//   filter, rows below the one whose report asked to stop may already hold their results
//   (with one thread they keep what the destination held); the rows above it are written as
//   with one thread. A filter works each row in one piece, so no row is ever half written.
MARLO_API int32_t MARLO_STDCALL MarloSetThreads(int32_t count);
// MarloGetThreads: the setting as last set (1 at first, 0 for one thread per core).
// In Marlo.dll the two are exported by ordinal only (20 and 21 respectively), like the hook
// setters.
MARLO_API int32_t MARLO_STDCALL MarloGetThreads(void);

// ImageFocusInCircle: sharpens (strength > 0) or softens (strength < 0) the pixels inside the
// circle of centre (cx, cy) and the given radius; the rest of the image stays as in the source.
//   Each sample p inside the circle, with its four direct neighbours l, r, u, d (same channel)
//   becomes trunc(A * gain + p + 0.5), clamped to the sample range, where A = (4p - l - r - u -
//   d) / 4 truncated toward zero and gain = strength / 100 (single precision). There is no
//   feathering: a pixel is filtered at full strength when trunc(distance to the centre + 0.5)
//   <= radius, else not touched. Only the square around the circle, cut to the image, is
//   visited, without its outer rows and columns, so the image's border never changes.
//   cx, cy: the centre in pixels, any value (it may lie outside the image).
//   radius: in pixels, 0..INT32_MAX; 0 changes nothing, 1 only the centre pixel; a negative
//     radius changes nothing. All box and distance arithmetic is 64-bit: no value overflows.
//   strength: gain in hundredths, any value (100: gain 1; 0 rewrites the pixels unchanged).
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: any non-empty image. When it is not the source it is first rebuilt as a copy
//     of the source (type, size and pixels), and the circle is filtered from the unfiltered
//     source. src == dst works: pixels are filtered rows top to bottom, left to right, each
//     seeing its neighbours above and to the left already filtered.
//   Progress: the common protocol over the box's rows: step (end - start - 1) / box height, one
//     report after each row walked (the box less its top and bottom row); may be aborted
//     (result 0, rows written so far stay written). An empty box gives only the opening and
//     closing reports. Nothing is reported for a refused call.
//   Result: 1 when the circle was processed (also when it lies outside the image); 0 for a null
//     or empty image, an unsupported source type, an abort, or when memory for the copy or the
//     row buffers cannot be had (then the destination is unchanged).
MARLO_API int32_t MARLO_STDCALL ImageFocusInCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy,
                                                   int32_t radius, int32_t strength,
                                                   ProgressCallback cb, int32_t start, int32_t end);

// AutoAdjustment: automatic levels. Each channel of the source is counted in a histogram; the
// darkest and the brightest 5 % of the pixels (N / 20, truncated) are cut off per channel, and
// the channel is stretched linearly between the bounds found: low is one more than the first
// level at which the count from below reaches 5 %, high one less than the first level at which
// the count from above reaches it; samples below low become 0, above high the maximum, between
// ((v - low) * max) / (high - low), truncated. Samples equal to bounds that coincide become the
// maximum. Images of fewer than 20 pixels are copied unchanged; a channel with more than 95 %
// of its samples at one level is cut entirely (a uniform image turns black). No parameters, no
// progress, no busy hook.
//   Types: Rgb24, Gray8, Rgb48, Gray16, each at its own precision: 256 levels (max 255) for
//     8-bit samples, 65,536 levels (max 65535) for 16-bit ones; grey images have one channel.
//   Destination: must already exist with the source's type and at least its width and height
//     (else 0, nothing written); it is not created. The source's positions are written, so a
//     larger destination keeps the rest. src == dst works.
//   Result: 1 when the image was processed; 0 for a null or empty image or a refused
//     destination.
MARLO_API int32_t MARLO_STDCALL AutoAdjustment(Kasa* src, Kasa* dst);

// AutoEnhancement: auto exposure followed by sharpening of the result.
//   First AutoExposure from src into dst with useStrength 1 and `exposure`, then ImageFocus on
//   dst in place with `focus`; the result is exactly that of the two calls one after the other.
//   exposure: 0..1 as AutoExposure's strength (clamped; exactly 1 and exactly 0 select the
//     strong and mild automatic strengths).
//   focus: as ImageFocus's strength (only the low 16 bits count; negative softens, 0 leaves the
//     exposure result as it is).
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already have the source's type, width and height (else 0, nothing
//     written). src == dst works.
//   Progress: the range is split at mid = trunc((end - start) * 0.5), half the range's length
//     (not start plus half): the exposure step reports over (start, mid) by its own rule, then
//     the sharpening over (mid, end) by the common per-row protocol. With 0..100 on a stretched
//     8-bit image: (0, 50, x) for x = 0, 5, 20, 25, 30, 45, 50, then (50, 100, 50), the per-row
//     reports and (50, 100, 100). Only the sharpening can be aborted: the result is then 0, and
//     dst holds the exposure result, sharpened up to the row where it stopped.
//   Result: 1 when both steps completed; 0 for a null or empty image, an unsupported type, a
//     refused destination, missing memory (nothing written) or an abort.
MARLO_API int32_t MARLO_STDCALL AutoEnhancement(Kasa* src, Kasa* dst, float exposure, int32_t focus,
                                                ProgressCallback cb, int32_t start, int32_t end);

// AutoExposure: intensity stretch and power-law equalisation in the HSI model.
//   Every pixel is taken to hue, saturation and intensity (the mean of its samples). The levels
//   below which and above which 1 % of the samples of a channel lie are found; when they are
//   less than 245 levels apart (16-bit: 62965) the intensity range is widened (by 0.8 of the
//   room left at each end). The intensity histogram is then flattened partially by a power-law
//   equalisation, and the pixels are rebuilt from their hue and saturation and the new
//   intensity. Grey images are treated through their intensity alone.
//   useStrength: 0 runs with strength 0.5 whatever `strength` holds; nonzero uses `strength`.
//   strength: 0..1, the exponent of the equalisation (higher flattens more); below 0 or not a
//     number is taken as 0, above 1 as 1. Exactly 1 picks a strong automatic strength (0.6 to
//     0.75) and exactly 0 a mild one (0.25 to 0.375), from the share of pixels in the darkest
//     and brightest eighths of the range.
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already have the source's type, width and height (else 0, nothing
//     written). src == dst works. An image whose work planes of 12 bytes per pixel would not
//     fit the address space (PTRDIFF_MAX bytes: about 178 megapixels on a 32-bit system) is
//     refused with 0, as is a run whose tables cannot be had; nothing is written then. The
//     padding bytes at the end of 16-bit rows are written as 0.
//   Progress: a rule of its own, values that are fractions of end whatever start is: (start,
//     end, 0) first, then trunc(end * 0.1), trunc(end * 0.4), for a stretched 8-bit image
//     trunc(end * 0.5), then trunc(end * 0.6), trunc(end * 0.9) and end. With 0..100:
//     0, 10, 40, (50,) 60, 90, 100. The callback's result is ignored: no abort. A refused
//     destination gets the opening report only; an unsupported source type gets none.
//   Result: 1 when the destination was written; 0 for a null or empty image, an unsupported
//     type, a refused destination or missing memory.
MARLO_API int32_t MARLO_STDCALL AutoExposure(Kasa* src, Kasa* dst, int32_t useStrength,
                                             float strength, ProgressCallback cb, int32_t start,
                                             int32_t end);

// BookEffect: redraws the picture across the two facing pages of an open book: split at a
// vertical spine, each half curled like a page (compressed toward its outer edge), white margins
// left and right, the top edges drooping toward the outer corners with a white band below the
// pages, and each page narrowing toward the top in perspective. Pixels are moved whole, never
// mixed, so every type keeps its full precision; white is the largest sample value of the type.
//   axis: where the spine lies, 0..100 per cent of the width between the margins.
//   folding: 0..100; the width of each side margin, up to W / 2 - 20 columns.
//   slanting: 0..100; the droop of the outer corners, up to H - 20 rows, and the perspective.
//   Only the low 16 bits of each argument count (so -1 is 65535 and is refused).
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already hold a picture of the source's type, width and height; every
//     pixel of it is written (row padding is kept). src == dst works and gives the same result.
//   Messages (through the message handler; nothing is written after one), in this order:
//     "Image error !" for a null or empty image, a destination of another type or size, or a
//       picture narrower than 40 pixels or at most 20 rows high;
//     "Axis location is out of range !", "Folding degree is out of range !",
//     "Slanting degree is out of range !" for a value above 100.
//   Progress: none; no busy hook.
//   Result: 1 when the picture was redrawn, 0 after a message (or when memory ran short, in
//     which case nothing is written).
MARLO_API int32_t MARLO_STDCALL BookEffect(Kasa* src, Kasa* dst, uint32_t axis, uint32_t folding,
                                           uint32_t slanting);

// CBEnhancement: contrast and brightness per channel through one straight tone line each.
//   contrast[3], brightness[3]: red, green, blue. Usual range -100..100 each (contrast -100 is
//     a slope of 1 degree, 0 is 45 degrees, +100 is 89 degrees; brightness +-100 shifts by the
//     whole range at slope 1). Values outside are applied as the formulas give, not refused.
//     Grey images use contrast[0] and brightness[0] only. Null arrays are refused (0).
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: created with the source's type and size when empty; a non-empty destination
//     must have the source's type, width and height (else 0, nothing written). src == dst works.
//   Busy hook: called around the work.
//   Progress: the common protocol, one report after each written row; may be aborted.
//   Result: 1 when the image was processed, also when aborted through the callback; 0 for a
//     null image, an empty source, an unsupported type or a refused destination.
MARLO_API int32_t MARLO_STDCALL CBEnhancement(Kasa* src, Kasa* dst, const int32_t* contrast,
                                              const int32_t* brightness, ProgressCallback cb,
                                              int32_t start, int32_t end);

// ColorTintAddByHS: adds a colour tint given as a hue and a saturation, first turned into the
// three percentages of ColorTintAddByRGB (the hue's colour at that saturation, with grey at
// saturation 0, mapped so that full scale is +100 and black -100).
//   hue: degrees, 0..360 (0 and 360 red, 120 green, 240 blue); other values are refused (0).
//   saturation: usually 0..1 (0 adds nothing, 1 the pure hue); larger or negative finite values
//     are applied as the formulas give, with each percentage held within -100..100; NaN and
//     infinities are refused (0).
//   Types, destination, progress and result: as ColorTintAddByRGB.
MARLO_API int32_t MARLO_STDCALL ColorTintAddByHS(Kasa* src, Kasa* dst, int32_t hue,
                                                 float saturation, ProgressCallback cb,
                                                 int32_t start, int32_t end);

// ColorTintAddByRGB: adds a colour tint by bending each channel through a power curve: a
// positive percentage lifts the channel's mid-tones (exponent up to 1/2.00), a negative one
// lowers them (down to 1/0.50); black and full scale stay fixed.
//   red, green, blue: percentages -100..100, 0 leaves the channel unchanged; any value outside
//     is refused (0, nothing written).
//   Types: Rgb24, Rgb48.
//   Destination: must exist with the source's type, width and height (an empty or different
//     destination is refused: 0, nothing written). Rows are written whole, padding included, so
//     an all-zero tint makes the destination a byte-for-byte copy. src == dst works. No busy
//     hook.
//   Progress: the common protocol, one report after each written row; may be aborted.
//   Result: 1 when the image was processed; 0 for a null or empty image, another type, a
//     refused value or destination, or an abort through the callback (rows already written
//     stay written).
MARLO_API int32_t MARLO_STDCALL ColorTintAddByRGB(Kasa* src, Kasa* dst, int32_t red, int32_t green,
                                                  int32_t blue, ProgressCallback cb, int32_t start,
                                                  int32_t end);

// ColorTintRemove: removes a colour cast, taking the point (x, y) as a surface that should be
// grey. The colour averaged over the point and its neighbours inside the image (up to 3 x 3) is
// compared with the grey of the same lightness; when it is a mild cast (every channel at least
// 5, or 1280 for 16-bit; saturation 1..25 %; no channel more than 30 % away from the grey),
// each channel is bent through a smooth tone curve (a cubic spline through black, the
// reference's value -> the grey, and full scale). Otherwise nothing is changed.
//   x, y: the reference point, a pixel of the source (0 <= x < width, 0 <= y < height); any
//     other point is refused (0) before anything is created or written.
//   Types: Rgb24, Rgb48.
//   Destination: created with the source's type and size when empty (also when the reference
//     then changes nothing: it stays as created, all zero); a non-empty destination must have
//     the source's type, width and height (else 0, nothing written). src == dst works.
//   Busy hook: called around the work (also when nothing is changed).
//   Progress: the common protocol, one report after each written row; may be aborted. When the
//     reference changes nothing, only the opening report is made.
//   Result: 1 when the image was processed, also when nothing was changed or the caller
//     aborted; 0 for a null image, an empty source, another type, a point outside the source or
//     a refused destination.
MARLO_API int32_t MARLO_STDCALL ColorTintRemove(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                                ProgressCallback cb, int32_t start, int32_t end);

// ConvexLens: magnifies the disc of centre (cx, cy) and the given radius as if a convex lens
// lay on it: a destination pixel at distance r from the centre shows the source pixel in the
// same direction at distance trunc(r - sin(r * pi / R) * R / k), with k = 20 - 4 * magnific, so
// the middle is magnified (about 1.24 times for magnific 1, 4.7 times for 4) and the rim joins
// the surrounding picture. Pixels are moved whole at the full precision of every type.
//   cx, cy: the centre, 0..width - 1 and 0..height - 1 of the source.
//   radius: any value; only the part of the disc inside the picture is visited, so the time is
//     bounded by the picture's size. Radius 0 copies the centre pixel only.
//   magnific: 1..4.
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already hold a picture of the source's type. Only the disc is written
//     (where it lies inside both pictures); everything else keeps what the destination held, so
//     pass a copy of the source to get the whole picture. src == dst works and gives the same
//     result as a separate destination holding a copy of the source.
//   Messages (through the message handler; nothing is written after one), in this order:
//     "Image error !" for a null or empty image or a destination of another type;
//     "Center coordinate is out of range !" for a centre outside the source;
//     "Magnific degree is out of range !" for a magnific degree outside 1..4.
//   Progress: none; no busy hook.
//   Result: 1 when the disc was drawn, 0 after a message (or when memory ran short, in which
//     case nothing is written).
MARLO_API int32_t MARLO_STDCALL ConvexLens(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy,
                                           uint32_t radius, uint32_t magnific);

// Despeckle: replaces every sample that differs from the mean of its eight neighbours (same
// channel, sum / 8 rounded down, taken from the unfiltered source) by more than threshold with
// that mean; every other sample passes unchanged. The first and last column never change, so
// images 1 or 2 pixels wide are copied as they are. The top row counts itself as the row
// above and the bottom row as the row below (a one-row image is its own row on both sides).
//   threshold: the largest deviation left alone, on the 8-bit scale (0..255 is the useful
//     range; 16-bit images use threshold * 257, truncated). Any value is accepted: 255 or more
//     changes nothing on 8-bit images, 0 replaces every sample that differs from its mean at
//     all, a negative value replaces every interior sample by its mean.
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already exist with the source's type, width and height; it is neither
//     created nor resized (else 0, nothing written). src == dst works.
//   Progress: the common protocol, one report after each written row; may be aborted (0, rows
//     written so far stay). The opening report is made before the destination is checked, so
//     a refused destination still receives it.
//   Result: 1 when every row was written; 0 for a null image, an empty or unsupported source,
//     a refused destination or an abort.
MARLO_API int32_t MARLO_STDCALL Despeckle(Kasa* src, Kasa* dst, int32_t threshold,
                                          ProgressCallback cb, int32_t start, int32_t end);

// HSLEnhancement: hue, saturation and lightness changes, for all colours and per colour range.
// Each array holds 7 values: index 0 is the master value (all colours), 1..6 belong to the
// colour ranges red (hue 0), yellow (60), green (120), cyan (180), blue (240) and magenta (300).
// A range has full weight within 15 degrees of its centre and passes linearly to its neighbour
// over the 30 degrees between (each half truncated toward zero). A pixel is converted to the
// integer hue/lightness/saturation model, adjusted and converted back:
//   hue[7]: degrees added to the pixel's hue (master plus range value, reduced into 0..360).
//     Usual range -360..360; any value works modulo 360. Grey pixels have no hue.
//   saturation[7]: percent; master plus range value held within -100..100, then S becomes
//     (change + 100) * S / 100, at most 100. -100 turns pixels grey.
//   lightness[7]: percent; the master value plus the range value weighted by the pixel's chroma
//     (so range lightness fades out toward grey), not held: negative values darken each channel
//     toward 0 ((change + 100) * v + 50) / 100), positive ones lighten it toward the top
//     (v + ((max - v) * change + 50) / 100); -100 gives black, +100 white, beyond that the
//     channels stay at the ends. The master value acts on grey pixels too.
//   Values outside the usual ranges are applied as the formulas give, not refused. Null arrays
//     are refused (0).
//   The function is sampled once per call on a 16 x 16 x 16 lattice of RGB values and pixels
//     are interpolated trilinearly between lattice points (an image can move by a unit or two
//     through the model's rounding even with all values 0); if the lattice cannot be allocated
//     every pixel is computed directly, which can differ slightly between lattice points.
//   Types: Rgb24, Rgb48.
//   Destination: created with the source's type and size when empty; a non-empty destination
//     must have the source's type, width and height (else 0, nothing written). src == dst works.
//   Busy hook: called around the work.
//   Progress: the common protocol, one report after each written row; may be aborted.
//   Result: 1 when the image was processed, also when aborted through the callback; 0 for a
//     null array, a null image, an empty source, a grey or other source type or a refused
//     destination.
MARLO_API int32_t MARLO_STDCALL HSLEnhancement(Kasa* src, Kasa* dst, const int32_t* hue,
                                               const int32_t* saturation, const int32_t* lightness,
                                               ProgressCallback cb, int32_t start, int32_t end);

// ImageFocus: sharpens (strength > 0) or softens (strength < 0) with a 4-neighbour Laplacian.
//   Every sample x of pixels 1 to width - 2 becomes x + (k / 1024) * (4x - left - right - up -
//   down), rounded half up and clamped to the sample range, with neighbours of the same channel
//   taken from the unfiltered source. The first and last pixel of each row are copied; the first
//   and last row use the row itself for the missing neighbour row.
//   strength: only the low 16 bits count, as a signed value -32768..32767. k = strength * 5.12
//     for strength >= 0 and strength * 2.56 below, truncated toward zero: 100 gives a gain of
//     0.5, -100 a gain of -0.25, 0 copies the pixels.
//   Types: Rgb24, Gray8, Rgb48, Gray16.
//   Destination: must already have the source's type, width and height (else 0, nothing
//     written). src == dst works. The padding bytes at the end of 16-bit rows are written as 0.
//   Progress: the common protocol, one report after each written row; may be aborted (result 0,
//     rows written so far stay written). The opening report is made also when the destination is
//     refused; for an unsupported source type nothing is reported. When work memory cannot be
//     had, nothing is written and the opening and closing reports are made.
//   Result: 1 when every row was written; 0 for a null image, an empty source, an unsupported
//     type, a refused destination, missing memory or an abort.
MARLO_API int32_t MARLO_STDCALL ImageFocus(Kasa* src, Kasa* dst, int32_t strength,
                                           ProgressCallback cb, int32_t start, int32_t end);

// LightAdjustment: white balance from one light source to another. Both colour temperatures
// are turned into white points on the daylight locus; their difference in linear RGB gives one
// gain per channel, normalised so that the strongest channel keeps its range, and a gamma curve
// taken from the mean of the channel maxima restores the brightness. Moving to a higher
// temperature makes the image bluer, to a lower one redder.
//   fromKelvin, toKelvin: colour temperatures in kelvins; the table covers 1000..25000 and
//     values beyond either end act as that end (never refused). Equal values copy the image.
//   Types: Rgb24, Rgb48.
//   Destination: must exist with the source's type, width and height (an empty or different
//     destination is refused, nothing written). src == dst works. No busy hook.
//   Progress: the common protocol, one report after each written row; may be aborted (rows
//     already written stay adjusted).
//   Result (reversed): 0 when the image was adjusted; 1 for a null or empty image, another
//     type, a refused destination, or an abort through the callback.
MARLO_API int32_t MARLO_STDCALL LightAdjustment(Kasa* src, Kasa* dst, int32_t fromKelvin,
                                                int32_t toKelvin, ProgressCallback cb,
                                                int32_t start, int32_t end);

// RemoveNoise: conditional 3 x 3 median. For every interior pixel of the source (rows 1 to
// height - 2, columns 1 to width - 2) each channel's median over the pixel's 3 x 3
// neighbourhood is taken; when every channel lies within 29 levels of its median (29 x 257 on
// 16-bit images) the pixel is written unchanged, otherwise all its channels are replaced by
// their medians. No parameters, no progress, no busy hook.
//   Types: Rgb24, Gray8, Rgb48, Gray16, each at its own precision (grey: one channel).
//   Destination: must already exist with the source's type and at least its width and height
//     (else 0, nothing written); it is not created. Only the source's interior positions are
//     written: the border rows and columns, and anything beyond the source's size in a larger
//     destination, keep what they held. src == dst works: pixels are taken in order, rows top
//     to bottom and left to right, each seeing its neighbours above and to the left already
//     filtered.
//   Result: 1 when the image was processed, also when it has no interior pixel (width or
//     height 1 or 2: nothing written); 0 for a null or empty image or a refused destination.
MARLO_API int32_t MARLO_STDCALL RemoveNoise(Kasa* src, Kasa* dst);

// RemoveRedEyeClr: darkens and desaturates red pupils. The destination first becomes a copy of
// the source; then red pixels are recoloured in it (every test reads the source).
//   24-bit RGB: every pixel of the picture whose hue lies within 15 degrees of red, with
//     saturation >= 50 % and value >= 25 %, is recoloured (lightness - 60, saturation - 90 on
//     the 0..255 scale); (x, y) plays no part, so a host passes only the region around the eye.
//   48-bit RGB: only the four-connected red region that holds the point (or, when the point
//     itself is not red, its first red neighbour of left, right, up, down) and lies within 50
//     pixels of the point in each direction; a pixel belongs to it when each channel lies within
//     6120 of the start pixel's and its hue is within 15 degrees of red. Its saturation is
//     scaled to 60 % (lifted to 15 and not darkened when that falls below 15), its lightness
//     lowered by up to 70 % with its chroma. A point outside the picture, or one with no red
//     pixel at or next to it, leaves the plain copy.
//   x, y: any values.
//   Types: Rgb24, Rgb48 (grey images are refused with 0).
//   Destination: created with the source's type and size when empty; a non-empty destination
//     must have the source's type, width and height (else 0, nothing written). src == dst works.
//   Busy hook: called around the work.
//   Progress, a rule of its own, and the callback cannot stop the filter (its answers are
//     ignored): first (start, end, 0) whatever start is; on 24-bit then once per pixel
//     ((y * width + x) * end) / (width * height) and finally end; on 48-bit 30 % of end, then
//     35, 40, 45, 50 % for each of the left, right, up, down neighbours tried, then 60 % and 80 %
//     when a red start pixel was found, and finally end (fractions of end truncated).
//   Result: 1 when the picture was processed (also when nothing was red); 0 for a null image, an
//     empty source, a grey source, a refused destination, or when memory ran short (then the
//     destination is left as it was).
MARLO_API int32_t MARLO_STDCALL RemoveRedEyeClr(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                                ProgressCallback cb, int32_t start, int32_t end);

// Saturation: makes colours more or less vivid by one signed percentage. Each pixel is taken
// into the integer hue/lightness/saturation model, its saturation S (0..100) becomes
// S + (S * amount) / 100 (truncated toward zero, held within -100..100), and it is converted
// back; grey pixels are left exactly as they are. Coloured pixels may move by a unit through
// the model's rounding even with amount 0.
//   amount: percent, not range-checked. -100 turns every pixel grey at its model lightness,
//     0 keeps the saturation, +100 doubles it; below -100 the colours invert around grey, and
//     any large amount drives every coloured pixel to full saturation.
//   Types: Rgb24, Rgb48.
//   Destination: created with the source's type and size when empty; a non-empty destination
//     must have the source's type, width and height (else 0, nothing written). src == dst works.
//   Busy hook: called around the work.
//   Progress: the common protocol, but each row's report is made after the row is read and
//     before it is transformed, so an abort leaves that row (and those below) unwritten.
//   Result: 1 when the image was processed, also when aborted through the callback; 0 for a
//     null image, an empty source, a grey or other source type or a refused destination.
MARLO_API int32_t MARLO_STDCALL Saturation(Kasa* src, Kasa* dst, int32_t amount,
                                           ProgressCallback cb, int32_t start, int32_t end);

}  // extern "C"

#endif  // MARLO_H
