#include "judge/report_files.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

bool open_report(ReportFile& file) {
    // A device or a pipe the teacher named (/dev/stdout, a FIFO) is written
    // as it is: there is nothing to rename over.
    struct stat st {};
    if (stat(file.path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        file.fd = open(file.path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        return file.fd >= 0;
    }
    std::string name = file.path + ".XXXXXX";
    int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    file.temporary = name;
    file.fd = fd;
    return true;
}

bool finish_report(ReportFile& file, const std::string& text) {
    if (file.fd < 0) return false;
    std::size_t written = 0;
    bool good = true;
    while (good && written < text.size()) {
        ssize_t n = write(file.fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        good = n > 0;
        if (good) written += static_cast<std::size_t>(n);
    }
    bool direct = file.temporary.empty();
    // mkstemp makes the file for its owner alone; a report is read by others
    // as any new file would be.
    mode_t mask = umask(0);
    umask(mask);
    good = good && (direct || fchmod(file.fd, 0666 & ~mask) == 0);
    good = close(file.fd) == 0 && good;
    file.fd = -1;
    if (direct) return good;
    good = good && std::rename(file.temporary.c_str(), file.path.c_str()) == 0;
    if (!good) unlink(file.temporary.c_str());
    file.temporary.clear();
    return good;
}

void discard_report(ReportFile& file) {
    if (file.fd >= 0) close(file.fd);
    file.fd = -1;
    if (!file.temporary.empty()) unlink(file.temporary.c_str());
    file.temporary.clear();
}

bool same_file_as_any(const std::string& path, const std::vector<std::string>& others) {
    struct stat report {};
    bool exists = stat(path.c_str(), &report) == 0;
    std::string lexical = std::filesystem::path(path).lexically_normal().string();
    for (const std::string& other : others) {
        struct stat st {};
        if (exists && stat(other.c_str(), &st) == 0 && st.st_dev == report.st_dev &&
            st.st_ino == report.st_ino)
            return true;
        if (!exists && std::filesystem::path(other).lexically_normal().string() == lexical)
            return true;
    }
    return false;
}
