// The table of commands and options (see option_table.h).
#include "option_table.h"

#include <cstdio>
#include <cstring>
#include <sstream>

namespace cli {
namespace {

OptionDecl Base(const char* names, ValueKind kind, const char* metavar, const char* value,
                const char* help, const char* detail) {
  return OptionDecl{names, kind,  metavar, 0,      0,  0, 0,  {1, 1},
                    value, false, help,    detail, "", 0, "", ""};
}
OptionDecl Int(const char* names, const char* metavar, double lo, double hi, const char* value,
               const char* help, const char* detail = "") {
  OptionDecl o = Base(names, ValueKind::Int, metavar, value, help, detail);
  o.lo = lo;
  o.hi = hi;
  return o;
}
OptionDecl Real(const char* names, const char* metavar, double lo, double hi, const char* value,
                const char* help, const char* detail = "") {
  OptionDecl o = Int(names, metavar, lo, hi, value, help, detail);
  o.kind = ValueKind::Real;
  return o;
}
OptionDecl Ints(const char* names, const char* metavar, int fewest, int most, double lo, double hi,
                double lo2, double hi2, const char* value, const char* help,
                const char* detail = "") {
  OptionDecl o = Int(names, metavar, lo, hi, value, help, detail);
  o.kind = ValueKind::Ints;
  o.lo2 = lo2;
  o.hi2 = hi2;
  o.counts[0] = fewest;
  o.counts[1] = most;
  return o;
}
OptionDecl Point(const char* names, const char* help, const char* detail = "") {
  OptionDecl o = Base(names, ValueKind::Point, "X,Y", nullptr, help, detail);
  o.hi = o.hi2 = 2147483647;
  o.counts[0] = o.counts[1] = 2;
  o.required = true;
  return o;
}
OptionDecl Required(OptionDecl o) {
  o.required = true;
  return o;
}
OptionDecl Flag(const char* names, const char* help) {
  return Base(names, ValueKind::Flag, "", nullptr, help, "");
}
OptionDecl Word(const char* names, const char* metavar, const char* words, int shown,
                const char* value, const char* help, const char* detail = "") {
  OptionDecl o = Base(names, ValueKind::Word, metavar, value, help, detail);
  o.words = words;
  o.shownWords = shown;
  return o;
}
OptionDecl Path(const char* names, const char* metavar, const char* value, const char* help) {
  return Base(names, ValueKind::Path, metavar, value, help, "");
}

// A number as the user would write it: no exponent, no trailing zeros.
std::string Number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6f", v);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

const char* const kHelpFooter =
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

const std::vector<FilterDecl>& FilterDecls() {
  static const std::vector<FilterDecl> filters = {
      {"auto-exposure",
       "AutoExposure",
       "automatic exposure: intensity stretch and power-law equalisation",
       kPlain,
       {Real("--strength", "S", 0, 1, nullptr, "Exponent of the intensity equalisation",
             "without it the strength is derived from the image; 0 and 1 select the automatic "
             "mild and strong strengths")},
       "",
       ""},
      {"auto-enhance",
       "AutoEnhancement",
       "automatic exposure followed by sharpening",
       kPlain,
       {Real("--exposure", "S", 0, 1, "0.5", "Exposure strength",
             "0 and 1 select the automatic mild and strong strengths"),
        Int("--sharpen", "S", -100, 400, "30", "Sharpening strength after the exposure step",
            "negative softens")},
       "",
       ""},
      {"auto-levels",
       "AutoAdjustment",
       "automatic levels: each channel stretched between its 5 % cut-offs",
       kPlain,
       {},
       "",
       ""},
      {"white-balance",
       "LightAdjustment",
       "light-source correction from one colour temperature to another",
       kColourOnly,
       {Required(Int("--from", "K", 1000, 25000, nullptr,
                     "Colour temperature of the light the photo was taken in, in kelvins")),
        Int("--to", "K", 1000, 25000, "6500", "Colour temperature to correct to, in kelvins",
            "a higher --to than --from makes the picture bluer, a lower one redder")},
       "",
       ""},
      {"contrast",
       "CBEnhancement",
       "contrast and brightness, per channel",
       kPlain,
       {Ints("--contrast", "C|R,G,B", 1, 3, -100, 100, -100, 100, "0",
             "Contrast: one value for all channels or three for red, green, blue",
             "-100 flattens the picture to mid-grey, +100 is the steepest"),
        Ints("--brightness", "B|R,G,B", 1, 3, -100, 100, -100, 100, "0",
             "Brightness: one value or three values R,G,B", "+-100 shift by the whole range")},
       "",
       ""},
      {"saturation",
       "Saturation",
       "more or less vivid colours",
       kColourOnly,
       {Required(Int("--amount", "P", -100, 100, nullptr, "Saturation change in percent",
                     "-100 removes all colour, +100 doubles the saturation"))},
       "",
       ""},
      {"hsl",
       "HSLEnhancement",
       "hue, saturation and lightness, for all colours or per colour range",
       kColourOnly,
       {Int("--hue", "H", -180, 180, "0", "Hue shift for all colours in degrees"),
        Int("--saturation", "S", -100, 100, "0", "Saturation change for all colours in percent"),
        Int("--lightness", "L", -100, 100, "0", "Lightness change for all colours in percent"),
        Ints("--red", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the red range"),
        Ints("--yellow", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the yellow range"),
        Ints("--green", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the green range"),
        Ints("--cyan", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the cyan range"),
        Ints("--blue", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the blue range"),
        Ints("--magenta", "H,S,L", 3, 3, -180, 180, -100, 100, "0,0,0",
             "Hue shift, saturation and lightness changes for the magenta range")},
       "",
       ""},
      {"tint",
       "ColorTintAddByRGB/ColorTintAddByHS",
       "adds a colour tint",
       kColourOnly,
       {[] {
          OptionDecl o =
              Ints("--rgb", "R,G,B", 3, 3, -100, 100, -100, 100, nullptr,
                   "The tint as red, green and blue percentages",
                   "a positive value lifts that channel's mid-tones, a negative one lowers them");
          o.excludes = "--hue --saturation";
          return o;
        }(),
        Int("--hue", "H", 0, 360, nullptr, "The tint's hue in degrees",
            "with --saturation, instead of --rgb"),
        [] {
          OptionDecl o =
              Real("--saturation", "S", 0, 1, "0.5", "The tint's saturation", "with --hue");
          o.needs = "--hue";
          return o;
        }()},
       "--rgb --hue",
       "give the tint either as --rgb R,G,B or as --hue H [--saturation S]"},
      {"remove-cast",
       "ColorTintRemove",
       "removes a colour cast, given a point that is grey",
       kColourOnly,
       {Point("--at",
              "A point of the picture that should be neutral grey (a wall, paper, a grey card), "
              "as column,row from the top left; must lie inside the image")},
       "",
       ""},
      {"red-eye",
       "RemoveRedEyeClr",
       "darkens and desaturates a red pupil",
       kColourOnly,
       {Point("--at",
              "A point inside the red pupil, as column,row from the top left; must lie inside "
              "the image",
              "only red pixels within 50 pixels of the point are recoloured: on 16-bit pictures "
              "the red region that holds the point, on 8-bit pictures every red pixel of that "
              "window")},
       "",
       ""},
      {"despeckle",
       "Despeckle",
       "replaces outlier samples by their neighbour mean",
       kPlain,
       {Int("--threshold", "T", 0, 255, "32",
            "Largest difference from the 8-neighbour mean that is left alone, on the 8-bit scale",
            "scaled by 257 for 16-bit images")},
       "",
       ""},
      {"denoise", "RemoveNoise", "conditional 3 x 3 median noise removal", kPlain, {}, "", ""},
      {"sharpen",
       "ImageFocus",
       "sharpens (or softens) the whole picture",
       kPlain,
       {Int("--strength", "S", -100, 400, "50", "Sharpening strength",
            "100 adds half the Laplacian, negative values soften (-100 is the neighbour mean)")},
       "",
       ""},
      {"sharpen-circle",
       "ImageFocusInCircle",
       "sharpens (or softens) inside a circle",
       kPlain,
       {Required(Ints("--at", "X,Y", 2, 2, 0, 2147483647, 0, 2147483647, nullptr,
                      "Centre of the circle, as column,row (it may lie outside the image)")),
        Required(Int("--radius", "R", 0, 1000000, nullptr, "Radius of the circle in pixels")),
        Int("--strength", "S", -100, 400, "100", "Strength in hundredths",
            "100: a sample moves by the mean difference to its four neighbours; negative "
            "softens")},
       "",
       ""},
      {"book",
       "BookEffect",
       "redraws the picture across the pages of an open book",
       kMovesPixels,
       {Int("--axis", "A", 0, 100, "50",
            "Where the spine lies, in percent of the width between the margins"),
        Int("--fold", "F", 0, 100, "30", "How strongly the pages curl",
            "also sets the white side margins"),
        Int("--slant", "S", 0, 100, "20", "How far the top edges droop toward the outer corners")},
       "",
       ""},
      {"lens",
       "ConvexLens",
       "magnifies a disc as a convex lens would",
       kMovesPixels,
       {Point("--at", "Centre of the lens, as column,row; must lie inside the image"),
        Required(Int("--radius", "R", 1, 1000000, nullptr, "Radius of the lens in pixels")),
        Int("--power", "M", 1, 4, "2", "Magnification degree",
            "1 magnifies the centre about 1.2 times, 4 about 4.7 times")},
       "",
       ""},
  };
  return filters;
}

const std::vector<OptionDecl>& CommonOptionDecls() {
  static const std::vector<OptionDecl> options = {
      Path("-o,--output", "OUTPUT", nullptr,
           "Output file, '-' for standard output, or a directory (ending in '/', or existing) "
           "for several inputs"),
      Flag("--in-place", "Allow writing over an input file (without -o: each input is replaced)"),
      Int("-j,--jobs", "N", 1, 256, nullptr, "Files processed at once",
          "default: one per core, at most one per file"),
      Int("--threads", "N", 1, 256, nullptr, "Threads that work on each file",
          "default: the cores divided among the files processed at once"),
      Real("--max-megapixels", "MP", 0.000001, 100000, "200",
           "Refuse larger images before decoding them"),
      Int("--quality", "Q", 1, 100, "92", "JPEG quality"),
      Int("--compression", "N", 0, 9, nullptr, "Deflate level of PNG and TIFF files",
          "default: PNG run-length coded, within about 2 % of level 6's size on photographs "
          "in a fraction of its time; TIFF 6. 0 stores, 1 is the fastest level, 9 the smallest"),
      Word("--png-filter", "F", "none|sub|up|average|paeth|adaptive", 6, "paeth",
           "The row filter of PNG files", "adaptive picks one of the five for each row"),
      Word("--format", "FMT", "png|jpeg|tiff|pnm|jpg|tif|ppm|pgm", 4, nullptr,
           "Output format for '-' or a directory of outputs",
           "where the output name has an extension, it must name the same format"),
      Flag("-q,--quiet", "No progress bar and no notes"),
  };
  return options;
}

const std::vector<CommandDecl>& CommandDecls() {
  static const std::vector<CommandDecl> commands = {
      {"list", "Every filter and the export it calls, one line each", "", false, {}},
      {"info", "Size, type, bit depth and metadata of image files", "FILE...", true, {}},
      {"demo",
       "Runs every filter on the sample photos and writes a before/after gallery",
       "DIRECTORY",
       false,
       {Path("--samples", "DIR", nullptr, "Folder of sample photos to use"),
        Flag("-q,--quiet", "Print only where the gallery is")}},
  };
  return commands;
}

std::string LongName(const OptionDecl& option) {
  const char* comma = std::strchr(option.names, ',');
  return comma ? std::string(comma + 1) : std::string(option.names);
}

std::string ShortName(const OptionDecl& option) {
  const char* comma = std::strchr(option.names, ',');
  return comma ? std::string(option.names, comma) : std::string();
}

std::vector<std::string> Words(const OptionDecl& option) {
  std::vector<std::string> words;
  std::istringstream in(option.words ? option.words : "");
  for (std::string w; std::getline(in, w, '|');) words.push_back(w);
  return words;
}

std::string RangeText(const OptionDecl& o) {
  switch (o.kind) {
    case ValueKind::Int:
    case ValueKind::Real:
      return Number(o.lo) + ".." + Number(o.hi);
    case ValueKind::Ints:
      if (o.lo2 == o.lo && o.hi2 == o.hi) return Number(o.lo) + ".." + Number(o.hi);
      {
        // One range per number, as the value is written: "-180..180,-100..100,-100..100".
        std::string text = Number(o.lo) + ".." + Number(o.hi);
        for (int i = 1; i < o.counts[1]; ++i) text += "," + Number(o.lo2) + ".." + Number(o.hi2);
        return text;
      }
    case ValueKind::Word: {
      const std::vector<std::string> words = Words(o);
      std::string text;
      for (int i = 0; i < o.shownWords && i < static_cast<int>(words.size()); ++i) {
        text += (i == 0 ? "" : i + 1 == o.shownWords ? " or " : ", ") + words[i];
      }
      return text;
    }
    default:
      return std::string();
  }
}

std::string HelpText(const OptionDecl& o) {
  std::string text = o.help;
  const std::string range = RangeText(o);
  if (!range.empty()) text += ", " + range;
  if (o.required) {
    text += " (required)";
  } else if (o.value && o.kind != ValueKind::Flag) {
    text += std::string(" (default ") + o.value + ")";
  }
  // A detail that says what happens without the option stands in for the default.
  if (o.detail && std::strncmp(o.detail, "default:", 8) == 0) {
    text += std::string(" (") + o.detail + ")";
  } else if (o.detail && *o.detail) {
    text += std::string(": ") + o.detail;
  }
  return text;
}

}  // namespace cli
