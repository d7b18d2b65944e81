// marlo_docs: writes the manual page and the bash, zsh and fish completions of the tool from its
// option table, at build time, so that they list exactly the filters and options the tool
// parses. Usage: marlo_docs DIRECTORY (writes marlo.1, marlo.bash, _marlo and marlo.fish).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "option_table.h"

#ifndef MARLO_VERSION
#define MARLO_VERSION "0"
#endif

namespace cli {
namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// --- The manual page (roff, man macros) ----------------------------------------------------

std::string Roff(const std::string& text) {
  std::string out = Replace(Replace(text, "\\", "\\e"), "-", "\\-");
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

void ManOptions(std::ostream& out, const std::vector<OptionDecl>& options) {
  for (const OptionDecl& o : options) {
    const std::string names =
        Roff(ShortName(o).empty() ? LongName(o) : ShortName(o) + ", " + LongName(o));
    if (*o.metavar) {
      out << ".TP\n.BI \"" << names << " \" \"" << Roff(o.metavar) << "\"\n";
    } else {
      out << ".TP\n.B " << names << "\n";
    }
    out << Roff(HelpText(o)) << ".\n";
  }
}

// The help's closing paragraphs ("Chaining: ...", "Files: ...", "Exit status: ...") as
// sections; indented lines are examples, kept as they are.
void ManFooter(std::ostream& out) {
  std::istringstream paragraphs(Replace(kHelpFooter, "\n\n", "\f"));
  for (std::string paragraph; std::getline(paragraphs, paragraph, '\f');) {
    const size_t colon = paragraph.find(": ");
    out << ".SH " << Upper(paragraph.substr(0, colon)) << "\n";
    std::string body = paragraph.substr(colon + 2);
    body[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(body[0])));
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("  ", 0) == 0) {
        out << ".PP\n.nf\n.RS\n" << Roff(line.substr(2)) << "\n.RE\n.fi\n.PP\n";
      } else {
        out << Roff(line) << "\n";
      }
    }
  }
}

void WriteMan(std::ostream& out) {
  out << ".\\\" The manual of marlo, generated from the tool's option table.\n"
      << ".TH MARLO 1 \"\" \"marlo " << MARLO_VERSION << "\" \"User Commands\"\n.nh\n"
      << ".SH NAME\nmarlo \\- photographic enhancement filters for image files\n"
      << ".SH SYNOPSIS\n"
      << ".B marlo\n.I FILTER\n[\\fIoptions\\fR] \\fIINPUT\\fR... \\fB\\-o\\fR \\fIOUTPUT\\fR\n"
      << ".br\n.B marlo\n.I FILTER\n[\\fIoptions\\fR] [\\fB" << kChainWord
      << "\\fR \\fIFILTER\\fR [\\fIoptions\\fR]]... \\fIINPUT\\fR... \\fB\\-o\\fR "
         "\\fIOUTPUT\\fR\n";
  for (const CommandDecl& c : CommandDecls()) {
    out << ".br\n.B marlo " << c.name << "\n";
    if (!c.options.empty()) out << "[\\fIoptions\\fR]\n";
    if (*c.operand) {
      out << (c.operandRequired ? "\\fI" : "[\\fI") << Roff(c.operand)
          << (c.operandRequired ? "\\fR\n" : "\\fR]\n");
    }
  }
  out << ".br\n.B marlo \\-\\-help\n|\n.B \\-\\-version\n"
      << ".SH DESCRIPTION\n\\fBmarlo\\fR applies the filters of the marlo library to PNG, JPEG, "
         "TIFF and PNM files, 8 or 16 bits per sample. Each filter is a subcommand, and "
         "calls one export of the library. Values outside an option's range are refused "
         "before any file is read or written.\n"
      << ".SH FILTERS\n";
  for (const FilterDecl& f : FilterDecls()) {
    std::string summary = f.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    out << ".SS " << Roff(f.name) << "\n"
        << Roff(summary) << "; calls the export \\fB" << Roff(f.exportName) << "\\fR.";
    if (*f.rule) out << " " << Roff(f.rule) << ".";
    if (f.traits & kColourOnly) out << " Grey pictures are turned into RGB first.";
    if (f.traits & kMovesPixels) out << " An alpha channel is moved with the pixels.";
    out << "\n";
    ManOptions(out, f.options);
  }
  out << ".SH OPTIONS OF EVERY FILTER\n.TP\n.I INPUT...\n"
         "Input image files; \\- reads standard input.\n";
  ManOptions(out, CommonOptionDecls());
  out << ".TP\n.B \\-h, \\-\\-help\nThe filter's options, their ranges and defaults.\n"
      << ".SH OTHER COMMANDS\n";
  for (const CommandDecl& c : CommandDecls()) {
    const std::string operand = c.operandRequired ? c.operand : std::string("[") + c.operand + "]";
    out << ".SS " << c.name << (*c.operand ? " " + Roff(operand) : "") << "\n"
        << Roff(c.summary) << ".\n";
    ManOptions(out, c.options);
  }
  ManFooter(out);
  out << ".SH EXAMPLES\n.nf\n"
      << "marlo contrast \\-\\-contrast 20 \\-\\-brightness 5 photo.jpg \\-o out.jpg\n"
      << "marlo sharpen \\-\\-strength 60 *.png \\-o sharpened/ \\-j 4\n"
      << "marlo auto\\-levels then saturation \\-\\-amount 30 in.tif \\-o out.tif\n"
      << ".fi\n";
}

// --- Completions -------------------------------------------------------------------------------

std::string Join(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : separator) + w;
  return text;
}

std::vector<std::string> OptionWords(const std::vector<OptionDecl>& options) {
  std::vector<std::string> words;
  for (const OptionDecl& o : options) {
    if (!ShortName(o).empty()) words.push_back(ShortName(o));
    words.push_back(LongName(o));
  }
  return words;
}

std::vector<OptionDecl> EveryOption() {
  std::vector<OptionDecl> all = CommonOptionDecls();
  for (const FilterDecl& f : FilterDecls())
    all.insert(all.end(), f.options.begin(), f.options.end());
  for (const CommandDecl& c : CommandDecls())
    all.insert(all.end(), c.options.begin(), c.options.end());
  return all;
}

std::vector<std::string> FilterNames() {
  std::vector<std::string> names;
  for (const FilterDecl& f : FilterDecls()) names.push_back(f.name);
  return names;
}

std::vector<std::string> CommandNames() {
  std::vector<std::string> names;
  for (const CommandDecl& c : CommandDecls()) names.push_back(c.name);
  return names;
}

void WriteBash(std::ostream& out) {
  out << "# bash completion of marlo, generated from the tool's option table.\n"
         "_marlo() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd= i\n"
         "  # The filter or command of the chain's current part: the word after marlo or `"
      << kChainWord << "`.\n"
      << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    if ((i == 1)) || [[ ${COMP_WORDS[i-1]} == "
      << kChainWord << " ]]; then cmd=${COMP_WORDS[i]}; fi\n"
      << "  done\n"
         "  if [[ -z $cmd ]]; then\n"
         "    COMPREPLY=($(compgen -W '"
      << Join(FilterNames()) << " " << Join(CommandNames())
      << " -h --help -V --version' -- \"$cur\"))\n"
         "    return\n  fi\n"
         "  if [[ $prev == "
      << kChainWord << " ]]; then\n    COMPREPLY=($(compgen -W '" << Join(FilterNames())
      << "' -- \"$cur\"))\n    return\n  fi\n  case $prev in\n";
  // Values: words, file names, or nothing to offer for numbers.
  std::vector<std::string> paths, numbers;
  for (const OptionDecl& o : EveryOption()) {
    std::string names = LongName(o);
    if (!ShortName(o).empty()) names = ShortName(o) + "|" + names;
    if (o.kind == ValueKind::Word) {
      out << "    " << names << ") COMPREPLY=($(compgen -W '" << Join(Words(o))
          << "' -- \"$cur\")); return ;;\n";
    } else if (o.kind == ValueKind::Path) {
      paths.push_back(names);
    } else if (o.kind != ValueKind::Flag) {
      numbers.push_back(names);
    }
  }
  out << "    " << Join(paths, "|")
      << ") compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
      << "    " << Join(numbers, "|") << ") return ;;\n  esac\n  local opts= files=1\n"
      << "  case $cmd in\n";
  const std::string common = Join(OptionWords(CommonOptionDecls()));
  for (const FilterDecl& f : FilterDecls()) {
    out << "    " << f.name << ") opts='-h --help " << Join(OptionWords(f.options))
        << (f.options.empty() ? "" : " ") << common << "' ;;\n";
  }
  for (const CommandDecl& c : CommandDecls()) {
    out << "    " << c.name << ") opts='-h --help " << Join(OptionWords(c.options)) << "'"
        << (*c.operand ? "" : " files=") << " ;;\n";
  }
  out << "    *) return ;;\n  esac\n"
         "  if [[ $cur == -* ]]; then\n"
         "    COMPREPLY=($(compgen -W \"$opts\" -- \"$cur\"))\n"
         "  elif [[ -n $files ]]; then\n"
         "    compopt -o filenames 2>/dev/null\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "    [[ \" "
      << Join(FilterNames()) << " \" == *\" $cmd \"* ]] && COMPREPLY+=($(compgen -W '" << kChainWord
      << "' -- \"$cur\"))\n"
         "  fi\n}\ncomplete -F _marlo marlo\n";
}

// Text in single quotes for the shell.
std::string Quoted(const std::string& text) {
  return "'" + Replace(text, "'", "'\\''") + "'";
}

// Text inside a single-quoted _arguments specification, within its [description].
std::string ZshText(const std::string& text) {
  return Replace(Replace(Replace(Replace(text, "'", "'\\''"), "[", "\\["), "]", "\\]"), ":", "\\:");
}

std::string ZshArgument(const OptionDecl& o) {
  std::string rest = "[" + ZshText(o.help) + "]";
  if (o.kind == ValueKind::Word) {
    rest += ":" + std::string(o.metavar) + ":(" + Join(Words(o)) + ")";
  } else if (o.kind == ValueKind::Path) {
    rest += ":" + std::string(o.metavar) + ":_files";
  } else if (o.kind != ValueKind::Flag) {
    rest += ":" + std::string(o.metavar) + ": ";
  }
  if (ShortName(o).empty()) return "'" + LongName(o) + rest + "'";
  return "'(" + ShortName(o) + " " + LongName(o) + ")'{" + ShortName(o) + "," + LongName(o) + "}'" +
         rest + "'";
}

void WriteZsh(std::ostream& out) {
  out << "#compdef marlo\n# zsh completion of marlo, generated from the tool's option table.\n\n"
         "_marlo_inputs() {\n  _files\n  compadd "
      << kChainWord << "\n}\n\n_marlo() {\n  local -a filters commands common\n  filters=(\n";
  for (const FilterDecl& f : FilterDecls()) {
    out << "    " << Quoted(std::string(f.name) + ":" + f.summary) << "\n";
  }
  out << "  )\n  commands=(\n";
  for (const CommandDecl& c : CommandDecls()) {
    out << "    " << Quoted(std::string(c.name) + ":" + c.summary) << "\n";
  }
  out << "  )\n  common=(\n    '(- *)'{-h,--help}'[The options, their ranges and defaults]'\n";
  for (const OptionDecl& o : CommonOptionDecls()) out << "    " << ZshArgument(o) << "\n";
  out << "  )\n"
         "  # The chain's current part starts after marlo or the last `"
      << kChainWord << "`.\n"
      << "  local i start=2\n"
         "  for ((i = 2; i < CURRENT; i++)); do\n"
         "    [[ ${words[i]} == "
      << kChainWord
      << " ]] && start=$((i + 1))\n"
         "  done\n"
         "  if ((CURRENT == start)); then\n"
         "    _describe -t filters filter filters\n"
         "    ((start == 2)) && _describe -t commands command commands && "
         "compadd -- -h --help -V --version\n"
         "    return\n  fi\n"
         "  words=(marlo \"${(@)words[start,-1]}\")\n"
         "  ((CURRENT = CURRENT - start + 2))\n"
         "  case ${words[2]} in\n";
  for (const FilterDecl& f : FilterDecls()) {
    out << "    " << f.name << ") _arguments -s : \"${common[@]}\"";
    for (const OptionDecl& o : f.options) out << " \\\n        " << ZshArgument(o);
    out << " \\\n        '*:input or " << kChainWord << ":_marlo_inputs' ;;\n";
  }
  for (const CommandDecl& c : CommandDecls()) {
    out << "    " << c.name << ") _arguments -s : '(- *)'{-h,--help}'[The options]'";
    for (const OptionDecl& o : c.options) out << " \\\n        " << ZshArgument(o);
    if (*c.operand) out << " \\\n        '*:" << c.operand << ":_files'";
    out << " ;;\n";
  }
  out << "  esac\n}\n\n_marlo \"$@\"\n";
}

void FishOptions(std::ostream& out, const std::string& condition,
                 const std::vector<OptionDecl>& options) {
  for (const OptionDecl& o : options) {
    out << "complete -c marlo -n " << Quoted(condition);
    if (!ShortName(o).empty()) out << " -s " << ShortName(o).substr(1);
    out << " -l " << LongName(o).substr(2);
    if (o.kind == ValueKind::Word) {
      out << " -x -a " << Quoted(Join(Words(o)));
    } else if (o.kind == ValueKind::Path) {
      out << " -r -F";
    } else if (o.kind != ValueKind::Flag) {
      out << " -x";
    }
    out << " -d " << Quoted(o.help) << "\n";
  }
}

void WriteFish(std::ostream& out) {
  const std::string then = kChainWord;
  out << "# fish completion of marlo, generated from the tool's option table.\n"
         "# True where a filter is due: after marlo or `"
      << then << "`.\n"
      << "function __marlo_at_filter\n"
         "    set -l words (commandline -opc)\n"
         "    test (count $words) -eq 1; or test \"$words[-1]\" = "
      << then
      << "\n"
         "end\n"
         "# The filter or command of the chain's current part.\n"
         "function __marlo_part\n"
         "    set -l part ''\n"
         "    set -l previous ''\n"
         "    set -l first 1\n"
         "    for word in (commandline -opc)\n"
         "        if test $first = 1\n"
         "            set first 0\n"
         "        else if test -z \"$part\"; or test \"$previous\" = "
      << then
      << "\n"
         "            set part $word\n"
         "        end\n"
         "        set previous $word\n"
         "    end\n"
         "    echo $part\n"
         "end\n"
         "function __marlo_in\n"
         "    not __marlo_at_filter; and contains -- (__marlo_part) $argv\n"
         "end\n"
         "complete -c marlo -f\n";
  const std::string start = "test (count (commandline -opc)) -eq 1";
  for (const FilterDecl& f : FilterDecls()) {
    out << "complete -c marlo -n __marlo_at_filter -a " << f.name << " -d " << Quoted(f.summary)
        << "\n";
  }
  for (const CommandDecl& c : CommandDecls()) {
    out << "complete -c marlo -n " << Quoted(start) << " -a " << c.name << " -d "
        << Quoted(c.summary) << "\n";
  }
  out << "complete -c marlo -n " << Quoted(start)
      << " -s V -l version -d 'The version of marlo and its libraries'\n"
      << "complete -c marlo -s h -l help -d 'The options, their ranges and defaults'\n";
  const std::string filters = "__marlo_in " + Join(FilterNames());
  for (const FilterDecl& f : FilterDecls()) {
    FishOptions(out, "__marlo_in " + std::string(f.name), f.options);
  }
  FishOptions(out, filters, CommonOptionDecls());
  out << "complete -c marlo -n " << Quoted(filters) << " -F -a " << kChainWord
      << " -d 'Then another filter'\n";
  for (const CommandDecl& c : CommandDecls()) {
    FishOptions(out, "__marlo_in " + std::string(c.name), c.options);
    if (*c.operand)
      out << "complete -c marlo -n " << Quoted("__marlo_in " + std::string(c.name)) << " -F\n";
  }
}

}  // namespace
}  // namespace cli

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: marlo_docs DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];
  const struct {
    const char* name;
    void (*write)(std::ostream&);
  } files[] = {{"marlo.1", cli::WriteMan},
               {"marlo.bash", cli::WriteBash},
               {"_marlo", cli::WriteZsh},
               {"marlo.fish", cli::WriteFish}};
  for (const auto& f : files) {
    std::ofstream out(dir + "/" + f.name);
    f.write(out);
    out.close();
    if (!out) {
      std::fprintf(stderr, "marlo_docs: cannot write %s/%s\n", dir.c_str(), f.name);
      return 1;
    }
  }
  return 0;
}
