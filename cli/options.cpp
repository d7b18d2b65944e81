// Option values on the command line: strict number parsing and the validators that refuse a
// value outside its range with a line naming the range, and the points (X,Y) that are checked
// against each image's size.
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace cli {
namespace {

// --- Strict number parsing for the validators ---------------------------------------------

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

std::string RangeText(int64_t lo, int64_t hi) {
  return std::to_string(lo) + ".." + std::to_string(hi);
}

// A point option "X,Y" with both values in 0..kMaxCoordinate.
constexpr int64_t kMaxCoordinate = 2147483647;

}  // namespace

CLI::Validator IntList(std::vector<size_t> counts, int64_t lo, int64_t hi, std::string what) {
  return CLI::Validator(
      [counts, lo, hi, what](std::string& text) -> std::string {
        const std::vector<std::string> parts = SplitCommas(text);
        bool countOk = false;
        for (size_t c : counts) countOk = countOk || parts.size() == c;
        for (const std::string& p : parts) {
          int64_t v = 0;
          if (!ParseInt(p, &v)) {
            return "'" + text + "' is not " + what + "; accepted range " + RangeText(lo, hi);
          }
          if (v < lo || v > hi) {
            return "value " + p + " is out of range; accepted range " + RangeText(lo, hi);
          }
        }
        if (!countOk) return "'" + text + "' is not " + what;
        return std::string();
      },
      "", "");
}

CLI::Validator IntRange(int64_t lo, int64_t hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) -> std::string {
        int64_t v = 0;
        if (!ParseInt(text, &v)) {
          return "'" + text + "' is not a whole number; accepted range " + RangeText(lo, hi);
        }
        if (v < lo || v > hi) {
          return "value " + text + " is out of range; accepted range " + RangeText(lo, hi);
        }
        return std::string();
      },
      "", "");
}

CLI::Validator RealRange(double lo, double hi) {
  std::ostringstream range;
  range << lo << ".." << hi;
  const std::string r = range.str();
  return CLI::Validator(
      [lo, hi, r](std::string& text) -> std::string {
        double v = 0;
        if (!ParseReal(text, &v)) return "'" + text + "' is not a number; accepted range " + r;
        if (v < lo || v > hi) return "value " + text + " is out of range; accepted range " + r;
        return std::string();
      },
      "", "");
}

std::vector<int32_t> ToInts(const std::string& text) {
  std::vector<int32_t> values;
  for (const std::string& p : SplitCommas(text)) {
    int64_t v = 0;
    ParseInt(p, &v);
    values.push_back(static_cast<int32_t>(v));
  }
  return values;
}

CLI::Option* AddPoint(CLI::App* app, const std::string& name, std::string* text,
                      const std::string& help) {
  return app->add_option(name, *text, help)
      ->type_name("X,Y")
      ->check(IntList({2}, 0, kMaxCoordinate, "two whole numbers X,Y"));
}

Point ToPoint(const std::string& text) {
  const std::vector<int32_t> v = ToInts(text);
  Point p;
  if (v.size() == 2) {
    p.x = v[0];
    p.y = v[1];
  }
  return p;
}

void CheckInside(const char* option, const std::string& text, const io::ImageInfo& info) {
  const Point p = ToPoint(text);
  if (p.x >= info.width || p.y >= info.height) {
    throw UsageError(std::string(option) + ": the point " + text + " lies outside the " +
                     std::to_string(info.width) + " x " + std::to_string(info.height) +
                     " image; accepted range 0.." + std::to_string(info.width - 1) + ",0.." +
                     std::to_string(info.height - 1));
  }
}

}  // namespace cli
