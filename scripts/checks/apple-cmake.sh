#!/usr/bin/env bash
# Configures the whole tree for macOS on Arm and checks the build it generates: the
# architecture, each deliverable's oldest macOS, ARC for the Objective-C++ adapters, the
# frameworks and run-time search path of macos_services, Node-API symbols left to the hosting
# process, and that no Linux stand-in is built. There is no macOS SDK or linker here, so clang
# targets arm64-apple-macos with stand-ins for the SDK folder, Sparkle.framework, sw_vers and
# install_name_tool; nothing is compiled, only the generated commands are read.
# Extra arguments are passed to cmake (the self-test uses them to inject faulty settings).
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

fail() {
  echo "apple-cmake: $*" >&2
  echo "apple-cmake: FAILED"
  exit 1
}
for tool in cmake ninja clang clang++ node; do
  command -v "$tool" >/dev/null || fail "$tool not found (run scripts/setup.sh)"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/sdk" "$work/frameworks/Sparkle.framework/Headers"
printf '#!/bin/sh\necho 15.0\n' >"$work/bin/sw_vers"
chmod +x "$work/bin/sw_vers"
build=$work/build

clang_path=$(command -v clang)
clangxx_path=$(command -v clang++)
if ! PATH="$work/bin:$PATH" cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_SYSTEM_VERSION=24.0 \
  -DCMAKE_C_COMPILER="$clang_path" -DCMAKE_CXX_COMPILER="$clangxx_path" \
  -DCMAKE_OBJCXX_COMPILER="$clangxx_path" \
  -DCMAKE_C_COMPILER_TARGET=arm64-apple-macos -DCMAKE_CXX_COMPILER_TARGET=arm64-apple-macos \
  -DCMAKE_OBJCXX_COMPILER_TARGET=arm64-apple-macos \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_HAVE_LIBC_PTHREAD=1 \
  -DCMAKE_OSX_SYSROOT="$work/sdk" -DCMAKE_INSTALL_NAME_TOOL=/bin/true \
  -DCMAKE_BUILD_TYPE=Release -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF \
  -DQV_SPARKLE_FRAMEWORK="$work/frameworks/Sparkle.framework" "$@" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log"
  fail "configuring for macOS failed"
fi

for target in quorvel-host quorvel_chat_codec macos_services; do
  ninja -C "$build" -t commands "$target" | tail -n 1 >"$work/link-$target.txt" ||
    fail "no build commands for $target"
done
mapfile -t adapters < <(cd "$root" && find . \( -name build -o -name node_modules -o -name .git \) \
  -prune -o -name '*.mm' -type f -print | sed 's|^\./||' | sort)

QV_ROOT=$root QV_WORK=$work QV_ADAPTERS="${adapters[*]}" node --input-type=module - <<'EOF'
import { readFileSync } from 'node:fs';

const root = process.env.QV_ROOT;
const work = process.env.QV_WORK;
const adapters = process.env.QV_ADAPTERS.split(' ').filter(Boolean);
const compiles = JSON.parse(readFileSync(`${work}/build/compile_commands.json`, 'utf8'));
const link = (target) => readFileSync(`${work}/link-${target}.txt`, 'utf8');
const frameworks = `${work}/frameworks`;

const failures = [];
const expect = (ok, what) => {
  if (!ok) failures.push(what);
};
const has = (command, flag) => command.split(/\s+/).includes(flag);
const minimum = (command) => [...command.matchAll(/-mmacosx-version-min=(\S+)/g)].map((m) => m[1]);

const compiled = new Set();
for (const { file, command } of compiles) {
  const path = file.startsWith(root + '/') ? file.slice(root.length + 1) : file;
  compiled.add(path);
  const wanted = path.startsWith('macos/') ? '15.0' : '11.0';
  expect(has(command, '-arch') && /-arch arm64(\s|$)/.test(command), `${path}: built for arm64`);
  expect(minimum(command).join() === wanted, `${path}: oldest macOS ${wanted} (got ${minimum(command)})`);
  if (path.endsWith('.mm')) expect(has(command, '-fobjc-arc'), `${path}: compiled with ARC`);
  if (/^macos\/updater\/.*\.mm$/.test(path)) {
    expect(command.includes(`-iframework ${frameworks}`), `${path}: Sparkle's headers as system headers`);
  }
  expect(!command.includes(`-F${frameworks}`), `${path}: Sparkle's headers not held to the project's warnings`);
  expect(!/\/linux\/|\/testing\/|_linux\.cc$|_testing\.cc$/.test(path), `${path}: no Linux stand-in or test code`);
}
for (const adapter of adapters) expect(compiled.has(adapter), `${adapter}: compiled`);
expect(adapters.length > 0, 'Objective-C++ adapters exist');

const deliverables = [
  { target: 'quorvel-host', output: /-o host\/quorvel-host\s/, oldest: '11.0', module: false },
  { target: 'quorvel_chat_codec', output: /-o modules\/quorvel_chat_codec\.node\s/, oldest: '11.0', module: true },
  { target: 'macos_services', output: /-o modules\/macos_services\.node\s/, oldest: '15.0', module: true },
];
for (const { target, output, oldest, module } of deliverables) {
  const command = link(target);
  expect(output.test(command), `${target}: linked to its artifact`);
  expect(/-arch arm64(\s|$)/.test(command), `${target}: linked for arm64`);
  expect(minimum(command).join() === oldest, `${target}: linked for macOS ${oldest} (got ${minimum(command)})`);
  if (module) {
    expect(has(command, '-bundle'), `${target}: a loadable bundle`);
    expect(/-undefined dynamic_lookup/.test(command), `${target}: Node-API left to the host process`);
  }
}
const services = link('macos_services');
expect(has(services, `-F${frameworks}`), 'macos_services: searches the Sparkle.framework folder');
expect(/-Xlinker -weak_framework -Xlinker Sparkle(\s|$)/.test(services), 'macos_services: links Sparkle weakly');
expect(!/(^|\s)(-framework|-Xlinker -framework -Xlinker) Sparkle(\s|$)/.test(services), 'macos_services: does not link Sparkle strongly');
expect(/-framework Foundation(\s|$)/.test(services), 'macos_services: links Foundation');
expect(/-framework Security(\s|$)/.test(services), 'macos_services: links Security');
expect(/-Wl,-rpath,@executable_path\/\.\.\/Frameworks(\s|$)/.test(services),
  'macos_services: finds Sparkle in the application\'s Frameworks folder');
expect(!/curl|xml2|plist|uriparser/.test(services), 'macos_services: links no Linux stand-in library');

for (const failure of failures) console.log(`FAIL ${failure}`);
if (failures.length) {
  console.log(`apple-cmake: FAILED: ${failures.length} expectations not met`);
  process.exit(1);
}
console.log(`apple-cmake: passed: ${compiled.size} compiles and 3 links, ${adapters.length} adapters`);
EOF
