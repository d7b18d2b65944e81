#include "commands.h"

#include <CLI/CLI.hpp>
#include <cstdio>

#include "filters.h"
#include "pipeline.h"

#ifndef MARLO_VERSION
#define MARLO_VERSION "0"
#endif

namespace cli {
namespace {

const char* const kChainWord = "then";

const char* const kDescription =
    "marlo applies photographic enhancement filters to image files.\n\n"
    "  marlo FILTER [options] INPUT... -o OUTPUT\n"
    "  marlo FILTER [options] then FILTER [options]... INPUT... -o OUTPUT\n\n"
    "Run `marlo FILTER --help` for a filter's options, their ranges and defaults.";

const char* const kFooter =
    "Chaining: several filters run one after the other in one pass, without intermediate\n"
    "files, when their subcommands are joined by the word `then`, e.g.\n"
    "  marlo auto-levels then sharpen --strength 40 in.png -o out.png\n"
    "Input and output options may be given in any part of the chain.\n\n"
    "Files: PNG, JPEG, TIFF and binary PNM (PPM/PGM), 8 or 16 bits per sample. Inputs are\n"
    "recognised by their content, outputs by their extension (or --format); '-' reads standard\n"
    "input or writes standard output. Several inputs need -o DIRECTORY/; -j N runs N files at\n"
    "once. An existing input is overwritten only with --in-place.\n\n"
    "Exit status: 0 success; 2 bad usage (unknown filter or option, a value out of range or\n"
    "not a number); 1 any other failure (unreadable or unsupported input, a filter that\n"
    "refused, a failed write); 130 interrupted (Ctrl-C, or SIGTERM, SIGHUP, SIGQUIT,\n"
    "SIGPIPE). With several files the status is non-zero when any failed.\n";

// Options shared by every filter subcommand.
struct CommonOptions {
  std::vector<std::string> inputs;
  std::string output;
  bool inPlace = false;
  bool quiet = false;
  int jobs = 0;
  double maxMegapixels = 200;
  int quality = 92;
  std::string format;
};

void AddCommonOptions(CLI::App* app, CommonOptions* o) {
  app->add_option("inputs", o->inputs, "Input image files ('-' for standard input)")
      ->type_name("INPUT...");
  app->add_option("-o,--output", o->output,
                  "Output file, '-' for standard output, or a directory (ending in '/', or "
                  "existing) for several inputs")
      ->type_name("OUTPUT");
  app->add_flag("--in-place", o->inPlace,
                "Allow writing over an input file (without -o: each input is replaced)");
  app->add_option("-j,--jobs", o->jobs, "Files processed at once, 1..256 (default: the cores)")
      ->type_name("N")
      ->check(CLI::Range(1, 256).description(""));
  app->add_option("--max-megapixels", o->maxMegapixels,
                  "Refuse larger images before decoding them, 0.000001..100000 (default 200)")
      ->type_name("MP")
      ->check(CLI::Range(0.000001, 100000.0).description(""));
  app->add_option("--quality", o->quality, "JPEG quality, 1..100 (default 92)")
      ->type_name("Q")
      ->check(CLI::Range(1, 100).description(""));
  app->add_option("--format", o->format,
                  "Output format when the output name does not tell it, or for '-': png, jpeg, "
                  "tiff or pnm")
      ->type_name("FMT")
      ->check(CLI::IsMember({"png", "jpg", "jpeg", "tif", "tiff", "pnm", "ppm", "pgm"},
                            CLI::ignore_case)
                  .description(""));
  app->add_flag("-q,--quiet", o->quiet, "No progress bar and no notes");
}

struct Parsed {
  CLI::App app{kDescription, "marlo"};
  std::vector<std::unique_ptr<Filter>> filters;  // one per filter subcommand, same order
  std::vector<CLI::App*> subs;
  CommonOptions common;
  std::vector<std::string> infoFiles;
  std::string demoDir = "marlo-demo";
  std::string demoSamples;
  bool demoQuiet = false;
  CLI::App* list = nullptr;
  CLI::App* info = nullptr;
  CLI::App* demo = nullptr;
};

void Build(Parsed* p) {
  CLI::App& app = p->app;
  app.footer(kFooter);
  app.set_version_flag("--version", MARLO_VERSION);
  app.require_subcommand(1, 1);
  app.get_formatter()->column_width(34);
  for (const FilterEntry& entry : Filters()) {
    std::string summary = entry.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    CLI::App* sub = app.add_subcommand(entry.name, summary);
    sub->group("Filters");
    std::unique_ptr<Filter> filter = entry.make();
    filter->AddOptions(sub);
    AddCommonOptions(sub, &p->common);
    std::string footer = std::string("Calls the library export ") + entry.exportName + ".";
    if (entry.colourOnly()) footer += " Grey pictures are turned into RGB first.";
    if (entry.movesPixels()) footer += " An alpha channel is moved with the pixels.";
    footer += std::string("\n\n") + kFooter;
    sub->footer(footer);
    p->filters.push_back(std::move(filter));
    p->subs.push_back(sub);
  }
  p->list = app.add_subcommand("list", "Every filter and the export it calls, one line each");
  p->list->group("Other commands");
  p->info = app.add_subcommand("info", "Size, type, bit depth and metadata of image files");
  p->info->group("Other commands");
  p->info->add_option("files", p->infoFiles, "Image files")->required()->type_name("FILE...");
  p->demo = app.add_subcommand(
      "demo", "Runs every filter on the sample photos and writes a before/after gallery");
  p->demo->group("Other commands");
  p->demo->add_option("directory", p->demoDir, "Where the gallery is written (default marlo-demo)")
      ->type_name("DIRECTORY");
  p->demo->add_option("--samples", p->demoSamples, "Folder of sample photos to use")
      ->type_name("DIR");
  p->demo->add_flag("-q,--quiet", p->demoQuiet, "Print only where the gallery is");
}

bool IsFilterName(const std::string& word) {
  return FindFilter(word) != nullptr;
}

// Parses one segment; returns -1 when parsing succeeded, else the exit status (help printed or
// error reported).
int ParseSegment(Parsed* p, const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  argv.push_back("marlo");
  for (const std::string& w : words) argv.push_back(w.c_str());
  try {
    p->app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp& e) {
    return p->app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return p->app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return p->app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "marlo: %s\n", e.what());
    std::fprintf(stderr, "Run `marlo%s%s --help` for the options.\n", words.empty() ? "" : " ",
                 !words.empty() && IsFilterName(words[0]) ? words[0].c_str() : "");
    return kExitUsage;
  }
  return -1;
}

int RunList() {
  std::printf("%-15s %-34s %s\n", "FILTER", "EXPORT", "WHAT IT DOES");
  for (const FilterEntry& entry : Filters()) {
    std::printf("%-15s %-34s %s\n", entry.name, entry.exportName, entry.summary);
  }
  return kExitOk;
}

const char* TypeName(int channels, int bits) {
  if (channels == 1) return bits == 16 ? "Gray16" : "Gray8";
  return bits == 16 ? "Rgb48" : "Rgb24";
}

int RunInfo(const std::vector<std::string>& files) {
  int status = kExitOk;
  for (const std::string& path : files) {
    try {
      const io::ImageInfo info = io::Open(path)->Info();
      std::printf("%s: %s, %d x %d (%.2f megapixels), %s, %d bits per sample in the file\n",
                  path == "-" ? "standard input" : path.c_str(), io::FormatName(info.format),
                  info.width, info.height, static_cast<double>(info.Pixels()) / 1e6,
                  info.kind.c_str(), info.fileBits);
      std::printf("  processed as %s (%d bits per sample)%s\n", TypeName(info.channels, info.bits),
                  info.bits, info.alpha ? ", with an alpha channel" : "");
      if (info.icc.empty()) {
        std::printf("  ICC profile: none\n");
      } else {
        std::printf("  ICC profile: %zu bytes\n", info.icc.size());
      }
      if (info.exif.empty()) {
        std::printf("  EXIF: none\n");
      } else {
        std::printf("  EXIF: %zu bytes\n", info.exif.size());
      }
    } catch (const std::exception& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "marlo: %s: %s\n", path.c_str(), e.what());
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& args) {
  // Split the words into the chain's segments.
  std::vector<std::vector<std::string>> segments(1);
  for (const std::string& a : args) {
    if (a == kChainWord) {
      segments.emplace_back();
    } else {
      segments.back().push_back(a);
    }
  }
  Chain chain;
  Settings settings;
  bool outputSeen = false;
  std::vector<std::unique_ptr<Parsed>> keep;
  for (size_t s = 0; s < segments.size(); ++s) {
    const std::vector<std::string>& words = segments[s];
    if (words.empty()) {
      std::fprintf(stderr, "marlo: `%s` must stand between two filters\n", kChainWord);
      return kExitUsage;
    }
    const std::string& first = words[0];
    if (first[0] != '-' && !IsFilterName(first) && first != "list" && first != "info" &&
        first != "demo") {
      std::fprintf(stderr, "marlo: unknown filter or command '%s' (see `marlo list`)\n",
                   first.c_str());
      return kExitUsage;
    }
    auto parsed = std::make_unique<Parsed>();
    Build(parsed.get());
    const int status = ParseSegment(parsed.get(), words);
    if (status >= 0) return status;
    Parsed& p = *parsed;
    const bool other = p.list->parsed() || p.info->parsed() || p.demo->parsed();
    if (other && segments.size() > 1) {
      std::fprintf(stderr, "marlo: only filters can be chained with `%s`\n", kChainWord);
      return kExitUsage;
    }
    if (p.list->parsed()) return RunList();
    if (p.info->parsed()) return RunInfo(p.infoFiles);
    if (p.demo->parsed()) return RunDemo(p.demoDir, p.demoSamples, p.demoQuiet);
    for (size_t i = 0; i < p.subs.size(); ++i) {
      CLI::App* sub = p.subs[i];
      if (!sub->parsed()) continue;
      try {
        p.filters[i]->Finish();
      } catch (const UsageError& e) {
        std::fprintf(stderr, "marlo: %s\n", e.what());
        return kExitUsage;
      }
      chain.push_back(ChainStep{&Filters()[i], std::move(p.filters[i])});
      const CommonOptions& c = p.common;
      settings.inputs.insert(settings.inputs.end(), c.inputs.begin(), c.inputs.end());
      if (sub->count("--output")) {
        if (outputSeen) {
          std::fprintf(stderr, "marlo: -o/--output given more than once\n");
          return kExitUsage;
        }
        outputSeen = true;
        settings.output = c.output;
      }
      settings.inPlace = settings.inPlace || c.inPlace;
      settings.quiet = settings.quiet || c.quiet;
      if (sub->count("--jobs")) settings.jobs = c.jobs;
      if (sub->count("--max-megapixels")) settings.maxMegapixels = c.maxMegapixels;
      if (sub->count("--quality")) settings.quality = c.quality;
      if (sub->count("--format")) settings.format = c.format;
    }
    keep.push_back(std::move(parsed));
  }
  try {
    return RunChain(chain, settings);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "marlo: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "marlo: %s\n", e.what());
    return kExitFailure;
  }
}

int Main(const std::vector<std::string>& args) {
  if (args.empty()) {
    Parsed p;
    Build(&p);
    std::fputs(p.app.help().c_str(), stderr);
    return kExitUsage;
  }
  return RunCommandLine(args);
}

}  // namespace cli
