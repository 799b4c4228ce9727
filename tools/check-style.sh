#!/bin/sh
# Fails on formatting drift in any C or C++ file, on any clang-tidy finding
# in the product's own code (the configured checks of .clang-tidy), and on a
# broken link or a repeated heading in the Markdown files (tools/check-docs.sh),
# and on a GitHub workflow that breaks the workflow schema. Configures the dev
# preset for its compile_commands.json when that is missing. Run from the
# repository root, as root on a fresh Debian; the workflow check fetches its
# validator from the npm registry.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh clang-format clang-tidy cmake ninja-build g++ \
  libgtest-dev
# npx comes with Node.js, from Debian's npm package or from another source.
if ! command -v npx >/dev/null 2>&1; then
  tools/install-packages.sh npm
fi
if [ ! -f build/dev/compile_commands.json ]; then
  cmake --preset dev >/dev/null
fi

echo "== clang-format"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== clang-tidy"
# The Win32 and MSVC-ABI sources need the cross toolchains' headers and are
# checked by compiling them with warnings as errors in the Windows build; the
# MFC stand-in's need MFC (tools/check-msvc-build.sh compiles them).
git ls-files 'program/*.cpp' 'platform/*.cpp' 'protocol/*.cpp' 'streams/*.cpp' \
  'vendor/*.cpp' 'standin/*.cpp' |
  grep -v -e '_test\.cpp$' -e '_win32' -e '_msvc' -e '_mfc' -e '^standin/windows/' |
  xargs clang-tidy -p build/dev --quiet

tools/check-docs.sh

echo "== GitHub workflows (schema only: not expressions, not action inputs)"
for workflow in $(git ls-files '.github/workflows/*.yml'); do
  echo "$workflow"
  npx --yes @action-validator/cli@0.6.0 "$workflow"
done
