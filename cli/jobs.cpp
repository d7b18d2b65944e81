// Job planning: which file each input is written to and in which format, and the checks that
// refuse a run before any file is read.
#include "jobs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>

namespace cli {
namespace {

std::string Basename(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

std::optional<io::Format> FormatOf(const std::string& path) {
  io::Format format;
  if (!io::FormatFromExtension(path, &format)) return std::nullopt;
  return format;
}

// A format given with --format must be the one the name's extension says, if it says one.
void CheckAgrees(std::optional<io::Format> forced, const std::string& given,
                 const std::string& name) {
  const std::optional<io::Format> named = FormatOf(name);
  if (forced && named && *forced != *named) {
    throw UsageError("--format " + given + " contradicts the output name " + name + ", which " +
                     "names " + io::FormatName(*named) + "; give one or the other");
  }
}

}  // namespace

std::vector<Job> PlanJobs(const Settings& settings, std::string* createdDirectory) {
  std::string newDirectory;
  const std::vector<std::string>& inputs = settings.inputs;
  if (inputs.empty()) throw UsageError("no input file given");
  std::optional<io::Format> forcedFormat;
  if (!settings.format.empty()) {
    io::Format format;
    if (!io::FormatFromName(settings.format, &format)) {
      throw UsageError("--format: unknown format '" + settings.format +
                       "'; accepted: png, jpeg, tiff, pnm");
    }
    forcedFormat = format;
  }
  int stdinCount = 0;
  for (const std::string& in : inputs) stdinCount += in == "-" ? 1 : 0;
  if (stdinCount > 1) throw UsageError("standard input ('-') can be read only once");

  std::vector<Job> jobs;
  const std::string& out = settings.output;
  if (out.empty()) {
    if (!settings.inPlace) {
      throw UsageError("no output given: use -o FILE, -o DIRECTORY/ or --in-place");
    }
    for (const std::string& in : inputs) {
      if (in == "-") throw UsageError("--in-place cannot write to standard input");
      CheckAgrees(forcedFormat, settings.format, in);
      jobs.push_back({in, in, FormatOf(in) ? FormatOf(in) : forcedFormat});
    }
  } else if (out == "-") {
    if (inputs.size() != 1) throw UsageError("-o - (standard output) takes one input file");
    jobs.push_back({inputs[0], out, forcedFormat});
  } else {
    const bool dirMode = inputs.size() > 1 || out.back() == '/' || IsDirectory(out);
    if (dirMode) {
      if (!IsDirectory(out)) {
        if (out.back() != '/') {
          throw UsageError("several input files need -o DIRECTORY/ (" + out +
                           " is not a directory)");
        }
        newDirectory = out;
      }
      const std::string dir = out.back() == '/' ? out : out + "/";
      std::map<std::string, std::string> seen;
      for (const std::string& in : inputs) {
        if (in == "-") throw UsageError("standard input needs -o FILE or -o -, not a directory");
        std::string name = Basename(in);
        if (forcedFormat) {
          const size_t dot = name.find_last_of('.');
          if (dot != std::string::npos && dot > 0) name = name.substr(0, dot);
          name += std::string(".") + io::FormatExtension(*forcedFormat);
        }
        const Job job{in, dir + name, forcedFormat ? forcedFormat : FormatOf(name)};
        if (seen.count(job.output)) {
          throw UsageError(seen[job.output] + " and " + in + " would both be written to " +
                           job.output);
        }
        seen[job.output] = in;
        jobs.push_back(job);
      }
    } else {
      CheckAgrees(forcedFormat, settings.format, out);
      const Job job{inputs[0], out, FormatOf(out) ? FormatOf(out) : forcedFormat};
      if (!job.format) {
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

  // Only regular files are written: renaming over a device or a FIFO would replace the node.
  for (const Job& job : jobs) {
    struct stat st;
    if (job.output != "-" && stat(job.output.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw UsageError(job.output +
                       " is not a regular file; marlo writes only regular files (standard "
                       "output: -o -)");
    }
  }
  // The output directory is made last, once nothing can refuse the plan.
  if (!newDirectory.empty()) {
    if (mkdir(newDirectory.c_str(), 0777) != 0) {
      if (errno != EEXIST) {
        throw io::FileError("cannot create the directory " + newDirectory + ": " +
                            std::strerror(errno));
      }
      newDirectory.clear();  // made meanwhile by someone else: not ours to remove
    }
  }
  if (createdDirectory) *createdDirectory = newDirectory;
  return jobs;
}

}  // namespace cli
