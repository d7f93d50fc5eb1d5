#!/usr/bin/env bash
# Shows that the Apple build check catches faulty settings: it passes on the tree as it is and
# fails, naming the broken expectation, for each injected setting below. Exits non-zero when
# any outcome differs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=apple-cmake-selftest
source "$root/scripts/checks/lib/selftest.sh"
check=$root/scripts/checks/apple-cmake.sh

# cmake option injected | line the check must print ("" means: the check must pass)
cases=(
  "|"
  "-DQV_SERVICES_DEPLOYMENT_TARGET=11.0|FAIL macos_services: linked for macOS 15.0 (got 11.0)"
  "-DQV_MACOS_DEPLOYMENT_TARGET=12.0|FAIL quorvel-host: linked for macOS 11.0 (got 12.0)"
  "-DQV_APPLICATION_FRAMEWORKS_RPATH=@loader_path|FAIL macos_services: finds Sparkle in the application's Frameworks folder"
  "-DCMAKE_OSX_ARCHITECTURES=x86_64|FAIL macos_services: linked for arm64"
)

for entry in "${cases[@]}"; do
  IFS='|' read -r option wanted <<<"$entry"
  args=()
  [[ -n $option ]] && args=("$option")
  output=$(bash "$check" "${args[@]}" 2>&1)
  status=$?
  if met "$status" "$output" "$wanted" -xF; then
    pass "${option:-no injected setting}: exit $status"
  else
    unexpected "${option:-no injected setting}: exit $status, wanted ${wanted:-a pass}" "$output"
  fi
done

finish
