#!/bin/sh
# Writes the golden copy of the message texts in code page 932, one line per
# message: its NAME, then the bytes of its text in hex.  The conversion goes
# through iconv, one message at a time, apart from the build's own converter.
#
#   tests/unit/messages_hex.sh [TABLE] > tests/unit/messages.cp932.hex
#
# TABLE is src/diag/messages.txt unless given.
#
# Run it after adding or changing a message, and read the diff: every byte
# that changes is a change in what users see.
set -eu
table=${1:-$(dirname "$0")/../../src/diag/messages.txt}
grep -v -e '^#' -e '^$' "$table" | while IFS='	' read -r name text; do
    hex=$(printf '%s' "$text" | sed 's/\\n/\n/g' | iconv -f UTF-8 -t CP932 | od -An -v -tx1 | tr -s ' \n' ' ')
    echo "$name${hex% }"
done
