// The symbol table: what each registration records, newest-first lookups,
// the undeclared-name message of each lookup, and its capacities.
#include <gtest/gtest.h>

#include <string>

#include "support.hpp"
#include "symtab/symtab.hpp"

namespace {

std::string undeclared(const char* suffix) {
    return std::string("構文エラー: 宣言されていない識別子の使用(") + suffix + ")\n\n";
}

} // namespace

TEST(SymtabRegistration, EachKindWritesItsFields) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_var("x", 0, 3);
    regist_array("a", 0, 4, 1, 3);
    regist_ref_param("r", 1, 4);
    regist_func("f", 0, 7);
    ASSERT_EQ(sym_count, 5);
    EXPECT_STREQ(symtab[0].name, ""); // the sentinel is never written

    const SymbolEntry& p = symtab[1];
    EXPECT_STREQ(p.name, "p");
    EXPECT_EQ(p.kind, SYM_PROC);
    EXPECT_EQ(p.level, 0);
    EXPECT_EQ(p.code_adr, 0);

    const SymbolEntry& a = symtab[3];
    EXPECT_EQ(a.kind, SYM_ARRAY);
    EXPECT_EQ(a.low, 1);
    EXPECT_EQ(a.size, 3);
    EXPECT_EQ(a.offset, 4);

    EXPECT_EQ(symtab[4].kind, SYM_REF);
    EXPECT_EQ(symtab[4].level, 1);
    EXPECT_EQ(symtab[5].kind, SYM_FUNC);
    EXPECT_EQ(symtab[5].code_adr, 7);

    EXPECT_EQ(get_kind("x"), SYM_VAR);
    EXPECT_EQ(get_offset("x"), 3);
    EXPECT_EQ(get_level("r"), 1);
    EXPECT_EQ(get_offset("r"), 4);
    EXPECT_EQ(get_array_low("a"), 1);
    EXPECT_EQ(get_code_adr("f"), 7);
}

TEST(SymtabRegistration, ReusedSlotKeepsFieldsItsKindDoesNotWrite) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_array("a", 0, 3, -4, 9);
    sym_count = 1; // the scope holding a is dropped
    regist_var("x", 0, 3);
    // Only name, kind, level and offset are written for a variable; the
    // array bound of the dropped entry is still there, and get_array_low
    // returns it without looking at the kind.
    EXPECT_EQ(symtab[2].kind, SYM_VAR);
    EXPECT_EQ(get_array_low("x"), -4);
    EXPECT_EQ(symtab[2].size, 9);
    // In a slot never used before the field is zero.
    regist_var("y", 0, 4);
    EXPECT_EQ(get_array_low("y"), 0);
}

TEST(SymtabLookup, NewestEntryWinsAndDroppedScopesComeBack) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_var("x", 0, 3);
    regist_proc("q", 0, 1);
    int saved = sym_count;
    regist_var("x", 1, 3);
    regist_var("x", 1, 4); // twice in one block: the second one is found
    EXPECT_EQ(get_level("x"), 1);
    EXPECT_EQ(get_offset("x"), 4);
    sym_count = saved;
    EXPECT_EQ(get_level("x"), 0);
    EXPECT_EQ(get_offset("x"), 3);
    EXPECT_EQ(get_kind("q"), SYM_PROC);
}

TEST(SymtabLookup, NamesDifferingInCaseAreDifferent) {
    reset_all();
    regist_var("Abc", 0, 3);
    regist_var("abc", 0, 4);
    EXPECT_EQ(get_offset("Abc"), 3);
    EXPECT_EQ(get_offset("abc"), 4);
    Outcome o = capture([] { get_kind("ABC"); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, undeclared("k"));
}

TEST(SymtabLookup, EachLookupNamesItselfWhenTheNameIsUndeclared) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_var("x", 0, 3);
    struct Case {
        void (*lookup)();
        const char* suffix;
    };
    const Case cases[] = {
        {[] { get_array_low("y"); }, "as"},
        {[] { get_param_kind("y", 0); }, "rr"},
        {[] { ReRegist("y", 0, SYM_VAR); }, "rr"},
        {[] { get_kind("y"); }, "k"},
        {[] { get_level("y"); }, "l"},
        {[] { get_offset("y"); }, "a"},
        {[] { get_code_adr("y"); }, "i"},
    };
    for (const Case& c : cases) {
        Outcome o = capture(c.lookup);
        EXPECT_EQ(o.status, 1) << c.suffix;
        EXPECT_EQ(o.out, undeclared(c.suffix));
    }
}

TEST(SymtabLookup, EmptyTableFindsNothing) {
    reset_all();
    Outcome o = capture([] { get_kind("p"); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, undeclared("k"));
}

TEST(SymtabReRegist, RecordsPassingKindsOnTheNewestRoutine) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_proc("q", 0, 1);
    ReRegist("q", 0, SYM_VAR);
    ReRegist("q", 1, SYM_REF);
    EXPECT_EQ(symtab[2].param_kinds[0], SYM_VAR);
    EXPECT_EQ(symtab[2].param_kinds[1], SYM_REF);
    EXPECT_EQ(symtab[2].param_count, 2);
    EXPECT_EQ(get_param_kind("q", 0), SYM_VAR);
    EXPECT_EQ(get_param_kind("q", 1), SYM_REF);
    regist_func("f", 0, 5);
    ReRegist("f", 0, SYM_REF);
    EXPECT_EQ(get_param_kind("f", 0), SYM_REF);
}

TEST(SymtabReRegist, RefusesAnythingButARoutine) {
    reset_all();
    regist_proc("p", 0, 0);
    regist_var("p", 1, 3); // a parameter bearing its routine's name
    Outcome o = capture([] { ReRegist("p", 0, SYM_VAR); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: 関数以外の属性を変更しようとしました(rr)\n\n");
}

TEST(SymtabReRegist, ThirtyTwoPositionsAndNoMore) {
    reset_all();
    regist_proc("q", 0, 1);
    for (int i = 0; i < PARAM_MAX; ++i)
        ReRegist("q", i, i % 2 == 0 ? SYM_VAR : SYM_REF);
    EXPECT_EQ(get_param_kind("q", 31), SYM_REF);
    Outcome o = capture([] { ReRegist("q", 32, SYM_REF); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: 引数が多すぎます(32個まで)\n");
}

// A routine registered in the slot of a dropped routine with more
// parameters: the bytes beyond its own parameters are the old routine's,
// but a position beyond them is always by value.
TEST(SymtabReRegist, PositionsBeyondTheParametersPassByValue) {
    reset_all();
    regist_proc("p", 0, 0);
    int saved = sym_count;
    regist_proc("old", 0, 1);
    ReRegist("old", 0, SYM_REF);
    ReRegist("old", 1, SYM_REF);
    ReRegist("old", 2, SYM_REF);
    sym_count = saved;
    regist_proc("c", 0, 9);
    ReRegist("c", 0, SYM_VAR);
    ASSERT_EQ(&symtab[sym_count], &symtab[2]);
    EXPECT_EQ(symtab[2].param_kinds[1], SYM_REF); // the stale byte is there
    EXPECT_EQ(get_param_kind("c", 0), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", 1), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", 2), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", 31), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", 32), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", 100000), SYM_VAR);
    EXPECT_EQ(get_param_kind("c", -1), SYM_VAR);
}

TEST(SymtabCapacity, NineThousandNineHundredNinetyNineLiveNames) {
    reset_all();
    for (int i = 1; i <= SYMTAB_MAX - 1; ++i) {
        std::string name = "v";
        name += std::to_string(i);
        regist_var(name.c_str(), 0, i + 2);
    }
    EXPECT_EQ(sym_count, 9999);
    EXPECT_EQ(get_offset("v1"), 3);
    EXPECT_EQ(get_offset("v9999"), 10001);
    Outcome o = capture([] { regist_var("w", 0, 0); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "構文エラー: 名前が多すぎます(9999個まで)\n");
    EXPECT_EQ(sym_count, 9999);
    // Dropping a scope makes room again.
    sym_count = 9998;
    regist_proc("w", 0, 0);
    EXPECT_EQ(get_kind("w"), SYM_PROC);
}
