// Files: opening an input (a path or standard input), writing an output in full or not at all,
// and the table of temporary files that a signal handler may have to remove.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// A stream read through a FILE: first the bytes already taken to recognise the format, then
// the rest from the descriptor. A signal that interrupts a blocking read ends it as an error.
struct Stream {
  int fd;
  bool owned;
  uint8_t head[kMagicBytes];
  size_t headSize;
  size_t headAt = 0;
};

ssize_t StreamRead(void* cookie, char* buffer, size_t size) {
  auto* stream = static_cast<Stream*>(cookie);
  if (stream->headAt < stream->headSize) {
    const size_t n = std::min(size, stream->headSize - stream->headAt);
    std::memcpy(buffer, stream->head + stream->headAt, n);
    stream->headAt += n;
    return static_cast<ssize_t>(n);
  }
  return read(stream->fd, buffer, size);
}

int StreamClose(void* cookie) {
  auto* stream = static_cast<Stream*>(cookie);
  if (stream->owned) close(stream->fd);
  delete stream;
  return 0;
}

// Reads up to `size` bytes, fewer only at the end of the data.
size_t ReadFully(int fd, uint8_t* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = read(fd, buffer + got, size - got);
    if (n < 0) throw FileError("read error: " + ErrnoText());
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

// An input, positioned at its first byte, and the format its first bytes name. A regular file
// is read in place. Anything else (standard input from a pipe or a terminal, a FIFO, a device)
// is a stream, never buffered whole: PNG, JPEG and PNM are decoded as the bytes arrive (the
// header first, so the limits apply before the pixels are read), and only a TIFF, which needs
// to seek, is copied into an unnamed temporary file, up to the largest picture the limits
// allow plus the budget's slack.
class InputFile {
 public:
  InputFile(const std::string& path, const Limits& limits) {
    const bool standardInput = path == "-";
    int fd = standardInput ? 0 : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw FileError("cannot open: " + ErrnoText());
    const bool owned = !standardInput;
    struct stat st;
    const bool known = fstat(fd, &st) == 0;
    if (!known || S_ISDIR(st.st_mode)) {
      const std::string why = known ? std::string("is a directory") : "cannot open: " + ErrnoText();
      if (owned) close(fd);
      throw FileError(why);
    }
    if (S_ISREG(st.st_mode) && lseek(fd, 0, SEEK_CUR) == 0) {
      file_.reset(fdopen(owned ? fd : dup(fd), "rb"));
      if (!file_) {
        if (owned) close(fd);
        throw FileError("cannot open: " + ErrnoText());
      }
      uint8_t magic[kMagicBytes];
      const size_t got = std::fread(magic, 1, sizeof magic, get());
      if (std::fseek(get(), 0, SEEK_SET) != 0) throw FileError("cannot seek in the file");
      format_ = Recognise(magic, got);
      return;
    }
    auto* stream = new Stream{fd, owned, {}, 0};
    try {
      stream->headSize = ReadFully(fd, stream->head, kMagicBytes);
      format_ = Recognise(stream->head, stream->headSize);
      if (format_ == Format::Tiff) {
        Spool(stream, LargestPictureBytes(limits) + kBudgetSlack);
        StreamClose(stream);
        return;
      }
    } catch (...) {
      StreamClose(stream);
      throw;
    }
    file_.reset(fopencookie(stream, "rb", {StreamRead, nullptr, nullptr, StreamClose}));
    if (!file_) {
      StreamClose(stream);
      throw FileError("cannot open: " + ErrnoText());
    }
  }
  FILE* get() const { return file_.get(); }
  Format format() const { return format_; }

 private:
  void Spool(Stream* stream, uint64_t cap) {
    file_.reset(std::tmpfile());
    if (!file_) throw FileError("cannot create a temporary file: " + ErrnoText());
    uint64_t total = 0;
    std::vector<uint8_t> buffer(1 << 16);
    for (size_t got = stream->headSize; got > 0;
         got = ReadFully(stream->fd, buffer.data(), buffer.size())) {
      const uint8_t* data = total == 0 ? stream->head : buffer.data();
      total += got;
      if (total > cap) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "a TIFF that is not a regular file is held in a temporary file, and this "
                      "one is longer than the %.1f MB the limit allows (see --max-megapixels)",
                      static_cast<double>(cap) / 1048576.0);
        throw FileError(text);
      }
      if (std::fwrite(data, 1, got, get()) != got) {
        throw FileError("cannot write a temporary file: " + ErrnoText());
      }
    }
    if (std::fflush(get()) != 0 || std::fseek(get(), 0, SEEK_SET) != 0) {
      throw FileError("cannot write a temporary file: " + ErrnoText());
    }
  }

  // Closed however the constructor ends.
  std::unique_ptr<FILE, int (*)(FILE*)> file_{nullptr, &std::fclose};
  Format format_ = Format::Png;
};

// A decoder together with the file it reads.
class FileDecoder : public Decoder {
 public:
  FileDecoder(const std::string& path, const Limits& limits)
      : in_(path, limits), decoder_(OpenDecoder(in_.get(), in_.format(), limits)) {}
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
  // Only a regular file (or a link to one) is replaced: renaming over a device or a FIFO would
  // destroy the node.
  struct stat old;
  const bool replaces = stat(target.c_str(), &old) == 0;
  if (replaces && !S_ISREG(old.st_mode)) {
    throw FileError(target + " is not a regular file; only regular files are written");
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
  // A replaced file's permission bits are kept; its set-user-id and sticky bits only when the new
  // file has the same owner, its set-group-id bit only when it also has the same group.
  mode_t mode = 0666 & ~CurrentUmask();
  struct stat mine;
  if (replaces && fstat(fd, &mine) == 0) {
    mode = old.st_mode & 0777;
    if (old.st_uid == mine.st_uid) mode |= old.st_mode & (S_ISUID | S_ISVTX);
    if (old.st_uid == mine.st_uid && old.st_gid == mine.st_gid) mode |= old.st_mode & S_ISGID;
  }
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
