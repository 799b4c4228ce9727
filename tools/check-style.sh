#!/bin/sh
# Fails on formatting drift in any C or C++ file; on a header of a product
# folder that .clang-tidy's HeaderFilterRegex leaves out, and on any
# clang-tidy finding in the product's own code (the configured checks of
# .clang-tidy); on a broken link or a repeated heading in the Markdown files
# (tools/check-docs.sh); on a GitHub workflow that breaks the workflow schema;
# and on any flake8 finding in the Python code. Configures the dev preset for
# its compile_commands.json when that is missing. Run from the repository
# root, as root on a fresh Debian; the workflow check fetches its validator
# from the npm registry.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh clang-format clang-tidy cmake ninja-build g++ \
  libgtest-dev flake8
# npx comes with Node.js, from Debian's npm package or from another source.
if ! command -v npx >/dev/null 2>&1; then
  tools/install-packages.sh npm
fi
if [ ! -f build/dev/compile_commands.json ]; then
  cmake --preset dev >/dev/null
fi

# The product folders: every top-level folder with a CMakeLists.txt but the
# stand-ins, tests, tools and the like, so that a new one is checked as soon
# as it exists.
product=$(for list in */CMakeLists.txt; do dirname "$list"; done |
  grep -vx -e standin -e tests -e fuzz -e bench -e clients -e cmake \
    -e tools -e examples -e docs)

echo "== clang-format"
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "== clang-tidy: the header filter covers every product folder"
# clang-tidy matches the filter against a header's full path. Matched here
# against the path from the repository root, with a leading slash: the name
# of the clone's own folder (status-bridge, say) must not make a filter look
# wider than it is.
filter=$(sed -n "s/^HeaderFilterRegex: *'\(.*\)'$/\1/p" .clang-tidy)
# shellcheck disable=SC2086 # one folder a word; none has a blank
outside=$(for folder in $product; do git ls-files "$folder/*.h"; done |
  sed 's|^|/|' | grep -Ev -e "$filter" || true)
if [ -z "$filter" ] || [ -n "$outside" ]; then
  printf '%s\n' ".clang-tidy's HeaderFilterRegex '$filter' leaves out:" \
    "$outside"
  exit 1
fi

echo "== clang-tidy"
# The Win32 and MSVC-ABI sources need the cross toolchains' headers and are
# checked by compiling them with warnings as errors in the Windows build; the
# MFC stand-in's need MFC (tests/scripts/check-msvc-build.sh compiles them).
# shellcheck disable=SC2086
for folder in $product standin; do git ls-files "$folder/*.cpp"; done |
  grep -v -e '_test\.cpp$' -e '_win32' -e '_msvc' -e '_mfc' -e '^standin/windows/' |
  xargs clang-tidy -p build/dev --quiet

tools/check-docs.sh

echo "== GitHub workflows (schema only: not expressions, not action inputs)"
for workflow in $(git ls-files '.github/workflows/*.yml'); do
  echo "$workflow"
  npx --yes @action-validator/cli@0.6.0 "$workflow"
done

echo "== flake8: the Python client, the benchmark's and the tests' scripts"
flake8 --config clients/python/.flake8 clients/python bench/*.py tests/scripts/*.py
