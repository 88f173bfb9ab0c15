// tsumiki-baseline LISTING: the textbook interpreter of the stack machine,
// kept as the yardstick of the benchmarks.
//
// It runs the code listing that tsumiki-listcode prints ("i: OPC(l,a)" per
// instruction) the way the machine is first written down: a `for (;;)` over
// {op, l, a} records with one `switch`, the static-link walk in `base`, the
// overflow test before every fetch, printf and scanf for input and output.
// It trusts the listing: addresses and jump targets are not checked, so run
// it only on code the compiler produced for a correct program.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Op {
    LDC,
    OPR,
    COP,
    LOD,
    STR,
    UJP,
    FJP,
    RET,
    MST,
    ENT,
    HLT,
    GET,
    PUT,
    LDA,
    IND,
    STO,
    FRT,
    CUP
};
const char* const names[] = {"LDC", "OPR", "COP", "LOD", "STR", "UJP", "FJP", "RET", "MST",
                             "ENT", "HLT", "GET", "PUT", "LDA", "IND", "STO", "FRT", "CUP"};
constexpr int OP_COUNT = sizeof names / sizeof names[0];

struct Instr {
    int op;
    int l;
    int a;
};

constexpr int CODE_MAX = 10000;
constexpr int STACK_SIZE = 1000;

Instr code[CODE_MAX]; // the program, read from the listing
int code_count;       // instructions in code

int s[STACK_SIZE]; // the stack
int p, b, t;       // next instruction, frame base, topmost cell

// The prompt of a read and the stack-overflow message, as code page 932 bytes.
const char prompt[] = "\x90\x94\x82\xf0\x93\xfc\x97\xcd\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2>";
const char overflow[] = "\x8e\xc0\x8d\x73\x92\x86\x82\xc9\x83\x47\x83\x89\x81\x5b\x82\xaa\x82\xa8"
                        "\x82\xab\x82\xdc\x82\xb5\x82\xbd: \x83\x58\x83\x5e\x83\x62\x83\x4e\x83\x49"
                        "\x81\x5b\x83\x6f\x83\x74\x83\x8d\x81\x5b\n";

// Wrap-around arithmetic on 32-bit values.
int add(int x, int y) {
    return static_cast<int>(static_cast<unsigned>(x) + static_cast<unsigned>(y));
}
int sub(int x, int y) {
    return static_cast<int>(static_cast<unsigned>(x) - static_cast<unsigned>(y));
}
int mul(int x, int y) {
    return static_cast<int>(static_cast<unsigned>(x) * static_cast<unsigned>(y));
}

void fail(const char* what) {
    std::fprintf(stderr, "tsumiki-baseline: %s\n", what);
    std::exit(2);
}

void load(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) fail("cannot open the listing");
    char line[256];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        int index, l, a;
        char name[4];
        if (std::sscanf(line, "%d: %3[A-Z](%d,%d)", &index, name, &l, &a) != 4) continue;
        if (index != code_count || code_count == CODE_MAX) fail("the listing is out of order");
        int op = 0;
        while (op < OP_COUNT && std::strcmp(names[op], name) != 0)
            ++op;
        if (op == OP_COUNT) fail("unknown instruction in the listing");
        code[code_count++] = Instr{op, l, a};
    }
    std::fclose(f);
    if (code_count == 0) fail("no instructions in the listing");
}

int base(int l) {
    int b1 = b;
    while (l > 0) {
        b1 = s[b1];
        l--;
    }
    return b1;
}

void interpret() {
    for (;;) {
        if (t >= STACK_SIZE - 2) {
            std::fputs(overflow, stdout);
            std::exit(1);
        }
        Instr ir = code[p++];
        switch (ir.op) {
        case LDC: s[++t] = ir.a; break;
        case OPR:
            switch (ir.a) {
            case 1:
                t--;
                s[t] = add(s[t], s[t + 1]);
                break;
            case 2:
                t--;
                s[t] = sub(s[t], s[t + 1]);
                break;
            case 3:
                t--;
                s[t] = mul(s[t], s[t + 1]);
                break;
            case 4:
                t--;
                if (s[t + 1] == 0) fail("division by zero");
                s[t] = s[t + 1] == -1 ? sub(0, s[t]) : s[t] / s[t + 1];
                break;
            case 5: s[t] = sub(0, s[t]); break;
            }
            break;
        case COP:
            switch (ir.a) {
            case 1:
                t--;
                s[t] = s[t] == s[t + 1];
                break;
            case 2:
                t--;
                s[t] = s[t] != s[t + 1];
                break;
            case 3:
                t--;
                s[t] = s[t] > s[t + 1];
                break;
            case 4:
                t--;
                s[t] = s[t] >= s[t + 1];
                break;
            case 5:
                t--;
                s[t] = s[t] < s[t + 1];
                break;
            case 6:
                t--;
                s[t] = s[t] <= s[t + 1];
                break;
            }
            break;
        case LOD:
            t++;
            s[t] = s[base(ir.l) + ir.a];
            break;
        case STR:
            s[base(ir.l) + ir.a] = s[t];
            t--;
            break;
        case UJP: p = ir.a; break;
        case FJP:
            if (s[t] == 0) p = ir.a;
            t--;
            break;
        case RET:
            t = b - 1;
            p = s[b + 2];
            b = s[b + 1];
            break;
        case MST:
            s[t + 1] = base(ir.l);
            s[t + 2] = b;
            t += ir.a;
            break;
        case ENT: t = b + ir.a; break;
        case HLT: return;
        case GET:
            t++;
            std::fputs(prompt, stdout);
            if (std::scanf("%d", &s[t]) != 1) {
                // Nothing readable: the cell keeps its value.
            }
            break;
        case PUT:
            std::printf("%d\n", s[t]);
            t--;
            break;
        case LDA:
            t++;
            s[t] = base(ir.l) + ir.a;
            break;
        case IND: s[t] = s[s[t] + ir.a]; break;
        case STO:
            s[s[t - 1]] = s[t];
            t -= 2;
            break;
        case FRT:
            s[b] = s[b + 3];
            t = b;
            p = s[b + 2];
            b = s[b + 1];
            break;
        case CUP:
            s[t - ir.l] = p;
            b = t - ir.l - 2;
            p = ir.a;
            break;
        default: fail("undefined instruction");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tsumiki-baseline LISTING\n");
        return 2;
    }
    load(argv[1]);
    interpret();
    return 0;
}
