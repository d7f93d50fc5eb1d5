#!/usr/bin/env bash
# Shows that the export check catches faults: a copy of the tree passes it unchanged and fails
# it, for the stated reason, once a fault is injected into the copy's build files. The copy is
# built once (tests and benchmarks off); each fault only relinks. Exits non-zero when any
# outcome differs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=exports-selftest
source "$root/scripts/checks/lib/selftest.sh"

copy_tree
build=$work/build
if ! cmake -S "$tree" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF >"$work/configure.log" 2>&1; then
  tail -n 20 "$work/configure.log"
  echo "$name: FAILED: could not configure the copy"
  exit 1
fi

# case label | file of the copy | sed expression making the fault | line the check must print,
# as an extended regular expression ("" means: must pass)
cases=(
  "unchanged|||"
  "the version script no longer given to the linker|cmake/QuorvelNode.cmake|/LINKER:--version-script=/d|^FAIL macos_services.node: exports [0-9]+ symbols besides its registration entry points"
  "the export list also naming every C++ symbol|cmake/napi_module/exports.version|s/^    node_api_module_get_api_version_v1;$/&\\n    _Z*;/|^FAIL quorvel_chat_codec.node: exports [0-9]+ symbols besides its registration entry points, such as: .*std::"
  "the export list without an entry point|cmake/napi_module/exports.version|/^    node_api_module_get_api_version_v1;$/d|^FAIL macos_services.node: does not export node_api_module_get_api_version_v1"
  "quorvel-host exporting its own symbols|host/CMakeLists.txt|\$ a set_target_properties(quorvel-host PROPERTIES ENABLE_EXPORTS ON)|^FAIL quorvel-host: exports [0-9]+ symbols of its own"
)

for entry in "${cases[@]}"; do
  IFS='|' read -r label file expression wanted <<<"$entry"
  if [[ -n $file ]]; then
    cp "$tree/$file" "$work/original"
    sed -E -i "$expression" "$tree/$file"
    if cmp -s "$tree/$file" "$work/original"; then
      unexpected "$label: the edit changed nothing in $file"
      continue
    fi
  fi
  output=$(bash "$tree/scripts/checks/exports.sh" "$build" 2>&1)
  status=$?
  if met "$status" "$output" "$wanted"; then
    pass "$label (${file:-no file changed}): exit $status${wanted:+, reported: $wanted}"
  else
    unexpected "$label: exit $status, wanted ${wanted:-a pass}" "$output"
  fi
  [[ -n $file ]] && cp "$work/original" "$tree/$file"
done

finish
