#!/usr/bin/env bash
# Shows that the macOS cross build check catches faults that only the real SDK and the real
# Sparkle headers reveal: a copy of the tree passes it unchanged and fails it, for the stated
# reason, once a fault is injected into the copy. The copy's build folder is kept from case to
# case, so each fault only rebuilds what it touches. The files to break are found by their
# content. Skipped, like the check, without QV_MACOS_SDK and QV_SPARKLE_HEADERS. Exits non-zero
# when any outcome differs.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=macos-cross-build-selftest

if [[ -z ${QV_MACOS_SDK:-} || -z ${QV_SPARKLE_HEADERS:-} ]]; then
  echo "$name: skipped: QV_MACOS_SDK and QV_SPARKLE_HEADERS are not both set, so the check" \
    "it tests is skipped too; see the README's macOS section"
  exit 0
fi

source "$root/scripts/checks/lib/selftest.sh"
copy_tree
export QV_CROSS_BUILD_DIR=$work/build

# Files of the copy (relative paths) whose text matches a pattern: the adapters' sources under
# macos/ and the CMake modules, or (second argument "offapple") the off-Apple declarations.
holding() {
  if [[ ${2:-} == offapple ]]; then
    (cd "$tree" && grep -rlE -- "$1" macos/offapple | sort)
  else
    (cd "$tree" && {
      grep -rlE --include='*.mm' --include='*.h' -- "$1" macos | grep -v '^macos/offapple/'
      grep -rlE --include='*.cmake' -- "$1" cmake
    } | sort)
  fi
}

# case label | sed expression applied to every file holding the pattern | pattern | cmake
# option | line the check must print, as an extended regular expression ("" means: must pass) |
# where the files are ("offapple": the off-Apple declarations; else the adapters)
cases=(
  "unchanged|||||"
  "the permission request under its old class name|s/\bSPUUpdatePermissionRequest\b/SUUpdatePermissionRequest/g|showUpdatePermissionRequest:\(SPUUpdatePermissionRequest||\.mm:[0-9]+:[0-9]+: error: expected a type$"
  "a user-driver callback misspelt|s/^- \(void\)showUpdateInFocus \{/- (void)showUpdateInFocused {/|^- \(void\)showUpdateInFocus \{||error: method 'showUpdateInFocus' in protocol 'SPUUserDriver' not implemented"
  "a delegate callback misspelt where it is declared and implemented|s/didFindValidUpdate:\(SUAppcastItem/didFindValidUpdates:(SUAppcastItem/|didFindValidUpdate:\(SUAppcastItem||^FAIL QuorvelUpdater -updater:didFindValidUpdates:: in neither SPUUserDriver nor SPUUpdaterDelegate$"
  "a deprecated delegate callback implemented|$ s/^@end$/- (void)updater:(SPUUpdater*)updater userDidSkipThisVersion:(SUAppcastItem*)item {\\n  (void)updater;\\n  (void)item;\\n}\\n@end/|^@implementation QuorvelUpdater\\b||^FAIL QuorvelUpdater -updater:userDidSkipThisVersion:: deprecated in the framework's protocols$"
  "the Objective-C runtime no longer linked|s/\"-framework CoreFoundation\" objc\)/\"-framework CoreFoundation\")/|\"-framework CoreFoundation\" objc\)||^FAIL macos_services: _objc_msgSend is undefined and provided by no library it loads$"
  "an off-Apple class under a name the framework lacks|s/\bSPUUpdatePermissionRequest\b/SUUpdatePermissionRequest/g|@interface SPUUpdatePermissionRequest||^FAIL off-Apple Sparkle.h: ObjCInterfaceDecl SUUpdatePermissionRequest is not declared by the framework$|offapple"
  "an off-Apple declaration without the framework's nullability|s/^- \(nullable NSString\*\)feedURLStringForUpdater:/- (NSString*)feedURLStringForUpdater:/|^- \(nullable NSString\*\)feedURLStringForUpdater:||^FAIL off-Apple Sparkle.h: ObjCProtocolDecl SPUUpdaterDelegate - feedURLStringForUpdater: is NSString \* _Nonnull|offapple"
  "the run-path of another folder|||-DQV_APPLICATION_FRAMEWORKS_RPATH=@loader_path|^FAIL macos_services: run-path @executable_path/../Frameworks \(got @loader_path\)$"
  "Sparkle linked strongly|s/LINKER:-weak_framework,Sparkle/LINKER:-framework,Sparkle/|LINKER:-weak_framework,Sparkle||^FAIL macos_services: loads Sparkle, and nothing else, weakly \(LC_LOAD_WEAK_DYLIB: none\)$"
  "hidden visibility and the export list both gone|s/^set\(CMAKE_[A-Z]*_VISIBILITY_PRESET hidden\)$//;s/^set\(CMAKE_VISIBILITY_INLINES_HIDDEN ON\)$//;s/ *\"LINKER:-exported_symbols_list,[^\"]*\"\)/)/|LINKER:-exported_symbols_list||^FAIL macos_services: exports [0-9]+ symbols besides _napi_register_module_v1 _node_api_module_get_api_version_v1"
  "the Objective-C++ compiled without ARC|/-fobjc-arc>\)$/d|-fobjc-arc>\)$||error: \"this file relies on ARC: compile it with -fobjc-arc\"$"
  "QuorvelUpdater made with the unavailable -init|$ a QuorvelUpdater* QvInjectedFault() { return [[QuorvelUpdater alloc] init]; }|^@implementation QuorvelUpdater\\b||error: 'init' is unavailable"
)

for entry in "${cases[@]}"; do
  IFS='|' read -r label expression pattern option wanted where <<<"$entry"
  files=()
  if [[ -n $pattern ]]; then
    mapfile -t files < <(holding "$pattern" "$where")
    if ((${#files[@]} == 0)); then
      unexpected "$label: no file holds /$pattern/"
      continue
    fi
    for file in "${files[@]}"; do
      cp "$tree/$file" "$work/original-${file//\//_}"
      sed -E -i "$expression" "$tree/$file"
    done
  fi
  args=()
  [[ -n $option ]] && args=("$option")
  output=$(bash "$tree/scripts/checks/macos-cross-build.sh" "${args[@]}" 2>&1)
  status=$?
  # The build log holds the compiler's diagnostics.
  diagnostics=$(cat "$QV_CROSS_BUILD_DIR/build.log" 2>/dev/null)
  if met "$status" "$output"$'\n'"$diagnostics" "$wanted"; then
    pass "$label (${files[*]:-no file changed}): exit $status${wanted:+, reported: $wanted}"
  else
    unexpected "$label: exit $status, wanted ${wanted:-a pass}" "$output"
  fi
  for file in "${files[@]}"; do
    cp "$work/original-${file//\//_}" "$tree/$file"
  done
done

finish
