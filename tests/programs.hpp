// Programs that tests of more than one part run: each is named for what the
// tests look at in it.  Tests that use one put this folder (tests/) on their
// include path.
#pragma once

// Reads x and writes x, x * 2 and x * 3 on lines 5, 6 and 7: given 4, the
// read's prompt, then "4", "8" and "12", one a line.  The judge's links and
// the session's run_to find each write by the bytes it wrote.
inline constexpr const char* THREE_WRITES = "program p;\n"
                                            "var x;\n"
                                            "begin\n"
                                            "  read(x);\n"
                                            "  write(x);\n"
                                            "  write(x * 2);\n"
                                            "  write(x * 3)\n"
                                            "end.\n";
