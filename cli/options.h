// Option values on the command line: validators that refuse a value outside its range with a
// line naming the option's range, and the conversions of the checked text into numbers.
#ifndef MARLO_CLI_OPTIONS_H
#define MARLO_CLI_OPTIONS_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "filters.h"

namespace cli {

// A list of whole numbers, each in lo..hi, with one of the allowed counts of values; `what`
// names the expected form ("three comma-separated whole numbers R,G,B").
CLI::Validator IntList(std::vector<size_t> counts, int64_t lo, int64_t hi, std::string what);
// One whole number in lo..hi, or one real number in lo..hi.
CLI::Validator IntRange(int64_t lo, int64_t hi);
CLI::Validator RealRange(double lo, double hi);
// The comma-separated whole numbers of a value the validators accepted.
std::vector<int32_t> ToInts(const std::string& text);

// A point option "X,Y" (column, row from the top left), both in 0..2147483647.
struct Point {
  int32_t x = 0;
  int32_t y = 0;
};
CLI::Option* AddPoint(CLI::App* app, const std::string& name, std::string* text,
                      const std::string& help);
Point ToPoint(const std::string& text);
// Throws UsageError when the point lies outside the image.
void CheckInside(const char* option, const std::string& text, const io::ImageInfo& info);

}  // namespace cli

#endif  // MARLO_CLI_OPTIONS_H
