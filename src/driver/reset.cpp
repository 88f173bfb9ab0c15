#include "driver/reset.hpp"

#include "lexer/lexer.hpp"
#include "lexer/reader.hpp"
#include "parser/warnings.hpp"
#include "symtab/symtab.hpp"
#include "vm/check.hpp"
#include "vm/code.hpp"
#include "vm/engine.hpp"
#include "vm/machine.hpp"

void reset_state() {
    close_source();
    reset_symtab();
    reset_code();
    forget_prepared();
    reset_warnings();
    reset_check_points();
    reset_machine();
    token = Token{};
    ch = ' ';
}
