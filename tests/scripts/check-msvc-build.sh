#!/bin/sh
# Checks the MSVC branch of status_library/contract.h and the program's MFC
# start (program/mfc_app_msvc.cpp), which no machine here can build with MSVC:
# clang compiles status_library/contract_msvc_check.cpp and the MFC start as
# MSVC would for the production build (32-bit x86, shared MFC runtime,
# release, multi-byte) against the MFC mock in standin/mfc_mock, and llvm-nm
# reads the objects. Nothing is linked and nothing is run but a native helper
# that prints the contract's export name. Also checks that the contract
# header itself refuses the builds that would link another MFC runtime. Run
# from anywhere, as root on a fresh Debian; it installs what it needs. Output
# in build/msvc-check.
set -eu
cd "$(dirname "$0")/../.."

# With --ctest, as CTest runs it (the dev preset's msvc_check): installs
# nothing, and a missing tool ends the check with 77, which CTest reports as
# skipped.
missing_status=1
if [ "${1:-}" = "--ctest" ]; then
  missing_status=77
else
  tools/install-packages.sh clang lld llvm
fi

# The tool names of Debian's default LLVM, or of its versioned packages.
tool() {
  for name in "$1" "$1-14"; do
    if command -v "$name" >/dev/null 2>&1; then
      echo "$name"
      return
    fi
  done
  echo "check-msvc-build: $1 not found" >&2
  exit "$missing_status"
}
clang=$(tool clang)
clangxx=$(tool clang++)
nm=$(tool llvm-nm)
readobj=$(tool llvm-readobj)

out=build/msvc-check
mkdir -p "$out"
check=status_library/contract_msvc_check.cpp
# clang as MSVC: _MSC_VER, _M_IX86 and the MSVC ABI. -nostdlibinc leaves
# clang's own freestanding headers only: there is no MSVC C runtime or
# standard library here, and the MSVC branch of the contract needs none.
flags="--target=i686-pc-windows-msvc -std=c++17 -nostdlibinc
  -fexceptions -fcxx-exceptions -Wall -Wextra -Wpedantic -Werror
  -I. -isystem standin/mfc_mock"
release="-D_AFXDLL -D_MBCS -O2 -DNDEBUG"
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The export name as the contract spells it, printed by a native program
# built from the same header.
printf '%s\n' '#include <cstdio>' '#include "status_library/contract.h"' \
  'int main() { std::fputs(status_bridge::kIsVerifiedReuseBlockExportName, stdout); }' |
  $clangxx -std=c++17 -I. -x c++ - -o "$out/print-export-name"
expected=$("$out/print-export-name")
if [ "${#expected}" -ne 133 ]; then
  fail "the contract's export name has ${#expected} bytes, not 133"
fi

echo "== The production configuration compiles"
# shellcheck disable=SC2086
if $clang $flags $release -c "$check" -o "$out/check.obj" 2>"$out/check.log"; then
  symbols=$($nm "$out/check.obj")
  defined=$($nm --defined-only --extern-only --just-symbol-name "$out/check.obj")
  # The vendor's export, declared with the contract's types, is named exactly
  # as the contract's constant: namespace, __cdecl, bool result, parameters.
  if [ "$(printf '%s\n' "$defined" | grep -c '^?IsVerifiedReuseBlock@')" -ne 1 ] ||
    ! printf '%s\n' "$defined" | grep -qxF "$expected"; then
    fail "the object does not define exactly the contract's export name"
    printf '%s\n' "$defined" | grep '^?IsVerifiedReuseBlock@' || true
  fi
  # The helper builds the by-value copy with MFC's copy constructor, catches
  # MFC's exception pointers and frees them with CException::Delete.
  # shellcheck disable=SC2016 # The $ signs belong to the decorated names.
  string='?$CStringT@DV?$StrTraitMFC_DLL@DV?$ChTraitsCRT@D@ATL@@@@@ATL@@'
  for symbol in "U ??0${string}QAE@ABV01@@Z" "D ??_R0PAVCException@@@8" \
    "U ?Delete@CException@@QAEXXZ"; do
    if ! printf '%s\n' "$symbols" | grep -qF "$symbol"; then
      fail "the object lacks $symbol"
    fi
  done
  # <afx.h> chose the shared, release, multi-byte MFC runtime.
  if ! $readobj --coff-directives "$out/check.obj" |
    grep -q '/DEFAULTLIB:mfc140\.lib'; then
    fail "the object does not ask for mfc140.lib"
  fi
else
  cat "$out/check.log"
  fail "the production configuration does not compile"
fi

echo "== The program's MFC start compiles"
# program/mfc_app_msvc.cpp itself, as the production build compiles it: the
# application object is constructed, AfxWinInit is called, and the multi-byte
# build asks for the narrow GetModuleHandle and GetCommandLine.
app=program/mfc_app_msvc.cpp
# shellcheck disable=SC2086
if $clang $flags $release -c "$app" -o "$out/mfc_app.obj" 2>"$out/mfc_app.log"; then
  symbols=$($nm "$out/mfc_app.obj")
  for symbol in "U ??0CWinApp@@" "U ?AfxWinInit@@" \
    "U __imp__GetModuleHandleA@4" "U __imp__GetCommandLineA@0" \
    "T ?InitializeMfc@status_bridge@@YA_NXZ"; do
    if ! printf '%s\n' "$symbols" | grep -qF "$symbol"; then
      fail "the MFC start lacks $symbol"
    fi
  done
else
  cat "$out/mfc_app.log"
  fail "the MFC start does not compile"
fi

# refused <what> <extra flags> <text the contract header's own error holds>
refused() {
  what=$1
  extra=$2
  text=$3
  echo "== Refused by the contract header: $what"
  # shellcheck disable=SC2086
  if $clang $flags $extra -c "$check" -o "$out/refused.obj" \
    2>"$out/refused.log"; then
    fail "$what compiled"
  elif ! grep -E "contract\.h:[0-9]+:[0-9]+: error: .*$text" \
    "$out/refused.log" >/dev/null; then
    cat "$out/refused.log"
    fail "$what was not refused by the contract header with \"$text\""
  fi
}
refused "a debug build" "$release -D_DEBUG" "mfc140d\.dll"
refused "a Unicode build (_UNICODE)" "$release -D_UNICODE" "mfc140u\.dll"
refused "a Unicode build (UNICODE)" "$release -DUNICODE" "mfc140u\.dll"
refused "the static MFC library" "-D_MBCS -O2 -DNDEBUG" "_AFXDLL"
refused "a 64-bit build" "$release --target=x86_64-pc-windows-msvc" \
  "a 32-bit build"

echo "== The MFC stand-in vendor library compiles"
# The MSVC build's stand-in (standin/status_library/status_export_mfc.cpp), as that
# build compiles it: its export, declared with MFC's CStringA, gets exactly
# the contract's name and is exported by it, and the object asks the linker
# for mfc140.lib.
standin=standin/status_library/status_export_mfc.cpp
# shellcheck disable=SC2086
if $clang $flags $release -c "$standin" -o "$out/standin.obj" \
  2>"$out/standin.log"; then
  defined=$($nm --defined-only --extern-only --just-symbol-name \
    "$out/standin.obj")
  if [ "$(printf '%s\n' "$defined" | grep -c '^?IsVerifiedReuseBlock@')" -ne 1 ] ||
    ! printf '%s\n' "$defined" | grep -qxF "$expected"; then
    fail "the MFC stand-in does not define exactly the contract's export name"
    printf '%s\n' "$defined" | grep '^?IsVerifiedReuseBlock@' || true
  fi
  directives=$($readobj --coff-directives "$out/standin.obj")
  if ! printf '%s\n' "$directives" |
    grep -qF -e "/EXPORT:$expected" -e "/EXPORT:\"$expected\""; then
    fail "the MFC stand-in does not export the contract's name"
  fi
  if ! printf '%s\n' "$directives" | grep -q '/DEFAULTLIB:mfc140\.lib'; then
    fail "the MFC stand-in does not ask for mfc140.lib"
  fi
  # It destroys the by-value string (the callee's part of the convention) and
  # throws through MFC.
  # shellcheck disable=SC2016 # The $ signs belong to the decorated names.
  for symbol in \
    'U ??1?$CStringT@DV?$StrTraitMFC_DLL@DV?$ChTraitsCRT@D@ATL@@@@@ATL@@QAE@XZ' \
    'U ?AfxThrowNotSupportedException@@YGXXZ'; do
    if ! $nm "$out/standin.obj" | grep -qF "$symbol"; then
      fail "the MFC stand-in lacks $symbol"
    fi
  done
else
  cat "$out/standin.log"
  fail "the MFC stand-in does not compile"
fi

if [ "$failures" -ne 0 ]; then
  echo "MSVC-mode check: $failures failure(s)"
  exit 1
fi
echo "MSVC-mode check: passed (the contract's MSVC branch, the MFC start and" \
  "the MFC stand-in, against the MFC mock)"
