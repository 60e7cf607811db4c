// Temporary file beside the target, then rename: rename within one folder replaces the target
// in one step, so a reader sees either the earlier file or the complete new one.
#include "tools/common/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tools {
namespace {

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The path with its symbolic links resolved when it exists, else as given.
std::string resolved(const char* path) {
    char buffer[PATH_MAX];
    return realpath(path, buffer) != nullptr ? std::string(buffer) : std::string(path);
}

// What a newly created file gets: 0666 less the process's umask.
mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

bool statOf(const char* path, bool isStream, int streamFd, struct stat* st) {
    return isStream ? fstat(streamFd, st) == 0 : stat(path, st) == 0;
}

void onStopSignal(int sig) {
    stopSignal = sig;
}

} // namespace

void catchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaction(sig, &sa, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

std::string extensionOf(const char* path) {
    const std::string base = baseOf(path);
    const size_t dot = base.rfind('.');
    if (dot == std::string::npos || dot == 0) return "";
    std::string extension = base.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

bool openOutput(OutputFile* file, const char* path, std::string* reason) {
    *file = OutputFile{path, "", "", -1, false};
    if (std::strcmp(path, "-") == 0) {
        file->fd = STDOUT_FILENO;
        file->inPlace = true;
        return true;
    }
    struct stat st {};
    if (stat(path, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *reason = std::strerror(EISDIR);
            return false;
        }
        // A device or a pipe has nothing to lose and cannot be renamed over.
        if (!S_ISREG(st.st_mode)) {
            file->fd = open(path, O_WRONLY | O_CLOEXEC);
            if (file->fd < 0) {
                *reason = std::strerror(errno);
                return false;
            }
            file->inPlace = true;
            return true;
        }
    }
    file->finalPath = resolved(path);
    // Writing in place would be refused for a file we may not write; replacing it is no less.
    if (access(file->finalPath.c_str(), F_OK) == 0 && access(file->finalPath.c_str(), W_OK) != 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // The extension stays last, for libraries that pick a format by the name.
    const std::string extension = extensionOf(file->finalPath.c_str());
    const std::string suffix = extension.empty() ? "" : "." + extension;
    std::string name =
        folderOf(file->finalPath) + "/." + baseOf(file->finalPath) + ".XXXXXX" + suffix;
    file->fd = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (file->fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    file->tempPath = name;
    return true;
}

bool commitOutput(OutputFile* file, std::string* reason) {
    if (file->inPlace) {
        bool ok = true;
        if (file->fd > STDERR_FILENO) {
            ok = close(file->fd) == 0;
            if (!ok) *reason = std::strerror(errno);
        }
        file->fd = -1;
        return ok;
    }
    if (file->tempPath.empty()) {
        *reason = "no file to finish";
        return false;
    }
    // An earlier file keeps its permissions; a new one gets what creating it would have given.
    struct stat earlier {};
    const mode_t mode =
        stat(file->finalPath.c_str(), &earlier) == 0 ? earlier.st_mode & 07777 : newFileMode();
    bool ok = true;
    if (file->fd >= 0) {
        ok = fchmod(file->fd, mode) == 0 && fsync(file->fd) == 0;
        if (!ok) *reason = std::strerror(errno);
        if (close(file->fd) != 0 && ok) {
            ok = false;
            *reason = std::strerror(errno);
        }
        file->fd = -1;
    } else if (chmod(file->tempPath.c_str(), mode) != 0) {
        ok = false;
        *reason = std::strerror(errno);
    }
    // The last moment a stop can still leave the earlier file as it was.
    if (ok && stopSignal != 0) {
        ok = false;
        *reason = "stopped by a signal";
    }
    if (ok && rename(file->tempPath.c_str(), file->finalPath.c_str()) != 0) {
        ok = false;
        *reason = std::strerror(errno);
    }
    if (!ok) {
        abandonOutput(file);
        return false;
    }
    file->tempPath.clear();
    return true;
}

void abandonOutput(OutputFile* file) {
    if (file->fd > STDERR_FILENO) close(file->fd);
    file->fd = -1;
    if (!file->tempPath.empty()) unlink(file->tempPath.c_str());
    file->tempPath.clear();
}

bool outputIsInput(const char* input, const char* output) {
    const bool inputStream = std::strcmp(input, "-") == 0;
    const bool outputStream = std::strcmp(output, "-") == 0;
    struct stat in {
    }, out{};
    if (!statOf(input, inputStream, STDIN_FILENO, &in) ||
        !statOf(output, outputStream, STDOUT_FILENO, &out)) {
        return false;
    }
    // Standard input and output on one terminal or pipe are not one file to lose.
    if (!S_ISREG(in.st_mode)) return false;
    return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

bool sameOutput(const char* a, const char* b) {
    if (std::strcmp(a, "-") == 0 || std::strcmp(b, "-") == 0) return std::strcmp(a, b) == 0;
    struct stat sa {
    }, sb{};
    if (stat(a, &sa) == 0 && stat(b, &sb) == 0) {
        // Two outputs into /dev/null lose nothing.
        if (!S_ISREG(sa.st_mode)) return false;
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }
    // Not there yet: the same folder and name.
    const std::string ra = resolved(folderOf(a).c_str()) + "/" + baseOf(a);
    const std::string rb = resolved(folderOf(b).c_str()) + "/" + baseOf(b);
    return ra == rb;
}

} // namespace tools
