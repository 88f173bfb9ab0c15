#include "driver/terminal.hpp"

#include <clocale>
#include <strings.h>

#include <langinfo.h>
#include <unistd.h>

bool utf8_terminal(int fd) {
    if (isatty(fd) == 0) return false;
    if (std::setlocale(LC_CTYPE, "") == nullptr) return false; // an unknown locale
    const char* codeset = nl_langinfo(CODESET);
    const bool utf8 = codeset != nullptr &&
                      (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
    std::setlocale(LC_CTYPE, "C");
    return utf8;
}
