// Files: opening an input (a path or standard input), writing an output in full or not at all,
// and the table of temporary files that a signal handler may have to remove.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "codecs.h"

namespace marlo::io {
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

constexpr int kTempSlots = 256;
constexpr size_t kPathMax = 4096;
char g_tempPaths[kTempSlots][kPathMax];
std::atomic<bool> g_tempUsed[kTempSlots];
std::mutex g_tempMutex;

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
        const size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
        if (got > 0 && std::fwrite(buffer, 1, got, file_) != got) {
          throw FileError("cannot buffer standard input");
        }
        if (got < sizeof buffer) {
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
  ~InputFile() {
    if (file_) std::fclose(file_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FILE* get() const { return file_; }

 private:
  FILE* file_ = nullptr;
};

// A decoder together with the file it reads.
class FileDecoder : public Decoder {
 public:
  FileDecoder(const std::string& path, const Limits& limits)
      : in_(path), decoder_(OpenDecoder(in_.get(), limits)) {}
  const ImageInfo& Info() const override { return decoder_->Info(); }
  void Decode(Picture* picture, const RowTick& tick) override {
    decoder_->Decode(
        picture, tick ? tick : [](int32_t, int32_t) {});
  }

 private:
  InputFile in_;
  std::unique_ptr<Decoder> decoder_;
};

}  // namespace

int RegisterTempFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_tempMutex);
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kTempSlots; ++i) {
    if (!g_tempUsed[i].load()) {
      std::memcpy(g_tempPaths[i], path.c_str(), path.size() + 1);
      g_tempUsed[i].store(true);
      return i;
    }
  }
  return -1;
}

void UnregisterTempFile(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(g_tempMutex);
  g_tempUsed[slot].store(false);
}

void RemovePendingFiles() {
  for (int i = 0; i < kTempSlots; ++i) {
    if (g_tempUsed[i].load()) unlink(g_tempPaths[i]);
  }
}

std::unique_ptr<Decoder> Open(const std::string& path, const Limits& limits) {
  return std::make_unique<FileDecoder>(path, limits);
}

Picture Read(const std::string& path, const Limits& limits, const RowTick& tick) {
  std::unique_ptr<Decoder> decoder = Open(path, limits);
  CheckLimits(decoder->Info(), limits);
  Picture picture;
  decoder->Decode(&picture, tick);
  return picture;
}

AtomicFile::AtomicFile(const std::string& target) : target_(target) {
  if (target == "-") {
    file_ = std::tmpfile();
    if (!file_) throw FileError("cannot create a temporary file: " + ErrnoText());
    return;
  }
  const size_t slash = target.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = dir + "." + base + ".marlo-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) throw FileError("cannot write in " + (dir.empty() ? "." : dir) + ": " + ErrnoText());
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

AtomicFile::~AtomicFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  Discard();
}

void AtomicFile::Commit() {
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

void AtomicFile::Discard() {
  if (!temp_.empty()) {
    unlink(temp_.c_str());
    UnregisterTempFile(slot_);
    slot_ = -1;
    temp_.clear();
  }
}

void Write(const Picture& picture, Format format, const std::string& path,
           const WriteOptions& options, const RowTick& tick) {
  AtomicFile out(path);
  Encode(picture, format, out.get(), options, tick);
  out.Commit();
}

}  // namespace marlo::io
