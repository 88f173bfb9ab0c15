// Statements.
//
//   statement = name ":=" expression | array "[" expression "]" ":=" expression
//             | procedure-call | "begin" statement { ";" statement } "end"
//             | "if" condition "then" statement [ "else" statement ]
//             | "while" condition "do" statement
//             | "read" "(" name [ "[" expression "]" ] ")" | "write" "(" expression ")"
//             | (empty)
#pragma once

// Compiles one statement at trace depth d in a block of level L.  Returns
// the success flag, which is true whenever it returns: errors end the
// process.
bool parse_statement(int d, int L);
