// Output files that appear only once complete. The bytes go to a temporary file in the target's
// folder, renamed over the target at the end; until then, and whenever the work fails or is
// interrupted, an earlier file of that name stays exactly as it was.
#pragma once

#include <csignal>
#include <string>

namespace tools {

// A tool stopped by a signal exits with 128 + its number, as a shell reports a killed program:
// 129 SIGHUP, 130 SIGINT (Ctrl-C), 131 SIGQUIT, 143 SIGTERM.
constexpr int exitSignalBase = 128;

// The signal that asked the tool to stop; 0 while none has.
inline volatile std::sig_atomic_t stopSignal = 0;

// From here on SIGHUP, SIGINT, SIGQUIT and SIGTERM only set stopSignal, so that the work can end
// cleanly. Without SA_RESTART a write blocked on a pipe returns, and the tool stops there too.
// Past a file size limit a write fails and is reported instead of ending the process.
void catchStopSignals();

struct OutputFile {
    std::string path;      // as named on the command line
    std::string finalPath; // where it lands: symbolic links resolved, so the link survives
    std::string tempPath;  // empty when written in place
    int fd;                // -1 when closed
    bool inPlace;          // standard output ("-"), or a device or pipe named as the output
};

// Creates the temporary file, or opens standard output or the device in place. On failure
// false, with the reason in the system's words ("No such file or directory").
bool openOutput(OutputFile* file, const char* path, std::string* reason);
// Puts the finished file in place: to disk, closed, renamed over the target. On failure, or when
// a stop signal came first, the temporary file is removed and the reason given.
bool commitOutput(OutputFile* file, std::string* reason);
// Closes and removes the temporary file, if any. Safe to call more than once.
void abandonOutput(OutputFile* file);

// True when the output would overwrite the input: both name one existing file (same device and
// inode). "-" is standard input as the input and standard output as the output.
bool outputIsInput(const char* input, const char* output);
// True when two outputs land on the same file, whether it exists yet or not.
bool sameOutput(const char* a, const char* b);

// The name's extension in lower case, without the dot; empty when there is none.
std::string extensionOf(const char* path);

} // namespace tools
