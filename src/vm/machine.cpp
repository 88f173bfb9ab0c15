#include "vm/machine.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "diag/diag.hpp"
#include "diag/trace.hpp"
#include "vm/dispatch.hpp"
#include "vm/runtime.hpp"

std::int32_t p = 0;
std::int32_t b = 0;
std::int32_t t = 0;
Instruction ir = {};
std::int32_t ir_pc = -1;
std::uint64_t instruction_budget = 0;
const std::atomic<bool>* stop_flag = nullptr;

namespace {

std::int32_t stack_cells[1 + STACK_SIZE]; // the spare cell, then s[0] .. s[999]

} // namespace

std::int32_t* const s = stack_cells + 1;

namespace {

// The operations the loop dispatches on.  First the 18 opcodes and two of
// the loop's own: an op byte outside the instruction set, and the end of the
// code store.  Then faster forms of single instructions: LOD and STR of
// levels 0 to 2, LDA of level 0, MST of levels 0 and 1, a jump whose target
// lies outside the store, and OPR and COP with each sub-code.
// Last the fused steps, each doing the work of a short run of instructions
// that the compiler emits often (C stands for LDC, L for LOD 0,a):
//
//   C_ADD     LDC; OPR 0,1              CC_ADD    LDC; LDC; OPR 0,1
//   CL_ADD_S  LDC; LOD 0,a; OPR 0,1; STR 0,a   (CL_ADD_SU: then UJP 0,x)
//   LL_LT_J   LOD 0,a; LOD 0,a; COP 0,5; FJP 0,x
//   C_LT_J    LDC; COP 0,5; FJP 0,x     C_S       LDC; STR 0,a
//
// and so on for every operation and both kinds of operand; and for arrays
// and calls:
//
//   ELEM_CL   LDA 0,a; LDC; LOD 0,a; OPR 0,2; OPR 0,2   (the address of an
//             element; ELEM_CL_I also reads it with the IND 0,k that follows)
//   SUB2_I    OPR 0,2; OPR 0,2; IND 0,k   L_I   LOD 0,a; IND 0,k
//   CUP_ENT   CUP n,x where x holds UJP 0,y and y holds ENT 0,m
//   SUB2      OPR 0,2; OPR 0,2          C_STO     LDC; STO 0,0
//   CL_P      LDC; LOD 0,a (before neither an operation nor an operand)
//   LDA_C     LDA 0,a; LDC (an element address whose index is worked out)
//
// and, on what the stack holds already:
//
//   ADD_S     OPR 0,1; STR 0,a          C_ADD_S   LDC; OPR 0,1; STR 0,a
//   LT_J      COP 0,5; FJP 0,x          UJP_FRT   UJP 0,x where x holds FRT
//
// and calls with one argument, the CUP fused with its UJP and ENT:
//
//   CALL_L    MST l,a; LOD 0,a; CUP n,p   (CALL_C: LDC for the LOD)
//   CALL_LC_SUB  MST l,a; LOD 0,a; LDC; OPR 0,2; CUP n,p
//   MST_LC_SUB   the same without the CUP (a first argument of several)
//   LL_P_CUP  LOD 0,a; LOD 0,a; CUP n,p   (L_CUP: one operand)
//   S_FRT     STR 0,a; FRT (or a UJP to it; S_RET: to a RET)
//   L_SU      LOD 0,a; STR 0,a; UJP 0,x   (C_SU: LDC for the LOD)
//   ELEM_LC_ADD  LDA 0,a; LDC; LOD 0,a; LDC; OPR 0,1; OPR 0,2; OPR 0,2
//             (the address of an element whose index is a sum, a difference
//             or a product; ELEM_LC_ADD_I: then IND 0,k)
//   ELEM_CL_SC   ELEM_CL, then LDC; STO 0,0 (an element assigned a constant;
//             _SL: a variable; ELEM_LC_ADD_SC and so on likewise)
//   READ      LDA 0,a; GET; STO 0,0
//   L_I_S     LOD 0,a; IND 0,k; STR 0,a   LL_STO   LOD 0,a; LOD 0,a; STO 0,0
//   L_LI_STO  LOD 0,a; LOD 0,a; IND 0,k; STO 0,0   (through references)
//   AM_LLC    LOD 0,a; LOD 0,a; LDC; OPR 0,3; OPR 0,1   (x + y * z)
//   MA_LLC    LOD 0,a; LOD 0,a; OPR 0,3; LDC; OPR 0,1   (x * y + z)
//   ELEM_MA_LLL  LDA 0,a; LDC; then MA_LLL; OPR 0,2; OPR 0,2 (an element of a
//             matrix kept in a flat array; ELEM_MA_LLL_I: then IND 0,k)
//
// and, for variables of enclosing blocks (U stands for LOD l,a with l of 1
// or more, SN for STR l,a with l of 1 or more):
//
//   U_ADD     LOD l,a; OPR 0,1          U_ADD_S   LOD l,a; OPR 0,1; STR 0,a
//   ADD_SN    OPR 0,1; STR l,a          UC_ADD_SN LOD l,a; LDC; OPR 0,1; STR l,a
//
// and the remainder, x - x div y * y, of a variable x and an operand y:
//
//   REM_C     LOD 0,a; LOD 0,a; LDC k; OPR 0,4; LDC k; OPR 0,3; OPR 0,2
//             (REM_L: LOD 0,c for both LDC; REM_C_S, REM_L_S: then STR 0,a)
#define VM_BINOPS(M, X)                                                                            \
    M(X, ADD) M(X, SUB) M(X, MUL) M(X, DIV) M(X, EQ) M(X, NEQ) M(X, GT) M(X, GEQ) M(X, LT) M(X, LEQ)
#define VM_ARITHS(M, X)  M(X, ADD) M(X, SUB) M(X, MUL) M(X, DIV)
#define VM_COPS(M, X)    M(X, EQ) M(X, NEQ) M(X, GT) M(X, GEQ) M(X, LT) M(X, LEQ)
#define VM_ONE(X, op)    X(op)
#define VM_X_(X, op)     X(C_##op) X(L_##op)
#define VM_XY_(X, op)    X(CC_##op) X(CL_##op) X(LC_##op) X(LL_##op)
#define VM_XYS_(X, op)   X(CC_##op##_S) X(CL_##op##_S) X(LC_##op##_S) X(LL_##op##_S)
#define VM_XYJ_(X, op)   X(CC_##op##_J) X(CL_##op##_J) X(LC_##op##_J) X(LL_##op##_J)
#define VM_XJ_(X, op)    X(C_##op##_J) X(L_##op##_J)
#define VM_XYSU_(X, op)  X(CC_##op##_SU) X(CL_##op##_SU) X(LC_##op##_SU) X(LL_##op##_SU)
#define VM_S_(X, op)     X(op##_S) X(op##_S_FRT) X(op##_S_RET)
#define VM_XS_(X, op)    X(C_##op##_S) X(L_##op##_S)
#define VM_J_(X, op)     X(op##_J)
#define VM_ELEMOPS(M, X) M(X, ADD) M(X, SUB) M(X, MUL)
#define VM_ELEMXY_(X, op)                                                                          \
    X(ELEM_CC_##op)                                                                                \
    X(ELEM_CL_##op)                                                                                \
    X(ELEM_LC_##op)                                                                                \
    X(ELEM_LL_##op) X(ELEM_CC_##op##_I) X(ELEM_CL_##op##_I) X(ELEM_LC_##op##_I) X(ELEM_LL_##op##_I)
#define VM_UP_(X, op)  X(U_##op) X(U_##op##_S) X(op##_SN) X(UC_##op##_SN) X(UL_##op##_SN)
#define VM_XYZ(M, X)   M(X, CCC) M(X, CCL) M(X, CLC) M(X, CLL) M(X, LCC) M(X, LCL) M(X, LLC) M(X, LLL)
#define VM_AM_(X, xyz) X(AM_##xyz)
#define VM_MA_(X, xyz) X(MA_##xyz) X(ELEM_MA_##xyz) X(ELEM_MA_##xyz##_I)
// clang-format off
#define VM_ELEMXYS_(X, op)                                                                         \
    X(ELEM_CC_##op##_SC) X(ELEM_CL_##op##_SC) X(ELEM_LC_##op##_SC) X(ELEM_LL_##op##_SC)            \
    X(ELEM_CC_##op##_SL) X(ELEM_CL_##op##_SL) X(ELEM_LC_##op##_SL) X(ELEM_LL_##op##_SL)
// clang-format on
#define VM_CALLXY_(X, op)                                                                          \
    X(CALL_CC_##op)                                                                                \
    X(CALL_CL_##op)                                                                                \
    X(CALL_LC_##op) X(CALL_LL_##op) X(MST_CC_##op) X(MST_CL_##op) X(MST_LC_##op) X(MST_LL_##op)
// clang-format off
#define VM_OPS(X) VM_SINGLE_OPS(X) VM_FUSED_OPS(X)
// The instructions and their faster single forms: all the traced build runs.
#define VM_SINGLE_OPS(X)                                                               \
    X(LDC) X(OPR) X(COP) X(LOD) X(STR) X(UJP) X(FJP) X(RET) X(MST) X(ENT) X(HLT)        \
    X(GET) X(PUT) X(LDA) X(IND) X(STO) X(FRT) X(CUP) X(UNDEFINED) X(OFF_END)            \
    X(LOD0) X(LOD1) X(LOD2) X(STR0) X(STR1) X(STR2) X(LDA0) X(UJP_OFF) X(FJP_OFF) X(CUP_OFF) X(NEG)     \
    X(MST0) X(MST1) VM_BINOPS(VM_ONE, X)
#define VM_FUSED_OPS(X)                                                                \
    VM_BINOPS(VM_X_, X) VM_BINOPS(VM_XY_, X)                       \
    VM_ARITHS(VM_XYS_, X) VM_COPS(VM_XYJ_, X) VM_COPS(VM_XJ_, X) X(C_S) X(L_S) X(C_S_FRT) X(L_S_FRT) X(C_S_RET) X(L_S_RET)          \
    X(CUP_ENT) X(ELEM_CC) X(ELEM_CL) X(ELEM_CC_I) X(ELEM_CL_I)          \
    X(SUB2_I) X(L_I) X(SUB2) X(C_STO) X(L_STO) X(CC_P) X(CL_P) X(LC_P) X(LL_P)        \
    VM_ARITHS(VM_XYSU_, X) VM_ARITHS(VM_S_, X) VM_ARITHS(VM_XS_, X) VM_COPS(VM_J_, X)    \
    X(LDA_C) X(UJP_FRT) X(UJP_RET) X(CALL_C) X(CALL_L) VM_ARITHS(VM_CALLXY_, X) \
    X(REM_C) X(REM_L) X(REM_C_S) X(REM_L_S) X(C_CUP) X(L_CUP) X(CC_P_CUP) X(CL_P_CUP)      \
    X(LC_P_CUP) X(LL_P_CUP) X(S_FRT) X(S_RET) X(C_SU) X(L_SU) X(READ)                  \
    VM_ARITHS(VM_UP_, X) VM_XYZ(VM_AM_, X) VM_XYZ(VM_MA_, X)                                \
    X(ELEM_CC_SC) X(ELEM_CC_SL) X(ELEM_CL_SC) X(ELEM_CL_SL) VM_ELEMOPS(VM_ELEMXYS_, X)       \
    X(L_I_S) X(LL_STO) X(L_LI_STO)                             \
    VM_ELEMOPS(VM_ELEMXY_, X)
// clang-format on

enum VmOp : std::uint16_t {
#define VM_ENUM(name) VM_##name,
    VM_OPS(VM_ENUM)
#undef VM_ENUM
};
// Counted outside the enum, so that a switch over it needs no case for the
// count.
#define VM_COUNT_ONE(name) +1
inline constexpr int VM_OP_COUNT = 0 VM_OPS(VM_COUNT_ONE);
#undef VM_COUNT_ONE
static_assert(int{VM_LDC} == int{LDC} && int{VM_CUP} == int{CUP} &&
                  int{VM_UNDEFINED} == OPCODE_COUNT && VM_OP_COUNT <= 65536,
              "the machine's own ops follow the instruction set");
// load_program finds a fused form by its position in its family.
static_assert(VM_LOD2 - VM_LOD0 == 2 && VM_STR2 - VM_STR0 == 2 && VM_LEQ - VM_ADD == 9 &&
              VM_L_LEQ - VM_C_ADD == 19 && VM_LL_LEQ - VM_CC_ADD == 39 &&
              VM_LL_DIV_S - VM_CC_ADD_S == 15 && VM_LL_DIV_SU - VM_CC_ADD_SU == 15 &&
              VM_LL_LEQ_J - VM_CC_EQ_J == 23 && VM_L_LEQ_J - VM_C_EQ_J == 11 &&
              VM_DIV_S - VM_ADD_S == 9 && VM_L_S_FRT - VM_C_S_FRT == 1 &&
              VM_L_S_RET - VM_C_S_RET == 1 && VM_CALL_LL_DIV - VM_CALL_CC_ADD == 27 &&
              VM_MST_CC_ADD - VM_CALL_CC_ADD == 4 && VM_LL_P_CUP - VM_CC_P_CUP == 3 &&
              VM_S_RET - VM_S_FRT == 1 && VM_ELEM_LL_MUL_SL - VM_ELEM_CC_ADD_SC == 23 &&
              VM_ELEM_CL_SL - VM_ELEM_CC_SC == 3 && VM_AM_LLL - VM_AM_CCC == 7 &&
              VM_MA_LLL - VM_MA_CCC == 21 && VM_ELEM_MA_CCC - VM_MA_CCC == 1 &&
              VM_ELEM_MA_CCC_I - VM_MA_CCC == 2 && VM_UL_DIV_SN - VM_U_ADD == 19 &&
              VM_L_SU - VM_C_SU == 1 && VM_ELEM_LL_MUL_I - VM_ELEM_CC_ADD == 23 &&
              VM_L_DIV_S - VM_C_ADD_S == 7 && VM_LEQ_J - VM_EQ_J == 5);

struct Step {
    const void* go; // where the loop runs op, with computed gotos
    VmOp op;        // what the loop runs here
    VmOp single;    // the faster form of instruction i alone
    std::int32_t l;
    std::int32_t a;
    std::int32_t x; // what a fused step finds in other steps when the code is loaded
    std::int32_t y;
};

// The code store as the loop runs it, indexed like the store: step i does the
// work of instructions i to i+k-1 and the loop goes on at i+k (or
// where a jump among them leads).  Only step i changes when it is fused: a
// jump to i+1 finds the step that starts there.  Op bytes outside the
// instruction set are marked, jump targets outside the store are sent to the
// end marker, and the end marker follows the last instruction.
Step program[CODE_MAX + 1];

// The position of OPR k or COP k among the binary operations, or -1.
int binop_index(const Instruction& in) {
    if (in.op == OPR && in.a >= OPR_ADD && in.a <= OPR_DIV) return in.a - OPR_ADD;
    if (in.op == COP && in.a >= COP_EQ && in.a <= COP_LEQ) return 4 + in.a - COP_EQ;
    return -1;
}

// 0 for LDC, 1 for LOD 0,a, -1 for anything else.
int operand_kind(const Instruction& in) {
    if (in.op == LDC) return 0;
    if (in.op == LOD && in.l == 0) return 1;
    return -1;
}

VmOp vm_op_at(int base, int offset) {
    return static_cast<VmOp>(base + offset);
}

// The return (FRT or RET) that runs next when instruction i is fetched: i
// itself, or the target of a UJP at i; -1 when there is none.
[[maybe_unused]] int return_after(int i) {
    if (i >= cx) return -1;
    if (program[i].single == VM_UJP) i = program[i].a;
    return program[i].single == VM_FRT || program[i].single == VM_RET ? i : -1;
}

// 0 for LDC; STO 0,0 at instruction i, 1 for LOD 0,a; STO 0,0, else -1.
[[maybe_unused]] int element_store(int i) {
    if (i + 1 >= cx || code[i + 1].op != STO) return -1;
    return operand_kind(code[i]);
}

// CUP i, fused with the UJP it leads to and the ENT that one leads to.
[[maybe_unused]] void fuse_call(int i) {
    Step& st = program[i];
    const Step& jump = program[st.a];
    const Step& enter = program[jump.a];
    bool small = enter.a >= 0 && enter.a <= STACK_SIZE; // b + a cannot fall below 0
    if (jump.single == VM_UJP && enter.single == VM_ENT && small) {
        st.op = VM_CUP_ENT;
        st.x = jump.a;
        st.y = i + 1;
    }
}

// The fused step that starts at instruction i, if one does; the calls are
// fused first.
[[maybe_unused]] void fuse(int i) {
    const Instruction* in = code + i;
    int left = cx - i;
    Step& st = program[i];
    auto is_op = [](const Instruction& c, int k) { return c.op == OPR && c.a == k; };
    auto is_sub = [&](const Instruction& c) { return is_op(c, OPR_SUB); };
    if (st.op == VM_CUP_ENT) return;
    if ((st.op == VM_MST0 || st.op == VM_MST1) && left >= 3 && operand_kind(in[1]) >= 0) {
        int x = operand_kind(in[1]);
        if (program[i + 2].op == VM_CUP_ENT) {
            st.op = x == 0 ? VM_CALL_C : VM_CALL_L;
        } else if (left >= 5 && operand_kind(in[2]) >= 0 && binop_index(in[3]) >= 0 &&
                   binop_index(in[3]) < 4 && program[i + 4].op == VM_CUP_ENT) {
            st.op = vm_op_at(VM_CALL_CC_ADD, binop_index(in[3]) * 8 + x * 2 + operand_kind(in[2]));
        } else if (left >= 5 && operand_kind(in[2]) >= 0 && binop_index(in[3]) >= 0 &&
                   binop_index(in[3]) < 4) {
            st.op = vm_op_at(VM_MST_CC_ADD, binop_index(in[3]) * 8 + x * 2 + operand_kind(in[2]));
        }
        return;
    }
    if (st.op == VM_LDA0 && left >= 5 && in[1].op == LDC && operand_kind(in[2]) >= 0 &&
        is_sub(in[3]) && is_sub(in[4])) {
        bool read = left >= 6 && in[5].op == IND;
        int y = operand_kind(in[2]);
        int v = element_store(i + 5);
        st.op = read ? (y == 0 ? VM_ELEM_CC_I : VM_ELEM_CL_I) : (y == 0 ? VM_ELEM_CC : VM_ELEM_CL);
        if (v >= 0) st.op = vm_op_at(VM_ELEM_CC_SC, y * 2 + v);
        return;
    }
    if (st.op == VM_LDA0 && left >= 7 && in[1].op == LDC && operand_kind(in[2]) >= 0 &&
        operand_kind(in[3]) >= 0 && binop_index(in[4]) >= 0 && binop_index(in[4]) < 3 &&
        is_sub(in[5]) && is_sub(in[6])) {
        bool read = left >= 8 && in[7].op == IND;
        int xy = operand_kind(in[2]) * 2 + operand_kind(in[3]);
        int v = element_store(i + 7);
        st.op = vm_op_at(VM_ELEM_CC_ADD, binop_index(in[4]) * 8 + (read ? 4 : 0) + xy);
        if (v >= 0) st.op = vm_op_at(VM_ELEM_CC_ADD_SC, binop_index(in[4]) * 8 + v * 4 + xy);
        return;
    }
    if (st.op == VM_LDA0 && left >= 9 && in[1].op == LDC && operand_kind(in[2]) >= 0 &&
        operand_kind(in[3]) >= 0 && is_op(in[4], OPR_MUL) && operand_kind(in[5]) >= 0 &&
        is_op(in[6], OPR_ADD) && is_sub(in[7]) && is_sub(in[8])) {
        bool read = left >= 10 && in[9].op == IND;
        int xyz = operand_kind(in[2]) * 4 + operand_kind(in[3]) * 2 + operand_kind(in[5]);
        st.op = vm_op_at(VM_MA_CCC, xyz * 3 + (read ? 2 : 1));
        return;
    }
    if (st.op == VM_LDA0 && left >= 3 && in[1].op == GET && in[2].op == STO) {
        st.op = VM_READ;
        return;
    }
    if (st.op == VM_LDA0 && left >= 2 && in[1].op == LDC) {
        st.op = VM_LDA_C;
        return;
    }
    if (is_sub(in[0]) && left >= 2 && is_sub(in[1])) {
        st.op = left >= 3 && in[2].op == IND ? VM_SUB2_I : VM_SUB2;
        return;
    }
    if (st.single == VM_STR0) {
        int ret = return_after(i + 1);
        if (ret >= 0) {
            st.op = program[ret].single == VM_FRT ? VM_S_FRT : VM_S_RET;
            st.x = ret;
        }
        return;
    }
    if (st.single == VM_UJP) {
        VmOp target = program[st.a].single;
        if (target == VM_FRT) st.op = VM_UJP_FRT;
        if (target == VM_RET) st.op = VM_UJP_RET;
        return;
    }
    int own = binop_index(in[0]);
    if (own >= 0 && left >= 2) {
        if (own < 4 && in[1].op == STR && in[1].l == 0) {
            int ret = return_after(i + 2);
            st.op = vm_op_at(VM_ADD_S, own * 3 + (ret < 0                         ? 0
                                                  : program[ret].single == VM_FRT ? 1
                                                                                  : 2));
            st.x = ret;
        }
        if (own < 4 && in[1].op == STR && in[1].l > 0) st.op = vm_op_at(VM_ADD_SN, own * 5);
        if (own >= 4 && program[i + 1].op == VM_FJP) st.op = vm_op_at(VM_EQ_J, own - 4);
        return;
    }
    if (in[0].op == LOD && in[0].l > 0 && left >= 2) {
        int k = binop_index(in[1]);
        int y = operand_kind(in[1]);
        if (k >= 0 && k < 4) {
            bool store = left >= 3 && in[2].op == STR && in[2].l == 0;
            st.op = vm_op_at(store ? VM_U_ADD_S : VM_U_ADD, k * 5);
        } else if (y >= 0 && left >= 4 && binop_index(in[2]) >= 0 && binop_index(in[2]) < 4 &&
                   in[3].op == STR && in[3].l > 0) {
            st.op = vm_op_at(y == 0 ? VM_UC_ADD_SN : VM_UL_ADD_SN, binop_index(in[2]) * 5);
        }
        return;
    }
    auto same = [](const Instruction& p, const Instruction& q) {
        return p.op == q.op && p.l == q.l && p.a == q.a;
    };
    if (left >= 7 && in[0].op == LOD && in[0].l == 0 && same(in[0], in[1]) &&
        operand_kind(in[2]) >= 0 && is_op(in[3], OPR_DIV) && same(in[2], in[4]) &&
        is_op(in[5], OPR_MUL) && is_op(in[6], OPR_SUB)) {
        int y = operand_kind(in[2]);
        bool store = left >= 8 && in[7].op == STR && in[7].l == 0;
        st.op = store ? (y == 0 ? VM_REM_C_S : VM_REM_L_S) : (y == 0 ? VM_REM_C : VM_REM_L);
        return;
    }
    int x = operand_kind(in[0]);
    if (x < 0 || left < 2) return;
    if (x == 1 && in[1].op == IND) {
        st.op = left >= 3 && in[2].op == STR && in[2].l == 0 ? VM_L_I_S : VM_L_I;
        return;
    }
    if (x == 1 && left >= 3 && in[1].op == LOD && in[1].l == 0 && in[2].op == STO) {
        st.op = VM_LL_STO;
        return;
    }
    if (x == 1 && left >= 4 && in[1].op == LOD && in[1].l == 0 && in[2].op == IND &&
        in[3].op == STO) {
        st.op = VM_L_LI_STO;
        return;
    }
    if (in[1].op == STO) {
        st.op = x == 0 ? VM_C_STO : VM_L_STO;
        return;
    }
    int y = operand_kind(in[1]);
    if (program[i + 1].op == VM_CUP_ENT) {
        st.op = x == 0 ? VM_C_CUP : VM_L_CUP;
        return;
    }
    if (y >= 0 && left >= 3 && program[i + 2].op == VM_CUP_ENT) {
        st.op = vm_op_at(VM_CC_P_CUP, x * 2 + y);
        return;
    }
    if (y >= 0 && left >= 5 && operand_kind(in[2]) >= 0 && is_op(in[3], OPR_MUL) &&
        is_op(in[4], OPR_ADD)) {
        st.op = vm_op_at(VM_AM_CCC, x * 4 + y * 2 + operand_kind(in[2]));
        return;
    }
    if (y >= 0 && left >= 5 && is_op(in[2], OPR_MUL) && operand_kind(in[3]) >= 0 &&
        is_op(in[4], OPR_ADD)) {
        st.op = vm_op_at(VM_MA_CCC, (x * 4 + y * 2 + operand_kind(in[3])) * 3);
        return;
    }
    if (y >= 0 && left >= 3) {
        int k = binop_index(in[2]);
        if (k >= 0) {
            int xy = x * 2 + y;
            if (k < 4 && left >= 5 && in[3].op == STR && in[3].l == 0 &&
                program[i + 4].single == VM_UJP) {
                st.op = vm_op_at(VM_CC_ADD_SU, k * 4 + xy);
            } else if (k < 4 && left >= 4 && in[3].op == STR && in[3].l == 0) {
                st.op = vm_op_at(VM_CC_ADD_S, k * 4 + xy);
            } else if (k >= 4 && left >= 4 && program[i + 3].op == VM_FJP) {
                st.op = vm_op_at(VM_CC_EQ_J, (k - 4) * 4 + xy);
            } else {
                st.op = vm_op_at(VM_CC_ADD, k * 4 + xy);
            }
            return;
        }
    }
    int k = binop_index(in[1]);
    if (k >= 4 && left >= 3 && program[i + 2].op == VM_FJP) {
        st.op = vm_op_at(VM_C_EQ_J, (k - 4) * 2 + x);
    } else if (k >= 0 && k < 4 && left >= 3 && in[2].op == STR && in[2].l == 0) {
        st.op = vm_op_at(VM_C_ADD_S, k * 2 + x);
    } else if (k >= 0) {
        st.op = vm_op_at(VM_C_ADD, k * 2 + x);
    } else if (in[1].op == STR && in[1].l == 0 && left >= 3 && program[i + 2].single == VM_UJP &&
               return_after(i + 2) < 0) {
        st.op = x == 0 ? VM_C_SU : VM_L_SU;
    } else if (in[1].op == STR && in[1].l == 0) {
        int ret = return_after(i + 2);
        st.op = x == 0 ? VM_C_S : VM_L_S;
        if (ret >= 0) st.op = vm_op_at(program[ret].single == VM_FRT ? VM_C_S_FRT : VM_C_S_RET, x);
        st.x = ret;
    } else if (y >= 0 && (left < 3 || (binop_index(in[2]) < 0 && operand_kind(in[2]) < 0))) {
        st.op = vm_op_at(VM_CC_P, x * 2 + y);
    }
}

void load_program() {
    for (int i = 0; i < cx; ++i) {
        const Instruction& in = code[i];
        Step& st = program[i];
        st.op = in.op < OPCODE_COUNT ? static_cast<VmOp>(in.op) : VM_UNDEFINED;
        st.l = in.l;
        st.x = st.y = 0;
        st.a = in.a;
        int k = binop_index(in);
        if (k >= 0) st.op = vm_op_at(VM_ADD, k);
        if (in.op == OPR && in.a == OPR_NEG) st.op = VM_NEG;
        if (in.op == LOD && in.l >= 0 && in.l <= 2) st.op = vm_op_at(VM_LOD0, in.l);
        if (in.op == STR && in.l >= 0 && in.l <= 2) st.op = vm_op_at(VM_STR0, in.l);
        if (in.op == LDA && in.l == 0) st.op = VM_LDA0;
        bool small = in.a >= 0 && in.a <= STACK_SIZE; // t + a cannot fall below 0
        if (in.op == MST && (in.l == 0 || in.l == 1) && small)
            st.op = in.l == 0 ? VM_MST0 : VM_MST1;
        bool jumps = in.op == UJP || in.op == FJP || in.op == CUP;
        if (jumps && (in.a < 0 || in.a >= cx)) {
            st.a = cx;
            st.op = in.op == UJP ? VM_UJP_OFF : in.op == FJP ? VM_FJP_OFF : VM_CUP_OFF;
        }
        st.single = st.op;
    }
    program[cx] = Step{nullptr, VM_OFF_END, VM_OFF_END, 0, 0, 0, 0};
    // The traced build shows every instruction as it runs: no fused steps.
    if constexpr (!trace_built) {
        for (int i = 0; i < cx; ++i)
            if (program[i].op == VM_CUP) fuse_call(i);
        for (int i = 0; i < cx; ++i)
            fuse(i);
    }
}

std::uint32_t u32(std::int32_t v) {
    return static_cast<std::uint32_t>(v);
}
std::int32_t i32(std::uint32_t v) {
    return static_cast<std::int32_t>(v);
}

// The most cells a fused step pushes, and the t from which on every
// instruction runs alone, with the test of t before its fetch made in full.
constexpr std::int64_t FUSED_ROOM = 4;
constexpr std::int64_t NEAR_LIMIT = STACK_OVERFLOW - FUSED_ROOM;

// A new top index, kept within two cells of the stack's ends so that the
// check before the next fetch sees which end it left by.
std::int32_t clamp_top(std::int64_t v) {
    if (v > STACK_SIZE) return STACK_SIZE;
    if (v < -2) return -2;
    return static_cast<std::int32_t>(v);
}

// The same for a v that cannot be negative.
std::int64_t top_within(std::int64_t v) {
    return v > STACK_SIZE ? STACK_SIZE : v;
}

bool in_stack(std::int64_t address) {
    return static_cast<std::uint64_t>(address) < static_cast<std::uint64_t>(STACK_SIZE);
}

} // namespace

std::int32_t base(std::int32_t l) {
    std::int32_t x = b;
    for (; l > 0; --l) {
        if (!in_stack(x)) runtime_error(MSG_BAD_ADDRESS);
        if (s[x] == x) break; // a frame that links to itself: no step moves on
        x = s[x];
    }
    return x;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif

void interpret() {
    std::memset(stack_cells, 0, sizeof stack_cells);
    load_program();
    const Step* const prog = program;
    const std::int32_t code_end = cx;
    std::uint64_t executed = 0;

    // The registers live in locals while the loop runs; they are written
    // back before anything outside the loop can look at them.  ip is the
    // step being executed until its case moves on, so p and ir follow from
    // it when the run stops.
    const Step* ip = prog + (p < 0 || p > code_end ? code_end : p);
    // t and b are held in 64 bits (their values stay within a few cells of
    // the stack) so that indexing needs no widening.
    std::int64_t sp = t;
    std::int64_t bp = b;
    const Step* next = ip;      // where a step that overflowed the stack would go
    int ran = 1;                // and how many instructions it had run
    std::int32_t last_run = -1; // the traced build: the instruction run last
    Msg fault = MSG_STACK_OVERFLOW;

#define INDEX(step) static_cast<std::int32_t>((step)-prog)
#define SYNC_REGISTERS(pc)                                                                         \
    (p = (pc), t = static_cast<std::int32_t>(sp), b = static_cast<std::int32_t>(bp), flush_output())
#define FAIL(m)                                                                                    \
    do {                                                                                           \
        fault = (m);                                                                               \
        goto failed;                                                                               \
    } while (0)
#define CHECK_ADDRESS(addr)                                                                        \
    if (!in_stack(addr)) FAIL(MSG_BAD_ADDRESS)
    // base(l) with the registers in locals.  A frame that links to itself
    // ends base()'s walk, and following its link again changes nothing, so
    // the walk here simply goes on; b itself is always a stack index.
#define BASE(l, out)                                                                               \
    do {                                                                                           \
        std::int64_t x_ = bp;                                                                      \
        std::int32_t n_ = (l);                                                                     \
        if (n_ > 0) {                                                                              \
            x_ = s[x_];                                                                            \
            for (--n_; n_ > 0; --n_) {                                                             \
                CHECK_ADDRESS(x_);                                                                 \
                x_ = s[x_];                                                                        \
            }                                                                                      \
        }                                                                                          \
        (out) = static_cast<std::int32_t>(x_);                                                     \
    } while (0)

    // Before every fetch: the test of t, with the t left by the step that
    // ends here.  A fused step pushes at most FUSED_ROOM cells, so while t
    // is below NEAR_LIMIT none of the instructions it stands for can fail
    // the test; from there up (or below 0) the test is made in full and the
    // next instruction runs alone (near_limit).  A fused step also starts
    // only once none of its operands lies outside the stack; otherwise its
    // first instruction runs alone (the slow path), and so on.
#define NEXT_AFTER(k, target)                                                                      \
    {                                                                                              \
        const Step* n_ = (target);                                                                 \
        if (static_cast<std::uint64_t>(sp) >= std::uint64_t{NEAR_LIMIT}) {                         \
            next = n_;                                                                             \
            ran = (k);                                                                             \
            goto near_limit;                                                                       \
        }                                                                                          \
        ip = n_;                                                                                   \
        vm_next;                                                                                   \
    }
#define NEXT(k) NEXT_AFTER(k, ip + (k))
    // A fused step that leaves t between 0 and the t it started with needs
    // no test after it: that t was below NEAR_LIMIT.
#define GO_ON_AFTER(target)                                                                        \
    {                                                                                              \
        ip = (target);                                                                             \
        vm_next;                                                                                   \
    }
#define GO_ON(k) GO_ON_AFTER(ip + (k))
#define SLOW     goto slow
    // A fused step that finds a fault after it has written cells goes on
    // with instruction j of its run, alone, in the state the instructions
    // before it left (t = top); that one then fails as it would alone.
#define RESUME(j, top)                                                                             \
    {                                                                                              \
        sp = (top);                                                                                \
        ip += (j);                                                                                 \
        goto slow;                                                                                 \
    }

#define VM_FETCH()                                                                                 \
    do {                                                                                           \
        if constexpr (trace_built) {                                                               \
            if (ip->op != VM_OFF_END) {                                                            \
                std::int32_t pc_ = INDEX(ip);                                                      \
                if (trace_on.run) {                                                                \
                    SYNC_REGISTERS(pc_);                                                           \
                    ir = code[pc_];                                                                \
                    ir_pc = pc_;                                                                   \
                    trace_machine(pc_, code[pc_]);                                                 \
                }                                                                                  \
                bool spent_ = instruction_budget != 0 && ++executed > instruction_budget;          \
                if (spent_ ||                                                                      \
                    (stop_flag != nullptr && stop_flag->load(std::memory_order_relaxed))) {        \
                    SYNC_REGISTERS(pc_);                                                           \
                    if (last_run >= 0) ir = code[last_run];                                        \
                    ir_pc = last_run;                                                              \
                    if (spent_) end_run(FatalKind::budget_spent, MSG_BUDGET_SPENT);                \
                    end_run(FatalKind::stopped, MSG_STOPPED);                                      \
                }                                                                                  \
                last_run = pc_;                                                                    \
            }                                                                                      \
        }                                                                                          \
        VM_LOAD_OP();                                                                              \
    } while (0)
#if VM_COMPUTED_GOTO
#define VM_TARGET ip->go
#define VM_LOAD_OP()
#else
#define VM_LOAD_OP() vm_op = ip->op
    VmOp vm_op;
#endif

    // The effects of OPR's and COP's binary operations on left l and right
    // r; `zero` runs instead when a division has no divisor.
#define BINOP_ADD(l, r, out, zero) (out) = i32(u32(l) + u32(r))
#define BINOP_SUB(l, r, out, zero) (out) = i32(u32(l) - u32(r))
#define BINOP_MUL(l, r, out, zero) (out) = i32(u32(l) * u32(r))
#define BINOP_DIV(l, r, out, zero)                                                                 \
    do {                                                                                           \
        if ((r) == 0) zero;                                                                        \
        /* The most negative value div -1 wraps to itself. */                                      \
        (out) = (r) == -1 ? i32(0u - u32(l)) : (l) / (r);                                          \
    } while (0)
#define BINOP_EQ(l, r, out, zero)  (out) = (l) == (r) ? 1 : 0
#define BINOP_NEQ(l, r, out, zero) (out) = (l) != (r) ? 1 : 0
#define BINOP_GT(l, r, out, zero)  (out) = (l) > (r) ? 1 : 0
#define BINOP_GEQ(l, r, out, zero) (out) = (l) >= (r) ? 1 : 0
#define BINOP_LT(l, r, out, zero)  (out) = (l) < (r) ? 1 : 0
#define BINOP_LEQ(l, r, out, zero) (out) = (l) <= (r) ? 1 : 0

    // The operand of a fused step: LDC's constant, or the cell LOD 0,a reads
    // (an address outside the stack takes the slow path, where LOD fails).
#define OPERAND_C(a, out, fail) (out) = (a)
#define OPERAND_L(a, out, fail)                                                                    \
    do {                                                                                           \
        std::int64_t addr_ = std::int64_t{bp} + (a);                                               \
        if (!in_stack(addr_)) fail;                                                                \
        (out) = s[addr_];                                                                          \
    } while (0)
    // STR 0,a at the end of a fused step.
#define STORE_LOCAL(a, v, fail)                                                                    \
    do {                                                                                           \
        std::int64_t addr_ = std::int64_t{bp} + (a);                                               \
        if (!in_stack(addr_)) fail;                                                                \
        s[addr_] = (v);                                                                            \
    } while (0)
    // The frame base(l) of step st's instruction, for an l of 1 or more; a
    // link from outside the stack goes to `fail`.
#define FRAME_UP(st, out, fail)                                                                    \
    do {                                                                                           \
        std::int64_t f_ = s[bp];                                                                   \
        for (std::int32_t n_ = (st).l - 1; n_ > 0; --n_) {                                         \
            if (!in_stack(f_)) fail;                                                               \
            f_ = s[f_];                                                                            \
        }                                                                                          \
        (out) = f_;                                                                                \
    } while (0)
    // LOD l,a and STR l,a for an l of 1 or more.
#define OPERAND_UP(st, out, fail)                                                                  \
    do {                                                                                           \
        std::int64_t addr_;                                                                        \
        FRAME_UP(st, addr_, fail);                                                                 \
        addr_ += (st).a;                                                                           \
        if (!in_stack(addr_)) fail;                                                                \
        (out) = s[addr_];                                                                          \
    } while (0)
#define STORE_UP(st, v, fail)                                                                      \
    do {                                                                                           \
        std::int64_t addr_;                                                                        \
        FRAME_UP(st, addr_, fail);                                                                 \
        addr_ += (st).a;                                                                           \
        if (!in_stack(addr_)) fail;                                                                \
        s[addr_] = (v);                                                                            \
    } while (0)

    // Every cell the instructions write is written, the pushed operands
    // included, in their order.
#define CASE_BINOP(X, op)                                                                          \
    vm_case(op) {                                                                                  \
        std::int32_t r_;                                                                           \
        BINOP_##op(s[sp - 1], s[sp], r_, FAIL(MSG_DIVISION_BY_ZERO));                              \
        s[--sp] = r_;                                                                              \
        NEXT(1);                                                                                   \
    }
    // x op: t rises by one and falls back.
#define CASE_X1(xk, op)                                                                            \
    vm_case(xk##_##op) {                                                                           \
        std::int32_t x_, r_;                                                                       \
        OPERAND_##xk(ip->a, x_, SLOW);                                                             \
        s[sp + 1] = x_;                                                                            \
        BINOP_##op(s[sp], x_, r_, RESUME(1, sp + 1));                                              \
        s[sp] = r_;                                                                                \
        GO_ON(2);                                                                                  \
    }
#define CASE_X(X, op) CASE_X1(C, op) CASE_X1(L, op)
    // x y op, x y op STR, x y cop FJP: t rises by two.
#define XY_VALUE(xk, yk, op)                                                                       \
    std::int32_t x_, y_, r_;                                                                       \
    OPERAND_##xk(ip->a, x_, SLOW);                                                                 \
    s[sp + 1] = x_;                                                                                \
    OPERAND_##yk(ip[1].a, y_, RESUME(1, sp + 1));                                                  \
    s[sp + 2] = y_;                                                                                \
    BINOP_##op(x_, y_, r_, RESUME(2, sp + 2));                                                     \
    s[sp + 1] = r_
#define CASE_XY1(xk, yk, op)                                                                       \
    vm_case(xk##yk##_##op) {                                                                       \
        XY_VALUE(xk, yk, op);                                                                      \
        ++sp;                                                                                      \
        NEXT(3);                                                                                   \
    }
#define CASE_XY(X, op) CASE_XY1(C, C, op) CASE_XY1(C, L, op) CASE_XY1(L, C, op) CASE_XY1(L, L, op)
#define CASE_XYS1(xk, yk, op)                                                                      \
    vm_case(xk##yk##_##op##_S) {                                                                   \
        XY_VALUE(xk, yk, op);                                                                      \
        STORE_LOCAL(ip[3].a, r_, RESUME(3, sp + 1));                                               \
        GO_ON(4);                                                                                  \
    }
#define CASE_XYS(X, op)                                                                            \
    CASE_XYS1(C, C, op) CASE_XYS1(C, L, op) CASE_XYS1(L, C, op) CASE_XYS1(L, L, op)
#define CASE_XYSU1(xk, yk, op)                                                                     \
    vm_case(xk##yk##_##op##_SU) {                                                                  \
        XY_VALUE(xk, yk, op);                                                                      \
        STORE_LOCAL(ip[3].a, r_, RESUME(3, sp + 1));                                               \
        GO_ON_AFTER(prog + ip[4].a);                                                               \
    }
#define CASE_XYSU(X, op)                                                                           \
    CASE_XYSU1(C, C, op) CASE_XYSU1(C, L, op) CASE_XYSU1(L, C, op) CASE_XYSU1(L, L, op)
#define CASE_XYJ1(xk, yk, op)                                                                      \
    vm_case(xk##yk##_##op##_J) {                                                                   \
        XY_VALUE(xk, yk, op);                                                                      \
        if (r_ == 0) GO_ON_AFTER(prog + ip[3].a);                                                  \
        GO_ON(4);                                                                                  \
    }
#define CASE_XYJ(X, op)                                                                            \
    CASE_XYJ1(C, C, op) CASE_XYJ1(C, L, op) CASE_XYJ1(L, C, op) CASE_XYJ1(L, L, op)
    // x cop FJP: t rises by one, then falls by two.
#define CASE_XJ1(xk, op)                                                                           \
    vm_case(xk##_##op##_J) {                                                                       \
        std::int32_t x_, r_;                                                                       \
        OPERAND_##xk(ip->a, x_, SLOW);                                                             \
        s[sp + 1] = x_;                                                                            \
        BINOP_##op(s[sp], x_, r_, RESUME(1, sp + 1));                                              \
        s[sp--] = r_;                                                                              \
        if (r_ == 0) NEXT_AFTER(3, prog + ip[2].a);                                                \
        NEXT(3);                                                                                   \
    }
#define CASE_XJ(X, op) CASE_XJ1(C, op) CASE_XJ1(L, op)
    // op STR 0,a: t falls by two.  With t at 0 the operation runs alone and
    // the test after it fails.
#define OP_STORE(op)                                                                               \
    std::int32_t r_;                                                                               \
    BINOP_##op(s[sp - 1], s[sp], r_, FAIL(MSG_DIVISION_BY_ZERO));                                  \
    s[sp - 1] = r_;                                                                                \
    STORE_LOCAL(ip[1].a, r_, RESUME(1, sp - 1));                                                   \
    sp -= 2
#define CASE_S(X, op)                                                                              \
    vm_case(op##_S) {                                                                              \
        if (sp < 1) SLOW;                                                                          \
        OP_STORE(op);                                                                              \
        NEXT(2);                                                                                   \
    }                                                                                              \
    vm_case(op##_S_FRT) {                                                                          \
        if (sp < 2) SLOW;                                                                          \
        OP_STORE(op);                                                                              \
        RETURN_AT(FRT);                                                                            \
    }                                                                                              \
    vm_case(op##_S_RET) {                                                                          \
        if (sp < 2) SLOW;                                                                          \
        OP_STORE(op);                                                                              \
        RETURN_AT(RET);                                                                            \
    }
    // x op STR 0,a: t rises by one, then falls by two.
    // A store that the routine's return follows, at once or through a UJP
    // (t stays where the test before this step found it, or falls to no
    // less than 0): the return is step x, run here without a fetch.
#define RETURN_AT(ret)                                                                             \
    {                                                                                              \
        ip = prog + ip->x;                                                                         \
        vm_dispatch(VM_##ret);                                                                     \
    }
#define CASE_XS1(xk, op)                                                                           \
    vm_case(xk##_##op##_S) {                                                                       \
        std::int32_t x_, r_;                                                                       \
        OPERAND_##xk(ip->a, x_, SLOW);                                                             \
        s[sp + 1] = x_;                                                                            \
        BINOP_##op(s[sp], x_, r_, RESUME(1, sp + 1));                                              \
        s[sp] = r_;                                                                                \
        STORE_LOCAL(ip[2].a, r_, RESUME(2, sp));                                                   \
        --sp;                                                                                      \
        NEXT(3);                                                                                   \
    }
#define CASE_XS_(X, op) CASE_XS1(C, op) CASE_XS1(L, op)
    // cop FJP: t falls by two.  With t at 0 the comparison runs alone.
#define CASE_J(X, op)                                                                              \
    vm_case(op##_J) {                                                                              \
        if (sp < 1) SLOW;                                                                          \
        std::int32_t r_;                                                                           \
        BINOP_##op(s[sp - 1], s[sp], r_, FAIL(MSG_DIVISION_BY_ZERO));                              \
        s[sp - 1] = r_;                                                                            \
        sp -= 2;                                                                                   \
        if (r_ == 0) NEXT_AFTER(2, prog + ip[1].a);                                                \
        NEXT(2);                                                                                   \
    }
    // x STR 0,a: t rises by one and falls back.
#define X_STORE(xk)                                                                                \
    std::int32_t x_;                                                                               \
    OPERAND_##xk(ip->a, x_, SLOW);                                                                 \
    s[sp + 1] = x_;                                                                                \
    STORE_LOCAL(ip[1].a, x_, RESUME(1, sp + 1))
#define CASE_XS(xk)                                                                                \
    vm_case(xk##_S) {                                                                              \
        X_STORE(xk);                                                                               \
        GO_ON(2);                                                                                  \
    }                                                                                              \
    vm_case(xk##_S_FRT) {                                                                          \
        X_STORE(xk);                                                                               \
        RETURN_AT(FRT);                                                                            \
    }                                                                                              \
    vm_case(xk##_S_RET) {                                                                          \
        X_STORE(xk);                                                                               \
        RETURN_AT(RET);                                                                            \
    }

#if VM_COMPUTED_GOTO
    static void* const vm_labels[] = {
#define VM_LABEL(name) vm_label(name),
        VM_OPS(VM_LABEL)
#undef VM_LABEL
    };
    static_assert(sizeof vm_labels / sizeof vm_labels[0] == VM_OP_COUNT);
    for (std::int32_t i = 0; i <= code_end; ++i)
        program[i].go = vm_labels[program[i].op];
#endif
    (void)executed;
    (void)last_run;

    // Registers set from outside (a test, a second run) may lie outside the
    // store or the stack; in the loop b always is a stack index with room
    // for a frame header above it.
    if (bp < 0 || bp > STACK_SIZE - 4) {
        SYNC_REGISTERS(INDEX(ip));
        runtime_error(MSG_BAD_ADDRESS);
    }
    if (u32(sp) >= u32(STACK_OVERFLOW) || ip == prog + code_end) {
        // Nothing fetched yet: ir stays as it was.
        SYNC_REGISTERS(INDEX(ip));
        runtime_error(sp < 0                 ? MSG_STACK_UNDERFLOW
                      : sp >= STACK_OVERFLOW ? MSG_STACK_OVERFLOW
                                             : MSG_BAD_CODE_ADDRESS);
    }

    if (sp >= NEAR_LIMIT) {
        next = ip;
        goto near_limit;
    }

    vm_loop_begin

    vm_case(LDC) {
        s[++sp] = ip->a;
        NEXT(1);
    }
    vm_case(OPR) { // a sub-code outside the table: no effect
        NEXT(1);
    }
    vm_case(COP) {
        NEXT(1);
    }
    vm_case(NEG) {
        s[sp] = i32(0u - u32(s[sp]));
        NEXT(1);
    }
    VM_BINOPS(CASE_BINOP, _)
    vm_case(LOD) {
        std::int32_t frame;
        BASE(ip->l, frame);
        std::int64_t addr = std::int64_t{frame} + ip->a;
        CHECK_ADDRESS(addr);
        s[sp + 1] = s[addr];
        ++sp;
        NEXT(1);
    }
    vm_case(LOD0) {
        std::int64_t addr = std::int64_t{bp} + ip->a;
        CHECK_ADDRESS(addr);
        s[sp + 1] = s[addr];
        ++sp;
        NEXT(1);
    }
    vm_case(LOD1) { // base(1): one link out, no further test needed
        std::int64_t addr = std::int64_t{s[bp]} + ip->a;
        CHECK_ADDRESS(addr);
        s[sp + 1] = s[addr];
        ++sp;
        NEXT(1);
    }
    vm_case(LOD2) { // base(2): s[s[b]], once s[b] is known to be a stack index
        std::int64_t frame = s[bp];
        CHECK_ADDRESS(frame);
        std::int64_t addr = std::int64_t{s[frame]} + ip->a;
        CHECK_ADDRESS(addr);
        s[sp + 1] = s[addr];
        ++sp;
        NEXT(1);
    }
    vm_case(STR) {
        std::int32_t frame;
        BASE(ip->l, frame);
        std::int64_t addr = std::int64_t{frame} + ip->a;
        CHECK_ADDRESS(addr);
        s[addr] = s[sp--];
        NEXT(1);
    }
    vm_case(STR0) {
        std::int64_t addr = std::int64_t{bp} + ip->a;
        CHECK_ADDRESS(addr);
        s[addr] = s[sp--];
        NEXT(1);
    }
    vm_case(STR1) {
        std::int64_t addr = std::int64_t{s[bp]} + ip->a;
        CHECK_ADDRESS(addr);
        s[addr] = s[sp--];
        NEXT(1);
    }
    vm_case(STR2) {
        std::int64_t frame = s[bp];
        CHECK_ADDRESS(frame);
        std::int64_t addr = std::int64_t{s[frame]} + ip->a;
        CHECK_ADDRESS(addr);
        s[addr] = s[sp--];
        NEXT(1);
    }
    vm_case(UJP) {
        NEXT_AFTER(1, prog + ip->a);
    }
    vm_case(FJP) {
        std::int32_t v = s[sp--];
        if (v == 0) NEXT_AFTER(1, prog + ip->a);
        NEXT(1);
    }
    vm_case(RET) {
        std::int32_t ret = s[bp + 2];
        std::int32_t link = s[bp + 1];
        sp = bp - 1;
        if (u32(ret) >= u32(code_end)) FAIL(MSG_BAD_CODE_ADDRESS);
        if (link < 0 || link > STACK_SIZE - 4) FAIL(MSG_BAD_ADDRESS);
        bp = link;
        NEXT_AFTER(1, prog + ret);
    }
    vm_case(MST) {
        std::int32_t link;
        BASE(ip->l, link);
        s[sp + 1] = link;
        s[sp + 2] = static_cast<std::int32_t>(bp);
        sp = clamp_top(std::int64_t{sp} + ip->a);
        NEXT(1);
    }
    vm_case(ENT) {
        sp = clamp_top(std::int64_t{bp} + ip->a);
        NEXT(1);
    }
    vm_case(HLT) {
        SYNC_REGISTERS(INDEX(ip) + 1);
        ir = code[INDEX(ip)];
        ir_pc = INDEX(ip);
        return;
    }
    vm_case(GET) {
        ++sp;
        put_prompt();
        if (!read_number(s[sp])) FAIL(MSG_NO_NUMBER);
        NEXT(1);
    }
    // Variables of enclosing blocks.  U op (STR 0,a): t rises by one and
    // falls back (and falls by one more).
#define U_VALUE(op)                                                                                \
    std::int32_t x_, r_;                                                                           \
    OPERAND_UP(ip[0], x_, SLOW);                                                                   \
    s[sp + 1] = x_;                                                                                \
    BINOP_##op(s[sp], x_, r_, RESUME(1, sp + 1));                                                  \
    s[sp] = r_
    // op STR l,a: t falls by two; with t at 0 the operation runs alone.
    // U x op STR l,a: t rises by two, then falls back.
#define CASE_UP(X, op)                                                                             \
    vm_case(U_##op) {                                                                              \
        U_VALUE(op);                                                                               \
        GO_ON(2);                                                                                  \
    }                                                                                              \
    vm_case(U_##op##_S) {                                                                          \
        U_VALUE(op);                                                                               \
        STORE_LOCAL(ip[2].a, r_, RESUME(2, sp));                                                   \
        --sp;                                                                                      \
        NEXT(3);                                                                                   \
    }                                                                                              \
    vm_case(op##_SN) {                                                                             \
        if (sp < 1) SLOW;                                                                          \
        std::int32_t r_;                                                                           \
        BINOP_##op(s[sp - 1], s[sp], r_, FAIL(MSG_DIVISION_BY_ZERO));                              \
        s[sp - 1] = r_;                                                                            \
        STORE_UP(ip[1], r_, RESUME(1, sp - 1));                                                    \
        sp -= 2;                                                                                   \
        NEXT(2);                                                                                   \
    }                                                                                              \
    CASE_UXSN(C, op)                                                                               \
    CASE_UXSN(L, op)
#define CASE_UXSN(xk, op)                                                                          \
    vm_case(U##xk##_##op##_SN) {                                                                   \
        std::int32_t u_, x_, r_;                                                                   \
        OPERAND_UP(ip[0], u_, SLOW);                                                               \
        s[sp + 1] = u_;                                                                            \
        OPERAND_##xk(ip[1].a, x_, RESUME(1, sp + 1));                                              \
        s[sp + 2] = x_;                                                                            \
        BINOP_##op(u_, x_, r_, RESUME(2, sp + 2));                                                 \
        s[sp + 1] = r_;                                                                            \
        STORE_UP(ip[3], r_, RESUME(3, sp + 1));                                                    \
        GO_ON(4);                                                                                  \
    }
#if !TSUMIKI_TRACE
    VM_ARITHS(CASE_UP, _)
    // x + y * z and x * y + z: t rises by three (two) at most, and by one.
    // x * y + z at instruction j of the run, pushed at sp + 1 as x_.
#define MA_VALUE(j, xk, yk, zk)                                                                    \
    do {                                                                                           \
        std::int32_t y_, z_;                                                                       \
        OPERAND_##xk(ip[j].a, x_, RESUME(j, sp));                                                  \
        s[sp + 1] = x_;                                                                            \
        OPERAND_##yk(ip[(j) + 1].a, y_, RESUME((j) + 1, sp + 1));                                  \
        s[sp + 2] = y_;                                                                            \
        x_ = i32(u32(x_) * u32(y_));                                                               \
        s[sp + 1] = x_;                                                                            \
        OPERAND_##zk(ip[(j) + 3].a, z_, RESUME((j) + 3, sp + 1));                                  \
        s[sp + 2] = z_;                                                                            \
        x_ = i32(u32(x_) + u32(z_));                                                               \
        s[sp + 1] = x_;                                                                            \
    } while (0)
    // LDA 0,a; LDC; x * y + z; OPR 0,2; OPR 0,2: t rises by four at most.
#define ELEM_MA_VALUE(xk, yk, zk)                                                                  \
    std::int32_t e_ = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));                        \
    std::int32_t l_ = ip[1].a, x_;                                                                 \
    s[sp + 1] = e_;                                                                                \
    s[sp + 2] = l_;                                                                                \
    sp += 2;                                                                                       \
    MA_VALUE(2, xk, yk, zk);                                                                       \
    sp -= 2;                                                                                       \
    std::int32_t d_ = i32(u32(l_) - u32(x_));                                                      \
    s[sp + 2] = d_;                                                                                \
    e_ = i32(u32(e_) - u32(d_));                                                                   \
    s[sp + 1] = e_
#define CASE_AM1(xk, yk, zk)                                                                       \
    vm_case(AM_##xk##yk##zk) {                                                                     \
        std::int32_t x_, y_, z_;                                                                   \
        OPERAND_##xk(ip[0].a, x_, SLOW);                                                           \
        s[sp + 1] = x_;                                                                            \
        OPERAND_##yk(ip[1].a, y_, RESUME(1, sp + 1));                                              \
        s[sp + 2] = y_;                                                                            \
        OPERAND_##zk(ip[2].a, z_, RESUME(2, sp + 2));                                              \
        s[sp + 3] = z_;                                                                            \
        y_ = i32(u32(y_) * u32(z_));                                                               \
        s[sp + 2] = y_;                                                                            \
        s[++sp] = i32(u32(x_) + u32(y_));                                                          \
        NEXT(5);                                                                                   \
    }                                                                                              \
    vm_case(MA_##xk##yk##zk) {                                                                     \
        std::int32_t x_;                                                                           \
        MA_VALUE(0, xk, yk, zk);                                                                   \
        ++sp;                                                                                      \
        NEXT(5);                                                                                   \
    }                                                                                              \
    vm_case(ELEM_MA_##xk##yk##zk) {                                                                \
        ELEM_MA_VALUE(xk, yk, zk);                                                                 \
        ++sp;                                                                                      \
        NEXT(9);                                                                                   \
    }                                                                                              \
    vm_case(ELEM_MA_##xk##yk##zk##_I) {                                                            \
        ELEM_MA_VALUE(xk, yk, zk);                                                                 \
        std::int64_t addr_ = std::int64_t{e_} + ip[9].a;                                           \
        if (!in_stack(addr_)) RESUME(9, sp + 1);                                                   \
        s[++sp] = s[addr_];                                                                        \
        NEXT(10);                                                                                  \
    }
#define CASE_AM(X, xyz) CASE_AM_##xyz
#define CASE_AM_CCC     CASE_AM1(C, C, C)
#define CASE_AM_CCL     CASE_AM1(C, C, L)
#define CASE_AM_CLC     CASE_AM1(C, L, C)
#define CASE_AM_CLL     CASE_AM1(C, L, L)
#define CASE_AM_LCC     CASE_AM1(L, C, C)
#define CASE_AM_LCL     CASE_AM1(L, C, L)
#define CASE_AM_LLC     CASE_AM1(L, L, C)
#define CASE_AM_LLL     CASE_AM1(L, L, L)
    VM_XYZ(CASE_AM, _)
    // LDA 0,a; GET; STO 0,0: t rises by two and falls back.
    vm_case(READ) {
        std::int32_t e_ = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));
        s[sp + 1] = e_;
        put_prompt();
        if (!read_number(s[sp + 2])) {
            sp += 2;
            ++ip;
            FAIL(MSG_NO_NUMBER);
        }
        if (!in_stack(e_)) RESUME(2, sp + 2);
        s[e_] = s[sp + 2];
        GO_ON(3);
    }
#endif
    vm_case(PUT) {
        write_number(s[sp--]);
        NEXT(1);
    }
    vm_case(LDA) {
        std::int32_t frame;
        BASE(ip->l, frame);
        s[++sp] = i32(u32(frame) + u32(ip->a));
        NEXT(1);
    }
    vm_case(LDA0) {
        s[++sp] = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));
        NEXT(1);
    }
    vm_case(IND) {
        std::int64_t addr = std::int64_t{s[sp]} + ip->a;
        CHECK_ADDRESS(addr);
        s[sp] = s[addr];
        NEXT(1);
    }
    vm_case(STO) {
        std::int32_t addr = s[sp - 1];
        CHECK_ADDRESS(addr);
        s[addr] = s[sp];
        sp -= 2;
        NEXT(1);
    }
    vm_case(FRT) {
        s[bp] = s[bp + 3];
        std::int32_t ret = s[bp + 2];
        std::int32_t link = s[bp + 1];
        sp = bp;
        if (u32(ret) >= u32(code_end)) FAIL(MSG_BAD_CODE_ADDRESS);
        if (link < 0 || link > STACK_SIZE - 4) FAIL(MSG_BAD_ADDRESS);
        bp = link;
        NEXT_AFTER(1, prog + ret);
    }
    vm_case(CUP) {
        // The return-address cell; the new frame starts two cells below it.
        std::int64_t cell = std::int64_t{sp} - ip->l;
        if (cell < 2 || cell > STACK_SIZE - 2) FAIL(MSG_BAD_ADDRESS);
        s[cell] = INDEX(ip) + 1;
        bp = cell - 2;
        NEXT_AFTER(1, prog + ip->a);
    }
    // Jumps out of the store: the jump's effect, then the fetch from the
    // end fails (after the test of t).
    vm_case(UJP_OFF) {
        goto jumped_off;
    }
    vm_case(FJP_OFF) {
        std::int32_t v = s[sp--];
        if (v == 0) goto jumped_off;
        NEXT(1);
    }
    vm_case(CUP_OFF) {
        std::int64_t cell = std::int64_t{sp} - ip->l;
        if (cell < 2 || cell > STACK_SIZE - 2) FAIL(MSG_BAD_ADDRESS);
        s[cell] = INDEX(ip) + 1;
        bp = cell - 2;
        goto jumped_off;
    }
#if TSUMIKI_TRACE
    // The traced build fuses nothing: no step ever runs these.
#define VM_UNUSED(name) vm_case(name)
    VM_FUSED_OPS(VM_UNUSED)
#undef VM_UNUSED
#endif
    vm_case(UNDEFINED) {
        FAIL(MSG_UNDEFINED_OP);
    }
    vm_case(OFF_END) {
        // Only the last instruction runs into the end; jumps are handled above.
        --ip;
        fault = MSG_BAD_CODE_ADDRESS;
        goto failed;
    }

#if !TSUMIKI_TRACE
    VM_BINOPS(CASE_X, _)
    VM_BINOPS(CASE_XY, _)
    VM_ARITHS(CASE_XYS, _)
    VM_ARITHS(CASE_XYSU, _)
    VM_COPS(CASE_XYJ, _)
    VM_COPS(CASE_XJ, _)
    CASE_XS(C)
    CASE_XS(L)
    VM_ARITHS(CASE_S, _)
    VM_ARITHS(CASE_XS_, _)
    VM_COPS(CASE_J, _)
    vm_case(LDA_C) {
        s[sp + 1] = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));
        s[sp + 2] = ip[1].a;
        sp += 2;
        NEXT(2);
    }
    // A jump to a return: t is as the test before the jump found it, so the
    // return runs at once.
    vm_case(UJP_FRT) {
        ip = prog + ip->a;
        vm_dispatch(VM_FRT);
    }
    vm_case(UJP_RET) {
        ip = prog + ip->a;
        vm_dispatch(VM_RET);
    }

#endif
    vm_case(MST0) {
        s[sp + 1] = static_cast<std::int32_t>(bp);
        s[sp + 2] = static_cast<std::int32_t>(bp);
        sp = top_within(sp + ip->a);
        NEXT(1);
    }
    vm_case(MST1) {
        s[sp + 1] = s[bp];
        s[sp + 2] = static_cast<std::int32_t>(bp);
        sp = top_within(sp + ip->a);
        NEXT(1);
    }
#if !TSUMIKI_TRACE
    // CUP, then the UJP at its target (t unchanged, so the test before each
    // fetch passes), then the ENT that UJP leads to.
    vm_case(CUP_ENT) {
        std::int64_t cell = std::int64_t{sp} - ip->l;
        if (cell < 2 || cell > STACK_SIZE - 2) FAIL(MSG_BAD_ADDRESS);
        s[cell] = ip->y;
        bp = cell - 2;
        ip = prog + ip->x;
        sp = top_within(bp + ip->a);
        NEXT(1);
    }
    // A call with one argument: MST l,a with l of 0 or 1, the argument, then
    // CUP_ENT as above, which is instruction j of the run, with t = top.
    // t rises by a and then by one or two cells above it.
#define CALL_MST(room)                                                                             \
    std::int64_t top_ = sp + ip->a;                                                                \
    if (top_ >= STACK_OVERFLOW - (room)) SLOW;                                                     \
    s[sp + 1] = ip->l == 0 ? static_cast<std::int32_t>(bp) : s[bp];                                \
    s[sp + 2] = static_cast<std::int32_t>(bp)
#define CALL_ENTER(j, top)                                                                         \
    {                                                                                              \
        const Step& cup_ = ip[j];                                                                  \
        std::int64_t cell_ = (top)-cup_.l;                                                         \
        if (cell_ < 2 || cell_ > STACK_SIZE - 2) RESUME(j, top);                                   \
        s[cell_] = cup_.y;                                                                         \
        bp = cell_ - 2;                                                                            \
        ip = prog + cup_.x;                                                                        \
        sp = top_within(bp + ip->a);                                                               \
        NEXT(1);                                                                                   \
    }
#define CASE_CALLX(xk)                                                                             \
    vm_case(CALL_##xk) {                                                                           \
        CALL_MST(1);                                                                               \
        std::int32_t x_;                                                                           \
        OPERAND_##xk(ip[1].a, x_, RESUME(1, top_));                                                \
        s[top_ + 1] = x_;                                                                          \
        CALL_ENTER(2, top_ + 1);                                                                   \
    }
#define MST_XY(xk, yk, op)                                                                         \
    CALL_MST(2);                                                                                   \
    std::int32_t x_, y_, r_;                                                                       \
    OPERAND_##xk(ip[1].a, x_, RESUME(1, top_));                                                    \
    s[top_ + 1] = x_;                                                                              \
    OPERAND_##yk(ip[2].a, y_, RESUME(2, top_ + 1));                                                \
    s[top_ + 2] = y_;                                                                              \
    BINOP_##op(x_, y_, r_, RESUME(3, top_ + 2));                                                   \
    s[top_ + 1] = r_
#define CASE_CALLXY1(xk, yk, op)                                                                   \
    vm_case(CALL_##xk##yk##_##op) {                                                                \
        MST_XY(xk, yk, op);                                                                        \
        CALL_ENTER(4, top_ + 1);                                                                   \
    }                                                                                              \
    vm_case(MST_##xk##yk##_##op) {                                                                 \
        MST_XY(xk, yk, op);                                                                        \
        sp = top_ + 1;                                                                             \
        NEXT(4);                                                                                   \
    }
#define CASE_CALLXY(X, op)                                                                         \
    CASE_CALLXY1(C, C, op) CASE_CALLXY1(C, L, op) CASE_CALLXY1(L, C, op) CASE_CALLXY1(L, L, op)
    CASE_CALLX(C)
    CASE_CALLX(L)
    // The last arguments of a call, one or two operands, then CUP_ENT.
#define CASE_XCUP(xk)                                                                              \
    vm_case(xk##_CUP) {                                                                            \
        std::int32_t x_;                                                                           \
        OPERAND_##xk(ip[0].a, x_, SLOW);                                                           \
        s[sp + 1] = x_;                                                                            \
        CALL_ENTER(1, sp + 1);                                                                     \
    }
#define CASE_XYCUP(xk, yk)                                                                         \
    vm_case(xk##yk##_P_CUP) {                                                                      \
        std::int32_t x_, y_;                                                                       \
        OPERAND_##xk(ip[0].a, x_, SLOW);                                                           \
        s[sp + 1] = x_;                                                                            \
        OPERAND_##yk(ip[1].a, y_, RESUME(1, sp + 1));                                              \
        s[sp + 2] = y_;                                                                            \
        CALL_ENTER(2, sp + 2);                                                                     \
    }
    CASE_XCUP(C)
    CASE_XCUP(L)
    CASE_XYCUP(C, C)
    CASE_XYCUP(C, L)
    CASE_XYCUP(L, C)
    CASE_XYCUP(L, L)
    // STR 0,a, then the return (t falls by one, to no less than 0).
#define CASE_SRET(ret)                                                                             \
    vm_case(S_##ret) {                                                                             \
        if (sp < 1) SLOW;                                                                          \
        STORE_LOCAL(ip->a, s[sp], SLOW);                                                           \
        --sp;                                                                                      \
        RETURN_AT(ret);                                                                            \
    }
    CASE_SRET(FRT)
    CASE_SRET(RET)
    VM_ARITHS(CASE_CALLXY, _)
    // LDA 0,a; x; y; OPR 0,2; OPR 0,2 (then IND 0,k): t rises by three.
#define ELEM_VALUE(yk)                                                                             \
    std::int32_t e_ = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));                        \
    std::int32_t x_ = ip[1].a, y_;                                                                 \
    s[sp + 1] = e_;                                                                                \
    s[sp + 2] = x_;                                                                                \
    OPERAND_##yk(ip[2].a, y_, RESUME(2, sp + 2));                                                  \
    s[sp + 3] = y_;                                                                                \
    std::int32_t d_ = i32(u32(x_) - u32(y_));                                                      \
    s[sp + 2] = d_;                                                                                \
    e_ = i32(u32(e_) - u32(d_));                                                                   \
    s[sp + 1] = e_
#define CASE_ELEM(yk)                                                                              \
    vm_case(ELEM_C##yk) {                                                                          \
        ELEM_VALUE(yk);                                                                            \
        ++sp;                                                                                      \
        NEXT(5);                                                                                   \
    }                                                                                              \
    vm_case(ELEM_C##yk##_I) {                                                                      \
        ELEM_VALUE(yk);                                                                            \
        std::int64_t addr_ = std::int64_t{e_} + ip[5].a;                                           \
        if (!in_stack(addr_)) RESUME(5, sp + 1);                                                   \
        s[++sp] = s[addr_];                                                                        \
        NEXT(6);                                                                                   \
    }
    CASE_ELEM(C)
    CASE_ELEM(L)
    // An element address at t + 1 (e_), then the value of an assignment to
    // it, instruction j of the run, and STO 0,0: t rises by one more and
    // falls back by two.
#define ELEM_STORE(vk, j)                                                                          \
    {                                                                                              \
        std::int32_t v_;                                                                           \
        OPERAND_##vk(ip[j].a, v_, RESUME(j, sp + 1));                                              \
        s[sp + 2] = v_;                                                                            \
        if (!in_stack(e_)) RESUME((j) + 1, sp + 2);                                                \
        s[e_] = v_;                                                                                \
        GO_ON((j) + 2);                                                                            \
    }
#define CASE_ELEMS(yk, vk)                                                                         \
    vm_case(ELEM_C##yk##_S##vk) {                                                                  \
        ELEM_VALUE(yk);                                                                            \
        ELEM_STORE(vk, 5);                                                                         \
    }
    CASE_ELEMS(C, C)
    CASE_ELEMS(C, L)
    CASE_ELEMS(L, C)
    CASE_ELEMS(L, L)
    // LDA 0,a; LDC; x; y; op; OPR 0,2; OPR 0,2 (then IND 0,k): t rises by
    // four.
#define ELEM_XY_VALUE(xk, yk, op)                                                                  \
    std::int32_t e_ = i32(u32(static_cast<std::int32_t>(bp)) + u32(ip->a));                        \
    std::int32_t l_ = ip[1].a, x_, y_;                                                             \
    s[sp + 1] = e_;                                                                                \
    s[sp + 2] = l_;                                                                                \
    OPERAND_##xk(ip[2].a, x_, RESUME(2, sp + 2));                                                  \
    s[sp + 3] = x_;                                                                                \
    OPERAND_##yk(ip[3].a, y_, RESUME(3, sp + 3));                                                  \
    s[sp + 4] = y_;                                                                                \
    BINOP_##op(x_, y_, x_, );                                                                      \
    s[sp + 3] = x_;                                                                                \
    std::int32_t d_ = i32(u32(l_) - u32(x_));                                                      \
    s[sp + 2] = d_;                                                                                \
    e_ = i32(u32(e_) - u32(d_));                                                                   \
    s[sp + 1] = e_
#define CASE_ELEMXY1(xk, yk, op)                                                                   \
    vm_case(ELEM_##xk##yk##_##op) {                                                                \
        ELEM_XY_VALUE(xk, yk, op);                                                                 \
        ++sp;                                                                                      \
        NEXT(7);                                                                                   \
    }                                                                                              \
    vm_case(ELEM_##xk##yk##_##op##_I) {                                                            \
        ELEM_XY_VALUE(xk, yk, op);                                                                 \
        std::int64_t addr_ = std::int64_t{e_} + ip[7].a;                                           \
        if (!in_stack(addr_)) RESUME(7, sp + 1);                                                   \
        s[++sp] = s[addr_];                                                                        \
        NEXT(8);                                                                                   \
    }
#define CASE_ELEMXYS1(xk, yk, op, vk)                                                              \
    vm_case(ELEM_##xk##yk##_##op##_S##vk) {                                                        \
        ELEM_XY_VALUE(xk, yk, op);                                                                 \
        ELEM_STORE(vk, 7);                                                                         \
    }
// clang-format off
#define CASE_ELEMXY(X, op)                                                                         \
    CASE_ELEMXY1(C, C, op) CASE_ELEMXY1(C, L, op) CASE_ELEMXY1(L, C, op) CASE_ELEMXY1(L, L, op)    \
    CASE_ELEMXYS1(C, C, op, C) CASE_ELEMXYS1(C, L, op, C)                                          \
    CASE_ELEMXYS1(L, C, op, C) CASE_ELEMXYS1(L, L, op, C)                                          \
    CASE_ELEMXYS1(C, C, op, L) CASE_ELEMXYS1(C, L, op, L)                                          \
    CASE_ELEMXYS1(L, C, op, L) CASE_ELEMXYS1(L, L, op, L)
    // clang-format on
    VM_ELEMOPS(CASE_ELEMXY, _)
    // x; STR 0,a; UJP: t rises by one and falls back.
#define CASE_XSU(xk)                                                                               \
    vm_case(xk##_SU) {                                                                             \
        X_STORE(xk);                                                                               \
        GO_ON_AFTER(prog + ip[2].a);                                                               \
    }
    CASE_XSU(C)
    CASE_XSU(L)
    // OPR 0,2; OPR 0,2; IND 0,k: t falls by two.
    vm_case(SUB2_I) {
        if (sp < 2) SLOW;
        std::int32_t d_ = i32(u32(s[sp - 1]) - u32(s[sp]));
        std::int32_t e_ = i32(u32(s[sp - 2]) - u32(d_));
        std::int64_t addr_ = std::int64_t{e_} + ip[2].a;
        if (!in_stack(addr_)) SLOW; // before any cell changes
        s[sp - 1] = d_;
        s[sp - 2] = e_;
        sp -= 2;
        s[sp] = s[addr_];
        GO_ON(3);
    }
    // OPR 0,2; OPR 0,2: t falls by two.
    vm_case(SUB2) {
        if (sp < 1) SLOW;
        std::int32_t d_ = i32(u32(s[sp - 1]) - u32(s[sp]));
        s[sp - 1] = d_;
        s[sp - 2] = i32(u32(s[sp - 2]) - u32(d_));
        sp -= 2;
        NEXT(2);
    }
    // x; STO 0,0: t rises by one, then falls by two.
#define CASE_XSTO(xk)                                                                              \
    vm_case(xk##_STO) {                                                                            \
        std::int32_t x_;                                                                           \
        OPERAND_##xk(ip->a, x_, SLOW);                                                             \
        s[sp + 1] = x_;                                                                            \
        std::int32_t addr_ = s[sp];                                                                \
        if (!in_stack(addr_)) RESUME(1, sp + 1);                                                   \
        s[addr_] = x_;                                                                             \
        --sp;                                                                                      \
        NEXT(2);                                                                                   \
    }
    // x - x div y * y: t rises by three at most, and by one in the end.
#define REM_VALUE(yk)                                                                              \
    std::int32_t x_, y_, r_;                                                                       \
    OPERAND_L(ip[0].a, x_, SLOW);                                                                  \
    s[sp + 1] = x_;                                                                                \
    OPERAND_L(ip[1].a, x_, RESUME(1, sp + 1));                                                     \
    s[sp + 2] = x_;                                                                                \
    OPERAND_##yk(ip[2].a, y_, RESUME(2, sp + 2));                                                  \
    s[sp + 3] = y_;                                                                                \
    BINOP_DIV(x_, y_, r_, RESUME(3, sp + 3));                                                      \
    s[sp + 2] = r_;                                                                                \
    OPERAND_##yk(ip[4].a, y_, RESUME(4, sp + 2));                                                  \
    s[sp + 3] = y_;                                                                                \
    r_ = i32(u32(r_) * u32(y_));                                                                   \
    s[sp + 2] = r_;                                                                                \
    r_ = i32(u32(s[sp + 1]) - u32(r_));                                                            \
    s[sp + 1] = r_
#define CASE_REM(yk)                                                                               \
    vm_case(REM_##yk) {                                                                            \
        REM_VALUE(yk);                                                                             \
        ++sp;                                                                                      \
        NEXT(7);                                                                                   \
    }                                                                                              \
    vm_case(REM_##yk##_S) {                                                                        \
        REM_VALUE(yk);                                                                             \
        STORE_LOCAL(ip[7].a, r_, RESUME(7, sp + 1));                                               \
        GO_ON(8);                                                                                  \
    }
    CASE_REM(C)
    CASE_REM(L)
    CASE_XSTO(C)
    CASE_XSTO(L)
    // x; y: t rises by two.
#define CASE_XYP(xk, yk)                                                                           \
    vm_case(xk##yk##_P) {                                                                          \
        std::int32_t x_, y_;                                                                       \
        OPERAND_##xk(ip->a, x_, SLOW);                                                             \
        s[sp + 1] = x_;                                                                            \
        OPERAND_##yk(ip[1].a, y_, RESUME(1, sp + 1));                                              \
        s[sp + 2] = y_;                                                                            \
        sp += 2;                                                                                   \
        NEXT(2);                                                                                   \
    }
    CASE_XYP(C, C)
    CASE_XYP(C, L)
    CASE_XYP(L, C)
    CASE_XYP(L, L)
    // LOD 0,a; IND 0,k: t rises by one.
    vm_case(L_I) {
        std::int32_t x_;
        OPERAND_L(ip->a, x_, SLOW);
        s[sp + 1] = x_;
        std::int64_t addr_ = std::int64_t{x_} + ip[1].a;
        if (!in_stack(addr_)) RESUME(1, sp + 1);
        s[++sp] = s[addr_];
        NEXT(2);
    }
    // LOD 0,a; IND 0,k; STR 0,a: t rises by one and falls back.
    vm_case(L_I_S) {
        std::int32_t x_;
        OPERAND_L(ip->a, x_, SLOW);
        s[sp + 1] = x_;
        std::int64_t addr_ = std::int64_t{x_} + ip[1].a;
        if (!in_stack(addr_)) RESUME(1, sp + 1);
        x_ = s[addr_];
        s[sp + 1] = x_;
        STORE_LOCAL(ip[2].a, x_, RESUME(2, sp + 1));
        GO_ON(3);
    }
    // LOD 0,a; LOD 0,a (IND 0,k); STO 0,0: t rises by two and falls back.
    vm_case(LL_STO) {
        std::int32_t x_, y_;
        OPERAND_L(ip->a, x_, SLOW);
        s[sp + 1] = x_;
        OPERAND_L(ip[1].a, y_, RESUME(1, sp + 1));
        s[sp + 2] = y_;
        if (!in_stack(x_)) RESUME(2, sp + 2);
        s[x_] = y_;
        GO_ON(3);
    }
    vm_case(L_LI_STO) {
        std::int32_t x_, y_;
        OPERAND_L(ip->a, x_, SLOW);
        s[sp + 1] = x_;
        OPERAND_L(ip[1].a, y_, RESUME(1, sp + 1));
        s[sp + 2] = y_;
        std::int64_t addr_ = std::int64_t{y_} + ip[2].a;
        if (!in_stack(addr_)) RESUME(2, sp + 2);
        y_ = s[addr_];
        s[sp + 2] = y_;
        if (!in_stack(x_)) RESUME(3, sp + 2);
        s[x_] = y_;
        GO_ON(4);
    }

#endif
    vm_loop_end

#if !TSUMIKI_TRACE
        slow : vm_dispatch(ip->single);
#endif

near_limit:
    if (static_cast<std::uint64_t>(sp) >= std::uint64_t{STACK_OVERFLOW}) goto stack_fault;
    ip = next;
    VM_FETCH();
    vm_dispatch(ip->single);

jumped_off:
    if (static_cast<std::uint64_t>(sp) >= std::uint64_t{STACK_OVERFLOW}) {
        next = prog + code_end;
        ran = 1;
        goto stack_fault;
    }
    SYNC_REGISTERS(code_end);
    ir = code[INDEX(ip)];
    ir_pc = INDEX(ip);
    runtime_error(MSG_BAD_CODE_ADDRESS);

stack_fault:
    SYNC_REGISTERS(INDEX(next));
    ir = code[INDEX(ip) + ran - 1];
    ir_pc = INDEX(ip) + ran - 1;
    runtime_error(sp < 0 ? MSG_STACK_UNDERFLOW : MSG_STACK_OVERFLOW);

failed:
    SYNC_REGISTERS(INDEX(ip) + 1);
    ir = code[INDEX(ip)];
    ir_pc = INDEX(ip);
    runtime_error(fault);

#undef INDEX
#undef SYNC_REGISTERS
#undef FAIL
#undef CHECK_ADDRESS
#undef BASE
#undef NEXT_AFTER
#undef NEXT
#undef GO_ON_AFTER
#undef GO_ON
#undef SLOW
#undef RESUME
#undef VM_FETCH
#undef VM_TARGET
#undef VM_LOAD_OP
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

void reset_machine() {
    std::memset(stack_cells, 0, sizeof stack_cells);
    p = b = t = 0;
    ir = Instruction{};
    ir_pc = -1;
}
