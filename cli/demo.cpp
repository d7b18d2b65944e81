// `marlo demo`: every filter on the sample photographs, with a before/after gallery.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "commands.h"
#include "filters.h"
#include "pipeline.h"
#include "progress.h"

#ifndef MARLO_SAMPLES_DIR
#define MARLO_SAMPLES_DIR "samples"
#endif
#ifndef MARLO_INSTALLED_SAMPLES_DIR
#define MARLO_INSTALLED_SAMPLES_DIR "/usr/local/share/marlo/samples"
#endif

namespace cli {
namespace {

// One picture of the gallery: the sample it starts from and the options that show the filter
// well on it.
struct DemoRun {
  const char* filter;
  const char* sample;
  std::vector<std::string> options;
};

const std::vector<DemoRun>& DemoRuns() {
  static const std::vector<DemoRun> runs = {
      {"auto-exposure", "night-underexposed-rgb16.png", {}},
      {"auto-enhance", "night-underexposed-rgb16.png", {"--exposure", "0.5", "--sharpen", "30"}},
      {"auto-levels", "landscape-autumn-rgb8.png", {}},
      {"white-balance", "indoor-warm-cast-rgb8.png", {"--from", "5000", "--to", "6500"}},
      {"contrast", "landscape-autumn-rgb8.png", {"--contrast", "25", "--brightness", "5"}},
      {"contrast", "cameraman-gray8.png", {"--contrast", "-30", "--brightness", "10"}},
      {"saturation", "portrait-astronaut-rgb8.png", {"--amount", "50"}},
      {"hsl", "landscape-autumn-rgb8.png", {"--yellow", "10,40,0", "--blue", "0,40,-10"}},
      {"tint", "cameraman-gray8.png", {"--hue", "35", "--saturation", "0.4"}},
      {"tint", "landscape-autumn-rgb8.png", {"--rgb", "0,10,30"}},
      {"remove-cast", "indoor-warm-cast-rgb8.png", {"--at", "160,210"}},
      {"red-eye", "portrait-astronaut-rgb8.png", {"--at", "256,256"}},
      {"despeckle", "portrait-grainy-rgb8.png", {"--threshold", "16"}},
      {"denoise", "portrait-grainy-rgb8.png", {}},
      {"sharpen", "cameraman-gray8.png", {"--strength", "80"}},
      {"sharpen-circle",
       "portrait-astronaut-rgb8.png",
       {"--at", "256,180", "--radius", "120", "--strength", "150"}},
      {"book", "landscape-autumn-rgb8.png", {"--axis", "50", "--fold", "30", "--slant", "20"}},
      {"lens",
       "portrait-astronaut-rgb8.png",
       {"--at", "256,200", "--radius", "150", "--power", "3"}},
  };
  return runs;
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

bool MakeDirectories(const std::string& path) {
  std::string partial;
  std::istringstream in(path);
  std::string part;
  if (!path.empty() && path[0] == '/') partial = "/";
  while (std::getline(in, part, '/')) {
    if (part.empty()) continue;
    partial += part + "/";
    if (mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

std::string Absolute(const std::string& path) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer)) return buffer;
  return path;
}

// Writes `text` to `path` the way the tool writes pictures: into a temporary file, renamed over
// the target when complete, so a link planted at the target is replaced, never followed.
void WriteFile(const std::string& path, const std::string& text) {
  io::AtomicFile out(path);
  if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) {
    throw io::FileError("cannot write " + path);
  }
  out.Commit();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw io::FileError("cannot read " + path);
  return text.str();
}

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Stem(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string FindSamples(const std::string& given) {
  if (!given.empty()) return given;
  for (const char* dir : {MARLO_SAMPLES_DIR, MARLO_INSTALLED_SAMPLES_DIR}) {
    if (Exists(std::string(dir) + "/portrait-astronaut-rgb8.png")) return dir;
  }
  return std::string();
}

}  // namespace

int RunDemo(const std::string& dir, const std::string& samplesGiven, bool quiet) {
  const std::string samples = FindSamples(samplesGiven);
  if (samples.empty() || !Exists(samples)) {
    std::fprintf(stderr, "marlo: demo: cannot find the sample photos (use --samples DIR)\n");
    return kExitFailure;
  }
  if (!MakeDirectories(dir + "/before") || !MakeDirectories(dir + "/after")) {
    std::fprintf(stderr, "marlo: demo: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
    return kExitFailure;
  }
  // The gallery's folders must be folders of their own, not links to somewhere else.
  for (const char* sub : {"/before", "/after"}) {
    struct stat st;
    if (lstat((dir + sub).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      std::fprintf(stderr, "marlo: demo: %s%s is not a directory of its own\n", dir.c_str(), sub);
      return kExitFailure;
    }
  }
  std::ostringstream body;
  int failures = 0;
  std::vector<std::string> copied;
  for (const FilterEntry& entry : Filters()) {
    body << "<section>\n<h2>" << Html(entry.name()) << "</h2>\n<p class=\"what\">"
         << Html(entry.spec->summary) << " &mdash; <code>" << Html(entry.exportName())
         << "</code></p>\n";
    for (const DemoRun& run : DemoRuns()) {
      if (std::strcmp(run.filter, entry.name()) != 0) continue;
      CheckInterrupt();
      const std::string sample = run.sample;
      const std::string before = "before/" + sample;
      if (std::find(copied.begin(), copied.end(), sample) == copied.end()) {
        try {
          WriteFile(dir + "/" + before, ReadFile(samples + "/" + sample));
        } catch (const io::FileError& e) {
          std::fprintf(stderr, "marlo: demo: cannot copy %s: %s\n", sample.c_str(), e.what());
          return kExitFailure;
        }
        copied.push_back(sample);
      }
      std::string tag;
      for (const std::string& o : run.options) {
        if (o.rfind("--", 0) == 0) continue;
        tag += "-" + o;
      }
      for (char& c : tag) {
        if (c == ',' || c == '.') c = '_';
      }
      const std::string after =
          "after/" + std::string(entry.name()) + "-" + Stem(sample) + tag + ".png";
      std::vector<std::string> args = {entry.name()};
      args.insert(args.end(), run.options.begin(), run.options.end());
      std::string shown = "marlo";
      for (const std::string& a : args) shown += " " + a;
      shown += " samples/" + sample + " -o " + after;
      args.insert(args.end(), {"-q", samples + "/" + sample, "-o", dir + "/" + after});
      const auto started = std::chrono::steady_clock::now();
      const int status = RunCommandLine(args);
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      if (status == kExitInterrupted || InterruptRequested()) return kExitInterrupted;
      char time[64];
      std::snprintf(time, sizeof time, "%.2f s", seconds);
      if (!quiet) std::fprintf(stderr, "%-15s %-32s %s\n", entry.name(), sample.c_str(), time);
      body << "<figure>\n<div class=\"pair\"><a href=\"" << Html(before) << "\"><img src=\""
           << Html(before) << "\" alt=\"before\"></a>";
      if (status == kExitOk) {
        body << "<a href=\"" << Html(after) << "\"><img src=\"" << Html(after)
             << "\" alt=\"after\"></a>";
      } else {
        ++failures;
        body << "<p class=\"failed\">failed (exit status " << status << ")</p>";
      }
      body << "</div>\n<figcaption><code>" << Html(shown) << "</code><br>" << time
           << "</figcaption>\n</figure>\n";
    }
    body << "</section>\n";
  }
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<title>marlo filters: before and after</title>\n<style>\n"
          "body{font-family:sans-serif;margin:2em;background:#f4f4f4;color:#222}\n"
          "section{background:#fff;padding:1em 1.5em;margin-bottom:1.5em;border-radius:6px}\n"
          "h2{margin:0 0 .2em}\n.what{margin-top:0;color:#555}\n"
          ".failed{color:#b00}\n"
          "figure{margin:1em 0}\n.pair{display:flex;gap:8px;flex-wrap:wrap}\n"
          ".pair img{max-width:48vw;max-height:420px}\n"
          "figcaption code{background:#eee;padding:2px 4px}\n</style>\n</head>\n<body>\n"
          "<h1>marlo: every filter, before and after</h1>\n"
          "<p>Left: the sample photograph; right: the result of the command below it. The "
          "photographs and their licences are listed in <code>samples/SOURCES.md</code>.</p>\n"
       << body.str() << "</body>\n</html>\n";
  try {
    WriteFile(dir + "/index.html", html.str());
  } catch (const io::FileError& e) {
    std::fprintf(stderr, "marlo: demo: cannot write %s/index.html: %s\n", dir.c_str(), e.what());
    return kExitFailure;
  }
  std::printf("Gallery: %s/index.html\n", Absolute(dir).c_str());
  return failures ? kExitFailure : kExitOk;
}

}  // namespace cli
