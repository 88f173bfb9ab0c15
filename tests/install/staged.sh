#!/usr/bin/env bash
# Installs the build with cmake --install into a staging folder (DESTDIR),
# as a distribution or a teacher preparing a room of machines does, and
# checks that exactly the expected files arrive and that the installed
# programs work from there.
#
# Environment: TSUMIKI_BUILD_DIR, TSUMIKI_SOURCE_DIR, TSUMIKI_VERSION,
# TSUMIKI_PROGRAMS (separated by blanks), TSUMIKI_COMPLETION_DIR, PYTHON,
# TSUMIKI_VSIX (the VS Code extension's .vsix, when the build makes one).
set -euo pipefail
build=$TSUMIKI_BUILD_DIR source=$TSUMIKI_SOURCE_DIR
stage=$build/install-test/stage
prefix=/opt/tsumiki
rm -rf "$stage" && mkdir -p "$stage"
unset TSUMIKI_ENCODING TSUMIKI_ENGINE
export LC_ALL=C

# Every program is built at the top of the build folder, where the README
# says it is.
for program in $TSUMIKI_PROGRAMS; do
    [ -x "$build/$program" ] || { echo "$program is not built as $build/$program"; exit 1; }
done

DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$build/install-test/staged.log"

# The files expected: each program with its manual page (compressed), the
# completions of the inspector, the judge and the debug adapter, the README,
# the changelog and copyright file, the docs and the examples, the Neovim
# plugin and the VS Code extension.
expected=$build/install-test/expected
{
    for program in $TSUMIKI_PROGRAMS; do
        echo "bin/$program"
        [ ! -f "$source/docs/man/$program.1.in" ] || echo "share/man/man1/$program.1.gz"
    done
    echo "$TSUMIKI_COMPLETION_DIR/tsumiki-inspect"
    [[ " $TSUMIKI_PROGRAMS " != *" tsumiki-dap "* ]] || echo "$TSUMIKI_COMPLETION_DIR/tsumiki-dap"
    [[ " $TSUMIKI_PROGRAMS " != *" tsumiki-judge "* ]] || echo "$TSUMIKI_COMPLETION_DIR/tsumiki-judge"
    echo "share/doc/tsumiki/README.md"
    echo "share/doc/tsumiki/changelog.gz"
    echo "share/doc/tsumiki/copyright"
    (cd "$source/docs" && ls -- *.md | sed 's|^|share/doc/tsumiki/docs/|')
    (cd "$source/examples" && find . -type f | sed 's|^\./|share/doc/tsumiki/examples/|')
    (cd "$source/editors/nvim" && find . -type f | sed 's|^\./|share/tsumiki/nvim/|')
    [ -z "${TSUMIKI_VSIX-}" ] || echo "share/tsumiki/vscode/tsumiki.vsix"
} | sort >"$expected"
(cd "$stage$prefix" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$build/install-test/actual"
if ! diff -u "$expected" "$build/install-test/actual"; then
    echo "the staged installation differs from the expected files (- expected, + installed)"
    exit 1
fi
# Nothing lands outside the prefix.
outside=$(find "$stage" ! -type d ! -path "$stage$prefix/*")
[ -z "$outside" ] || { echo "installed outside $prefix:"; echo "$outside"; exit 1; }

# The README's install section names every program installed and its
# manual page.
section=$(sed -n '/^## Install$/,/^## /p' "$source/README.md" | tr '\n' ' ')
for program in $TSUMIKI_PROGRAMS; do
    grep -qF "\`$program\`" <<<"$section" ||
        { echo "the README's install section does not name $program"; exit 1; }
    [ ! -f "$source/docs/man/$program.1.in" ] || grep -qF "\`man $program\`" <<<"$section" ||
        { echo "the README's install section does not name the page of $program"; exit 1; }
done

# The programs run from there, with the installed examples.
bin=$stage$prefix/bin examples=$stage$prefix/share/doc/tsumiki/examples
check() { "$PYTHON" "$source/tests/e2e/check.py" "$@"; }
check "$bin/tsumiki" "$examples/hello.tsu" --expect "$examples/hello.out"
check "$bin/tsumiki" "$examples/stats.tsu" --stdin "$examples/stats.in" --expect "$examples/stats.out"
check "$bin/tsumiki-inspect" run --sjis "$examples/stats.tsu" --stdin "$examples/stats.in" \
    --expect "$examples/stats.out"
check "$bin/tsumiki-inspect" --version --raw --expect-text "tsumiki-inspect $TSUMIKI_VERSION\n"
# Its debugger, driven by a script, with an installed example and its input.
printf 'b 13\nr\np x\nq\n' | "$bin/tsumiki-inspect" debug --utf8 "$examples/stats.tsu" "$examples/stats.in" \
    | grep -x 'x = 3' >/dev/null || { echo "tsumiki-inspect debug does not stop at line 13 with x = 3"; exit 1; }
[[ " $TSUMIKI_PROGRAMS " != *" tsumiki-dap "* ]] ||
    check "$bin/tsumiki-dap" --version --raw --expect-text "tsumiki-dap $TSUMIKI_VERSION\n"
if [ -x "$bin/tsumiki-judge" ]; then
    check "$bin/tsumiki-judge" --version --raw --expect-text "tsumiki-judge $TSUMIKI_VERSION\n"
fi
# Neovim loads the installed plugin folder as a plugin manager does.
if command -v nvim >/dev/null; then
    plugin=$stage$prefix/share/tsumiki/nvim
    TSUMIKI_NVIM_PLUGIN=$plugin nvim --headless --clean -u NONE -i NONE -n --cmd "set rtp+=$plugin" \
        -c "luafile $source/tests/lsp/neovim_plugin_test.lua" </dev/null ||
        { echo "Neovim does not load the installed plugin in $plugin"; exit 1; }
fi
# The VS Code extension is the build's .vsix, under the name the README
# gives.
if [ -n "${TSUMIKI_VSIX-}" ]; then
    cmp -s "$TSUMIKI_VSIX" "$stage$prefix/share/tsumiki/vscode/tsumiki.vsix" ||
        { echo "share/tsumiki/vscode/tsumiki.vsix is not the build's $TSUMIKI_VSIX"; exit 1; }
fi
# The manual pages carry the version too, and man reads them compressed.
man1=$stage$prefix/share/man/man1
gzip -dc "$man1/tsumiki.1.gz" | grep -cF "\"tsumiki $TSUMIKI_VERSION\"" >/dev/null
for page in "$man1"/*.1.gz; do
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -c "^NAME" >/dev/null || { echo "man does not read $page"; exit 1; }
done
echo "staged installation under $prefix: $(wc -l <"$expected") files, all present and working"
