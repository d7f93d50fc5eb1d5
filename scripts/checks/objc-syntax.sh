#!/usr/bin/env bash
# Syntax- and type-checks every Objective-C++ file of the project (or the files given as
# arguments) with clang against GNUstep's Foundation headers, once with ARC and once with
# manual reference counting. The files rely on ARC and stop a build without it through the
# #error of macos/apple/arc.h, so without ARC that error must be the one and only diagnostic:
# a file that compiles without ARC has lost the guard, and any other diagnostic is a fault. The macOS SDK is not available here, so Sparkle, Security,
# CoreFoundation, libproc and libdispatch come from the project's own minimal declarations in
# macos/offapple/include. Warnings count as errors. Exits non-zero when any check fails or
# when there is nothing to check.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
offapple=$root/macos/offapple

fail() {
  echo "objc-syntax: $*" >&2
  echo "objc-syntax: FAILED"
  exit 1
}

for tool in clang gnustep-config gcc; do
  command -v "$tool" >/dev/null || fail "$tool not found (run scripts/setup.sh)"
done
[[ -f /usr/include/Block.h ]] || fail "Block.h not found (libblocksruntime-dev)"

if (($#)); then
  files=("$@")
else
  mapfile -t files < <(find "$root" \( -name build -o -name node_modules -o -name .git \) -prune \
    -o -name '*.mm' -type f -print | sort)
fi
((${#files[@]})) || fail "no Objective-C++ files found"

# The shim: the blocks runtime under the name GNUstep includes, and gcc's objc/runtime.h made
# acceptable to ARC (it dereferences id and returns Protocol ** without ownership qualifiers).
shim=$(mktemp -d)
trap 'rm -rf "$shim"' EXIT
cp -r "$offapple/shim/." "$shim/"
gcc_include=$(gcc -print-file-name=include)
runtime=$gcc_include/objc/runtime.h
[[ -f $runtime ]] || fail "$runtime not found"
sed -e 's/return object->class_pointer;/return ((struct objc_object *)(__bridge void *)object)->class_pointer;/' \
  -e 's/Protocol \*\*/Protocol *__unsafe_unretained */g' \
  -e 's/#include "\(.*\)"/#include <objc\/\1>/' "$runtime" >"$shim/objc/runtime.h"
if ! grep -q '__bridge void \*)object' "$shim/objc/runtime.h" || grep -q 'Protocol \*\*' "$shim/objc/runtime.h"; then
  fail "gcc's objc/runtime.h changed shape; the ARC patch no longer applies"
fi

# GNUstep's definitions; its header folders become system folders so that only our own code
# is held to the warning flags.
gnustep=()
for flag in $(gnustep-config --objc-flags); do
  case $flag in
    -D* | -fconstant-string-class=*) gnustep+=("$flag") ;;
    -I/*) [[ -d ${flag#-I} ]] && gnustep+=(-isystem "${flag#-I}") ;;
  esac
done

napi=$root/node_modules/node-api-headers/include
[[ -f $napi/node_api.h ]] || napi=/usr/include/node

common=(-fsyntax-only -x objective-c++ -std=c++20 -fblocks -fobjc-runtime=gnustep-2.0
  -fexceptions -fobjc-exceptions
  -I "$shim" -I "$offapple/include" "${gnustep[@]}" -isystem "$gcc_include"
  -include offapple_foundation.h
  -I "$root" -I "$root/common" -isystem "$napi"
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)

# The guard's diagnostic, as clang prints the #error of macos/apple/arc.h.
guard=$(sed -n 's/^#error \(".*"\)$/error: \1/p' "$root/macos/apple/arc.h")
[[ -n $guard ]] || fail "macos/apple/arc.h holds no #error for builds without ARC"

checks=0
failures=0
for file in "${files[@]}"; do
  for mode in mrc arc; do
    flags=("${common[@]}")
    [[ $mode == arc ]] && flags+=(-fobjc-arc)
    checks=$((checks + 1))
    output=$(clang "${flags[@]}" "$file" 2>&1)
    status=$?
    if [[ $mode == arc ]]; then
      if ((status != 0)); then
        failures=$((failures + 1))
        echo "FAIL ${file#"$root"/} ($mode)"
        echo "$output"
      elif [[ -n $output ]]; then
        echo "$output"
      fi
      continue
    fi
    diagnostics=$(grep -E ': (fatal error|error|warning): ' <<<"$output")
    if ((status == 0)); then
      failures=$((failures + 1))
      echo "FAIL ${file#"$root"/} ($mode)"
      echo "compiles without ARC: macos/apple/arc.h is not included"
      [[ -n $output ]] && echo "$output"
    elif [[ $(grep -c . <<<"$diagnostics") != 1 ]] || ! grep -qF -- "$guard" <<<"$diagnostics"; then
      failures=$((failures + 1))
      echo "FAIL ${file#"$root"/} ($mode)"
      echo "more reported than the ARC guard:"
      echo "$output"
    fi
  done
done

if ((failures)); then
  echo "objc-syntax: FAILED: $failures of $checks checks (${#files[@]} files, without and with ARC)"
  exit 1
fi
echo "objc-syntax: passed: ${#files[@]} Objective-C++ files, each with ARC and, stopped by its ARC guard alone, without"
