// Options on the command line: strict number parsing, the validators made from the table, and
// the values read back.
#include "options.h"

#include <strings.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace cli {
namespace {

bool ParseInt(const std::string& text, int64_t* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParseReal(const std::string& text, double* value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == text.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

std::vector<std::string> SplitCommas(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, ',')) parts.push_back(part);
  if (!text.empty() && text.back() == ',') parts.push_back("");
  return parts;
}

// What a value of the option looks like, for the line that refuses one.
std::string Form(const OptionDecl& o) {
  switch (o.kind) {
    case ValueKind::Int:
      return "a whole number";
    case ValueKind::Real:
      return "a number";
    case ValueKind::Point:
      return "two whole numbers X,Y";
    case ValueKind::Ints:
      if (o.counts[0] != o.counts[1]) return "one or three comma-separated whole numbers";
      return std::string(o.counts[0] == 2 ? "two" : "three") + " comma-separated whole numbers " +
             o.metavar;
    default:
      return "a value";
  }
}

// The empty string when `text` is a value `o` accepts, else the line that says why not.
std::string Check(const OptionDecl& o, const std::string& text) {
  const std::string range = RangeText(o);
  if (o.kind == ValueKind::Word) {
    for (const std::string& w : Words(o)) {
      if (strcasecmp(w.c_str(), text.c_str()) == 0) return std::string();
    }
    return "'" + text + "' is not " + range;
  }
  if (o.kind == ValueKind::Real) {
    double v = 0;
    if (!ParseReal(text, &v)) return "'" + text + "' is not a number; accepted range " + range;
    if (v < o.lo || v > o.hi) return "value " + text + " is out of range; accepted range " + range;
    return std::string();
  }
  const std::vector<std::string> parts =
      o.kind == ValueKind::Int ? std::vector<std::string>{text} : SplitCommas(text);
  for (size_t i = 0; i < parts.size(); ++i) {
    int64_t v = 0;
    const double lo = i == 0 ? o.lo : o.lo2, hi = i == 0 ? o.hi : o.hi2;
    if (!ParseInt(parts[i], &v)) {
      return "'" + text + "' is not " + Form(o) +
             (range.empty() ? "" : "; accepted range " + range);
    }
    if (v < lo || v > hi) {
      return "value " + parts[i] + " is out of range; accepted range " +
             std::to_string(static_cast<int64_t>(lo)) + ".." +
             std::to_string(static_cast<int64_t>(hi));
    }
  }
  if (o.kind != ValueKind::Int && parts.size() != static_cast<size_t>(o.counts[0]) &&
      parts.size() != static_cast<size_t>(o.counts[1])) {
    return "'" + text + "' is not " + Form(o);
  }
  return std::string();
}

const OptionDecl& Find(const std::vector<OptionDecl>* decls, const std::string& name) {
  for (const OptionDecl& o : *decls) {
    if (LongName(o) == name) return o;
  }
  throw std::logic_error("no option " + name);
}

}  // namespace

void Values::Bind(CLI::App* app, const std::vector<OptionDecl>& decls) {
  decls_ = &decls;
  for (const OptionDecl& o : decls) {
    const std::string name = LongName(o);
    CLI::Option* option = nullptr;
    if (o.kind == ValueKind::Flag) {
      option = app->add_flag(o.names, text_[name], HelpText(o));
    } else {
      option = app->add_option(o.names, text_[name], HelpText(o))->type_name(o.metavar);
      if (o.kind != ValueKind::Path) {
        option->check(CLI::Validator([&o](std::string& text) { return Check(o, text); }, "", ""));
      }
      if (o.required) option->required();
    }
    options_[name] = option;
  }
  for (const OptionDecl& o : decls) {
    std::istringstream excludes(o.excludes), needs(o.needs);
    for (std::string other; excludes >> other;) options_[LongName(o)]->excludes(options_[other]);
    for (std::string other; needs >> other;) options_[LongName(o)]->needs(options_[other]);
  }
}

void Values::Freeze() {
  for (const auto& [name, option] : options_) {
    if (option->count() > 0) given_.insert(name);
  }
  options_.clear();
}

std::string Values::Text(const std::string& name) const {
  if (Given(name)) return text_.at(name);
  const OptionDecl& o = Find(decls_, name);
  return o.value ? o.value : "";
}

int32_t Values::Int(const std::string& name) const {
  int64_t v = 0;
  ParseInt(Text(name), &v);
  return static_cast<int32_t>(v);
}

double Values::Real(const std::string& name) const {
  double v = 0;
  ParseReal(Text(name), &v);
  return v;
}

std::vector<int32_t> Values::Ints(const std::string& name) const {
  std::vector<int32_t> values;
  for (const std::string& p : SplitCommas(Text(name))) {
    int64_t v = 0;
    ParseInt(p, &v);
    values.push_back(static_cast<int32_t>(v));
  }
  return values;
}

Point Values::ToPoint(const std::string& name) const {
  const std::vector<int32_t> v = Ints(name);
  Point p;
  if (v.size() == 2) {
    p.x = v[0];
    p.y = v[1];
  }
  return p;
}

void Values::CheckInside(const std::string& name, const io::ImageInfo& info) const {
  const Point p = ToPoint(name);
  if (p.x >= info.width || p.y >= info.height) {
    throw UsageError(name + ": the point " + Text(name) + " lies outside the " +
                     std::to_string(info.width) + " x " + std::to_string(info.height) +
                     " image; accepted range 0.." + std::to_string(info.width - 1) + ",0.." +
                     std::to_string(info.height - 1));
  }
}

}  // namespace cli
