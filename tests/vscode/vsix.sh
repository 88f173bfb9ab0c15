#!/usr/bin/env bash
# The .vsix the build makes (tools/build-vsix.sh) is an extension VS Code
# can install: the manifest, the extension's files as in editors/vscode,
# the grammar, and vscode-languageclient with every package it needs,
# each found from where the extension requires it; nothing of the build
# (the lock file, vsce).  With code-server on PATH (or named by
# $CODE_SERVER), code-server installs it too.
#
#   vsix.sh SOURCE_DIR VSIX
set -euo pipefail
source_dir=$1 vsix=$2
extension=$source_dir/editors/vscode
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

unzip -Z1 "$vsix" >"$work/list" || { echo "FAIL: $vsix is not a zip archive"; exit 1; }
main=$(node -p "require('$extension/package.json').main.replace(/^\.\//, '')")
for file in extension.vsixmanifest '[Content_Types].xml' extension/package.json "extension/$main" \
    extension/language-configuration.json extension/syntaxes/tsumiki.tmLanguage.json extension/LICENSE.txt \
    extension/node_modules/vscode-languageclient/package.json extension/node_modules/vscode-languageclient/node.js; do
  grep -qxF "$file" "$work/list" || fail "$file is not in the archive"
done
for pattern in 'package-lock\.json$' '/node_modules/@vscode/vsce/' '/node_modules/\.bin/'; do
  ! grep -E "$pattern" "$work/list" | head -3 | grep . || fail "the archive holds files of the build ($pattern)"
done

mkdir "$work/unpacked"
unzip -q "$vsix" -d "$work/unpacked"
for file in package.json extension.js language-configuration.json syntaxes/tsumiki.tmLanguage.json; do
  cmp -s "$extension/$file" "$work/unpacked/extension/$file" || fail "extension/$file differs from editors/vscode/$file"
done
version=$(node -p "require('$extension/package.json').version")
grep -q "<Identity Language=\"en-US\" Id=\"tsumiki\" Version=\"$version\" Publisher=\"tsumiki\"" \
  "$work/unpacked/extension.vsixmanifest" || fail "the manifest does not name tsumiki.tsumiki $version"

# Every dependency, and theirs, found by Node's own lookup from the
# extension's folder as the editor's require would, at the locked version.
node - "$work/unpacked/extension" "$extension/package-lock.json" <<'NODE' || failed=1
const path = require('path');
const [root, lockfile] = process.argv.slice(2);
const lock = require(lockfile).packages;
const seen = new Set();
let bad = 0;
const fs = require('fs');
// Node's lookup: node_modules/NAME in the folder, then in each folder above
// it up to the extension's (a package's "exports" may hide package.json
// from require.resolve).
function find(from, name) {
  for (let dir = from; dir.startsWith(root); dir = path.dirname(dir)) {
    const file = path.join(dir, 'node_modules', name, 'package.json');
    if (fs.existsSync(file)) return file;
  }
  return undefined;
}
function visit(from, name) {
  const file = find(from, name);
  if (!file) {
    console.log(`FAIL: ${name}, needed in ${path.relative(root, from) || 'the extension'}, is not in the archive`);
    bad = 1;
    return;
  }
  if (seen.has(file)) return;
  seen.add(file);
  const manifest = require(file);
  const locked = lock[path.relative(root, path.dirname(file))];
  if (!locked || locked.version !== manifest.version) {
    console.log(`FAIL: ${name} ${manifest.version} is not the version locked`);
    bad = 1;
  }
  for (const dep of Object.keys(manifest.dependencies || {})) visit(path.dirname(file), dep);
}
for (const dep of Object.keys(require(path.join(root, 'package.json')).dependencies)) visit(root, dep);
require.resolve('vscode-languageclient/node', { paths: [root] });
console.log(`${seen.size} packages found from the extension, at their locked versions`);
process.exit(bad);
NODE

code_server=${CODE_SERVER:-$(command -v code-server || true)}
if [ -n "$code_server" ]; then
  "$code_server" --extensions-dir "$work/extensions" --user-data-dir "$work/data" \
    --install-extension "$vsix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "code-server did not install it"; }
  "$code_server" --extensions-dir "$work/extensions" --user-data-dir "$work/data" --list-extensions --show-versions \
    | grep -qxF "tsumiki.tsumiki@$version" || fail "code-server does not list tsumiki.tsumiki@$version"
else
  echo "code-server not found: its install of the .vsix not tried"
fi
[ "$failed" -eq 0 ] && echo "$(wc -l <"$work/list") files in $(basename "$vsix"), a VS Code extension"
exit "$failed"
