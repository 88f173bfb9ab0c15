#!/usr/bin/env bash
# Makes the VS Code extension of editors/vscode into an installable .vsix,
# its dependency (vscode-languageclient) inside, with @vscode/vsce; both are
# pinned by editors/vscode/package-lock.json.  The build runs it (see
# cmake/vscode.cmake); everything it writes stays in WORK_DIR, never in the
# source tree.
#
#   tools/build-vsix.sh SOURCE_DIR WORK_DIR VSIX
#
# npm installs from its cache when it holds the locked versions (a second
# build, or CI after the first run), else from the registry; node_modules
# is installed again only when the lock file changes.
set -euo pipefail
source_dir=$1 work=$2 vsix=$3
extension=$source_dir/editors/vscode
stage=$work/extension
mkdir -p "$stage"

if ! cmp -s "$extension/package-lock.json" "$work/installed-lock.json"; then
  rm -rf "$stage/node_modules" "$work/installed-lock.json"
  cp "$extension/package.json" "$extension/package-lock.json" "$stage/"
  # No install scripts: the one package that has any (keytar, optional)
  # serves vsce's publishing, not its packaging.
  if ! (cd "$stage" && npm ci --ignore-scripts --omit=optional --prefer-offline --no-audit --no-fund \
          --loglevel=error </dev/null); then
    echo "build-vsix: npm could not install the extension's packages (no registry and not in npm's" >&2
    echo "cache?); configure with -DTSUMIKI_VSIX=OFF to build without the .vsix" >&2
    exit 1
  fi
  cp "$extension/package-lock.json" "$work/installed-lock.json"
fi

# The extension's files afresh (a file removed from the source leaves the
# package too), without any node_modules of a developer's own install.
find "$stage" -mindepth 1 -maxdepth 1 ! -name node_modules -exec rm -rf {} +
tar -C "$extension" --exclude=./node_modules -cf - . | tar -C "$stage" -xf -
cp "$source_dir/LICENSE" "$stage/LICENSE"
(cd "$stage" && node node_modules/@vscode/vsce/vsce package --allow-missing-repository \
   --out "$vsix.part" </dev/null >"$work/vsce.log" 2>&1) || { cat "$work/vsce.log" >&2; exit 1; }
mv "$vsix.part" "$vsix"
