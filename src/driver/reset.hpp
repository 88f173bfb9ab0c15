// Back to start-up: for embeddings that compile and run many programs in
// one process (the unit tests, the fuzzer).  tsumiki itself runs one.
#pragma once

// Closes the source and empties the symbol table, the code store, the
// machine's registers and stack, the current token and character.
void reset_state();
