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
#include <memory>
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

// A region shown at 100 %: left, top, width, height (no width: none).
struct Crop {
  int32_t x = 0, y = 0, width = 0, height = 0;
};

// One picture of the gallery: the sample it starts from, the options that show the filter well
// on it, and for filters whose effect cannot be seen at display size, a region shown at 100 %.
struct DemoRun {
  const char* filter;
  const char* sample;
  std::vector<std::string> options;
  Crop crop;
};

// Said in place of a filter's pictures when the samples cannot show what it is for.
struct Absent {
  const char* filter;
  const char* note;
};
const Absent kAbsent[] = {
    {"red-eye",
     "The sample photographs hold no red pupil, so red-eye removal is not shown: on a "
     "photograph with red eyes, <code>marlo red-eye --at X,Y</code> darkens and desaturates "
     "the red pixels within 50 pixels of the point clicked in the pupil, and nothing else."},
};

const std::vector<DemoRun>& DemoRuns() {
  static const std::vector<DemoRun> runs = {
      {"auto-exposure", "night-underexposed-rgb16.png", {}, {}},
      {"auto-enhance",
       "night-underexposed-rgb16.png",
       {"--exposure", "0.5", "--sharpen", "30"},
       {}},
      {"auto-levels", "landscape-autumn-rgb8.png", {}, {}},
      {"white-balance", "indoor-warm-cast-rgb8.png", {"--from", "5000", "--to", "6500"}, {}},
      {"contrast", "landscape-autumn-rgb8.png", {"--contrast", "25", "--brightness", "5"}, {}},
      {"contrast", "cameraman-gray8.png", {"--contrast", "-30", "--brightness", "10"}, {}},
      {"saturation", "portrait-astronaut-rgb8.png", {"--amount", "50"}, {}},
      {"hsl", "landscape-autumn-rgb8.png", {"--yellow", "10,40,0", "--blue", "0,40,-10"}, {}},
      {"tint", "cameraman-gray8.png", {"--hue", "35", "--saturation", "0.4"}, {}},
      {"tint", "landscape-autumn-rgb8.png", {"--rgb", "0,10,30"}, {}},
      {"remove-cast", "indoor-warm-cast-rgb8.png", {"--at", "160,210"}, {}},
      {"despeckle", "portrait-grainy-rgb8.png", {"--threshold", "16"}, {250, 130, 192, 192}},
      {"denoise", "portrait-grainy-rgb8.png", {}, {250, 130, 192, 192}},
      {"sharpen", "cameraman-gray8.png", {"--strength", "80"}, {200, 100, 192, 192}},
      {"sharpen-circle",
       "portrait-astronaut-rgb8.png",
       {"--at", "256,180", "--radius", "120", "--strength", "150"},
       {}},
      {"book", "landscape-autumn-rgb8.png", {"--axis", "50", "--fold", "30", "--slant", "20"}, {}},
      {"lens",
       "portrait-astronaut-rgb8.png",
       {"--at", "256,200", "--radius", "150", "--power", "3"},
       {}},
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

// Writes the region `crop` of the picture in `from` to `to` as PNG.
void WriteCrop(const std::string& from, const std::string& to, const Crop& crop) {
  io::Picture picture = io::Read(from);
  Kasa& pixels = *picture.pixels;
  const Crop c{crop.x, crop.y, std::min(crop.width, pixels.GetImageWidth() - crop.x),
               std::min(crop.height, pixels.GetImageHeight() - crop.y)};
  auto part = std::make_unique<Kasa>();
  if (c.width < 1 || c.height < 1 ||
      !part->CreateImage(pixels.GetImageType(), c.width, c.height, 0, nullptr, 0, 0, 0, 0, 0)) {
    throw io::FileError("cannot crop " + from);
  }
  const size_t bytes = static_cast<size_t>(pixels.GetBitCount() / 8);
  for (int32_t y = 0; y < c.height; ++y) {
    std::memcpy(part->RowData(y), pixels.RowData(c.y + y) + bytes * c.x, bytes * c.width);
  }
  picture.pixels = std::move(part);
  picture.alpha.reset();
  io::Write(picture, io::Format::Png, to);
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
    body << "<section id=\"" << Html(entry.name()) << "\">\n<h2>" << Html(entry.name())
         << "</h2>\n<p class=\"what\">" << Html(entry.decl->summary) << " &mdash; <code>"
         << Html(entry.exportName()) << "</code></p>\n";
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
      body << "</div>\n";
      if (status == kExitOk && run.crop.width > 0) {
        // The same region of both pictures at 100 %, where the filter's effect can be seen.
        const std::string tag = "crop-" + Stem(after.substr(6));
        try {
          WriteCrop(samples + "/" + sample, dir + "/before/" + tag + ".png", run.crop);
          WriteCrop(dir + "/" + after, dir + "/after/" + tag + ".png", run.crop);
        } catch (const io::FileError& e) {
          std::fprintf(stderr, "marlo: demo: %s\n", e.what());
          return kExitFailure;
        }
        body << "<p class=\"zoom\">100 % crop, " << run.crop.width << " x " << run.crop.height
             << " pixels from (" << run.crop.x << ", " << run.crop.y << "):</p>\n"
             << "<div class=\"pair crop\"><img src=\"before/" << Html(tag)
             << ".png\" alt=\"before, 100 %\"><img src=\"after/" << Html(tag)
             << ".png\" alt=\"after, 100 %\"></div>\n";
      }
      body << "<figcaption><code>" << Html(shown) << "</code><br>" << time
           << "</figcaption>\n</figure>\n";
    }
    for (const Absent& absent : kAbsent) {
      if (std::strcmp(absent.filter, entry.name()) == 0) {
        body << "<p class=\"absent\">" << absent.note << "</p>\n";
      }
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
          "figure{margin:1em 0}\n"
          // Before and after always side by side, each scaled into half the width.
          ".pair{display:grid;grid-template-columns:1fr 1fr;gap:8px;align-items:start}\n"
          ".pair img{display:block;max-width:100%;max-height:70vh;height:auto}\n"
          ".pair a{min-width:0}\n"
          // Crops at 100 %: one image pixel per screen pixel, never scaled.
          ".pair.crop{grid-template-columns:max-content max-content}\n"
          ".pair.crop img{max-width:none;max-height:none;image-rendering:pixelated}\n"
          ".zoom,.absent{color:#555}\n"
          "figcaption code{background:#eee;padding:2px 4px;overflow-wrap:anywhere}\n"
          "</style>\n</head>\n<body>\n"
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
