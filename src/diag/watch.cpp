#include "diag/watch.hpp"

#include <cstring>

Watcher watcher;

void set_event_text(WatchEvent& event, const char* text) {
    std::strncpy(event.text, text, sizeof event.text - 1);
    event.text[sizeof event.text - 1] = '\0';
}
