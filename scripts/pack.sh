#!/usr/bin/env bash
# Builds the two Node-API modules, stages them into their packages and writes the three package
# tarballs into OUTDIR: bash scripts/pack.sh OUTDIR. Uses build/default (configured with the
# default preset), or the build folder QV_BUILD_DIR names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [[ $# -ne 1 ]]; then
  echo "usage: bash scripts/pack.sh OUTDIR" >&2
  exit 2
fi
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$root"
if [[ -n ${QV_BUILD_DIR:-} ]]; then
  build=$QV_BUILD_DIR
else
  build=$root/build/default
  cmake --preset default >/dev/null
fi
cmake --build "$build" --target quorvel_chat_codec macos_services >/dev/null
# Only this build's binaries go in: none left from another platform or an earlier layout.
rm -rf packages/chat-codec/prebuilds packages/macos-services/prebuilds
cmake --install "$build" --component node-packages --prefix "$root/packages" --strip >/dev/null
for package in chat-delta chat-codec macos-services; do
  (cd "packages/$package" && npm pack --silent --pack-destination "$out" >/dev/null)
done
ls "$out"/quorvel-*.tgz
