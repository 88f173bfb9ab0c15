// The record of names for front ends that show a program's structure (the
// language server) and for the compiler's warnings (parser/warnings.hpp):
// every declaration with its place, and every use of a name with the
// declaration the scope rules chose and whether it reads or assigns.  The
// symbol table forgets a routine's names when its declaration ends; this
// record keeps them.
//
// It is written only while names_on; tsumiki never turns it on.
#pragma once

#include <cstdint>
#include <vector>

#include "diag/diag.hpp"
#include "symtab/symtab.hpp"

struct NameRecord {
    char name[MAX_NAME_LENGTH + 1];
    SymbolKind kind;
    bool parameter;
    std::int32_t level;
    std::int32_t offset;
    std::int32_t low;
    std::int32_t size;
    std::vector<SymbolKind> params;
    int parent; // the routine it belongs to, or -1
    SourcePos pos;
    SourcePos end;
    int code_first;
    int code_last;
};

// How a use touches the name.
enum class NameAccess : unsigned char {
    read,    // its value is read, or the routine is called
    write,   // it is assigned: ":=", read(...), a function's result
    address, // its address goes to a var parameter, through which it may be assigned
};

struct NameUseRecord {
    SourcePos pos;
    int length;
    int declaration;
    NameAccess access;
};

extern bool names_on;
extern std::vector<NameRecord> name_records;
extern std::vector<NameUseRecord> name_uses;

// A new symbol-table entry; its index in the record is kept in the entry.
void note_declaration(SymbolEntry& entry);
// The entry found for the current token.
void note_use(const SymbolEntry& entry);
// The use noted last, when it stands at the current token, is an access
// other than a read.
void note_access(NameAccess access);
// The declaration noted last is a parameter.
void note_parameter();
// The passing kind of a routine's parameter.
void note_param_kind(const SymbolEntry& routine, int position, SymbolKind passing);
// A routine's block has ended: its last instruction, and where its ";" stands.
void note_routine_end(const char* name, int code_last);

void reset_names();
