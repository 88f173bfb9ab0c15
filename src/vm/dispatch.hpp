// How the interpreter goes from one instruction to the next, chosen here
// once.  With GCC and Clang every case ends in its own indirect jump through
// a table of label addresses; elsewhere (or with TSUMIKI_SWITCH_DISPATCH) the
// loop is a plain switch.  The cases are written once, with:
//
//   vm_loop_begin     fetch the first instruction and dispatch it
//   vm_case(NAME)     begin the case of VM_NAME
//   vm_next           end a case: fetch and dispatch the next instruction
//   vm_dispatch(op)   run the case of op on the instruction already fetched
//   vm_loop_end       close the loop
//
// The user of these macros defines VM_FETCH() (leaves the decoded op in
// `vm_op`), VM_TARGET (the label address of the fetched op, for instance
// looked up once when the code was loaded) and, for the jump table,
// `vm_labels`.
#pragma once

#if defined(__GNUC__) && !defined(TSUMIKI_SWITCH_DISPATCH)
#define VM_COMPUTED_GOTO 1
#else
#define VM_COMPUTED_GOTO 0
#endif

#if VM_COMPUTED_GOTO
#define vm_label(name) &&L_##name
#define vm_loop_begin                                                                              \
    VM_FETCH();                                                                                    \
    goto* VM_TARGET;
#define vm_case(name) L_##name:
#define vm_next                                                                                    \
    VM_FETCH();                                                                                    \
    goto* VM_TARGET
#define vm_dispatch(op) goto* vm_labels[op]
#define vm_loop_end
#else
#define vm_loop_begin                                                                              \
    for (;;) {                                                                                     \
        VM_FETCH();                                                                                \
    vm_switch:                                                                                     \
        switch (vm_op) {
#define vm_case(name) case VM_##name:
#define vm_next       continue
#define vm_dispatch(op)                                                                            \
    do {                                                                                           \
        vm_op = (op);                                                                              \
        goto vm_switch;                                                                            \
    } while (0)
#define vm_loop_end                                                                                \
    }                                                                                              \
    }
#endif
