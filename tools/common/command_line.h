// One table per tool: its options with their help, and its exit codes. getopt_long reads the
// command line from the table and --help is printed from it, so the two cannot disagree.
#pragma once

#include <getopt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace tools {

struct OptionSpec {
    int id;            // what nextOption returns for it; a printable id is also its short form
    const char* name;  // the long name, without dashes
    const char* value; // the value's name in --help ("N", "FILE"), null for a switch
    const char* help;  // lines separated by '\n'
};

struct ExitSpec {
    int code;
    const char* meaning;
};

struct ToolSpec {
    const char* name;
    const char* synopsis;    // one form of the command per line, without the tool's name
    const char* description; // printed after the synopsis
    const OptionSpec* options;
    int optionCount;
    const char* notes; // printed after the options (keys and the like); may be null
    const ExitSpec* exits;
    int exitCount;
};

// Ids that every tool's table holds.
constexpr int optionHelp = 'h';
constexpr int optionVersion = 0x100;
// Ids above this one are the tools' own long-only options.
constexpr int optionFirstLongOnly = 0x101;

// The options of every tool that plays a song (what the listener asks of it); a tool's own
// long-only options take ids from optionFirstToolOwn on.
enum ListenerOptionId : int {
    optionGain = optionFirstLongOnly,
    optionSeparation,
    optionStart,
    optionMute,
    optionSolo,
    optionInterpolation,
    optionFirstToolOwn,
};

// A tool's whole table: its own rows, then the listener's options when it plays songs, then
// --help and --version.
std::vector<OptionSpec> optionTable(const OptionSpec* own, int ownCount, bool listenerRows);

// nextOption's results besides an option's id.
constexpr int commandLineEnd = -1;
constexpr int commandLineWrong = -2;

struct CommandLine {
    const ToolSpec* spec;
    int argc;
    char** argv;
    std::vector<option> longOptions;
    std::string shortOptions;
};

void startCommandLine(CommandLine* line, const ToolSpec& spec, int argc, char** argv);
// The next option's id with its value (null for a switch), commandLineEnd after the last one,
// or commandLineWrong after printing what is wrong. Options may come after file names and
// "--" ends them, as getopt_long does it.
int nextOption(CommandLine* line, const char** value);
// The arguments that are not options, in order, once nextOption has returned commandLineEnd.
std::vector<const char*> operands(const CommandLine& line);

void printHelp(const ToolSpec& spec, FILE* out);
// "TOOL: MESSAGE (TOOL --help lists the options)" for a wrong command line.
void complain(const ToolSpec& spec, const char* message);

} // namespace tools
