#include "pipeline.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "progress.h"

namespace cli {
namespace {

struct ContextScope {
  explicit ContextScope(JobContext* context) { SetJobContext(context); }
  ~ContextScope() { SetJobContext(nullptr); }
};

bool IsGrey(const Kasa& image) {
  return image.GetImageType() == static_cast<int>(ImageType::Gray8) ||
         image.GetImageType() == static_cast<int>(ImageType::Gray16);
}

std::unique_ptr<Kasa> CopyOf(Kasa& image) {
  auto copy = std::make_unique<Kasa>();
  if (!copy->CopyImage(&image)) throw io::FileError("not enough memory for the filter's result");
  return copy;
}

// Estimated CPU time per byte of decoded picture, in nanoseconds, of reading and writing each
// format and of one filter (measured on 24-megapixel pictures; filters run at 300 to 3000
// megapixels a second). They only divide the progress bar.
constexpr double kFilterCost = 5;

double ReadCost(io::Format format) {
  switch (format) {
    case io::Format::Png:
      return 15;
    case io::Format::Jpeg:
      return 4;
    case io::Format::Tiff:
      return 8;
    default:
      return 3;
  }
}

double WriteCost(io::Format format, const Settings& settings) {
  const int level = settings.compression;
  switch (format) {
    case io::Format::Png:
      return level < 0 ? 18 : level == 0 ? 5 : level <= 3 ? 25 : level <= 6 ? 45 : 90;
    case io::Format::Jpeg:
      return 5;
    case io::Format::Tiff:
      return level == 0 ? 5 : level >= 7 ? 30 : 10;
    default:
      return 3;
  }
}

// Each kind of note is shown once per run (io::Note's values index them).
std::once_flag g_notes[3];

}  // namespace

FileResult ProcessFile(const Chain& chain, const Settings& settings, const std::string& input,
                       const std::string& output, std::optional<io::Format> outputFormat,
                       ProgressBar* bar, int slot) {
  FileResult result;
  JobContext context;
  context.bar = bar;
  context.slot = slot;
  ContextScope scope(&context);
  auto reportRows = [bar, slot](double base, double span, const char* stage) {
    return [bar, slot, base, span, stage](int32_t row, int32_t rows) {
      CheckInterrupt();
      if (bar && rows > 0) bar->Update(slot, base + span * (row + 1) / rows, stage);
    };
  };
  try {
    io::Limits limits;
    limits.maxMegapixels = settings.maxMegapixels;
    std::unique_ptr<io::Decoder> decoder = io::Open(input, limits);
    const io::ImageInfo info = decoder->Info();
    // Without a format from the output's name, the input's own format is kept.
    const io::Format format = outputFormat ? *outputFormat : info.format;
    io::CheckLimits(info, limits);
    for (const ChainStep& step : chain) step.filter->CheckImage(info);

    // The bar's shares of reading, filtering and writing follow their estimated costs.
    const double read = ReadCost(info.format), write = WriteCost(format, settings);
    const double whole = read + kFilterCost * static_cast<double>(chain.size()) + write;
    const double readShare = read / whole, writeShare = write / whole;

    io::Picture picture;
    decoder->Decode(&picture, reportRows(0.0, readShare, "reading"));
    decoder.reset();  // the input is closed before the output is written

    const double filterShare = 1.0 - readShare - writeShare;
    const size_t n = chain.size();
    for (size_t i = 0; i < n; ++i) {
      const ChainStep& step = chain[i];
      CheckInterrupt();
      context.base = readShare + filterShare * static_cast<double>(i) / static_cast<double>(n);
      context.span = filterShare / static_cast<double>(n);
      context.stage = step.entry->name();
      context.aborted = false;
      context.messages.clear();
      if (bar) bar->Update(slot, context.base, context.stage);
      if (step.entry->colourOnly() && IsGrey(*picture.pixels)) {
        picture.pixels = io::GreyToRgb(*picture.pixels);
      }
      std::unique_ptr<Kasa> dst = CopyOf(*picture.pixels);
      const auto started = std::chrono::steady_clock::now();
      bool ok = step.filter->Run(picture.pixels.get(), dst.get(), ProgressHook);
      if (ok && step.entry->movesPixels() && picture.alpha) {
        std::unique_ptr<Kasa> alphaDst = CopyOf(*picture.alpha);
        ok = step.filter->Run(picture.alpha.get(), alphaDst.get(), ProgressHook);
        if (ok) picture.alpha = std::move(alphaDst);
      }
      result.seconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      CheckInterrupt();
      if (!ok) {
        throw io::FileError(std::string(step.entry->name()) + ": " +
                            (context.messages.empty() ? std::string("the filter refused the image")
                                                      : context.messages));
      }
      picture.pixels = std::move(dst);
    }
    context.stage = "writing";

    io::WriteOptions options;
    options.jpegQuality = settings.quality;
    options.deflateLevel = settings.compression < 0 ? io::kRunLengthDeflate : settings.compression;
    static const char* const kFilters[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
    for (int f = 0; f < 6; ++f) {
      if (strcasecmp(settings.pngFilter.c_str(), kFilters[f]) == 0) {
        options.pngFilter = static_cast<io::PngFilter>(f);
      }
    }
    options.onNote = [&settings, bar](io::Note note, const std::string& text) {
      if (settings.quiet) return;
      std::call_once(g_notes[static_cast<int>(note)], [bar, &text] {
        const std::string line = "marlo: note: " + text;
        if (bar) {
          bar->Print(line);
        } else {
          std::fprintf(stderr, "%s\n", line.c_str());
        }
      });
    };
    io::AtomicFile out(output);
    io::Encode(picture, format, out.get(), options,
               reportRows(1.0 - writeShare, writeShare, "writing"));
    CheckInterrupt();
    out.Commit();
  } catch (const io::Interrupted&) {
    result.status = kExitInterrupted;
    result.message = "interrupted";
  } catch (const UsageError& e) {
    result.status = kExitUsage;
    result.message = e.what();
  } catch (const io::FileError& e) {
    result.status = InterruptRequested() ? kExitInterrupted : kExitFailure;
    result.message = InterruptRequested() ? std::string("interrupted") : e.what();
  } catch (const std::bad_alloc&) {
    result.status = kExitFailure;
    result.message = "not enough memory";
  } catch (const std::exception& e) {
    result.status = kExitFailure;
    result.message = e.what();
  }
  if (bar) bar->FileDone(slot);
  return result;
}

int RunChain(const Chain& chain, const Settings& settings) {
  std::string createdDirectory;
  const std::vector<Job> jobs = PlanJobs(settings, &createdDirectory);
  const int files = static_cast<int>(jobs.size());
  ProgressBar bar(!settings.quiet && isatty(2), files);
  std::vector<FileResult> results(static_cast<size_t>(files));
  std::atomic<int> next{0};
  auto worker = [&] {
    for (;;) {
      const int i = next.fetch_add(1);
      if (i >= files || InterruptRequested()) return;
      const Job& job = jobs[static_cast<size_t>(i)];
      FileResult r = ProcessFile(chain, settings, job.input, job.output, job.format, &bar, i);
      if (r.status != kExitOk && r.status != kExitInterrupted) {
        bar.Print("marlo: " + (job.input == "-" ? std::string("standard input") : job.input) +
                  ": " + r.message);
      }
      results[static_cast<size_t>(i)] = std::move(r);
    }
  };
  int threads =
      settings.jobs > 0 ? settings.jobs : static_cast<int>(std::thread::hardware_concurrency());
  if (threads < 1) threads = 1;
  if (threads > files) threads = files;
  if (threads == 1) {
    worker();
  } else {
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
  }
  bar.Finish();
  // A batch leaves no empty output directory of its own behind (rmdir removes only an empty one).
  if (!createdDirectory.empty()) rmdir(createdDirectory.c_str());

  int ok = 0, failed = 0;
  bool usage = false;
  for (const FileResult& r : results) {
    if (r.status == kExitOk) {
      ++ok;
    } else if (r.status != kExitInterrupted) {
      ++failed;
      usage = usage || r.status == kExitUsage;
    }
  }
  if (InterruptRequested()) {
    std::fprintf(stderr, "marlo: interrupted\n");
    return kExitInterrupted;
  }
  if (files > 1) {
    std::fprintf(stderr, "marlo: %d of %d files done%s\n", ok, files,
                 failed ? (", " + std::to_string(failed) + " failed").c_str() : "");
  }
  if (failed == 0) return kExitOk;
  return usage ? kExitUsage : kExitFailure;
}

}  // namespace cli
