#include "vm/engine.hpp"

#include <cstring>

#include "vm/machine.hpp"
#if TSUMIKI_NATIVE
#include "vm/native.hpp"
#endif

bool engine_named(const char* name, Engine& engine) {
    if (name == nullptr) {
        engine = Engine::standard;
    } else if (std::strcmp(name, "native") == 0) {
        engine = Engine::native;
    } else if (std::strcmp(name, "interpreter") == 0) {
        engine = Engine::interpreter;
    } else {
        return false;
    }
    return true;
}

void run_on_engine(Engine engine, bool watched) {
#if TSUMIKI_NATIVE
    if (engine != Engine::interpreter && !watched && run_native()) return;
#else
    (void)engine;
    (void)watched;
#endif
    interpret_from_here();
}
