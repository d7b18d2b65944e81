// The tool's filter table read through its option declarations: each subcommand's options are
// declared on a command-line parser of their own and read back from it, and a filter is
// configured by parsing option words, so the tool's validators, defaults and rules apply.
#include "tool.h"

#include <CLI/CLI.hpp>

namespace marlo_py {
namespace {

std::unique_ptr<CLI::App> OptionsOf(cli::Filter* filter) {
  auto app = std::make_unique<CLI::App>();
  app->set_help_flag();
  filter->AddOptions(app.get());
  return app;
}

// The value form the tool names ("X,Y", "C|R,G,B", "H,S,L") tells points and triples; a single
// value is a whole number when the tool's check refuses a fraction.
OptionKind KindOf(CLI::Option* option) {
  const std::string form = option->get_type_name();
  if (form == "X,Y") return OptionKind::Point;
  if (form.find(',') != std::string::npos) {
    return form.find('|') != std::string::npos ? OptionKind::IntOrTriple : OptionKind::Triple;
  }
  CLI::Validator* check = nullptr;
  try {
    check = option->get_validator();
  } catch (const CLI::OptionNotFound&) {
    return OptionKind::Real;
  }
  return (*check)(std::string("0.5")).empty() ? OptionKind::Real : OptionKind::Int;
}

std::vector<FilterInfo> ReadTable() {
  std::vector<FilterInfo> table;
  for (const cli::FilterEntry& entry : cli::Filters()) {
    FilterInfo info{&entry, {}};
    std::unique_ptr<cli::Filter> filter = entry.make();
    std::unique_ptr<CLI::App> app = OptionsOf(filter.get());
    for (CLI::Option* option : app->get_options()) {
      if (option->get_lnames().empty()) continue;
      info.options.push_back({option->get_lnames()[0], KindOf(option), option->get_required(),
                              option->get_description(), option->get_type_name()});
    }
    table.push_back(std::move(info));
  }
  return table;
}

}  // namespace

const std::vector<FilterInfo>& FilterTable() {
  static const std::vector<FilterInfo> table = ReadTable();
  return table;
}

ConfiguredFilter::ConfiguredFilter(const cli::FilterEntry* entry,
                                   const std::vector<std::string>& words)
    : entry_(entry), filter_(entry->make()) {
  app_ = OptionsOf(filter_.get());
  std::vector<const char*> argv{"marlo"};
  for (const std::string& word : words) argv.push_back(word.c_str());
  try {
    app_->parse(static_cast<int>(argv.size()), argv.data());
    filter_->Finish();
  } catch (const CLI::ParseError& e) {
    throw OptionError(e.what());
  } catch (const cli::UsageError& e) {
    throw OptionError(e.what());
  }
}

ConfiguredFilter::~ConfiguredFilter() = default;

void ConfiguredFilter::CheckImage(int32_t width, int32_t height) const {
  cli::io::ImageInfo info;
  info.width = width;
  info.height = height;
  try {
    filter_->CheckImage(info);
  } catch (const cli::UsageError& e) {
    throw OptionError(e.what());
  }
}

std::unique_ptr<ConfiguredFilter> Configure(const std::string& name,
                                            const std::vector<std::string>& words) {
  const cli::FilterEntry* entry = cli::FindFilter(name);
  if (!entry) throw OptionError("unknown filter '" + name + "' (see marlo.FILTERS)");
  return std::make_unique<ConfiguredFilter>(entry, words);
}

}  // namespace marlo_py
