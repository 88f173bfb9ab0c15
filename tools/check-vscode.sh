#!/usr/bin/env bash
# Checks the VS Code extension by hand, in a real VS Code served to the
# system's Chromium by code-server, as a learner would use it: highlighting,
# an error in Problems, a hover, then a debugging session of examples/nested.tsu
# (breakpoint, steps, step back, variables, output and exit status), a
# run-time error and a program's input from launch.json; then completion, a
# rename, inlay hints and a quick fix, and a breakpoint set while a loop runs
# stopping it.  Not run by CI (about five minutes).
#
#   tools/check-vscode.sh CODE_SERVER [SHOTS_DIR]
#
# CODE_SERVER is a code-server 4.100.3 installed by hand, outside the
# repository: with libkrb5-dev and ripgrep from Debian,
#
#   npm_config_unsafe_perm=true npm_config_yes=true \
#     npm install --prefix DIR code-server@4.100.3
#
# (the first when root; the second lets node-pty's script fetch node-gyp).
# Where GitHub cannot be reached its native modules build from source, and
# its ripgrep download fails unless Debian's rg waits in the download cache:
# tar -czf /tmp/vscode-ripgrep-cache-1.15.11/ripgrep-v13.0.0-10-x86_64-\
# unknown-linux-musl.tar.gz -C /usr/bin rg.  Needs the ci preset's build of
# tsumiki-lsp and tsumiki-dap, and npm to fetch the extension's dependency
# and @vscode/vsce (pinned by editors/vscode/package-lock.json) and
# playwright-core (pinned by tests/web/package-lock.json).
# Leaves a screenshot of each step in SHOTS_DIR (default
# build/vscode-check/shots) and exits 1 if a step did not show what it should.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
code_server="${1:?usage: tools/check-vscode.sh CODE_SERVER [SHOTS_DIR]}"
work="$root/build/vscode-check"
shots="${2:-$work/shots}"
build="$root/build/ci"
for program in tsumiki-lsp tsumiki-dap; do
  [ -x "$build/$program" ] || { echo "check-vscode: build $build/$program first" >&2; exit 2; }
done
rm -rf "$work/data" "$work/extensions" "$work/folder"
mkdir -p "$work" "$shots" "$work/data/User" "$work/folder"

# The extension as a .vsix, made as the build makes it.
"$root/tools/build-vsix.sh" "$root" "$work/vsix" "$work/tsumiki.vsix"
"$code_server" --user-data-dir "$work/data" --extensions-dir "$work/extensions" \
  --install-extension "$work/tsumiki.vsix" >/dev/null
cat > "$work/data/User/settings.json" <<EOF
{
  "security.workspace.trust.enabled": false,
  "workbench.startupEditor": "none",
  "tsumiki.server.path": "$build/tsumiki-lsp",
  "tsumiki.debugger.path": "$build/tsumiki-dap"
}
EOF
cp "$root/examples/nested.tsu" "$root/examples/stats.tsu" "$work/folder/"
printf 'program broken;\nvar total;\nbegin\n  total := 0;\n  total := totl + 1;\n  write(total)\nend.\n' \
  > "$work/folder/broken.tsu"
printf 'program crash;\nvar x, y;\nbegin\n  x := 1;\n  y := 0;\n  write(x);\n  x := x div y;\n  write(x)\nend.\n' \
  > "$work/folder/crash.tsu"

cp "$root/tests/web/package.json" "$root/tests/web/package-lock.json" "$work/"
[ -d "$work/node_modules/playwright-core" ] ||
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix "$work" --no-audit --no-fund --loglevel=error

port="${PORT:-8722}"
"$code_server" --auth none --bind-addr "127.0.0.1:$port" --user-data-dir "$work/data" \
  --extensions-dir "$work/extensions" --disable-telemetry --disable-update-check \
  --disable-workspace-trust "$work/folder" >"$work/code-server.log" 2>&1 &
server=$!
trap 'kill "$server"' EXIT
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.2
done
node "$root/tools/check-vscode.mjs" "$work/node_modules" "http://127.0.0.1:$port/" "$work/folder" "$shots"
