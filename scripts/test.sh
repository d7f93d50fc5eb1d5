#!/usr/bin/env bash
# Sets up, builds and runs every test: the default build, the sanitizer builds, the fuzz
# targets for a bounded time and the format check. Exits non-zero when anything fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh || exit 1

jobs=$(nproc)
failed=()
step() {
  local name=$1
  shift
  echo
  echo "=================== $name ==================="
  if ! "$@"; then failed+=("$name"); fi
}
suite() {
  local preset=$1
  bash scripts/build.sh "$preset" && ctest --preset "$preset" -j "$jobs"
}

step format bash scripts/check-format.sh
step default suite default
step asan suite asan
step tsan suite tsan
step fuzz suite fuzz
for extra in scripts/checks/*.sh; do
  [[ -e "$extra" ]] && step "$(basename "$extra" .sh)" bash "$extra"
done

echo
if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all suites passed"
