#!/usr/bin/env bash
# Checks tools/install-deps against stand-ins for dpkg, apt-get and sudo
# that install nothing: --build asks for exactly what building every program with
# its native tier needs (README command 1 runs it on a fresh machine), no
# argument asks for that and everything else, nothing is asked for when
# everything is there, and any other argument is refused.
#
#   install_deps.sh SOURCE_DIR
set -uo pipefail
script="$1/tools/install-deps"
fakes=$(mktemp -d)
trap 'rm -rf "$fakes"' EXIT
# dpkg -s fails for every package unless $FAKE_INSTALLED says all are there;
# apt-get and sudo record what they were asked.
cat > "$fakes/dpkg" <<'FAKE'
#!/bin/sh
[ "${FAKE_INSTALLED-}" = all ]
FAKE
cat > "$fakes/apt-get" <<'FAKE'
#!/bin/sh
echo "apt-get $*" >> "$FAKE_LOG"
FAKE
cat > "$fakes/sudo" <<'FAKE'
#!/bin/sh
exec "$@"
FAKE
chmod +x "$fakes/dpkg" "$fakes/apt-get" "$fakes/sudo"
failed=0
fail() { echo "install-deps $*"; failed=1; }

# What the script asks apt-get for, one line per call.
asked() {
    FAKE_LOG="$fakes/log" PATH="$fakes:$PATH" "$script" "$@" > /dev/null
    local status=$?
    cat "$fakes/log" 2>/dev/null
    rm -f "$fakes/log"
    return $status
}

build="g++ cmake ninja-build libasmjit-dev libc-bin nlohmann-json3-dev pkg-config libedit-dev"
got=$(asked --build) || fail "--build failed"
want="apt-get update -qq
apt-get install -y -qq $build"
[ "$got" = "$want" ] || fail "--build asked for:"$'\n'"$got"

got=$(asked) || fail "without arguments failed"
install=$(echo "$got" | grep '^apt-get install')
case "$install" in
  "apt-get install -y -qq $build "*) ;;
  *) fail "without arguments did not start with the build's packages:"$'\n'"$install" ;;
esac
for pkg in clang libgtest-dev llvm-14-tools python3 nlohmann-json3-dev lintian emscripten nodejs chromium; do
    echo " $install " | grep -q " $pkg " || fail "without arguments left out $pkg"
done
[ "$(echo "$install" | tr ' ' '\n' | grep -cx libasmjit-dev)" = 1 ] ||
    fail "without arguments asked for libasmjit-dev more than once"

got=$(FAKE_INSTALLED=all asked --build) || fail "--build with everything there failed"
[ -z "$got" ] || fail "--build with everything there asked for:"$'\n'"$got"

got=$(asked --bulid 2> "$fakes/err")
status=$?
[ "$status" = 2 ] || fail "--bulid ended with status $status, not 2"
[ -z "$got" ] || fail "--bulid asked for:"$'\n'"$got"
grep -q "usage: tools/install-deps \[--build\]" "$fakes/err" || fail "--bulid did not say how to use it"
exit $failed
