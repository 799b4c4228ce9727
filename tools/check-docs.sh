#!/bin/sh
# Fails on a relative link or heading anchor that does not resolve in any
# Markdown file of the repository (tracked or new; ignored files such as the
# build folders left out), and on a heading used twice within one file; the
# changelog, whose per-version headings repeat, is left out of the second
# check. Reads the files and never writes them. The checker is remark with
# pinned plugins, installed by npm into build/doc-check (from npm's cache when
# it is there). Run from the repository root.
set -eu
cd "$(dirname "$0")/.."
if ! command -v npm >/dev/null 2>&1; then
  tools/install-packages.sh nodejs npm
fi

tools_dir=build/doc-check
modules="$PWD/$tools_dir/node_modules"
mkdir -p "$tools_dir"
npm install --prefix "$tools_dir" --no-save --no-package-lock \
  --prefer-offline --no-audit --no-fund --loglevel=error \
  remark-cli@12.0.1 remark-gfm@4.0.1 remark-validate-links@13.1.0 \
  remark-lint-no-duplicate-headings@4.0.1 >/dev/null

# --frail: a warning fails the run. --no-stdout: nothing is written anywhere.
remark() {
  "$modules/.bin/remark" --frail --quiet --no-stdout --no-config \
    --use "$modules/remark-gfm/index.js" "$@"
}

files=$(git ls-files --cached --others --exclude-standard '*.md')

echo "== Markdown: relative links and anchors"
# shellcheck disable=SC2086 # one file name per word; none has a blank
remark --use "$modules/remark-validate-links/index.js=repository:false" \
  $files

echo "== Markdown: no heading twice in one file"
# shellcheck disable=SC2086
remark --use "$modules/remark-lint-no-duplicate-headings/index.js" \
  $(printf '%s\n' $files | grep -vx 'CHANGELOG.md')
