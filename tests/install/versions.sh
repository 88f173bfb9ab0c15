#!/usr/bin/env bash
# Checks that everything that tells tsumiki's version tells the one that
# project() in CMakeLists.txt states: every program's --version, every
# manual page (as written and as installed, compressed), the newest version
# of CHANGELOG.md and of the package's changelog, the package itself and
# the VS Code extension; and that no other file of the source spells the
# version out.
#
# Environment: TSUMIKI_BUILD_DIR, TSUMIKI_SOURCE_DIR, TSUMIKI_VERSION,
# TSUMIKI_PROGRAMS and TSUMIKI_PROGRAMS_WITHOUT_VERSION (names separated by
# blanks); the arguments are the manual pages as the build wrote them.
set -uo pipefail
build=$TSUMIKI_BUILD_DIR source=$TSUMIKI_SOURCE_DIR version=$TSUMIKI_VERSION
unset TSUMIKI_ENCODING TSUMIKI_ENGINE
export LC_ALL=C
failed=0
fail() { echo "$*"; failed=1; }
[[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]] || fail "project() states no version: \"$version\""

# Every program answers --version with its name and the version, and
# nothing else; those listed without the option take their one argument as
# a source file, whatever it is.
checked=0
for program in $TSUMIKI_PROGRAMS; do
    [[ " ${TSUMIKI_PROGRAMS_WITHOUT_VERSION:-} " == *" $program "* ]] && continue
    out=$("$build/$program" --version </dev/null 2>&1)
    status=$?
    [ "$status" -eq 0 ] || fail "$program --version: status $status"
    [ "$out" = "$program $version" ] || fail "$program --version prints \"$out\", not \"$program $version\""
    checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || fail "no program with --version was checked"

# The manual pages name the version in their title line, and the installed
# (compressed) page is the page that was checked.
for page in "$@"; do
    grep -q "^\.TH .* \"tsumiki $version\" " "$page" || fail "$page: its .TH does not say \"tsumiki $version\""
    gzip -dc "$page.gz" 2>/dev/null | cmp -s - "$page" || fail "$page.gz is not $page compressed"
done
[ "$#" -gt 0 ] || fail "no manual pages given"

# The newest version of the changelog, and of the package's.
newest=$(grep -m1 -E '^## \[[0-9]' "$source/CHANGELOG.md" | sed -E 's/^## \[([^]]*)\].*/\1/')
[ "$newest" = "$version" ] || fail "CHANGELOG.md's newest version is \"$newest\", not $version"
first=$(gzip -dc "$build/debian/changelog.gz" | head -n1)
[ "$first" = "tsumiki ($version) unstable; urgency=medium" ] \
    || fail "the package's changelog begins \"$first\""

# The package (its Version field is checked in the package itself by deb.sh).
grep -qxF "set(CPACK_PACKAGE_VERSION \"$version\")" "$build/CPackConfig.cmake" \
    || fail "CPack does not make version $version"

# The VS Code extension.
extension=$(sed -n -E 's/^  "version": "([^"]*)",?$/\1/p' "$source/editors/vscode/package.json")
[ "$extension" = "$version" ] || fail "editors/vscode/package.json has version \"$extension\""

# Nowhere else is the version written out: a copy would be left behind by
# the next release.  (Lock files list other packages' versions.)
if git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    pattern="(^|[^0-9.])${version//./\\.}([^0-9]|$)"
    copies=$(git -C "$source" grep -n -E "$pattern" -- . ':!CMakeLists.txt' ':!CHANGELOG.md' \
        ':!editors/vscode/package.json' ':!*package-lock.json')
    [ -z "$copies" ] || fail "the version is written out here; take it from the build instead:"$'\n'"$copies"
fi

[ "$failed" -eq 0 ] && echo "version $version: $checked programs, $# manual pages, changelogs, package, extension"
exit "$failed"
