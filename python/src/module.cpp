// marlo._marlo: the compiled half of the Python package. It runs the tool's filters (configured
// from option words, see tool.h) on numpy arrays, reads and writes files through the image file
// library, and runs the tool's file pipeline for batches. The interpreter lock is released while
// pixels are converted, filtered, read or written; it is taken back only to report progress and
// to look for Ctrl-C.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <optional>

#include "convert.h"
#include "marlo.h"
#include "marlo_io.h"
#include "pipeline.h"
#include "progress.h"
#include "tool.h"

namespace py = pybind11;
namespace io = marlo::io;

namespace marlo_py {
namespace {

// A filter that refused its image, or a file that could not be read or written: marlo.Error.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// --- Arrays -------------------------------------------------------------------------------------

std::string Text(py::handle object) {
  return py::str(object).cast<std::string>();
}

std::string ShapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) {
    text += (i ? ", " : "") + std::to_string(a.shape(i));
  }
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// The layout of an image array; TypeError for another type, dtype or shape, ValueError for one
// larger than the image store holds.
ArrayLayout LayoutOf(const py::handle& object, const char* what) {
  if (!py::isinstance<py::array>(object)) {
    throw py::type_error(std::string(what) + " must be a numpy array, not " +
                         Text(py::type::of(object).attr("__name__")));
  }
  const py::array a = py::reinterpret_borrow<py::array>(object);
  const py::dtype dtype = a.dtype();
  if (dtype.kind() != 'u' || (dtype.itemsize() != 1 && dtype.itemsize() != 2)) {
    throw py::type_error(std::string(what) + " must be an array of uint8 or uint16, not " +
                         Text(dtype));
  }
  if (!(a.ndim() == 2 || (a.ndim() == 3 && a.shape(2) == 3)) || a.shape(0) < 1 || a.shape(1) < 1) {
    throw py::type_error(std::string(what) +
                         " must have the shape (H, W) or (H, W, 3) with H, W >= 1, not " +
                         ShapeText(a));
  }
  ArrayLayout layout;
  layout.channels = a.ndim() == 3 ? 3 : 1;
  layout.bytes = static_cast<int>(dtype.itemsize());
  const int64_t rowBytes =
      (static_cast<int64_t>(a.shape(1)) * layout.channels * layout.bytes + 3) & ~int64_t{3};
  if (a.shape(0) > INT32_MAX || a.shape(1) > INT32_MAX ||
      rowBytes > Kasa::MaxImageBytes() / a.shape(0)) {
    throw py::value_error(std::string(what) + " of shape " + ShapeText(a) +
                          " is larger than the image store holds (4 GiB)");
  }
  layout.height = static_cast<int32_t>(a.shape(0));
  layout.width = static_cast<int32_t>(a.shape(1));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  layout.bigEndian = dtype.byteorder() != '<';
#else
  layout.bigEndian = dtype.byteorder() == '>';
#endif
  layout.data = static_cast<uint8_t*>(const_cast<void*>(a.data()));
  layout.rowStride = a.strides(0);
  layout.pixelStride = a.strides(1);
  layout.sampleStride = a.ndim() == 3 ? a.strides(2) : layout.bytes;
  return layout;
}

py::array NewArray(int32_t height, int32_t width, int channels, int bytes) {
  std::vector<py::ssize_t> shape{height, width};
  if (channels == 3) shape.push_back(3);
  return bytes == 2 ? py::array(py::dtype::of<uint16_t>(), shape)
                    : py::array(py::dtype::of<uint8_t>(), shape);
}

// `out` checked against the result it is to receive: TypeError for another dtype or shape,
// ValueError when it cannot be written.
ArrayLayout OutLayout(const py::handle& out, int32_t height, int32_t width, int channels,
                      int bytes) {
  const ArrayLayout layout = LayoutOf(out, "out");
  if (layout.bytes != bytes || layout.channels != channels || layout.height != height ||
      layout.width != width) {
    const py::array wanted = NewArray(1, 1, channels, bytes);
    throw py::type_error("out must be an array of " + Text(wanted.dtype()) + " with the shape (" +
                         std::to_string(height) + ", " + std::to_string(width) +
                         (channels == 3 ? ", 3)" : ")") + ", not " +
                         Text(py::reinterpret_borrow<py::array>(out).dtype()) + " " +
                         ShapeText(py::reinterpret_borrow<py::array>(out)));
  }
  if (!py::reinterpret_borrow<py::array>(out).writeable()) {
    throw py::value_error("out is a read-only array");
  }
  return layout;
}

std::unique_ptr<Kasa> NewImage(int channels, int bytes, int32_t width, int32_t height) {
  auto image = std::make_unique<Kasa>();
  if (!image->CreateImage(KasaTypeFor(channels, bytes), width, height, 0, nullptr, 0, 0, 0, 0, 0)) {
    throw std::bad_alloc();
  }
  return image;
}

// The source and destination images of a filter call. Each thread keeps the pair of its last
// call for its next one (up to kKeptBytes together): fresh memory costs a page fault on first
// touch for every 4 KiB, which on large pictures takes longer than a fast filter. A larger call
// frees them and takes images of its own, and so does a call made inside another's progress
// callback. The source's row padding stays zero (only pixels are converted into it), as in an
// image just created.
class WorkImages {
 public:
  WorkImages(int channels, int bytes, int32_t width, int32_t height) {
    const int64_t rowBytes = (static_cast<int64_t>(width) * channels * bytes + 3) & ~int64_t{3};
    Kept& kept = t_kept;
    if (!kept.busy && 2 * rowBytes * height <= kKeptBytes) {
      kept.busy = true;
      held_ = &kept;
      src = &kept.src;
      dst = &kept.dst;
    } else {
      if (!kept.busy) kept.Release();
      src = &own_.src;
      dst = &own_.dst;
    }
    const int type = KasaTypeFor(channels, bytes);
    if (src->GetImageType() != type || src->GetImageWidth() != width ||
        src->GetImageHeight() != height) {
      src->DeleteImage(0);
      dst->DeleteImage(0);
      if (!src->CreateImage(type, width, height, 0, nullptr, 0, 0, 0, 0, 0)) {
        Release();
        throw std::bad_alloc();
      }
    }
  }
  ~WorkImages() { Release(); }
  WorkImages(const WorkImages&) = delete;
  WorkImages& operator=(const WorkImages&) = delete;

  Kasa* src;
  Kasa* dst;

 private:
  struct Kept {
    Kasa src, dst;
    bool busy = false;
    void Release() {
      src.DeleteImage(0);
      dst.DeleteImage(0);
    }
  };
  static constexpr int64_t kKeptBytes = int64_t{320} << 20;
  static thread_local Kept t_kept;

  void Release() {
    if (held_) held_->busy = false;
    held_ = nullptr;
  }

  Kept own_;
  Kept* held_ = nullptr;
};

thread_local WorkImages::Kept WorkImages::t_kept;

// A new array holding `image` (RGB as (H, W, 3), grey as (H, W)).
py::array ToArray(const Kasa& image) {
  const int bits = image.GetBitCount();
  const int channels = bits == 24 || bits == 48 ? 3 : 1;
  const int bytes = bits == 48 || bits == 16 ? 2 : 1;
  py::array array = NewArray(image.GetImageHeight(), image.GetImageWidth(), channels, bytes);
  const ArrayLayout layout = LayoutOf(array, "array");
  {
    py::gil_scoped_release release;
    KasaToArray(image, layout);
  }
  return array;
}

// --- Progress, Ctrl-C ---------------------------------------------------------------------------

unsigned long g_mainThread = 0;

bool OnMainThread() {
  return PyThread_get_thread_ident() == g_mainThread;
}

// One call's reporting: the progress callable (borrowed, may be null) and the exception that
// stopped the work.
struct Call {
  PyObject* progress = nullptr;
  int32_t last = INT32_MIN;
  std::optional<py::error_already_set> error;
};

thread_local Call* t_call = nullptr;

struct CallScope {
  explicit CallScope(Call* call) : previous(t_call) { t_call = call; }
  ~CallScope() { t_call = previous; }
  Call* previous;
};

struct ContextScope {
  explicit ContextScope(cli::JobContext* context) : previous(cli::CurrentJobContext()) {
    cli::SetJobContext(context);
  }
  ~ContextScope() { cli::SetJobContext(previous); }
  cli::JobContext* previous;
};

// With the lock taken: looks for Ctrl-C, then reports (done, total). False once the call must
// stop (an exception was raised, kept for the caller).
bool Report(Call* call, int32_t done, int32_t total, bool report) {
  if (call->error) return false;
  py::gil_scoped_acquire lock;
  try {
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (report && call->progress) py::handle(call->progress)(done, total);
  } catch (py::error_already_set& e) {
    call->error = std::move(e);
    return false;
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
    call->error = py::error_already_set();
    return false;
  }
  return true;
}

// The filters' progress callback: reaches Python only when the value moved.
int32_t MARLO_STDCALL Trampoline(int32_t start, int32_t end, int32_t current) {
  Call* call = t_call;
  if (!call) return 0;
  if (call->error) return 1;
  if (current == call->last) return 0;
  call->last = current;
  return Report(call, current - start, end - start, true) ? 0 : 1;
}

// The file library's row callback: looks for Ctrl-C every 32 rows.
void Tick(int32_t row, int32_t rows) {
  Call* call = t_call;
  if (!call || (row % 32 != 31 && row + 1 != rows)) return;
  if (!Report(call, row, rows, false)) throw io::Interrupted();
}

[[noreturn]] void Rethrow(Call* call) {
  py::error_already_set error = std::move(*call->error);
  call->error.reset();
  throw error;
}

// --- Filters ------------------------------------------------------------------------------------

py::list OptionList(const std::vector<cli::OptionDecl>& decls) {
  static const char* const kKinds[] = {"flag", "int", "real", "ints", "point", "word", "path"};
  py::list options;
  for (const cli::OptionDecl& o : decls) {
    options.append(
        py::dict(py::arg("flag") = cli::LongName(o).substr(2),
                 py::arg("kind") = kKinds[static_cast<int>(o.kind)],
                 py::arg("counts") = py::make_tuple(o.counts[0], o.counts[1]),
                 py::arg("default") = o.value ? py::object(py::str(o.value)) : py::none(),
                 py::arg("required") = o.required, py::arg("help") = cli::HelpText(o),
                 py::arg("words") = cli::Words(o)));
  }
  return options;
}

py::list FilterList() {
  py::list filters;
  for (const cli::FilterEntry& entry : cli::Filters()) {
    filters.append(py::dict(py::arg("name") = entry.name(), py::arg("export") = entry.exportName(),
                            py::arg("summary") = entry.decl->summary,
                            py::arg("colour_only") = entry.colourOnly(),
                            py::arg("moves_pixels") = entry.movesPixels(),
                            py::arg("options") = OptionList(entry.decl->options)));
  }
  return filters;
}

py::object Apply(const std::string& name, const py::object& image,
                 const std::vector<std::string>& words, const py::object& out,
                 const py::object& progress) {
  const ArrayLayout in = LayoutOf(image, "image");
  const cli::FilterEntry* entry = nullptr;
  const std::unique_ptr<cli::Filter> filter = Configure(name, words, &entry);
  CheckImage(*filter, in.width, in.height);
  const int channels = in.channels == 3 || entry->colourOnly() ? 3 : 1;
  const py::object result = out.is_none() ? NewArray(in.height, in.width, channels, in.bytes) : out;
  const ArrayLayout target = OutLayout(result, in.height, in.width, channels, in.bytes);
  if (!progress.is_none() && !PyCallable_Check(progress.ptr())) {
    throw py::type_error("progress must be a callable f(done, total)");
  }
  Call call;
  call.progress = progress.is_none() ? nullptr : progress.ptr();
  const ProgressCallback callback = call.progress || OnMainThread() ? Trampoline : nullptr;
  bool ok = false;
  std::string messages;
  {
    py::gil_scoped_release release;
    WorkImages work(channels, in.bytes, in.width, in.height);
    ArrayToKasa(in, work.src);
    if (!work.dst->CopyImage(work.src)) throw std::bad_alloc();
    cli::JobContext context;
    {
      ContextScope contextScope(&context);
      CallScope callScope(&call);
      ok = filter->Run(work.src, work.dst, callback);
    }
    messages = context.messages;
    if (ok && !call.error) KasaToArray(*work.dst, target);
  }
  if (call.error) Rethrow(&call);
  if (!ok) {
    throw Error(name + ": " + (messages.empty() ? "the filter refused the image" : messages));
  }
  return result;
}

// --- Files --------------------------------------------------------------------------------------

py::tuple Read(const std::string& path, const std::vector<std::string>& common) {
  io::Limits limits;
  limits.maxMegapixels = SettingsFrom(common).maxMegapixels;
  io::Picture picture;
  std::string failure;
  Call call;
  {
    py::gil_scoped_release release;
    CallScope scope(OnMainThread() ? &call : nullptr);
    try {
      picture = io::Read(path, limits, Tick);
    } catch (const io::Interrupted&) {
    } catch (const io::FileError& e) {
      failure = e.what();
    }
  }
  if (call.error) Rethrow(&call);
  if (!failure.empty()) throw Error(path + ": " + failure);
  const io::ImageInfo& info = picture.info;
  return py::make_tuple(
      ToArray(*picture.pixels), picture.alpha ? py::object(ToArray(*picture.alpha)) : py::none(),
      py::bytes(reinterpret_cast<const char*>(info.icc.data()), info.icc.size()),
      py::bytes(reinterpret_cast<const char*>(info.exif.data()), info.exif.size()),
      io::FormatName(info.format));
}

// The format of an output file as the tool tells it: from the name's extension, else from
// --format, which must not name another one.
io::Format OutputFormat(const std::string& path, const cli::Settings& settings) {
  io::Format named, asked;
  const bool hasName = io::FormatFromExtension(path, &named);
  const bool hasAsked = !settings.format.empty() && io::FormatFromName(settings.format, &asked);
  if (hasName && hasAsked && named != asked) {
    throw py::value_error("format: '" + settings.format + "' is not the format of the name " +
                          path);
  }
  if (!hasName && !hasAsked) {
    throw py::value_error("cannot tell the output format of '" + path +
                          "': use a .png, .jpg, .tif or .pnm name, or format=");
  }
  return hasName ? named : asked;
}

void Write(const std::string& path, const py::object& pixels, const py::object& alpha,
           const std::string& icc, const std::string& exif,
           const std::vector<std::string>& common) {
  const cli::Settings settings = SettingsFrom(common);
  const io::Format format = OutputFormat(path, settings);
  const ArrayLayout p = LayoutOf(pixels, "pixels");
  std::optional<ArrayLayout> a;
  if (!alpha.is_none()) {
    a = LayoutOf(alpha, "alpha");
    if (a->channels != 1 || a->bytes != p.bytes || a->height != p.height || a->width != p.width) {
      throw py::type_error("alpha must be a grey array of the pixels' dtype and height and width");
    }
  }
  io::Picture picture;
  picture.info.icc.assign(icc.begin(), icc.end());
  picture.info.exif.assign(exif.begin(), exif.end());
  const io::WriteOptions options = WriteOptionsFor(settings);
  std::string failure;
  Call call;
  {
    py::gil_scoped_release release;
    picture.pixels = NewImage(p.channels, p.bytes, p.width, p.height);
    ArrayToKasa(p, picture.pixels.get());
    if (a) {
      picture.alpha = NewImage(1, a->bytes, a->width, a->height);
      ArrayToKasa(*a, picture.alpha.get());
    }
    CallScope scope(OnMainThread() ? &call : nullptr);
    try {
      io::Write(picture, format, path, options, Tick);
    } catch (const io::Interrupted&) {
    } catch (const io::FileError& e) {
      failure = e.what();
    }
  }
  if (call.error) Rethrow(&call);
  if (!failure.empty()) throw Error(path + ": " + failure);
}

// --- Batches ------------------------------------------------------------------------------------

// The tool's plan for `inputs` written into `directory`: (input, output, format or None) each.
py::list Plan(const std::vector<std::string>& inputs, const std::string& directory,
              const std::vector<std::string>& common) {
  cli::Settings settings = SettingsFrom(common);
  settings.inputs = inputs;
  settings.output = directory.empty() || directory.back() != '/' ? directory + "/" : directory;
  std::vector<cli::Job> jobs;
  try {
    jobs = cli::PlanJobs(settings);
  } catch (const cli::UsageError& e) {
    throw OptionError(e.what());
  } catch (const io::FileError& e) {
    throw Error(e.what());
  }
  py::list plan;
  for (const cli::Job& job : jobs) {
    plan.append(py::make_tuple(
        job.input, job.output,
        job.format ? py::object(py::str(io::FormatExtension(*job.format))) : py::none()));
  }
  return plan;
}

using Steps = std::vector<std::pair<std::string, std::vector<std::string>>>;

// One file through the chain, as the tool processes it: read under the limit, every step (grey
// turned into RGB before a colour-only one, alpha moved by the distortions), written atomically.
// Returns (success, error text, seconds in the filters).
py::tuple Process(const std::string& input, const std::string& output,
                  const std::optional<std::string>& format, const Steps& steps,
                  const std::vector<std::string>& common) {
  cli::Chain chain;
  for (const auto& step : steps) {
    const cli::FilterEntry* entry = nullptr;
    std::unique_ptr<cli::Filter> filter = Configure(step.first, step.second, &entry);
    chain.push_back(cli::ChainStep{entry, std::move(filter)});
  }
  std::optional<io::Format> outputFormat;
  io::Format named;
  if (format && io::FormatFromName(*format, &named)) outputFormat = named;
  const cli::Settings settings = SettingsFrom(common);
  cli::FileResult result;
  {
    py::gil_scoped_release release;
    result = cli::ProcessFile(chain, settings, input, output, outputFormat, nullptr, 0);
  }
  return py::make_tuple(result.status == cli::kExitOk, result.message, result.seconds);
}

// For the benchmarks: the best of `repeats` timings of each conversion of `image`, into a store
// image and back into an array of its own layout, in seconds.
py::tuple ConversionSeconds(const py::object& image, int repeats) {
  const ArrayLayout in = LayoutOf(image, "image");
  const py::array back = NewArray(in.height, in.width, in.channels, in.bytes);
  const ArrayLayout out = LayoutOf(back, "array");
  double bestIn = 1e300, bestOut = 1e300;
  {
    py::gil_scoped_release release;
    const std::unique_ptr<Kasa> store = NewImage(in.channels, in.bytes, in.width, in.height);
    for (int i = 0; i < repeats; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      ArrayToKasa(in, store.get());
      const auto t1 = std::chrono::steady_clock::now();
      KasaToArray(*store, out);
      const auto t2 = std::chrono::steady_clock::now();
      bestIn = std::min(bestIn, std::chrono::duration<double>(t1 - t0).count());
      bestOut = std::min(bestOut, std::chrono::duration<double>(t2 - t1).count());
    }
  }
  return py::make_tuple(bestIn, bestOut);
}

}  // namespace
}  // namespace marlo_py

PYBIND11_MODULE(_marlo, m) {
  using namespace marlo_py;
  m.doc() = "The compiled half of the marlo package; use the functions of `marlo` instead.";
  // The distortion effects' messages become the text of marlo.Error.
  MarloSetMessageHandler(cli::MessageHook);
  g_mainThread =
      py::module_::import("threading").attr("main_thread")().attr("ident").cast<unsigned long>();
  py::register_exception<Error>(m, "Error", PyExc_RuntimeError);
  py::register_exception<OptionError>(m, "OptionError", PyExc_ValueError);

  m.def("filters", &FilterList, "The tool's filters and their options.");
  m.def(
      "common_options", [] { return OptionList(cli::CommonOptionDecls()); },
      "The options every filter of the tool takes.");
  m.def("apply", &Apply, py::arg("name"), py::arg("image"), py::arg("words"), py::arg("out"),
        py::arg("progress"), "Runs the tool's filter `name`, configured from option words.");
  m.def(
      "check",
      [](const std::string& name, const std::vector<std::string>& words,
         const std::vector<std::string>& common) {
        const cli::FilterEntry* entry = nullptr;
        if (!name.empty()) Configure(name, words, &entry);
        SettingsFrom(common);
      },
      py::arg("name"), py::arg("words"), py::arg("common"),
      "Checks a filter's option words and common option words.");
  m.def("read", &Read, py::arg("path"), py::arg("common"),
        "(pixels, alpha, icc, exif, format name) of an image file.");
  m.def("write", &Write, py::arg("path"), py::arg("pixels"), py::arg("alpha"), py::arg("icc"),
        py::arg("exif"), py::arg("common"), "Writes an image file atomically.");
  m.def("plan", &Plan, py::arg("inputs"), py::arg("directory"), py::arg("common"),
        "The tool's plan of outputs for a batch.");
  m.def("process", &Process, py::arg("input"), py::arg("output"), py::arg("format"),
        py::arg("steps"), py::arg("common"),
        "One file through a chain of filters, as the tool does it.");
  m.def("set_threads", &MarloSetThreads, py::arg("count"), py::call_guard<py::gil_scoped_release>(),
        "The library's thread setting (MarloSetThreads).");
  m.def("get_threads", &MarloGetThreads, "The library's thread setting (MarloGetThreads).");
  m.def("conversion_seconds", &ConversionSeconds, py::arg("image"), py::arg("repeats"),
        "Best times of the two conversions of an array, for the benchmarks.");
}
