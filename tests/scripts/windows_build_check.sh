#!/bin/sh
# Checks the 32-bit Windows build without running any of it, so that every
# machine can, even one that cannot start a 32-bit program:
#
#   windows_build_check.sh <llvm-readobj> <status-bridge.exe> <MSVC-ABI vendor DLL>
#
# - the program is a 32-bit x86 (PE32) console program;
# - the MSVC-ABI stand-in vendor library exports one name, exactly the
#   133-byte decorated name that the program passes to GetProcAddress;
# - the program imports the loader functions it calls;
# - every DLL that the program or a DLL beside it needs is one of Windows'
#   own or lies beside it (the mingw runtime, the string runtime);
# - the program embeds its application manifest: asInvoker, Windows 7 to 11,
#   and no activeCodePage.
set -eu

readobj=$1
program=$2
vendor=$3
folder=$(dirname "$program")
status=0

fail() {
  echo "FAILED: $*" >&2
  status=1
}

# The value of the field `$2` in the llvm-readobj output `$1`.
field() {
  printf '%s\n' "$1" | sed -n "s/^ *$2: //p" | head -n 1
}

headers=$("$readobj" --file-headers "$program")
machine=$(field "$headers" Machine)
magic=$(field "$headers" Magic)
subsystem=$(field "$headers" Subsystem)
[ "$machine" = "IMAGE_FILE_MACHINE_I386 (0x14C)" ] ||
  fail "the program's machine is $machine, not i386"
[ "$magic" = "0x10B" ] || fail "the program's optional header is $magic, not PE32"
case "$subsystem" in
  IMAGE_SUBSYSTEM_WINDOWS_CUI*) ;;
  *) fail "the program's subsystem is $subsystem, not the console" ;;
esac

# The program holds the name it looks up as a NUL-terminated string.
wanted=$(grep -a -o '?IsVerifiedReuseBlock@[[:print:]]*' "$program" | sort -u)
exports=$("$readobj" --coff-exports "$vendor" | sed -n 's/^ *Name: \(..*\)$/\1/p')
[ "$(printf '%s' "$wanted" | wc -c)" -eq 133 ] ||
  fail "the program looks up a name of $(printf '%s' "$wanted" | wc -c) bytes, not 133: $wanted"
[ "$exports" = "$wanted" ] ||
  fail "the MSVC-ABI stand-in exports '$exports', not the program's '$wanted'"

# The imported functions of `$1`, one "DLL!function" a line.
imports() {
  "$readobj" --coff-imports "$1" | awk '
    /^ *Name: / { dll = $2 }
    /^ *Symbol: / { print dll "!" $2 }'
}

program_imports=$(imports "$program")
for function in LoadLibraryW GetProcAddress FreeLibrary MultiByteToWideChar \
    SetErrorMode; do
  printf '%s\n' "$program_imports" | grep -qix "kernel32.dll!$function" ||
    fail "the program does not import $function from KERNEL32.dll"
done

# Each DLL that the program or a DLL beside it imports lies beside it too, or
# is one of Windows' own.
beside=""
for module in "$program" "$folder"/*.dll; do
  for dll in $(imports "$module" | cut -d'!' -f1 | sort -u); do
    if [ -f "$folder/$dll" ]; then
      case " $beside " in *" $dll "*) ;; *) beside="$beside $dll" ;; esac
      continue
    fi
    case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll | \
        ucrtbase.dll | api-ms-win-*) ;;
      *) fail "$dll, needed by $(basename "$module"), is not beside the program" ;;
    esac
  done
done

"$readobj" --coff-resources "$program" | grep -q 'Type: MANIFEST (ID 24)' ||
  fail "the program has no manifest resource"
for text in 'level="asInvoker"' 35138b9a-5d96-4fbd-8e2d-a2440225f93a \
    4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 1f676c76-80e1-4239-95bb-83d0f6d0da78 \
    8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a; do
  grep -aqF "$text" "$program" || fail "the program's manifest lacks $text"
done
if grep -aqF "<activeCodePage" "$program"; then
  fail "the program's manifest sets activeCodePage"
fi

if [ "$status" -eq 0 ]; then
  echo "PE32 i386 console program; imports LoadLibraryW, GetProcAddress," \
    "FreeLibrary, MultiByteToWideChar, SetErrorMode; the MSVC-ABI stand-in" \
    "exports exactly the 133-byte name the program looks up; manifest" \
    "embedded; beside it:$beside"
fi
exit "$status"
