// Reading a file whose path a user gave, checked on what was opened.
#include "driver/user_file.hpp"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The real place of an open file, from the kernel's own record of it;
// empty where there is none to be had.
std::string real_place(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    return std::string(target, static_cast<std::size_t>(n));
}

// `inner` lies at or under `outer` (both absolute and resolved).
bool lies_under(const std::string& inner, const std::string& outer) {
    if (outer == "/") return !inner.empty() && inner[0] == '/';
    if (inner.compare(0, outer.size(), outer) != 0) return false;
    return inner.size() == outer.size() || inner[outer.size()] == '/';
}

std::string resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string result(real);
    std::free(real);
    return result;
}

} // namespace

std::string refusal_text(FileRefusal refusal, std::size_t limit) {
    switch (refusal) {
    case FileRefusal::none: return "was read";
    case FileRefusal::missing: return "cannot be opened";
    case FileRefusal::not_regular: return "is not a regular file";
    case FileRefusal::too_large: return "is larger than " + std::to_string(limit) + " bytes";
    case FileRefusal::outside: return "lies outside its folder (a link out of it)";
    case FileRefusal::unreadable: return "cannot be read";
    }
    return "cannot be read";
}

bool is_inside_folder(const std::string& path, const std::string& folder) {
    std::string inner = resolved(path);
    std::string outer = resolved(folder);
    return !inner.empty() && !outer.empty() && lies_under(inner, outer);
}

FileRefusal read_user_file(const std::string& path, std::size_t limit, std::string& bytes,
                           const std::string& within) {
    bytes.clear();
    if (path.find('\0') != std::string::npos) return FileRefusal::missing;
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return FileRefusal::missing;
    struct stat st {};
    FileRefusal result = FileRefusal::none;
    if (fstat(fd, &st) != 0) {
        result = FileRefusal::unreadable;
    } else if (!S_ISREG(st.st_mode)) {
        result = FileRefusal::not_regular;
    } else if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > limit) {
        result = FileRefusal::too_large;
    } else if (!within.empty()) {
        std::string outer = resolved(within);
        std::string inner = real_place(fd);
        if (outer.empty() || inner.empty() || !lies_under(inner, outer))
            result = FileRefusal::outside;
    }
    // A regular file may still grow while it is read: never past the limit.
    char buffer[65536];
    while (result == FileRefusal::none) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result = FileRefusal::unreadable;
        } else if (n == 0) {
            break;
        } else if (bytes.size() + static_cast<std::size_t>(n) > limit) {
            result = FileRefusal::too_large;
        } else {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    close(fd);
    if (result != FileRefusal::none) bytes.clear();
    return result;
}
