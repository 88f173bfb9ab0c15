// The experiment's programs, written with a small builder so that each
// reads like its source in bench/programs.
#include "program.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace backends {

std::int32_t Routine::frame_cells() const {
    std::int32_t cells = LINK_CELLS + vars;
    for (const Array& a : arrays)
        cells += a.size;
    return cells;
}

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Builds the routines of one program; expressions and statements return
// their index in the program's tables.
class Builder {
public:
    explicit Builder(Program& p) : p_(p) {}

    int routine(const std::string& name, int params, int vars, int result = -1) {
        Routine r;
        r.name = name;
        r.params = params;
        r.vars = vars;
        r.result = result;
        p_.routines.push_back(r);
        return static_cast<int>(p_.routines.size()) - 1;
    }
    int array(int routine, std::int32_t lo, std::int32_t hi) {
        auto& arrays = p_.routines[static_cast<std::size_t>(routine)].arrays;
        arrays.push_back(Array{lo, hi - lo + 1});
        return static_cast<int>(arrays.size()) - 1;
    }
    void body(int routine, std::vector<int> stmts) {
        p_.routines[static_cast<std::size_t>(routine)].body = std::move(stmts);
    }

    int c(std::int32_t v) {
        Expr e;
        e.kind = Expr::Const;
        e.value = v;
        return expr(e);
    }
    int v(int var) {
        Expr e;
        e.kind = Expr::Var;
        e.var = var;
        return expr(e);
    }
    int bin(Op op, int l, int r) {
        Expr e;
        e.kind = Expr::Bin;
        e.op = op;
        e.l = l;
        e.r = r;
        return expr(e);
    }
    int add(int l, int r) { return bin(Op::Add, l, r); }
    int sub(int l, int r) { return bin(Op::Sub, l, r); }
    int mul(int l, int r) { return bin(Op::Mul, l, r); }
    int div(int l, int r) { return bin(Op::Div, l, r); }
    // l - l div r * r, as the programs write a remainder.
    int rem(int var, std::int32_t r) { return sub(v(var), mul(div(v(var), c(r)), c(r))); }
    int at(int array, int index) {
        Expr e;
        e.kind = Expr::Index;
        e.array = array;
        e.l = index;
        return expr(e);
    }
    int call(int fn, std::vector<int> args) {
        Expr e;
        e.kind = Expr::Call;
        e.fn = fn;
        e.args = std::move(args);
        return expr(e);
    }
    int read() {
        Expr e;
        e.kind = Expr::Read;
        return expr(e);
    }

    int assign(int var, int value) {
        Stmt s;
        s.kind = Stmt::Assign;
        s.var = var;
        s.value = value;
        return stmt(s);
    }
    int store(int array, int index, int value) {
        Stmt s;
        s.kind = Stmt::Store;
        s.array = array;
        s.index = index;
        s.value = value;
        return stmt(s);
    }
    int loop(int cond, std::vector<int> body) {
        Stmt s;
        s.kind = Stmt::While;
        s.value = cond;
        s.body = std::move(body);
        return stmt(s);
    }
    int when(int cond, std::vector<int> then, std::vector<int> other = {}) {
        Stmt s;
        s.kind = Stmt::If;
        s.value = cond;
        s.body = std::move(then);
        s.other = std::move(other);
        return stmt(s);
    }
    int write(int value) {
        Stmt s;
        s.kind = Stmt::Write;
        s.value = value;
        return stmt(s);
    }
    // var := var + 1
    int step(int var) { return assign(var, add(v(var), c(1))); }

private:
    int expr(const Expr& e) {
        p_.exprs.push_back(e);
        return static_cast<int>(p_.exprs.size()) - 1;
    }
    int stmt(const Stmt& s) {
        p_.stmts.push_back(s);
        return static_cast<int>(p_.stmts.size()) - 1;
    }
    Program& p_;
};

} // namespace

Program loops_program(const std::string& bench_dir) {
    Program p;
    p.name = "loops";
    p.expected = read_file(bench_dir + "/loops.out");
    Builder b(p);
    enum { n, i, j, k, s };
    int m = b.routine("main", 0, 5);
    b.body(m, {
        b.assign(n, b.c(300)),
        b.assign(s, b.c(0)),
        b.assign(i, b.c(0)),
        b.loop(b.bin(Op::Lt, b.v(i), b.v(n)), {
            b.assign(j, b.c(0)),
            b.loop(b.bin(Op::Lt, b.v(j), b.v(n)), {
                b.assign(k, b.c(0)),
                b.loop(b.bin(Op::Lt, b.v(k), b.v(n)), {
                    b.assign(s, b.add(b.add(b.v(s), b.mul(b.v(i), b.v(k))), b.v(j))),
                    b.step(k),
                }),
                b.assign(s, b.rem(s, 1000003)),
                b.step(j),
            }),
            b.when(b.bin(Op::Eq, b.rem(i, 30), b.c(0)), {b.write(b.v(s))}),
            b.step(i),
        }),
        b.write(b.v(s)),
    });
    return p;
}

Program matrix_program(const std::string& bench_dir) {
    Program p;
    p.name = "matrix";
    p.expected = read_file(bench_dir + "/matrix.out");
    Builder b(p);
    enum { n, i, j, k, s, round, trace };
    int m = b.routine("main", 0, 7);
    int A = b.array(m, 0, 143), B = b.array(m, 0, 143), C = b.array(m, 0, 143);
    auto nn = [&] { return b.mul(b.v(n), b.v(n)); };
    auto lt = [&](int var, int e) { return b.bin(Op::Lt, b.v(var), e); };
    b.body(m, {
        b.assign(n, b.c(12)),
        b.assign(i, b.c(0)),
        b.loop(lt(i, nn()), {
            b.store(A, b.v(i), b.rem(i, 7)),
            b.store(B, b.v(i), b.add(b.rem(i, 5), b.c(1))),
            b.step(i),
        }),
        b.assign(round, b.c(0)),
        b.loop(lt(round, b.c(6000)), {
            b.assign(i, b.c(0)),
            b.loop(lt(i, b.v(n)), {
                b.assign(j, b.c(0)),
                b.loop(lt(j, b.v(n)), {
                    b.assign(s, b.c(0)),
                    b.assign(k, b.c(0)),
                    b.loop(lt(k, b.v(n)), {
                        b.assign(s, b.add(b.v(s),
                                          b.mul(b.at(A, b.add(b.mul(b.v(i), b.v(n)), b.v(k))),
                                                b.at(B, b.add(b.mul(b.v(k), b.v(n)), b.v(j)))))),
                        b.step(k),
                    }),
                    b.store(C, b.add(b.mul(b.v(i), b.v(n)), b.v(j)), b.rem(s, 1009)),
                    b.step(j),
                }),
                b.step(i),
            }),
            b.assign(i, b.c(0)),
            b.loop(lt(i, nn()), {
                b.store(A, b.v(i), b.at(C, b.v(i))),
                b.step(i),
            }),
            b.when(b.bin(Op::Eq, b.rem(round, 300), b.c(0)), {
                b.assign(trace, b.c(0)),
                b.assign(i, b.c(0)),
                b.loop(lt(i, b.v(n)), {
                    b.assign(trace, b.add(b.v(trace), b.at(A, b.add(b.mul(b.v(i), b.v(n)), b.v(i))))),
                    b.step(i),
                }),
                b.write(b.v(trace)),
            }),
            b.step(round),
        }),
        b.assign(s, b.c(0)),
        b.assign(i, b.c(0)),
        b.loop(lt(i, nn()), {
            b.assign(s, b.add(b.v(s), b.mul(b.at(A, b.v(i)), b.add(b.v(i), b.c(1))))),
            b.step(i),
        }),
        b.write(b.v(s)),
    });
    return p;
}

Program fib_program(const std::string& bench_dir) {
    Program p;
    p.name = "fib";
    p.expected = read_file(bench_dir + "/fib.out");
    Builder b(p);
    int m = b.routine("main", 0, 1);
    // fib(n): variable 0 is n, variable 1 the result.
    int fib = b.routine("fib", 1, 2, 1);
    b.body(fib, {
        b.when(b.bin(Op::Lt, b.v(0), b.c(2)), {b.assign(1, b.v(0))},
               {b.assign(1, b.add(b.call(fib, {b.sub(b.v(0), b.c(1))}),
                                  b.call(fib, {b.sub(b.v(0), b.c(2))})))}),
    });
    b.body(m, {
        b.assign(0, b.c(25)),
        b.loop(b.bin(Op::Le, b.v(0), b.c(33)), {
            b.write(b.call(fib, {b.v(0)})),
            b.step(0),
        }),
    });
    return p;
}

namespace {

std::int32_t straight_constant(int k) { return 2 + k % 97; }

} // namespace

Program straight_program(int statements, bool chain) {
    Program p;
    p.name = chain ? "chain" : "straight";
    p.input = "3\n5\n7\n";
    Builder b(p);
    enum { a, bb, c, d };
    int m = b.routine("main", 0, 4);
    std::vector<int> body = {
        b.assign(a, b.read()), b.assign(bb, b.read()), b.assign(c, b.read()), b.assign(d, b.c(0)),
    };
    std::uint32_t expect = 0;
    for (int k = 0; k < statements; ++k) {
        std::int32_t K = straight_constant(k);
        if (chain) {
            // d := d * a + K - b * c
            body.push_back(b.assign(d, b.sub(b.add(b.mul(b.v(d), b.v(a)), b.c(K)), b.mul(b.v(bb), b.v(c)))));
            expect = expect * 3u + static_cast<std::uint32_t>(K) - 35u;
        } else {
            // d := d + a * K - b + c
            body.push_back(b.assign(d, b.add(b.sub(b.add(b.v(d), b.mul(b.v(a), b.c(K))), b.v(bb)), b.v(c))));
            expect = expect + 3u * static_cast<std::uint32_t>(K) - 5u + 7u;
        }
    }
    body.push_back(b.write(b.v(d)));
    b.body(m, std::move(body));
    p.expected = std::to_string(static_cast<std::int32_t>(expect)) + "\n";
    return p;
}

std::string straight_source(int statements, bool chain) {
    std::string s = "program straight;\nvar a, b, c, d;\nbegin\n  read(a);\n  read(b);\n  read(c);\n  d := 0;\n";
    for (int k = 0; k < statements; ++k) {
        std::string K = std::to_string(straight_constant(k));
        s += chain ? "  d := d * a + " + K + " - b * c;\n" : "  d := d + a * " + K + " - b + c;\n";
    }
    s += "  write(d)\nend.\n";
    return s;
}

Program index_fault_program() {
    // Fills a[0..99] a million times, then once a[0..100]: the last store
    // is out of bounds.  Writes the round count every 250,000 rounds.
    Program p;
    p.name = "index-fault";
    Builder b(p);
    enum { i, round, limit };
    int m = b.routine("main", 0, 3);
    int A = b.array(m, 0, 99);
    b.body(m, {
        b.assign(round, b.c(0)),
        b.loop(b.bin(Op::Le, b.v(round), b.c(1000000)), {
            b.assign(limit, b.c(100)),
            b.when(b.bin(Op::Eq, b.v(round), b.c(1000000)), {b.assign(limit, b.c(101))}),
            b.assign(i, b.c(0)),
            b.loop(b.bin(Op::Lt, b.v(i), b.v(limit)), {
                b.store(A, b.v(i), b.add(b.v(i), b.v(round))),
                b.step(i),
            }),
            b.when(b.bin(Op::Eq, b.rem(round, 250000), b.c(0)), {b.write(b.v(round))}),
            b.step(round),
        }),
        b.write(b.c(-1)),
    });
    // Round 1000000 would be written after the faulting loop.
    p.expected = "0\n250000\n500000\n750000\n";
    return p;
}

Program stack_fault_program() {
    // depth(n) recurses n levels in frames of 5 cells after main's 3:
    // depth(190) fits in the stack, depth(200) passes its end.
    Program p;
    p.name = "stack-fault";
    Builder b(p);
    int m = b.routine("main", 0, 0);
    int depth = b.routine("depth", 1, 2, 1);
    b.body(depth, {
        b.when(b.bin(Op::Eq, b.v(0), b.c(0)), {b.assign(1, b.c(0))},
               {b.assign(1, b.add(b.call(depth, {b.sub(b.v(0), b.c(1))}), b.c(1)))}),
    });
    b.body(m, {
        b.write(b.call(depth, {b.c(190)})),
        b.write(b.call(depth, {b.c(200)})),
    });
    p.expected = "190\n";
    return p;
}

} // namespace backends
