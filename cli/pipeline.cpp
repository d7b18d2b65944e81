#include "pipeline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "progress.h"

namespace cli {
namespace {

std::string ErrnoText() {
  return std::strerror(errno);
}

mode_t CurrentUmask() {
  static const mode_t mask = [] {
    const mode_t m = umask(022);
    umask(m);
    return m;
  }();
  return mask;
}

// An input file, or standard input copied into an unnamed temporary file (the TIFF reader and
// the format recognition need to seek).
class InputFile {
 public:
  explicit InputFile(const std::string& path) {
    if (path == "-") {
      file_ = std::tmpfile();
      if (!file_) throw FileError("cannot create a temporary file for standard input");
      char buffer[1 << 16];
      for (;;) {
        CheckInterrupt();
        const size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
        if (got > 0 && std::fwrite(buffer, 1, got, file_) != got) {
          throw FileError("cannot buffer standard input");
        }
        if (got < sizeof buffer) {
          CheckInterrupt();
          if (std::ferror(stdin)) throw FileError("cannot read standard input");
          break;
        }
      }
      std::rewind(file_);
      return;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw FileError("cannot open: " + ErrnoText());
    struct stat st;
    if (fstat(fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
      throw FileError("is a directory");
    }
  }
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FILE* get() const { return file_; }
  void Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }

 private:
  FILE* file_ = nullptr;
};

// The output: a temporary file beside the target, renamed into place by Commit. When the
// object is destroyed without Commit (any failure, or an interruption) the temporary file is
// removed, so a target is either left as it was or replaced by a complete file. For standard
// output the picture is written to an unnamed temporary file first and copied out once
// complete.
class OutputFile {
 public:
  explicit OutputFile(const std::string& target) : target_(target) {
    if (target == "-") {
      file_ = std::tmpfile();
      if (!file_) throw FileError("cannot create a temporary file: " + ErrnoText());
      return;
    }
    const size_t slash = target.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = dir + "." + base + ".marlo-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0)
      throw FileError("cannot write in " + (dir.empty() ? "." : dir) + ": " + ErrnoText());
    temp_ = name.data();
    slot_ = RegisterTempFile(temp_);
    // The new file gets the target's permissions if it exists, else the usual ones.
    struct stat st;
    const mode_t mode =
        stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
    fchmod(fd, mode);
    file_ = fdopen(fd, "w+b");
    if (!file_) {
      close(fd);
      Discard();
      throw FileError("cannot write: " + ErrnoText());
    }
  }
  ~OutputFile() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    Discard();
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  FILE* get() const { return file_; }

  void Commit() {
    if (std::fflush(file_) != 0) throw FileError("write failed: " + ErrnoText());
    if (target_ == "-") {
      std::rewind(file_);
      char buffer[1 << 16];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
        if (std::fwrite(buffer, 1, got, stdout) != got) {
          throw FileError("cannot write to standard output: " + ErrnoText());
        }
      }
      if (std::fflush(stdout) != 0) {
        throw FileError("cannot write to standard output: " + ErrnoText());
      }
      return;
    }
    if (fsync(fileno(file_)) != 0) throw FileError("write failed: " + ErrnoText());
    FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) throw FileError("write failed: " + ErrnoText());
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
      throw FileError("cannot rename the finished file into place: " + ErrnoText());
    }
    UnregisterTempFile(slot_);
    slot_ = -1;
    temp_.clear();
  }

 private:
  void Discard() {
    if (!temp_.empty()) {
      unlink(temp_.c_str());
      UnregisterTempFile(slot_);
      slot_ = -1;
      temp_.clear();
    }
  }

  std::string target_;
  std::string temp_;
  int slot_ = -1;
  FILE* file_ = nullptr;
};

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
  if (!copy->CopyImage(&image)) throw FileError("not enough memory for the filter's result");
  return copy;
}

std::once_flag g_roundNote;
std::once_flag g_alphaNote;

std::string Basename(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* Extension(Format format) {
  switch (format) {
    case Format::Png:
      return "png";
    case Format::Jpeg:
      return "jpg";
    case Format::Tiff:
      return "tif";
    case Format::Pnm:
      return "pnm";
  }
  return "png";
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::unique_ptr<Kasa> GreyToRgb(const Kasa& grey) {
  const bool wide = grey.GetImageType() == static_cast<int>(ImageType::Gray16);
  auto rgb = std::make_unique<Kasa>();
  const int32_t width = grey.GetImageWidth();
  const int32_t height = grey.GetImageHeight();
  if (!rgb->CreateImage(static_cast<int>(wide ? ImageType::Rgb48 : ImageType::Rgb24), width, height,
                        0, nullptr, 0, 0, 15, 0, 0)) {
    throw FileError("not enough memory to turn the grey picture into RGB");
  }
  const int bytes = wide ? 2 : 1;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = grey.RowData(y);
    uint8_t* out = rgb->RowData(y);
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        std::memcpy(out + (static_cast<size_t>(x) * 3 + c) * bytes,
                    in + static_cast<size_t>(x) * bytes, bytes);
      }
    }
  }
  return rgb;
}

ImageInfo ReadInfo(const std::string& path) {
  InputFile in(path);
  return OpenDecoder(in.get())->Info();
}

FileResult ProcessFile(const Chain& chain, const Settings& settings, const std::string& input,
                       const std::string& output, std::optional<Format> outputFormat,
                       ProgressBar* bar, int slot) {
  FileResult result;
  JobContext context;
  context.bar = bar;
  context.slot = slot;
  ContextScope scope(&context);
  const double readShare = 0.1, writeShare = 0.1;
  auto reportRows = [&](double base, const char* stage) {
    return [bar, slot, base, stage, readShare](int32_t row, int32_t rows) {
      CheckInterrupt();
      if (bar && rows > 0) {
        bar->Update(slot, base + readShare * (row + 1) / static_cast<double>(rows), stage);
      }
    };
  };
  try {
    InputFile in(input);
    std::unique_ptr<Decoder> decoder = OpenDecoder(in.get());
    const ImageInfo info = decoder->Info();
    // Without a format from the output's name, the input's own format is kept.
    const Format format = outputFormat ? *outputFormat : info.format;
    const double megapixels = static_cast<double>(info.Pixels()) / 1e6;
    if (megapixels > settings.maxMegapixels) {
      char text[256];
      std::snprintf(text, sizeof text,
                    "the image is %d x %d (%.1f megapixels), more than the limit of %g "
                    "megapixels (see --max-megapixels)",
                    info.width, info.height, megapixels, settings.maxMegapixels);
      throw FileError(text);
    }
    for (const ChainStep& step : chain) step.filter->CheckImage(info);

    Picture picture;
    decoder->Decode(&picture, reportRows(0.0, "reading"));
    decoder.reset();
    in.Close();

    const double filterShare = 1.0 - readShare - writeShare;
    const size_t n = chain.size();
    for (size_t i = 0; i < n; ++i) {
      const ChainStep& step = chain[i];
      CheckInterrupt();
      context.base = readShare + filterShare * static_cast<double>(i) / static_cast<double>(n);
      context.span = filterShare / static_cast<double>(n);
      context.stage = step.entry->name;
      context.aborted = false;
      context.messages.clear();
      if (bar) bar->Update(slot, context.base, context.stage);
      if (step.entry->colourOnly && IsGrey(*picture.pixels)) {
        picture.pixels = GreyToRgb(*picture.pixels);
      }
      std::unique_ptr<Kasa> dst = CopyOf(*picture.pixels);
      const auto started = std::chrono::steady_clock::now();
      bool ok = step.filter->Run(picture.pixels.get(), dst.get(), ProgressHook);
      if (ok && step.entry->movesPixels && picture.alpha) {
        std::unique_ptr<Kasa> alphaDst = CopyOf(*picture.alpha);
        ok = step.filter->Run(picture.alpha.get(), alphaDst.get(), ProgressHook);
        if (ok) picture.alpha = std::move(alphaDst);
      }
      result.seconds +=
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      CheckInterrupt();
      if (!ok) {
        throw FileError(std::string(step.entry->name) + ": " +
                        (context.messages.empty() ? std::string("the filter refused the image")
                                                  : context.messages));
      }
      picture.pixels = std::move(dst);
    }
    context.stage = "writing";

    WriteOptions options;
    options.jpegQuality = settings.quality;
    options.on16BitRounded = [&settings, bar] {
      if (settings.quiet) return;
      std::call_once(g_roundNote, [bar] {
        const char* note =
            "marlo: note: JPEG holds 8 bits per sample; 16-bit pictures are "
            "rounded to 8 bits";
        if (bar) {
          bar->Print(note);
        } else {
          std::fprintf(stderr, "%s\n", note);
        }
      });
    };
    options.onAlphaDropped = [&settings, bar, format] {
      if (settings.quiet) return;
      std::call_once(g_alphaNote, [bar, format] {
        const std::string note = std::string("marlo: note: ") + FormatName(format) +
                                 " has no alpha channel; the alpha channel is dropped";
        if (bar) {
          bar->Print(note);
        } else {
          std::fprintf(stderr, "%s\n", note.c_str());
        }
      });
    };
    OutputFile out(output);
    Encode(picture, format, out.get(), options, reportRows(1.0 - writeShare, "writing"));
    CheckInterrupt();
    out.Commit();
  } catch (const Interrupted&) {
    result.status = kExitInterrupted;
    result.message = "interrupted";
  } catch (const UsageError& e) {
    result.status = kExitUsage;
    result.message = e.what();
  } catch (const FileError& e) {
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
  const std::vector<std::string>& inputs = settings.inputs;
  if (inputs.empty()) throw UsageError("no input file given");
  for (const ChainStep& step : chain) {
    if (!step.entry->built) {
      throw std::runtime_error(std::string("the ") + step.entry->name +
                               " filter is not built yet (see `marlo list`)");
    }
  }
  Format forced = Format::Png;
  const bool hasForced = !settings.format.empty();
  if (hasForced && !FormatFromName(settings.format, &forced)) {
    throw UsageError("--format: unknown format '" + settings.format +
                     "'; accepted: png, jpeg, tiff, pnm");
  }
  int stdinCount = 0;
  for (const std::string& in : inputs) stdinCount += in == "-" ? 1 : 0;
  if (stdinCount > 1) throw UsageError("standard input ('-') can be read only once");

  struct Job {
    std::string input;
    std::string output;
    bool formatKnown;
    Format format;
  };
  std::vector<Job> jobs;
  const std::string& out = settings.output;
  if (out.empty()) {
    if (!settings.inPlace) {
      throw UsageError("no output given: use -o FILE, -o DIRECTORY/ or --in-place");
    }
    for (const std::string& in : inputs) {
      if (in == "-") throw UsageError("--in-place cannot write to standard input");
      Job job{in, in, false, Format::Png};
      job.formatKnown = FormatFromExtension(in, &job.format);
      jobs.push_back(job);
    }
  } else if (out == "-") {
    if (inputs.size() != 1) throw UsageError("-o - (standard output) takes one input file");
    Job job{inputs[0], out, hasForced, forced};
    jobs.push_back(job);
  } else {
    const bool dirMode = inputs.size() > 1 || out.back() == '/' || IsDirectory(out);
    if (dirMode) {
      if (!IsDirectory(out)) {
        if (out.back() != '/') {
          throw UsageError("several input files need -o DIRECTORY/ (" + out +
                           " is not a directory)");
        }
        if (mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) {
          throw FileError("cannot create the directory " + out + ": " + ErrnoText());
        }
      }
      const std::string dir = out.back() == '/' ? out : out + "/";
      std::map<std::string, std::string> seen;
      for (const std::string& in : inputs) {
        if (in == "-") throw UsageError("standard input needs -o FILE or -o -, not a directory");
        std::string name = Basename(in);
        Job job{in, "", false, Format::Png};
        if (hasForced) {
          const size_t dot = name.find_last_of('.');
          if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
          name += std::string(".") + Extension(forced);
          job.formatKnown = true;
          job.format = forced;
        } else {
          job.formatKnown = FormatFromExtension(name, &job.format);
        }
        job.output = dir + name;
        if (seen.count(job.output)) {
          throw UsageError(seen[job.output] + " and " + in + " would both be written to " +
                           job.output);
        }
        seen[job.output] = in;
        jobs.push_back(job);
      }
    } else {
      Job job{inputs[0], out, false, Format::Png};
      job.formatKnown = FormatFromExtension(out, &job.format);
      if (!job.formatKnown && hasForced) {
        job.formatKnown = true;
        job.format = forced;
      }
      if (!job.formatKnown) {
        throw UsageError("cannot tell the output format of '" + out +
                         "': use a .png, .jpg, .tif or .pnm name, or --format");
      }
      jobs.push_back(job);
    }
  }
  if (!settings.inPlace) {
    for (const Job& job : jobs) {
      for (const std::string& in : inputs) {
        if (in != "-" && job.output != "-" && SameFile(in, job.output)) {
          throw UsageError(job.output + " is an input file; use --in-place to overwrite it");
        }
      }
    }
  }

  const int files = static_cast<int>(jobs.size());
  ProgressBar bar(!settings.quiet && isatty(2), files);
  std::vector<FileResult> results(static_cast<size_t>(files));
  std::atomic<int> next{0};
  auto worker = [&] {
    for (;;) {
      const int i = next.fetch_add(1);
      if (i >= files || InterruptRequested()) return;
      const Job& job = jobs[static_cast<size_t>(i)];
      std::optional<Format> format;
      if (job.formatKnown) format = job.format;
      FileResult r = ProcessFile(chain, settings, job.input, job.output, format, &bar, i);
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
