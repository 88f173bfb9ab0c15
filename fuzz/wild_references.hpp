// Programs in which a var parameter, aimed by an index past its array,
// writes a cell below its own frame, before and after a hot loop, with
// output after the writes: the one way a program can change what the
// optimising tier trusts (a static link, a frame's header, another
// reference, a variable the tier keeps in a register).  The sweep in the
// speculation tests runs one for every cell and the fuzz target makes
// them from its input's bytes.
//
// The stack of every such program, where Q's hot loop runs (a[k] is
// s[k + 3]):
//
//    0.. 2  the main program's header     x 3, a[1..2] 4..5, y 6
//    7      100, pushed by the main program before it calls F
//    8..11  F's header and its result     n 12, fv 13 (a var parameter),
//                                         z 14, c[0..1] 15..16
//   17..19  R's header                    rv 20 (var), pv 21, u 22, j 23,
//                                         b[1..2] 24..25
//   26      rv, pushed by R to store through it
//   27      u * 2, pushed by R before it calls Q
//   28..31  Q's header and its result     v 32, w 33 (var), k 34, i 35
//
// Q reads variables one and two static links out; R and F go on after Q
// returns, with a hot loop of their own in R.
#pragma once

#include <cstdint>
#include <string>

struct WildReference {
    int index = 1;          // Q's v is a[index]: from -3 (x's cell) up
    std::int32_t value = 0; // written through v
    bool before = true;     // before Q's hot loop
    bool after = false;     // after it
    int turns = 3;          // turns of each hot loop
    bool padded = false;    // with a routine never called, over 2,000 instructions
};

// The cell a[index] names (see the table above).
inline std::int32_t wild_reference_cell(int index) {
    return index + 3;
}

inline std::string wild_reference_program(const WildReference& w) {
    const std::string value = std::to_string(w.value), turns = std::to_string(w.turns);
    std::string text = "program wild;\nvar x, a[1..2], y;\n";
    if (w.padded) {
        text += "procedure pad;\nbegin\n";
        for (int k = 0; k < 520; ++k)
            text += "  x := x + 1;\n";
        text += "  write(x)\nend;\n";
    }
    text += "function F(n, var fv);\n"
            "var z, c[0..1];\n"
            "  procedure R(var rv, pv);\n"
            "  var u, j, b[1..2];\n"
            "    function Q(var v, var w, k);\n"
            "    var i;\n"
            "    begin\n";
    if (w.before) text += "      v := " + value + ";\n";
    text += "      i := 0;\n"
            "      while i < " + turns + " do i := i + 1;\n";
    if (w.after) text += "      v := " + value + ";\n";
    text += "      write(rv); write(pv); write(u); write(b[2]);\n"
            "      write(z); write(c[1]); write(x); write(k);\n"
            "      w := w + 1;\n"
            "      write(v);\n"
            "      Q := i + k\n"
            "    end;\n"
            "  begin\n"
            "    u := 3; b[1] := 4; b[2] := 5;\n"
            "    rv := u * 2 + Q(a[" + std::to_string(w.index) + "], rv, 9);\n"
            "    j := 0;\n"
            "    while j < " + turns + " do j := j + 1;\n"
            "    write(u + pv + j); write(b[1])\n"
            "  end;\n"
            "begin\n"
            "  z := n; c[0] := 6; c[1] := 7;\n"
            "  R(fv, z + 1);\n"
            "  write(z); write(c[0]);\n"
            "  F := z + fv\n"
            "end;\n"
            "begin\n"
            "  x := 11;\n"
            "  y := 100 + F(2, x);\n"
            "  write(y); write(x); write(a[1]); write(a[2])\n"
            "end.\n";
    return text;
}
