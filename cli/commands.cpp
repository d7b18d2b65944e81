#include "commands.h"

#include <limits.h>
#include <link.h>
#include <strings.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

#include "filters.h"
#include "pipeline.h"

#ifndef MARLO_VERSION
#define MARLO_VERSION "0"
#endif

namespace cli {
namespace {

const char* const kDescription =
    "marlo applies photographic enhancement filters to image files.\n\n"
    "  marlo FILTER [options] INPUT... -o OUTPUT\n"
    "  marlo FILTER [options] then FILTER [options]... INPUT... -o OUTPUT\n\n"
    "Run `marlo FILTER --help` for a filter's options, their ranges and defaults.";

// The top level's own options, for the suggestions.
const char* const kTopOptions[] = {"-h", "--help", "-V", "--version"};

// The version of every marlo library loaded, from the names their files were installed under
// (libmarlo.so.0.1.0): the libraries found at run time, which need not be the ones built with.
std::string LibraryVersions() {
  struct Found {
    const char* prefix;
    std::string version = "unknown";
  } found[] = {{"libmarlo.so"}, {"libmarlo-io.so"}, {"libkasa.so"}};
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        char real[PATH_MAX];
        if (!info->dlpi_name || !realpath(info->dlpi_name, real)) return 0;
        const char* slash = std::strrchr(real, '/');
        const std::string base = slash ? slash + 1 : real;
        for (Found& f : *static_cast<Found(*)[3]>(data)) {
          const std::string prefix = std::string(f.prefix) + ".";
          if (base.rfind(prefix, 0) == 0) f.version = base.substr(prefix.size());
        }
        return 0;
      },
      &found);
  std::string text;
  for (const Found& f : found) {
    text += std::string(text.empty() ? "" : ", ") +
            std::string(f.prefix, std::strlen(f.prefix) - 3) + " " + f.version;
  }
  return text;
}

// Edit distance (insertions, deletions, substitutions and swaps of neighbours) between two
// words, ignoring case.
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  auto same = [](char x, char y) { return std::tolower(x) == std::tolower(y); };
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same(a[i - 1], b[j - 1]) ? 0 : 1)});
      if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The candidate nearest to a mistyped word, or empty when none is near enough: one that differs
// only in case, or at most two edits away and at most one edit per two letters of the word
// (dashes not counted).
std::string Nearest(const std::string& word, const std::vector<std::string>& candidates) {
  const size_t letters = word.size() - std::min(word.find_first_not_of('-'), word.size());
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const std::string& c : candidates) {
    const size_t d = Distance(word, c);
    if (d < bestDistance) {
      best = c;
      bestDistance = d;
    }
  }
  if (best.empty() || best == word) return std::string();
  return bestDistance == 0 || (bestDistance <= 2 && 2 * bestDistance <= letters) ? best
                                                                                 : std::string();
}

struct Parsed {
  CLI::App app{kDescription, "marlo"};
  std::vector<CLI::App*> subs;      // one per filter, in the table's order
  std::deque<Values> filterValues;  // the filter's own options, per filter
  std::deque<Values> commonValues;  // the options every filter takes, per filter
  std::vector<std::string> inputs;
  std::vector<std::string> infoFiles;
  std::string demoDir = "marlo-demo";
  Values demoValues;
  CLI::App* list = nullptr;
  CLI::App* info = nullptr;
  CLI::App* demo = nullptr;
};

std::string Capitalised(std::string text) {
  text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

void Build(Parsed* p) {
  CLI::App& app = p->app;
  app.footer(kHelpFooter);
  app.set_version_flag("-V,--version",
                       std::string("marlo ") + MARLO_VERSION + "\n" + LibraryVersions());
  app.require_subcommand(1, 1);
  app.allow_extras();
  app.get_formatter()->column_width(34);
  for (const FilterEntry& entry : Filters()) {
    const FilterDecl& decl = *entry.decl;
    CLI::App* sub = app.add_subcommand(decl.name, Capitalised(decl.summary));
    sub->group("Filters");
    sub->allow_extras();
    p->filterValues.emplace_back().Bind(sub, decl.options);
    sub->add_option("inputs", p->inputs, "Input image files ('-' for standard input)")
        ->type_name(kInputsOperand);
    p->commonValues.emplace_back().Bind(sub, CommonOptionDecls());
    std::string footer = std::string("Calls the library export ") + decl.exportName + ".";
    if (*decl.rule) footer += " " + Capitalised(decl.rule) + ".";
    if (entry.colourOnly()) footer += " Grey pictures are turned into RGB first.";
    if (entry.movesPixels()) footer += " An alpha channel is moved with the pixels.";
    sub->footer(footer + "\n\n" + kHelpFooter);
    p->subs.push_back(sub);
  }
  for (const CommandDecl& command : CommandDecls()) {
    CLI::App* sub = app.add_subcommand(command.name, command.summary);
    sub->group("Other commands");
    sub->allow_extras();
    if (std::strcmp(command.name, "info") == 0) {
      p->info = sub;
      sub->add_option("files", p->infoFiles, "Image files")->required()->type_name(command.operand);
    } else if (std::strcmp(command.name, "demo") == 0) {
      p->demo = sub;
      sub->add_option("directory", p->demoDir, "Where the gallery is written (default marlo-demo)")
          ->type_name(command.operand);
      p->demoValues.Bind(sub, command.options);
    } else {
      p->list = sub;
    }
  }
}

std::vector<std::string> Names(const std::vector<OptionDecl>& decls) {
  std::vector<std::string> names;
  for (const OptionDecl& o : decls) {
    if (!ShortName(o).empty()) names.push_back(ShortName(o));
    names.push_back(LongName(o));
  }
  return names;
}

// The options that the command named by the segment's first word takes.
std::vector<std::string> OptionNames(const std::string& command) {
  std::vector<std::string> names = {"-h", "--help"};
  std::vector<std::string> more;
  if (const FilterEntry* f = FindFilter(command)) {
    more = Names(f->decl->options);
    const std::vector<std::string> common = Names(CommonOptionDecls());
    more.insert(more.end(), common.begin(), common.end());
  } else {
    for (const CommandDecl& c : CommandDecls()) {
      if (command == c.name) more = Names(c.options);
    }
    if (more.empty() && command.rfind('-', 0) == 0) more.assign(kTopOptions + 2, kTopOptions + 4);
  }
  names.insert(names.end(), more.begin(), more.end());
  return names;
}

// The option library's messages in the tool's own form, naming an option as it was typed
// ("-j" rather than "--jobs").
std::string ToolMessage(const CLI::ParseError& e, const std::vector<std::string>& words) {
  std::string text = e.what();
  const std::string kind = e.get_name();
  if (kind == "ExcludesError") {
    const size_t at = text.find(" excludes ");
    text = text.substr(0, at) + " and " + text.substr(at + 10) + " cannot be given together";
  } else if (kind == "ArgumentMismatch") {
    const bool twice = text.find(": At Most ") != std::string::npos;
    text =
        text.substr(0, text.find(':')) + (twice ? " given more than once" : ": a value is missing");
  } else if (kind == "RequiredError" && text == "A subcommand is required") {
    text = "no filter given (see `marlo list`)";
  } else if (kind == "RequiredError" && text == "files is required") {
    text = "no file given";
  } else if (!text.empty()) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
  std::vector<OptionDecl> all = CommonOptionDecls();
  for (const CommandDecl& c : CommandDecls())
    all.insert(all.end(), c.options.begin(), c.options.end());
  for (const OptionDecl& o : all) {
    const std::string shortName = ShortName(o), longName = LongName(o);
    if (shortName.empty() || text.rfind(longName, 0) != 0) continue;
    for (const std::string& w : words) {
      if (w == shortName) return shortName + text.substr(longName.size());
    }
  }
  return text;
}

// Parses one segment; returns -1 when parsing succeeded, else the exit status (help printed or
// error reported).
int ParseSegment(Parsed* p, const std::vector<std::string>& words) {
  std::vector<const char*> argv;
  argv.push_back("marlo");
  for (const std::string& w : words) argv.push_back(w.c_str());
  std::string error;
  try {
    p->app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp& e) {
    return p->app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return p->app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return p->app.exit(e);
  } catch (const CLI::ParseError& e) {
    error = ToolMessage(e, words);
  }
  // An unknown option is named as such first: the errors it causes (a required option taken
  // for missing, its value taken for an input) follow from the mistyping.
  for (const std::string& word : p->app.remaining(true)) {
    if (word.size() < 2 || word[0] != '-') continue;
    const std::string name = word.substr(0, word.find('='));
    const std::string near = Nearest(name, OptionNames(words[0]));
    error =
        "unknown option '" + name + "'" + (near.empty() ? "" : "; did you mean '" + near + "'?");
    break;
  }
  if (error.empty()) {
    for (const std::string& word : p->app.remaining(true)) {
      error = "unexpected argument '" + word + "'";
      break;
    }
  }
  if (error.empty()) return -1;
  std::fprintf(stderr, "marlo: %s\n", error.c_str());
  const bool named = !words.empty() && words[0][0] != '-';
  std::fprintf(stderr, "Run `marlo%s%s --help` for the options.\n", named ? " " : "",
               named ? words[0].c_str() : "");
  return kExitUsage;
}

// The line for a first word that names no filter or command.
std::string UnknownCommand(const std::string& word) {
  std::vector<std::string> filters, commands;
  for (const FilterDecl& f : FilterDecls()) filters.push_back(f.name);
  for (const CommandDecl& c : CommandDecls()) commands.push_back(c.name);
  std::vector<std::string> all = filters;
  all.insert(all.end(), commands.begin(), commands.end());
  const std::string near = Nearest(word, all);
  if (near.empty()) return "unknown filter or command '" + word + "' (see `marlo list`)";
  const bool filter = FindFilter(near) != nullptr;
  return std::string("unknown ") + (filter ? "filter" : "command") + " '" + word +
         "'; did you mean '" + near + "'?";
}

int RunList() {
  std::printf("%-15s %-34s %s\n", "FILTER", "EXPORT", "WHAT IT DOES");
  for (const FilterDecl& f : FilterDecls()) {
    std::printf("%-15s %-34s %s\n", f.name, f.exportName, f.summary);
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
  std::map<std::string, std::string> given;
  for (size_t s = 0; s < segments.size(); ++s) {
    const std::vector<std::string>& words = segments[s];
    if (words.empty()) {
      std::fprintf(stderr, "marlo: `%s` must stand between two filters\n", kChainWord);
      return kExitUsage;
    }
    const std::string& first = words[0];
    bool command = false;
    for (const CommandDecl& c : CommandDecls()) command = command || first == c.name;
    if (first[0] != '-' && !FindFilter(first) && !command) {
      std::fprintf(stderr, "marlo: %s\n", UnknownCommand(first).c_str());
      return kExitUsage;
    }
    Parsed p;
    Build(&p);
    const int status = ParseSegment(&p, words);
    if (status >= 0) return status;
    const bool other = p.list->parsed() || p.info->parsed() || p.demo->parsed();
    if (other && segments.size() > 1) {
      std::fprintf(stderr, "marlo: only filters can be chained with `%s`\n", kChainWord);
      return kExitUsage;
    }
    if (p.list->parsed()) return RunList();
    if (p.info->parsed()) return RunInfo(p.infoFiles);
    if (p.demo->parsed()) {
      p.demoValues.Freeze();
      return RunDemo(p.demoDir, p.demoValues.Text("--samples"), p.demoValues.Given("--quiet"));
    }
    for (size_t i = 0; i < p.subs.size(); ++i) {
      if (!p.subs[i]->parsed()) continue;
      p.filterValues[i].Freeze();
      Values& c = p.commonValues[i];
      c.Freeze();
      auto filter = std::make_unique<Filter>(&Filters()[i], std::move(p.filterValues[i]));
      try {
        filter->Finish();
      } catch (const UsageError& e) {
        std::fprintf(stderr, "marlo: %s\n", e.what());
        return kExitUsage;
      }
      chain.push_back(ChainStep{&Filters()[i], std::move(filter)});
      settings.inputs.insert(settings.inputs.end(), p.inputs.begin(), p.inputs.end());
      if (c.Given("--output")) {
        if (outputSeen) {
          std::fprintf(stderr, "marlo: -o/--output given more than once\n");
          return kExitUsage;
        }
        outputSeen = true;
        settings.output = c.Text("--output");
      }
      settings.inPlace = settings.inPlace || c.Given("--in-place");
      settings.quiet = settings.quiet || c.Given("--quiet");
      for (const OptionDecl& o : CommonOptionDecls()) {
        const std::string name = LongName(o);
        if (o.kind == ValueKind::Flag || name == "--output" || !c.Given(name)) continue;
        given[name] = c.Text(name);
      }
    }
  }
  // Each common option from the last part of the chain that gave it, else the table's default.
  auto value = [&given](const char* name) {
    if (given.count(name)) return given[name];
    for (const OptionDecl& o : CommonOptionDecls()) {
      if (LongName(o) == name && o.value) return std::string(o.value);
    }
    return std::string();
  };
  settings.jobs = std::atoi(value("--jobs").c_str());
  settings.threads = std::atoi(value("--threads").c_str());
  settings.maxMegapixels = std::strtod(value("--max-megapixels").c_str(), nullptr);
  settings.quality = std::atoi(value("--quality").c_str());
  settings.compression =
      given.count("--compression") ? std::atoi(value("--compression").c_str()) : -1;
  settings.pngFilter = value("--png-filter");
  settings.format = value("--format");
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
