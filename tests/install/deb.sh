#!/usr/bin/env bash
# Makes the Debian package with cpack and checks it: its name, its control
# fields (dependencies exactly as dpkg-shlibdeps finds them, the maintainer
# configured), its files (those of cmake --install under /usr), its
# copyright file (LICENSE's terms) and changelog; cpack refuses a
# maintainer without a real address.  Then, as root, installs it with
# dpkg -i, runs an installed example, reads the manual pages with man, and
# removes it with dpkg -r, checking that nothing is left behind.
#
# The machine is never left with tsumiki installed: the removal runs on
# every way out.  Status 77 (skipped) when not root, when dpkg is busy, or
# when a tsumiki is installed already (it is not ours to replace).
#
# Environment: TSUMIKI_BUILD_DIR, TSUMIKI_SOURCE_DIR, TSUMIKI_VERSION,
# TSUMIKI_PROGRAMS (separated by blanks), TSUMIKI_MAINTAINER, PYTHON.
set -euo pipefail
build=$TSUMIKI_BUILD_DIR source=$TSUMIKI_SOURCE_DIR version=$TSUMIKI_VERSION
work=$build/install-test/deb
rm -rf "$work" && mkdir -p "$work"
unset TSUMIKI_ENCODING TSUMIKI_ENGINE
export LC_ALL=C

fail() { echo "FAILED: $*"; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

# The package, made from this build into a folder of its own.
cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 \
    || { cat "$work/cpack.log"; fail "cpack"; }
deb=$work/tsumiki_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { ls "$work"; fail "no package named $(basename "$deb")"; }

# Its control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tsumiki ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), expected $version"
[ "$(field Section)" = devel ] || fail "Section: $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority: $(field Priority)"
[ "$(field Maintainer)" = "$TSUMIKI_MAINTAINER" ] || fail "Maintainer: $(field Maintainer)"
field Description | sed -n 2p | grep -q '^ tsumiki compiles' || fail "no long description"

# Its files: those of cmake --install under /usr, nothing more or less.
dpkg-deb -x "$deb" "$work/root"
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null
list() { (cd "$1" && find . ! -type d | sort); }
diff -u <(list "$work/stage") <(list "$work/root") || fail "package files differ from cmake --install"

# Its copyright file: Debian's machine-readable format, with the holder and
# the terms of LICENSE (the License paragraph's text, one blank in, "."
# for an empty line).
copyright=$work/root/usr/share/doc/tsumiki/copyright
head -n1 "$copyright" | grep -qxF "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    || fail "copyright: not in the machine-readable format"
holder=$(sed -n 's/^Copyright (c) //p' "$source/LICENSE")
grep -qxF "Copyright: $holder" "$copyright" || fail "copyright: the holder is not \"$holder\""
terms() { sed '1,/^Copyright (c) /d' "$source/LICENSE" | sed '/./,$!d'; }
stated() { sed -n '/^$/{n;/^License: /{:t;n;p;bt}}' "$copyright" | sed -E 's/^ \.$//; t; s/^ (.)/\1/'; }
diff -u <(terms) <(stated) || fail "copyright: the terms differ from LICENSE's"

# Its changelog: Debian's format, compressed at most, newest first, signed
# by the maintainer.
changelog=$work/root/usr/share/doc/tsumiki/changelog.gz
file -b "$changelog" | grep -q "max compression" || fail "changelog.gz: not gzip -9"
[ "$(gzip -dc "$changelog" | head -n1)" = "tsumiki ($version) unstable; urgency=medium" ] \
    || fail "changelog.gz: does not start with version $version"
gzip -dc "$changelog" | grep -m1 '^ -- ' | grep -q "^ -- $TSUMIKI_MAINTAINER  [A-Z][a-z][a-z], " \
    || fail "changelog.gz: not signed by the maintainer"

# A maintainer that is no real address is refused, with what to set.
if cpack --config "$build/CPackConfig.cmake" -B "$work/refused" \
    -D "CPACK_PACKAGE_CONTACT=tsumiki developers <tsumiki@localhost>" >"$work/refused.log" 2>&1; then
    fail "cpack made a package whose maintainer is at localhost"
fi
grep -q "TSUMIKI_PACKAGE_MAINTAINER" "$work/refused.log" || { cat "$work/refused.log"; fail "refused without saying why"; }

# Its dependencies: what dpkg-shlibdeps finds for the programs it holds.
mkdir -p "$work/root/debian" && : >"$work/root/debian/control"
shlibs=$(cd "$work/root" && dpkg-shlibdeps -O usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || fail "dpkg-shlibdeps found no dependencies"
[ "$(field Depends)" = "$shlibs" ] || fail "Depends: $(field Depends), expected $shlibs"
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, Depends: $shlibs"

# Installing it on this machine.
[ "$(id -u)" -eq 0 ] || skip "dpkg -i needs root; the package itself was checked"
installed() { dpkg-query -W -f='${db:Status-Status}' tsumiki 2>/dev/null | grep -qv '^not-installed$'; }
installed && skip "a tsumiki package is installed already; leaving it alone"
while read -r path; do
    [ ! -e "${path#.}" ] || skip "${path#.} exists already and would be overwritten"
done < <(list "$work/stage")

remove() {
    local tries
    for tries in 1 2 3 4 5 6 7 8 9 10; do
        installed || return 0
        dpkg -r tsumiki >>"$work/dpkg.log" 2>&1 && return 0
        sleep 3 # dpkg may be busy for a moment
    done
    cat "$work/dpkg.log"
    echo "FAILED: could not remove tsumiki: run dpkg -r tsumiki"
    return 1
}
trap 'remove || exit 1' EXIT
trap 'exit 1' INT TERM HUP

if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    if grep -qi 'lock' "$work/dpkg.log" && ! installed; then
        cat "$work/dpkg.log"
        skip "dpkg is locked by another process"
    fi
    cat "$work/dpkg.log"
    fail "dpkg -i"
fi
dpkg -L tsumiki | sort >"$work/owned"

# An installed example runs, and the installed pieces are where tools look.
examples=/usr/share/doc/tsumiki/examples
"$PYTHON" "$source/tests/e2e/check.py" /usr/bin/tsumiki "$examples/stats.tsu" \
    --stdin "$examples/stats.in" --expect "$examples/stats.out" || fail "installed example"
[ "$(/usr/bin/tsumiki-inspect --version)" = "tsumiki-inspect $version" ] || fail "tsumiki-inspect --version"
printf 'b 13\nr\np x\nq\n' | /usr/bin/tsumiki-inspect debug --utf8 "$examples/stats.tsu" "$examples/stats.in" \
    | grep -x 'x = 3' >/dev/null || fail "installed tsumiki-inspect debug"
[ "$(/usr/bin/tsumiki-dap --version)" = "tsumiki-dap $version" ] || fail "tsumiki-dap --version"
if [ -x /usr/bin/tsumiki-judge ]; then
    # The installed judge grades an installed example on its own data.
    mkdir -p "$work/cases" && cp "$examples/stats.in" "$examples/stats.out" "$work/cases/"
    TSUMIKI_ENCODING=utf-8 /usr/bin/tsumiki-judge --cases "$work/cases" --json "$work/judged.jsonl" \
        "$examples/stats.tsu" >/dev/null || fail "tsumiki-judge"
    grep -q '"verdict":"AC"' "$work/judged.jsonl" || fail "tsumiki-judge: $(cat "$work/judged.jsonl")"
fi
for page in $TSUMIKI_PROGRAMS; do
    found=$(man -w "$page") || fail "man -w $page"
    [ "$found" = "/usr/share/man/man1/$page.1.gz" ] || fail "man -w $page gives $found"
    MANWIDTH=80 man "$page" 2>/dev/null | grep -c "^NAME" >/dev/null || fail "man $page shows no page"
done
if [ -f /usr/share/bash-completion/bash_completion ]; then
    bash --norc --noprofile -c 'source /usr/share/bash-completion/bash_completion
        __load_completion tsumiki-inspect && complete -p tsumiki-inspect' >/dev/null \
        || fail "bash-completion does not find the completion of tsumiki-inspect"
    bash --norc --noprofile -c 'source /usr/share/bash-completion/bash_completion
        __load_completion tsumiki-dap && complete -p tsumiki-dap' >/dev/null \
        || fail "bash-completion does not find the completion of tsumiki-dap"
    if [ -x /usr/bin/tsumiki-judge ]; then
        bash --norc --noprofile -c 'source /usr/share/bash-completion/bash_completion
            __load_completion tsumiki-judge && complete -p tsumiki-judge' >/dev/null \
            || fail "bash-completion does not find the completion of tsumiki-judge"
    fi
fi

# Removing it leaves nothing behind.
remove || exit 1
trap - EXIT
installed && fail "tsumiki still known to dpkg after dpkg -r"
left=$(while read -r path; do
    case $path in
        /usr/share/doc/tsumiki*) [ ! -e "$path" ] || echo "$path" ;;
        *) [ -d "$path" ] || [ ! -e "$path" ] || echo "$path" ;;
    esac
done <"$work/owned")
[ -z "$left" ] || fail "left behind after dpkg -r:"$'\n'"$left"
echo "installed with dpkg -i, ran an example, read the manual pages, removed with dpkg -r"
