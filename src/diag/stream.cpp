#include "diag/stream.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

Writer text_out;

bool write_bytes(const Writer& to, const char* bytes, std::size_t n) {
    if (to.write != nullptr) return n == 0 || to.write(to.context, bytes, n);
    return std::fwrite(bytes, 1, n, stdout) == n && std::ferror(stdout) == 0;
}

bool flush_bytes(const Writer& to) {
    if (to.write != nullptr) return true;
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
}

std::size_t read_bytes(const Reader& from, char* bytes, std::size_t n) {
    if (from.read != nullptr) return from.read(from.context, bytes, n);
    for (;;) {
        ssize_t k = ::read(STDIN_FILENO, bytes, n);
        if (k < 0 && errno == EINTR) continue;
        return k > 0 ? static_cast<std::size_t>(k) : 0;
    }
}

namespace {

bool append_to_string(void* context, const char* bytes, std::size_t n) {
    static_cast<std::string*>(context)->append(bytes, n);
    return true;
}

std::size_t take_from_view(void* context, char* bytes, std::size_t n) {
    auto* rest = static_cast<std::string_view*>(context);
    std::size_t k = n < rest->size() ? n : rest->size();
    std::memcpy(bytes, rest->data(), k);
    rest->remove_prefix(k);
    return k;
}

} // namespace

Writer string_writer(std::string& sink) {
    return Writer{append_to_string, &sink};
}

Reader view_reader(std::string_view& rest) {
    return Reader{take_from_view, &rest};
}

bool text_vprintf(const char* format, std::va_list args) {
    char small[512];
    std::va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(small, sizeof small, format, args);
    bool ok = true;
    if (n < 0) {
        ok = false;
    } else if (static_cast<std::size_t>(n) < sizeof small) {
        ok = write_bytes(text_out, small, static_cast<std::size_t>(n));
    } else {
        std::string big(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), format, again);
        ok = write_bytes(text_out, big.data(), static_cast<std::size_t>(n));
    }
    va_end(again);
    return ok;
}

bool text_printf(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    bool ok = text_vprintf(format, args);
    va_end(args);
    return ok;
}
