#!/usr/bin/env bash
# App-copy cleanup: an installed Quorvel.app (node itself as its executable) in a made-up home
# folder with stale duplicates beside it, cleaned up through the macos_services module.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
: "${QV_BUILD_DIR:=$root/build/default}"
identifier=$(sed -n 's/^QV_BUNDLE_IDENTIFIER:[A-Z]*=//p' "$QV_BUILD_DIR/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QV_DEMO_HOME="$work/home" QV_DEMO_IDENTIFIER="$identifier" QV_DEMO_ROOT="$root"

cat >"$work/setup.cjs" <<'JS'
// Builds the home folder: the installed application and its stale copies.
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const apps = path.join(process.env.QV_DEMO_HOME, 'Applications');
const sha = (f) => crypto.createHash('sha256').update(fs.readFileSync(f)).digest('hex');
const plist = (o) => '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>' +
  Object.entries(o).map(([k, v]) => `<key>${k}</key><string>${v}</string>`).join('') + '</dict></plist>\n';
function bundle(name, version, { exe, sealed = true, team = 'QVDEMO' } = {}) {
  const b = path.join(apps, name);
  fs.mkdirSync(path.join(b, 'Contents/MacOS'), { recursive: true });
  const info = path.join(b, 'Contents/Info.plist');
  fs.writeFileSync(info, plist({ CFBundleIdentifier: process.env.QV_DEMO_IDENTIFIER,
    CFBundleExecutable: 'Quorvel', CFBundleShortVersionString: version }));
  const target = path.join(b, 'Contents/MacOS/Quorvel');
  if (exe) { try { fs.linkSync(exe, target); } catch { fs.copyFileSync(exe, target); } }
  else fs.writeFileSync(target, '#!/bin/sh\n');
  fs.chmodSync(target, 0o755);
  if (sealed) {
    fs.mkdirSync(path.join(b, 'Contents/_CodeSignature'));
    fs.writeFileSync(path.join(b, 'Contents/_CodeSignature/TestSeal.plist'),
      plist({ InfoDigest: sha(info), ExecutableDigest: sha(target), TeamIdentifier: team }));
  }
  console.log(`  ${path.relative(process.env.QV_DEMO_HOME, b).padEnd(32)} ${version}` +
    `${sealed ? ` sealed by ${team}` : ' unsigned'}${exe ? '  (the running application)' : ''}`);
}
if (!fs.existsSync(path.join(apps, 'Quorvel.app'))) bundle('Quorvel.app', '2.0.0', { exe: process.execPath });
for (const e of fs.readdirSync(apps)) if (e !== 'Quorvel.app') fs.rmSync(path.join(apps, e), { recursive: true });
bundle('Quorvel 2.app', '2.0.0');
bundle('Quorvel copy.app', '1.9.3');
bundle('Quorvel (1).app', '2.1.0');
bundle('Quorvel 3.app', '1.0.0', { sealed: false });
bundle('Quorvel 4.app', '1.0.0', { team: 'SOMEONE' });
JS

cat >"$work/run.cjs" <<'JS'
// Runs inside the bundle: loads the module (a package name, resolved as the application in the
// repository resolves it, or a path) and asks for a cleanup.
const m = require(require.resolve(process.env.QV_DEMO_MODULE, { paths: [process.env.QV_DEMO_ROOT] }));
m.cleanupCopies().then((text) => console.log(`  result: ${text}`));
JS

run() {
  local module=$1
  echo "Home folder $QV_DEMO_HOME:"
  node "$work/setup.cjs"
  (unset XDG_DATA_HOME; HOME="$QV_DEMO_HOME" QV_DEMO_MODULE="$module" \
    "$QV_DEMO_HOME/Applications/Quorvel.app/Contents/MacOS/Quorvel" "$work/run.cjs")
  echo "  left in Applications: $(cd "$QV_DEMO_HOME/Applications" && ls | paste -sd, -)"
  local trash="$QV_DEMO_HOME/.local/share/Trash"
  if [[ -d "$trash/files" ]]; then
    echo "  in the Trash: $(cd "$trash/files" && ls | paste -sd, -)"
    for record in "$trash"/info/*.trashinfo; do sed 's/^/    /' "$record"; done
    rm -rf "$trash"
  fi
}

echo "1. The shipped module. This system has no code-signature service, so the running copy"
echo "   cannot be verified and nothing is touched:"
run @quorvel/macos-services
echo
if [[ -d /Applications ]]; then
  echo "2. Skipped: /Applications exists here, and the stand-in run would scan it for real."
elif [[ -f "$QV_BUILD_DIR/modules/cleanup_test_module.node" ]]; then
  echo "2. The test module (same job code; signatures checked by the test stand-in, which trusts"
  echo "   the digests in Contents/_CodeSignature/TestSeal.plist):"
  run "$QV_BUILD_DIR/modules/cleanup_test_module.node"
else
  echo "2. Skipped: cleanup_test_module.node was not built (tests are off in this build)."
fi
