// Option words parsed through the tool's own declarations: a command-line parser is given the
// table's options, as the tool declares them, and parses the words the Python side made.
#include "tool.h"

#include <strings.h>
#include <CLI/CLI.hpp>
#include <cstdlib>

namespace marlo_py {

cli::Values ParseOptions(const std::vector<cli::OptionDecl>& decls,
                         const std::vector<std::string>& words) {
  CLI::App app;
  app.set_help_flag();
  cli::Values values;
  values.Bind(&app, decls);
  std::vector<const char*> argv{"marlo"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    throw OptionError(e.what());
  }
  values.Freeze();
  return values;
}

std::unique_ptr<cli::Filter> Configure(const std::string& name,
                                       const std::vector<std::string>& words,
                                       const cli::FilterEntry** entry) {
  *entry = cli::FindFilter(name);
  if (!*entry) throw OptionError("unknown filter '" + name + "'");
  auto filter = std::make_unique<cli::Filter>(*entry, ParseOptions((*entry)->decl->options, words));
  try {
    filter->Finish();
  } catch (const cli::UsageError& e) {
    throw OptionError(e.what());
  }
  return filter;
}

void CheckImage(const cli::Filter& filter, int32_t width, int32_t height) {
  cli::io::ImageInfo info;
  info.width = width;
  info.height = height;
  try {
    filter.CheckImage(info);
  } catch (const cli::UsageError& e) {
    throw OptionError(e.what());
  }
}

cli::Settings SettingsFrom(const std::vector<std::string>& words) {
  const cli::Values values = ParseOptions(cli::CommonOptionDecls(), words);
  auto value = [&values](const char* name) { return values.Text(name); };
  cli::Settings settings;
  settings.quiet = true;
  settings.maxMegapixels = std::strtod(value("--max-megapixels").c_str(), nullptr);
  settings.quality = std::atoi(value("--quality").c_str());
  settings.compression =
      values.Given("--compression") ? std::atoi(value("--compression").c_str()) : -1;
  settings.pngFilter = value("--png-filter");
  settings.format = value("--format");
  return settings;
}

cli::io::WriteOptions WriteOptionsFor(const cli::Settings& settings) {
  cli::io::WriteOptions options;
  options.jpegQuality = settings.quality;
  options.deflateLevel =
      settings.compression < 0 ? cli::io::kRunLengthDeflate : settings.compression;
  static const char* const kFilters[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
  for (int f = 0; f < 6; ++f) {
    if (strcasecmp(settings.pngFilter.c_str(), kFilters[f]) == 0) {
      options.pngFilter = static_cast<cli::io::PngFilter>(f);
    }
  }
  return options;
}

}  // namespace marlo_py
