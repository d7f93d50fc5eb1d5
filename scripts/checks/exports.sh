#!/usr/bin/env bash
# Checks what the Linux build's artifacts export to the dynamic linker:
#   - every Node-API module (modules/*.node, quorvel_chat_codec and macos_services at least)
#     exports exactly its registration entry points, napi_register_module_v1 and
#     node_api_module_get_api_version_v1: nothing of the project's own code and no
#     instantiation of the standard library's templates, which the loader would otherwise bind
#     to, or coalesce with, whatever else the process loads;
#   - quorvel-host exports nothing of its own: the only dynamic symbols it defines are copies
#     of a system library's data (versioned names such as __libc_single_threaded@GLIBC_2.32).
#
# The build folder is the first argument, by default build/default; the artifacts are built
# there first (an up-to-date build only relinks what changed). Exits non-zero when an artifact
# is missing or exports anything else.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=exports
build=${1:-$root/build/default}

fail() {
  echo "$name: $*" >&2
  echo "$name: FAILED"
  exit 1
}

command -v nm >/dev/null || fail "nm not found (binutils)"
if [[ ! -f $build/CMakeCache.txt && $build == "$root/build/default" ]]; then
  (cd "$root" && cmake --preset default >/dev/null 2>&1) || fail "cannot configure the default preset"
fi
[[ -f $build/CMakeCache.txt ]] || fail "$build is not a configured build folder"
cmake --build "$build" -j 2 --target quorvel-host quorvel_chat_codec macos_services \
  >"$build/exports-build.log" 2>&1 || {
  tail -n 20 "$build/exports-build.log"
  fail "building the artifacts failed ($build/exports-build.log)"
}

entry_points=$'napi_register_module_v1\nnode_api_module_get_api_version_v1'
failures=0
summary=()
report() {
  failures=$((failures + 1))
  echo "FAIL $*"
}
# Defined dynamic symbols of a file, one name a line (with its @version, if any).
exported() {
  nm -D --defined-only --format=posix "$1" | awk '{print $1}' | sort -u
}

modules=()
for wanted in quorvel_chat_codec macos_services; do
  [[ -f $build/modules/$wanted.node ]] || report "$wanted: modules/$wanted.node was not built"
done
mapfile -t modules < <(find "$build/modules" -maxdepth 1 -name '*.node' -type f 2>/dev/null | sort)
for module in "${modules[@]}"; do
  label=$(basename "$module")
  names=$(exported "$module") || {
    report "$label: nm could not read it"
    continue
  }
  extra=$(comm -23 <(echo "$names") <(echo "$entry_points") | sed '/^$/d')
  missing=$(comm -13 <(echo "$names") <(echo "$entry_points") | sed '/^$/d')
  if [[ -n $missing ]]; then
    report "$label: does not export $(echo "$missing" | tr '\n' ' ')"
  fi
  if [[ -n $extra ]]; then
    count=$(wc -l <<<"$extra")
    report "$label: exports $count symbols besides its registration entry points, such as:" \
      "$(head -n 5 <<<"$extra" | c++filt | tr '\n' ';')"
  fi
  [[ -z $missing && -z $extra ]] && summary+=("$label exports only napi_register_module_v1 and node_api_module_get_api_version_v1")
done

host=$build/host/quorvel-host
if [[ -f $host ]]; then
  own=$(exported "$host" | grep -v '@' || true)
  if [[ -n $own ]]; then
    report "quorvel-host: exports $(wc -l <<<"$own") symbols of its own, such as:" \
      "$(head -n 5 <<<"$own" | c++filt | tr '\n' ';')"
  else
    summary+=("quorvel-host exports nothing of its own ($(exported "$host" | wc -l) copies of system data)")
  fi
else
  report "quorvel-host: host/quorvel-host was not built"
fi

if ((failures)); then
  echo "$name: FAILED: $failures expectations not met"
  exit 1
fi
for line in "${summary[@]}"; do
  echo "$name: $line"
done
echo "$name: passed"
