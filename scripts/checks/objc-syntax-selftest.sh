#!/usr/bin/env bash
# Shows that the Objective-C++ syntax check catches faults: copies of the project's adapters
# pass it unchanged, and fail it once a fault is injected (without ARC: a diagnostic besides
# the ARC guard's, or the guard missing). Each injected fault names the mode
# (manual reference counting, ARC or both) that must report it, so a mode that silently stops
# checking makes this test fail too. Exits non-zero when any expectation is not met.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=objc-syntax-selftest
source "$root/scripts/checks/lib/selftest.sh"
check=$root/scripts/checks/objc-syntax.sh

mapfile -t adapters < <(find "$root" \( -name build -o -name node_modules -o -name .git \) -prune \
  -o -name '*.mm' -type f -print | sort)
if ((${#adapters[@]} == 0)); then
  echo "$name: FAILED: no Objective-C++ files to break"
  exit 1
fi

# name | modes expected to fail (none, mrc, arc, both) | code appended to the adapter (\\n: a
# line break) | diagnostic the failing modes must print
cases=(
  "unchanged|none||"
  "syntax error|both|int QvInjectedFault( {|expected"
  "wrong argument type to a Foundation method|both|void QvInjectedFault(NSFileManager* m) { [m trashItemAtURL:@\"x\" resultingItemURL:nullptr error:nullptr]; }|cannot initialize a parameter of type 'NSURL *' with an rvalue of type 'NSString *'"
  "message to an undeclared method|both|void QvInjectedFault(NSBundle* b) { [b quorvelNoSuchMethod]; }|quorvelNoSuchMethod'"
  "wrong argument type to a Sparkle method|both|#import <Sparkle/Sparkle.h>\\nvoid QvInjectedFault(SPUUpdater* u) { [u startUpdater:42]; }|with an rvalue of type 'int'"
  "wrong argument type to a Security call|both|#import <Security/Security.h>\\nvoid QvInjectedFault() { SecStaticCodeCheckValidity(nullptr, kSecCSStrictValidate, \"requirement\"); }|no matching function for call to 'SecStaticCodeCheckValidity'"
  "wrong argument type to a libproc call|both|#include <libproc.h>\\nvoid QvInjectedFault() { proc_pidpath(\"1\", nullptr, 0); }|no matching function for call to 'proc_pidpath'"
  "explicit release under ARC|arc|void QvInjectedFault(NSObject* o) { [o release]; }|ARC forbids explicit message send of 'release'"
  "weak reference without ARC|mrc|void QvInjectedFault(id o) { __weak id w = o; (void)w; }|cannot create __weak reference in file using manual reference counting"
)

# Every adapter is checked unchanged; the faults are dealt out over the adapters in turn.
for position in "${!adapters[@]}"; do
  adapter=${adapters[position]}
  base=$(basename "$adapter")
  for index in "${!cases[@]}"; do
    ((index == 0 || (index - 1) % ${#adapters[@]} == position)) || continue
    entry=${cases[index]}
    IFS='|' read -r label expected code diagnostic <<<"$entry"
    copy=$work/$base
    cp "$adapter" "$copy"
    [[ -n $code ]] && printf '\n%b\n' "$code" >>"$copy"
    output=$(bash "$check" "$copy" 2>&1)
    status=$?
    mrc=no
    arc=no
    grep -q "^FAIL .* (mrc)$" <<<"$output" && mrc=yes
    grep -q "^FAIL .* (arc)$" <<<"$output" && arc=yes
    case $expected in
      none) want_status=0 want_mrc=no want_arc=no ;;
      mrc) want_status=1 want_mrc=yes want_arc=no ;;
      arc) want_status=1 want_mrc=no want_arc=yes ;;
      both) want_status=1 want_mrc=yes want_arc=yes ;;
    esac
    if ((status != want_status)) || [[ $mrc != "$want_mrc" || $arc != "$want_arc" ]] ||
      { [[ -n $diagnostic ]] && ! grep -qF -- "$diagnostic" <<<"$output"; }; then
      unexpected "${adapter#"$root"/}, $label: exit $status (want $want_status), failed without\
 ARC: $mrc (want $want_mrc), with ARC: $arc (want $want_arc), diagnostic:\
 ${diagnostic:-none wanted}" "$(head -n 20 <<<"$output")"
    else
      pass "${adapter#"$root"/}, $label: exit $status, failed without ARC: $mrc, with ARC: $arc"
    fi
  done
done

# Faults made by editing one adapter: a callback of a framework protocol, or an operation of a
# seam, that the adapter no longer provides, or provides under a misspelt name. The check must
# fail in both modes, for that reason.
# adapter | what it then lacks | sed expression making the fault | diagnostic the check must print
edits=(
  "macos/updater/apple/QuorvelUpdater.mm|a required user-driver callback|/^- (void)showUpdateInFocus {$/,/^}$/d|method 'showUpdateInFocus' in protocol 'SPUUserDriver' not implemented"
  "macos/updater/apple/QuorvelUpdater.mm|the delegate callback that vets archives|/^- (BOOL)updater:(SPUUpdater\*)updater$/{N;/shouldProceedWithUpdate/{:a;N;/\n}$/!ba;d}}|method 'updater:shouldProceedWithUpdate:updateCheck:error:' in protocol 'QuorvelUpdaterDelegateCallbacks' not implemented"
  "macos/updater/apple/QuorvelUpdater.mm|a correctly spelt delegate callback|s/didFindValidUpdate:(SUAppcastItem\*)item {/didFindValidUpdates:(SUAppcastItem*)item {/|method 'updater:didFindValidUpdate:' in protocol 'QuorvelUpdaterDelegateCallbacks' not implemented"
  "macos/updater/apple/framework_apple.mm|an operation of the framework updater|/void checkForUpdatesInBackground() override/d|allocating an object of abstract class type"
  "macos/cleanup/apple/platform_apple.mm|an operation of the cleanup platform|/std::optional<std::string> ProcessPath(std::int32_t pid) override {/,/^  }$/d|allocating an object of abstract class type"
)
for entry in "${edits[@]}"; do
  IFS='|' read -r adapter label expression diagnostic <<<"$entry"
  copy=$work/$(basename "$adapter")
  sed "$expression" "$root/$adapter" >"$copy"
  if cmp -s "$root/$adapter" "$copy"; then
    unexpected "$adapter, without $label: the edit changed nothing"
    continue
  fi
  output=$(bash "$check" "$copy" 2>&1)
  status=$?
  if ((status != 0)) && grep -q "^FAIL .* (mrc)$" <<<"$output" &&
    grep -q "^FAIL .* (arc)$" <<<"$output" && grep -qF "$diagnostic" <<<"$output"; then
    pass "$adapter, without $label: exit $status, failed without and with ARC: $diagnostic"
  else
    unexpected "$adapter, without $label: exit $status (want 1 in both modes, with: $diagnostic)" \
      "$(head -n 20 <<<"$output")"
  fi
done

# Every adapter without its ARC guard: it then compiles without ARC, which the check must report
# for that mode alone.
for adapter in "${adapters[@]}"; do
  copy=$work/$(basename "$adapter")
  sed '/^#include "macos\/apple\/arc.h"$/d' "$adapter" >"$copy"
  if cmp -s "$adapter" "$copy"; then
    unexpected "${adapter#"$root"/} does not include macos/apple/arc.h"
    continue
  fi
  output=$(bash "$check" "$copy" 2>&1)
  status=$?
  if ((status != 0)) && grep -q "^FAIL .* (mrc)$" <<<"$output" &&
    grep -q "^compiles without ARC" <<<"$output" &&
    ! grep -q "^FAIL .* (arc)" <<<"$output"; then
    pass "${adapter#"$root"/}, without its ARC guard: exit $status, failed without ARC only"
  else
    unexpected "${adapter#"$root"/}, without its ARC guard: exit $status (want a failure without\
 ARC only)" "$(head -n 20 <<<"$output")"
  fi
done

finish
