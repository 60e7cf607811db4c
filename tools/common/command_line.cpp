// getopt_long driven by a tool's table, and the --help made from the same table.
#include "tools/common/command_line.h"

#include <cctype>
#include <cstring>
#include <iterator>

namespace tools {
namespace {

constexpr int helpIndent = 26;

// Prints text with every line after the first indented to column `indent`.
void printIndented(FILE* out, const char* text, int indent) {
    for (const char* p = text; *p != 0; ++p) {
        std::fputc(*p, out);
        if (*p == '\n' && p[1] != 0) std::fprintf(out, "%*s", indent, "");
    }
    std::fputc('\n', out);
}

} // namespace

void startCommandLine(CommandLine* line, const ToolSpec& spec, int argc, char** argv) {
    line->spec = &spec;
    line->argc = argc;
    line->argv = argv;
    line->longOptions.clear();
    // ':' first: a missing value comes back as ':' instead of getopt's own message.
    line->shortOptions.assign(1, ':');
    for (int i = 0; i < spec.optionCount; ++i) {
        const OptionSpec& o = spec.options[i];
        line->longOptions.push_back(
            option{o.name, o.value != nullptr ? required_argument : no_argument, nullptr, o.id});
        if (o.id < optionVersion && std::isprint(o.id)) {
            line->shortOptions += static_cast<char>(o.id);
            if (o.value != nullptr) line->shortOptions += ':';
        }
    }
    line->longOptions.push_back(option{nullptr, 0, nullptr, 0});
    opterr = 0;
    optind = 0; // 0 also starts getopt over, should a program read two command lines
}

int nextOption(CommandLine* line, const char** value) {
    const int got = getopt_long(line->argc, line->argv, line->shortOptions.c_str(),
                                line->longOptions.data(), nullptr);
    *value = optarg;
    if (got == -1) return commandLineEnd;
    if (got != '?' && got != ':') return got;
    // The option getopt stopped at: the previous argument for long options and missing values.
    const char* said = line->argv[optind - 1];
    const char* equals = std::strchr(said, '=');
    const int nameLength =
        equals != nullptr ? static_cast<int>(equals - said) : static_cast<int>(std::strlen(said));
    char text[256];
    if (got == ':') {
        std::snprintf(text, sizeof text, "%s needs a value", said);
    } else if (optopt == 0) {
        std::snprintf(text, sizeof text, "unknown option %.*s", nameLength, said);
    } else if (said[0] == '-' && said[1] == '-') {
        std::snprintf(text, sizeof text, "%.*s takes no value", nameLength, said);
    } else {
        std::snprintf(text, sizeof text, "unknown option -%c", optopt);
    }
    complain(*line->spec, text);
    return commandLineWrong;
}

std::vector<const char*> operands(const CommandLine& line) {
    std::vector<const char*> result;
    for (int i = optind; i < line.argc; ++i) result.push_back(line.argv[i]);
    return result;
}

void printHelp(const ToolSpec& spec, FILE* out) {
    const char* form = spec.synopsis;
    bool first = true;
    while (*form != 0) {
        const char* end = std::strchr(form, '\n');
        const int length =
            end != nullptr ? static_cast<int>(end - form) : static_cast<int>(std::strlen(form));
        std::fprintf(out, "%s %s %.*s\n", first ? "usage:" : "      ", spec.name, length, form);
        first = false;
        form += length + (end != nullptr ? 1 : 0);
    }
    std::fprintf(out, "%s\n\nOptions:\n", spec.description);
    for (int i = 0; i < spec.optionCount; ++i) {
        const OptionSpec& o = spec.options[i];
        char left[64];
        const bool hasShort = o.id < optionVersion && std::isprint(o.id);
        std::snprintf(left, sizeof left, "  %c%c%s--%s%s%s", hasShort ? '-' : ' ',
                      hasShort ? static_cast<char>(o.id) : ' ', hasShort ? ", " : "  ", o.name,
                      o.value != nullptr ? " " : "", o.value != nullptr ? o.value : "");
        const int width = static_cast<int>(std::strlen(left));
        if (width + 2 > helpIndent) {
            std::fprintf(out, "%s\n%*s", left, helpIndent, "");
        } else {
            std::fprintf(out, "%-*s", helpIndent, left);
        }
        printIndented(out, o.help, helpIndent);
    }
    if (spec.notes != nullptr) std::fprintf(out, "\n%s\n", spec.notes);
    std::fprintf(out, "\nExit codes:\n");
    for (int i = 0; i < spec.exitCount; ++i) {
        std::fprintf(out, "  %-5d ", spec.exits[i].code);
        printIndented(out, spec.exits[i].meaning, 8);
    }
}

void complain(const ToolSpec& spec, const char* message) {
    std::fprintf(stderr, "%s: %s (%s --help lists the options)\n", spec.name, message, spec.name);
}

namespace {

const OptionSpec listenerRows[] = {
    {optionGain, "gain", "DB",
     "gain in dB, -96 to 24 (default 0); above 0 can\nclip 16-bit output"},
    {optionSeparation, "stereo-separation", "PCT",
     "0 (mono) to 200 % (default 100, the module's\npanning as it is)"},
    {optionStart, "start", "TIME",
     "start at TIME into the song: 1:20, 80.5 (seconds)\nor order:N (orders from 0)"},
    {optionMute, "mute", "LIST", "silence channels, numbered from 1: 1,3,5-8"},
    {optionSolo, "solo", "LIST", "hear only these channels (LIST as for --mute)"},
    {optionInterpolation, "interpolation", "NAME",
     "between sample frames: linear (default), none\n(held frames) or cubic (a spline; costs "
     "more)"},
};

const OptionSpec standardRows[] = {
    {optionHelp, "help", nullptr, "print this and exit"},
    {optionVersion, "version", nullptr, "print the version and exit"},
};

} // namespace

std::vector<OptionSpec> optionTable(const OptionSpec* own, int ownCount, bool withListenerRows) {
    std::vector<OptionSpec> table(own, own + ownCount);
    if (withListenerRows)
        table.insert(table.end(), std::begin(listenerRows), std::end(listenerRows));
    table.insert(table.end(), std::begin(standardRows), std::end(standardRows));
    return table;
}

} // namespace tools
