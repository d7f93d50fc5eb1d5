#!/usr/bin/env bash
# clang-tidy over the project's C++ sources, using the default build's compile database.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
db=build/default/compile_commands.json
[[ -f $db ]] || bash scripts/build.sh default >/dev/null
mapfile -t files < <(git ls-files -- 'common/*.cc' 'host/*.cc' 'chat_codec/*.cc' 'macos/*.cc' | grep -v -E '(_test|_fuzz)\.cc$|/fuzz/')
((${#files[@]})) || { echo "tidy: nothing to check"; exit 0; }
printf '%s\n' "${files[@]}" | xargs -P "$(nproc)" -n 4 clang-tidy -p build/default --quiet 2>/dev/null
echo "tidy: ${#files[@]} files clean"
