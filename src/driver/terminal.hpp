// What the terminal a front end writes to expects: the front ends ask, the
// core never does (it is given an encoding).
#pragma once

// Whether `fd` is a terminal and the locale the environment names
// (LC_ALL, LC_CTYPE, LANG) has UTF-8 as its character set.  Looks at the
// locale without keeping it: LC_CTYPE is "C" again afterwards.
bool utf8_terminal(int fd);
