#!/usr/bin/env bash
# Cross-builds asfwriter.dll for 32-bit Windows with MinGW-w64 and checks the
# finished DLL: its format, the names it exports, the platform functions it
# imports and its load hook. Exits non-zero with a message on any mismatch.
set -euo pipefail
cd "$(dirname "$0")/.."

target=i686-w64-mingw32
objdump=${target}-objdump
cxxfilt=${target}-c++filt
build=build-win32

fail() {
    echo "test-win32: FAIL: $*" >&2
    exit 1
}

for tool in ${target}-g++ "$objdump" "$cxxfilt"; do
    command -v "$tool" >/dev/null || fail "$tool not found (install g++-mingw-w64-i686 binutils-mingw-w64-i686)"
done

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null
cmake --build "$build" -j"$(nproc)"

dll=$build/asfwriter.dll
baseline=$build/asfw_crt_baseline.dll
[ -f "$dll" ] || fail "$dll was not built"
[ -f "$build/libasfwriter.dll.a" ] || fail "the import library $build/libasfwriter.dll.a was not built"
[ -f "$build/asfw_win32_host_check.exe" ] || fail "the host program did not link against the import library"

dump=$("$objdump" -p "$dll")

# ---- format: a 32-bit i386 PE DLL ------------------------------------------------
grep -q 'file format pei-i386' <<<"$dump" || fail "$dll is not an i386 PE image"
grep -Eq '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$dump" || fail "$dll is not PE32"
grep -Eq '^[[:space:]]+DLL$' <<<"$dump" || fail "$dll is not marked as a DLL"

# ---- imports: "dll function" per line, dll in lower case --------------------------
imports_of() {
    "$objdump" -p "$1" | awk '
        /^The Import Tables/ { inside = 1; next }
        /^The Export Tables/ { inside = 0 }
        !inside { next }
        /DLL Name:/ { dll = tolower($3); next }
        /^\t[0-9a-f]+\t/ {
            if (NF >= 3) print dll, $3
            else print dll, "<ordinal " $2 ">"
        }' | sort -u
}
imports=$(imports_of "$dll")
runtime=$(imports_of "$baseline")
[ -n "$imports" ] || fail "no imports found in $dll"

names_from() { awk -v d="$1" '$1 == d { print $2 }' <<<"$2" | sort -u; }
expect_exactly() {
    local dll_name=$1 want=$2 got
    got=$(names_from "$dll_name" "$imports")
    if [ "$got" != "$want" ]; then
        echo "expected from $dll_name:" >&2; echo "$want" | sed 's/^/  /' >&2
        echo "imported:" >&2; echo "$got" | sed 's/^/  /' >&2
        fail "imports from $dll_name differ"
    fi
}
expect_exactly wmvcore.dll "$(printf '%s\n' WMCreateProfileManager WMCreateWriter)"
expect_exactly shlwapi.dll StrCmpNIW

# kernel32: the two string services of the class, plus whatever the
# toolchain's start-up and C++ runtime import (read from the baseline DLL).
kernel32=$(names_from kernel32.dll "$imports")
for name in MultiByteToWideChar lstrcmpW; do
    grep -qx "$name" <<<"$kernel32" || fail "$name is not imported from kernel32.dll"
done
for name in lstrcmpW StrCmpNIW WMCreateProfileManager WMCreateWriter; do
    ! grep -q " $name\$" <<<"$runtime" || fail "the runtime baseline itself imports $name; the check cannot tell"
done
allowed=$(printf '%s\n' MultiByteToWideChar lstrcmpW; names_from kernel32.dll "$runtime")
extra=$(comm -23 <(echo "$kernel32") <(sort -u <<<"$allowed"))
[ -z "$extra" ] || fail "unexpected kernel32.dll imports: $(echo $extra)"

# No other DLL: in particular no toolchain runtime DLL (libgcc_s, libstdc++,
# libwinpthread) and nothing of the platform beyond the functions above.
dlls=$(awk '{ print $1 }' <<<"$imports" | sort -u)
extra=$(comm -23 <(echo "$dlls") <(printf '%s\n' kernel32.dll msvcrt.dll shlwapi.dll wmvcore.dll))
[ -z "$extra" ] || fail "unexpected DLL dependencies: $(echo $extra)"
grep -q '<ordinal' <<<"$imports" && fail "imports by ordinal: $(grep '<ordinal' <<<"$imports" | tr '\n' ' ')"

# ---- exports: exactly the public class, by name -----------------------------------
exported=$(awk '
    /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
    inside && /^[[:space:]]*\[[[:space:]]*[0-9]+\] / { print $NF; next }
    inside && NF == 0 { inside = 0 }' <<<"$dump" | "$cxxfilt" --no-strip-underscore | sort -u)
# The constructor, the copy assignment and every method of include/AsfWriter.h.
wanted=$(sort -u <<'EOF'
CAsfWriter::CAsfWriter()
CAsfWriter::operator=(CAsfWriter const&)
CAsfWriter::Init()
CAsfWriter::AddAudio(int, int, int)
CAsfWriter::AddVideo(int, int, int, int, int, int, int)
CAsfWriter::OpenFile(char const*)
CAsfWriter::StartPrePass()
CAsfWriter::EndPrePass()
CAsfWriter::WriteSample(int, unsigned char*, int)
CAsfWriter::CloseFile()
CAsfWriter::Close()
EOF
)
if [ "$exported" != "$wanted" ]; then
    diff <(echo "$wanted") <(echo "$exported") | sed 's/^/  /' >&2 || true
    fail "exports differ from the public class (< missing, > unexpected)"
fi

# ---- load hook: DllMain answers TRUE whatever the notification ---------------------
# Its code must be straight-line (no branch, no call) and end with
# "mov $0x1,%eax; ret $0xc" (stdcall, three arguments).
hook=$("$objdump" -d --no-show-raw-insn --disassemble=_DllMain@12 "$dll" |
    awk '/<_DllMain@12>:/ { inside = 1; next } inside && /\tret/ { print; exit } inside && /\t/ { print }')
[ -n "$hook" ] || fail "DllMain is not in $dll"
! grep -Eq $'\t(j[a-z]+|call|loop)' <<<"$hook" || fail "DllMain branches or calls: $hook"
grep -Eq $'\tret +\\$0xc$' <<<"$(tail -n 1 <<<"$hook")" || fail "DllMain does not return as stdcall(12): $hook"
last_eax=$(grep -E ',%eax$' <<<"$hook" | tail -n 1)
grep -Eq $'\tmov +\\$0x1,%eax$' <<<"$last_eax" || fail "DllMain does not return TRUE: $hook"

echo "test-win32: $dll is PE32 i386, exports $(wc -l <<<"$exported") members of CAsfWriter by name,"
echo "test-win32: imports $(names_from wmvcore.dll "$imports" | tr '\n' ' ')from WMVCore.DLL," \
    "StrCmpNIW from shlwapi, MultiByteToWideChar and lstrcmpW from kernel32, and the C runtime only otherwise"
