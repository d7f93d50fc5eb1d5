#!/usr/bin/env bash
# The main job: sets up, builds and runs the end-to-end demonstration of every deliverable.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
bash scripts/build.sh default >/dev/null
# The modules go into their packages, which the demo's parts import by name.
cmake --install build/default --component node-packages --prefix packages --strip >/dev/null
export QV_BUILD_DIR="$root/build/default"
for part in scripts/demo/*; do
  echo
  echo "=================== $(basename "$part") ==================="
  case "$part" in
    *.sh) bash "$part" ;;
    *.mjs | *.js) node "$part" ;;
  esac
done
