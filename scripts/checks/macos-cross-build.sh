#!/usr/bin/env bash
# Cross-builds the whole tree for macOS on arm64 against a real macOS SDK and Sparkle's public
# headers, with Debian's clang and ld64.lld, through the project's own CMake and the cache
# variables of the macos preset (Release, tests and benchmarks off), and then checks the
# artifacts themselves:
#   - every translation unit of the build compiled, every artifact Mach-O arm64 with the
#     oldest macOS it is meant for (quorvel-host and quorvel_chat_codec 11.0, macos_services
#     15.0);
#   - macos_services loads Foundation, Security and @rpath/Sparkle.framework/... and carries
#     the run-time search path @executable_path/../Frameworks; Sparkle, and only Sparkle, is
#     loaded weakly (LC_LOAD_WEAK_DYLIB), so the module loads where the framework is missing;
#   - each module exports its Node-API registration entry points and nothing else (none of
#     the project's code, no standard-library instantiation), and quorvel-host nothing but the
#     header every executable exports;
#   - Node-API symbols are left undefined for the hosting process, and every other undefined
#     symbol is bound to a library the artifact loads and is exported by that library's .tbd
#     stub in the SDK (so nothing is left for a lookup that fails at load time);
#   - every selector QuorvelUpdater implements is declared, and not deprecated, by the real
#     SPUUserDriver or SPUUpdaterDelegate protocols (or by its own interface and NSObject): the
#     framework looks optional delegate methods up by name, so a misspelt one compiles and is
#     never called;
#   - the off-Apple Sparkle declarations in macos/offapple (used by the syntax check where
#     there is no SDK) declare nothing the framework lacks and every type, nullability and
#     attribute as the framework's headers do.
#
# QV_MACOS_SDK names the SDK folder (Xcode's MacOSX.sdk, or any folder with the same layout of
# headers and .tbd stubs); QV_SPARKLE_HEADERS names a folder holding Sparkle's public headers
# (Sparkle.h and what it imports). Without both the check is skipped. Sparkle's binary is not
# needed: the script writes Sparkle.framework into its build folder with links to the public
# headers and a text stub (Sparkle.tbd) of the classes and constants those headers export.
# The build folder is QV_CROSS_BUILD_DIR, by default build/macos-cross; it is kept, so a
# second run only rebuilds what changed. Extra arguments are passed to cmake.
# QV_CROSS_BUILD_VERBOSE=1 also lists the selectors read from the protocols and the artifact.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
name=macos-cross-build

fail() {
  echo "$name: $*" >&2
  echo "$name: FAILED"
  exit 1
}

if [[ -z ${QV_MACOS_SDK:-} || -z ${QV_SPARKLE_HEADERS:-} ]]; then
  echo "$name: skipped: QV_MACOS_SDK (a macOS SDK folder) and QV_SPARKLE_HEADERS (Sparkle's" \
    "public headers) are not both set; see the README's macOS section"
  exit 0
fi
sdk=$(cd "$QV_MACOS_SDK" 2>/dev/null && pwd) || fail "QV_MACOS_SDK=$QV_MACOS_SDK is not a folder"
sparkle=$(cd "$QV_SPARKLE_HEADERS" 2>/dev/null && pwd) ||
  fail "QV_SPARKLE_HEADERS=$QV_SPARKLE_HEADERS is not a folder"
[[ -f $sdk/usr/lib/libSystem.tbd && -d $sdk/System/Library/Frameworks/Foundation.framework ]] ||
  fail "$sdk does not look like a macOS SDK (no usr/lib/libSystem.tbd or Foundation.framework)"
[[ -f $sparkle/Sparkle.h && -f $sparkle/SPUUpdater.h ]] ||
  fail "$sparkle does not hold Sparkle's public headers (no Sparkle.h or SPUUpdater.h)"

for tool in cmake ninja clang clang++ llvm-nm llvm-objdump python3 node; do
  command -v "$tool" >/dev/null || fail "$tool not found (scripts/packages/macos-check.txt)"
done
# Debian installs ld64.lld under LLVM's own folder and as ld64.lld-<version> in /usr/bin.
lld=$(command -v ld64.lld || true)
[[ -n $lld ]] || lld=$(command -v "ld64.lld-$(clang -dumpversion | cut -d. -f1)" || true)
[[ -n $lld ]] || lld=$(ls /usr/lib/llvm-*/bin/ld64.lld 2>/dev/null | sort -V | tail -n 1)
[[ -n $lld && -x $lld ]] || fail "ld64.lld not found (package lld)"

build=${QV_CROSS_BUILD_DIR:-$root/build/macos-cross}
mkdir -p "$build/tools" || fail "cannot create $build"
build=$(cd "$build" && pwd)
# lld picks its flavour from the name it is started under.
ln -sf "$lld" "$build/tools/ld64.lld"
# CMake asks sw_vers for the host's macOS version; the SDK's version stands in for it.
sdk_version=$(sed -n 's/.*"Version"[[:space:]]*:[[:space:]]*"\([0-9.]*\)".*/\1/p' \
  "$sdk/SDKSettings.json" 2>/dev/null | head -n 1)
printf '#!/bin/sh\necho %s\n' "${sdk_version:-12.0}" >"$build/tools/sw_vers"
chmod +x "$build/tools/sw_vers"

# Sparkle.framework: links to the public headers (those Sparkle.h imports, transitively) and
# the text stub. Nothing of it is kept in the repository.
framework=$build/frameworks/Sparkle.framework
rm -rf "$framework"
mkdir -p "$framework/Headers"
python3 - "$sparkle" "$framework" <<'EOF' || fail "could not write Sparkle.framework"
import os, re, sys
headers, framework = sys.argv[1], sys.argv[2]
public, queue = [], ['Sparkle.h']
while queue:
    header = queue.pop(0)
    if header in public:
        continue
    path = os.path.join(headers, header)
    if not os.path.isfile(path):
        sys.exit(f'{header}, imported by the public headers, is missing from {headers}')
    public.append(header)
    queue += re.findall(r'#\s*(?:import|include)\s*<Sparkle/([^>]+)>', open(path).read())
classes, symbols = set(), set()
for header in public:
    os.symlink(os.path.join(headers, header), os.path.join(framework, 'Headers', header))
    text = re.sub(r'/\*.*?\*/|//[^\n]*', '', open(os.path.join(headers, header)).read(), flags=re.S)
    classes |= set(re.findall(r'\bSU_EXPORT\s+@interface\s+(\w+)', text))
    symbols |= {'_' + s for s in re.findall(r'\bSU_EXPORT\s+(?:extern\s+)?[^;@{}()]*?\b(\w+)\s*;', text)}
if not classes or not symbols:
    sys.exit('no exported classes or constants found in the public headers')
def listing(items):
    return '[ ' + ', '.join(f"'{i}'" for i in sorted(items)) + ' ]'
# Sparkle 2 is a version B framework; the name is what the application's copy answers to.
with open(os.path.join(framework, 'Sparkle.tbd'), 'w') as stub:
    stub.write(f"""--- !tapi-tbd
tbd-version: 4
targets: [ arm64-macos, x86_64-macos ]
install-name: '@rpath/Sparkle.framework/Versions/B/Sparkle'
current-version: 2
exports:
  - targets: [ arm64-macos, x86_64-macos ]
    symbols: {listing(symbols)}
    objc-classes: {listing(classes)}
...
""")
print(f'macos-cross-build: Sparkle stub: {len(public)} public headers, {len(classes)} classes and {len(symbols)} constants exported')
EOF

# The SDK's libc++ may be older than the C++20 the tree is written in (an older SDK than the
# macOS 15 one the README asks for may lack std::bit_cast). Then Debian's libc++ headers
# (libc++-dev) are put in front; the binaries still link the SDK's libc++.tbd, and the
# undefined-symbol check below shows that everything they need is in it. (Debian's headers
# carry no availability markup for macOS, so that check is what guards the oldest macOS.)
cxx_target=(-target arm64-apple-macos11.0 -isysroot "$sdk" -stdlib=libc++ -std=c++20)
probe='#include <bit>
#include <concepts>
#include <span>
#include <string_view>
static_assert(std::bit_cast<unsigned>(1.0f) == 0x3f800000u);
int main() { return std::string_view("ab").starts_with("a") ? 0 : 1; }'
libcxx=()
libcxx_note="the SDK's libc++"
# QV_CROSS_BUILD_LIBCXX=debian uses Debian's headers whatever the SDK's can do.
if [[ ${QV_CROSS_BUILD_LIBCXX:-} == debian ]] ||
  ! clang++ "${cxx_target[@]}" -fsyntax-only -x c++ - <<<"$probe" >/dev/null 2>&1; then
  debian_libcxx=$(ls -d /usr/lib/llvm-"$(clang -dumpversion | cut -d. -f1)"/include/c++/v1 2>/dev/null)
  [[ -n $debian_libcxx && -f $debian_libcxx/bit ]] ||
    fail "the SDK's libc++ lacks C++20 (std::bit_cast) and Debian's libc++ headers are missing (libc++-dev)"
  libcxx=(-nostdinc++ -isystem "$debian_libcxx")
  clang++ "${cxx_target[@]}" "${libcxx[@]}" -fsyntax-only -x c++ - <<<"$probe" >/dev/null 2>&1 ||
    fail "neither the SDK's nor Debian's libc++ headers compile C++20 for macOS"
  libcxx_note="Debian's libc++ headers ($debian_libcxx) in front of the SDK's"
fi

# The macos preset's cache variables, with the generated framework in place of the one a Mac
# build is given.
mapfile -t preset < <(QV_FRAMEWORK=$framework node -e '
  const presets = require(process.argv[1]).configurePresets;
  const mac = presets.find((p) => p.name === "macos");
  if (!mac) process.exit(1);
  for (const [key, value] of Object.entries(mac.cacheVariables)) {
    const text = typeof value === "object" ? String(value.value) : String(value);
    console.log(`-D${key}=${text.replace("$env{QV_SPARKLE_FRAMEWORK}", process.env.QV_FRAMEWORK)}`);
  }' "$root/CMakePresets.json") || fail "CMakePresets.json has no macos configure preset"
((${#preset[@]})) || fail "the macos preset sets no cache variables"

flags="-stdlib=libc++ ${libcxx[*]}"
# -fuse-ld=lld (not --ld-path) makes clang pass the linker -platform_version; -B makes it find
# the ld64.lld chosen above.
link="-stdlib=libc++ -fuse-ld=lld -B$build/tools/"
if ! PATH="$build/tools:$PATH" cmake -S "$root" -B "$build/tree" -G Ninja "${preset[@]}" \
  -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_SYSTEM_PROCESSOR=arm64 -DCMAKE_OSX_SYSROOT="$sdk" \
  -DCMAKE_C_COMPILER="$(command -v clang)" -DCMAKE_CXX_COMPILER="$(command -v clang++)" \
  -DCMAKE_OBJCXX_COMPILER="$(command -v clang++)" \
  -DCMAKE_C_COMPILER_TARGET=arm64-apple-macos -DCMAKE_CXX_COMPILER_TARGET=arm64-apple-macos \
  -DCMAKE_OBJCXX_COMPILER_TARGET=arm64-apple-macos \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_OBJCXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$link" -DCMAKE_SHARED_LINKER_FLAGS="$link" \
  -DCMAKE_MODULE_LINKER_FLAGS="$link" -DCMAKE_INSTALL_NAME_TOOL=/bin/true \
  -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON "$@" >"$build/configure.log" 2>&1; then
  tail -n 40 "$build/configure.log"
  fail "configuring for macOS failed ($build/configure.log)"
fi
if ! PATH="$build/tools:$PATH" cmake --build "$build/tree" -j "${QV_CROSS_BUILD_JOBS:-2}" \
  >"$build/build.log" 2>&1; then
  grep -E 'error|FAILED' "$build/build.log" | head -n 40
  fail "the cross build failed ($build/build.log)"
fi

QV_ROOT=$root QV_SDK=$sdk QV_BUILD=$build/tree QV_FRAMEWORK=$framework QV_LIBCXX_NOTE=$libcxx_note \
  python3 - <<'EOF'
import json, os, re, shlex, subprocess, sys

root, sdk, build = os.environ['QV_ROOT'], os.environ['QV_SDK'], os.environ['QV_BUILD']
framework = os.environ['QV_FRAMEWORK']
failures = []
def expect(ok, what):
    if not ok:
        failures.append(what)
    return ok
def run(*command, cwd=None):
    done = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if done.returncode != 0:
        failures.append(f'{" ".join(command[:3])}...: {done.stderr.strip()[:400]}')
    return done.stdout

# Every translation unit the build knows compiled to an arm64 object.
units = json.load(open(os.path.join(build, 'compile_commands.json')))
for unit in units:
    words = shlex.split(unit['command'])
    output = os.path.join(unit['directory'], words[words.index('-o') + 1] if '-o' in words else '')
    path = os.path.relpath(unit['file'], root)
    if path.endswith('.mm'):
        expect('-fobjc-arc' in words, f'{path}: compiled with ARC')
    if expect(os.path.isfile(output), f'{path}: compiled'):
        header = run('llvm-objdump', '--macho', '--private-header', output)
        expect(re.search(r'MH_MAGIC_64\s+ARM64\s', header), f'{path}: an arm64 object')
expect(any(u['file'].endswith('.mm') for u in units), 'Objective-C++ adapters are compiled')

# .tbd stubs: exported names by install name, for the arm64 slice, with re-exports.
documents = {}
def load_stub(path):
    text = open(path).read()
    for document in re.findall(r'--- !tapi-tbd.*?\n\.\.\.', text, re.S):
        install = re.search(r"^install-name:\s*'?([^'\n]+)'?", document, re.M).group(1)
        names, reexports = set(), set()
        for section in re.findall(r'^(exports|reexports|reexported-libraries):\n((?:[ ].*\n?)*)', document, re.M):
            for entry in re.split(r'\n\s*- ', '\n' + section[1]):
                lists = dict((k, [x.strip().strip("'") for x in v.split(',') if x.strip()])
                             for k, v in re.findall(r'([\w-]+):\s*\[([^\]]*)\]', entry))
                if not any(t.startswith(('arm64-macos', 'arm64e-macos')) for t in lists.get('targets', [])):
                    continue
                if section[0] == 'reexported-libraries':
                    reexports |= set(lists.get('libraries', []))
                    continue
                for kind in ('symbols', 'weak-symbols', 'thread-local-symbols'):
                    names |= set(lists.get(kind, []))
                for c in lists.get('objc-classes', []):
                    names |= {f'_OBJC_CLASS_$_{c}', f'_OBJC_METACLASS_$_{c}'}
                names |= {f'_OBJC_EHTYPE_$_{c}' for c in lists.get('objc-eh-types', [])}
                names |= {f'_OBJC_IVAR_$_{c}' for c in lists.get('objc-ivars', [])}
        documents[install] = (names, reexports)
def stub_for(install):
    if install not in documents:
        if install.startswith('@rpath/Sparkle.framework/'):
            load_stub(os.path.join(framework, 'Sparkle.tbd'))
        else:
            base = re.sub(r'\.dylib$', '', install)
            for candidate in (base + '.tbd', base.rsplit('/Versions/', 1)[0] + '/' + os.path.basename(base) + '.tbd'):
                if os.path.isfile(sdk + candidate):
                    load_stub(sdk + candidate)
                    break
    return documents.get(install)
def exports(install, seen=None):
    seen = seen if seen is not None else set()
    if install in seen or stub_for(install) is None:
        return set()
    seen.add(install)
    names, reexports = documents[install]
    result = set(names)
    for library in reexports:
        result |= exports(library, seen)
    return result
def short_name(install):
    # How nm names a library: the file name without the "lib...dylib" version suffix.
    base = os.path.basename(install)
    return re.sub(r'(\.[A-Z0-9]+)?\.dylib$', '', base)

registration = ['_napi_register_module_v1', '_node_api_module_get_api_version_v1']
artifacts = [
    ('quorvel-host', 'host/quorvel-host', 'MH_EXECUTE|EXECUTE', '11.0', False, ['__mh_execute_header']),
    ('quorvel_chat_codec', 'modules/quorvel_chat_codec.node', 'BUNDLE', '11.0', False, registration),
    ('macos_services', 'modules/macos_services.node', 'BUNDLE', '15.0', True, registration),
]
summary = []
for target, relative, filetype, oldest, services, exported in artifacts:
    path = os.path.join(build, relative)
    if not expect(os.path.isfile(path), f'{target}: linked to {relative}'):
        continue
    headers = run('llvm-objdump', '--macho', '--private-header', '--private-headers', path)
    expect(re.search(r'MH_MAGIC_64\s+ARM64\s', headers), f'{target}: Mach-O arm64')
    expect(re.search(rf'\b({filetype})\b', headers), f'{target}: file type {filetype}')
    minimum = re.findall(r'cmd LC_BUILD_VERSION\n(?:.*\n)*?\s+minos (\S+)', headers)
    expect(minimum == [oldest], f'{target}: oldest macOS {oldest} (got {", ".join(minimum) or "none"})')
    dylibs = re.findall(r'cmd LC_LOAD(?:_WEAK)?_DYLIB\n.*\n\s+name (\S+) \(offset', headers)
    rpaths = re.findall(r'cmd LC_RPATH\n.*\n\s+path (\S+) \(offset', headers)
    if services:
        for wanted, pattern in (('Foundation', r'/System/Library/Frameworks/Foundation\.framework/'),
                                ('Security', r'/System/Library/Frameworks/Security\.framework/'),
                                ('Sparkle', r'@rpath/Sparkle\.framework/')):
            expect(any(re.match(pattern, d) for d in dylibs), f'{target}: loads {wanted} ({pattern})')
        expect(rpaths == ['@executable_path/../Frameworks'],
               f'{target}: run-path @executable_path/../Frameworks (got {", ".join(rpaths) or "none"})')
        weak = re.findall(r'cmd LC_LOAD_WEAK_DYLIB\n.*\n\s+name (\S+) \(offset', headers)
        expect(len(weak) == 1 and re.match(r'@rpath/Sparkle\.framework/', weak[0]),
               f'{target}: loads Sparkle, and nothing else, weakly (LC_LOAD_WEAK_DYLIB: {", ".join(weak) or "none"})')
    names = sorted(set(line.split()[-1] for line in
                       run('llvm-nm', '--extern-only', '--defined-only', path).splitlines() if line.strip()))
    extra = [n for n in names if n not in exported]
    expect(not extra, f'{target}: exports {len(extra)} symbols besides {" ".join(exported)}, such as {" ".join(extra[:5])}')
    absent = [n for n in exported if n not in names]
    expect(not absent, f'{target}: does not export {" ".join(absent)}')
    libraries = {}
    for install in dylibs:
        libraries[short_name(install)] = install
        expect(stub_for(install) is not None, f'{target}: {install} is a library of the SDK or Sparkle')
    napi, bound = 0, 0
    for line in run('llvm-nm', '-m', '--undefined-only', path).splitlines():
        found = re.match(r'\s*\(undefined\) (?:weak )?external (\S+) \((?:from (\S+)|(dynamically looked up))\)', line)
        if not expect(found, f'{target}: undefined symbol line understood: {line.strip()}'):
            continue
        symbol, library, dynamic = found.groups()
        if re.match(r'_(napi|node_api)_', symbol):
            napi += 1
            expect(dynamic, f'{target}: Node-API symbol {symbol} left to the hosting process (bound to {library})')
        elif dynamic:
            expect(False, f'{target}: {symbol} is undefined and provided by no library it loads')
        else:
            install = libraries.get(library)
            bound += 1
            expect(install and symbol in exports(install),
                   f'{target}: {symbol} is exported by {install or library} in the SDK or Sparkle stub')
    if services:
        expect(napi > 0, f'{target}: links Node-API (none of its symbols is undefined)')
    summary.append(f'{target} arm64 macOS {",".join(minimum)}, {len(dylibs)} libraries'
                   f'{" (Sparkle weakly)" if services else ""}, '
                   f'{bound} symbols bound to them, {napi} Node-API symbols left to the host, '
                   f'exports only {" ".join(n for n in names if n in exported)}')

# QuorvelUpdater's selectors against the real protocols, read by clang from the headers with
# the flags the adapter is compiled with.
adapter = next((u for u in units if u['file'].endswith('.mm')
                and re.search(r'@implementation\s+QuorvelUpdater\b', open(u['file']).read())), None)
def declared(filter_name, kinds):
    command = shlex.split(adapter['command'])
    keep, skip = [], False
    for word in command:
        if skip:
            skip = False
        elif word == '-o':
            skip = True
        elif word not in ('-c', adapter['file']):
            keep.append(word)
    dump = run(*keep, '-fsyntax-only', '-Xclang', '-ast-dump', '-Xclang', '-ast-dump-filter',
               '-Xclang', filter_name, adapter['file'], cwd=adapter['directory'])
    methods, deprecated = set(), set()
    for section in dump.split('Dumping ')[1:]:
        head, _, body = section.partition('\n')
        first = body.split('\n', 1)[0]
        if head.rstrip(':') != filter_name or not re.match(rf'({kinds}) ', first):
            continue
        last = None
        for line in body.splitlines()[1:]:
            method = re.match(r"[|`]-ObjCMethodDecl .* ([-+]) (\S+) '", line)
            if method:
                last = method.group(1) + method.group(2)
                methods.add(last)
            elif last and re.match(r'[| ] [|`]-DeprecatedAttr', line):
                deprecated.add(last)
            elif re.match(r'[|`]-', line):
                last = None
    return methods, deprecated
if expect(adapter is not None, 'the adapter implementing QuorvelUpdater is compiled'):
    driver, driver_old = declared('SPUUserDriver', 'ObjCProtocolDecl')
    delegate, delegate_old = declared('SPUUpdaterDelegate', 'ObjCProtocolDecl')
    own, _ = declared('QuorvelUpdater', 'ObjCInterfaceDecl')
    base = set()
    for name in ('NSObject', 'NSKeyValueObserving'):
        base |= declared(name, 'ObjCInterfaceDecl|ObjCProtocolDecl|ObjCCategoryDecl')[0]
    expect(len(driver) > 10 and len(delegate) > 10, 'the protocols SPUUserDriver and SPUUpdaterDelegate are read from the headers')
    services = os.path.join(build, 'modules/macos_services.node')
    implemented = set()
    if os.path.isfile(services):
        for line in run('llvm-nm', '--defined-only', services).splitlines():
            method = re.search(r' ([-+])\[QuorvelUpdater ([^\]\s]+)\]$', line)
            if method and not method.group(2).startswith('.'):
                implemented.add(method.group(1) + method.group(2))
    expect(len(implemented) > 0, 'macos_services holds QuorvelUpdater\'s methods')
    for selector in sorted(implemented):
        if selector in driver_old | delegate_old:
            expect(False, f'QuorvelUpdater {selector}: deprecated in the framework\'s protocols')
        elif selector not in driver | delegate | own | base:
            expect(False, f'QuorvelUpdater {selector}: in neither SPUUserDriver nor SPUUpdaterDelegate')
    missing = sorted(m for m in driver - driver_old if m not in implemented)
    expect(not missing, f'QuorvelUpdater implements every current SPUUserDriver method (lacks {", ".join(missing)})')
    if os.environ.get('QV_CROSS_BUILD_VERBOSE'):
        for label, group in (('driver', driver), ('deprecated', driver_old | delegate_old),
                             ('delegate', delegate), ('own', own), ('implemented', implemented)):
            print(f'{label}: {" ".join(sorted(group))}')
    summary.append(f'QuorvelUpdater: {len(implemented & driver)} user-driver and '
                   f'{len(implemented & delegate)} delegate selectors, all in the real protocols')

# The off-Apple Sparkle declarations (macos/offapple, used by the syntax check on machines
# without the SDK) must stay a faithful subset of the real headers: every class, protocol,
# method, property, enumerator and constant they declare, with the same types, nullability and
# attributes, as clang reads them against the real SDK.
def api(dump, folder):
    found, current, container, member = {}, '', None, None
    for line in dump.splitlines():
        node = re.match(r'((?:[| ] )*)[|`]-(\w+) (.*)$', line)
        paths = re.findall(r'([^\s<>:,]+\.h):\d+', line)
        if paths:
            current = paths[-1]
        if not node:
            continue
        depth, kind, rest = len(node.group(1)) // 2, node.group(2), node.group(3)
        types = re.findall(r"'([^']*)'", rest)
        named = re.search(r'> (?:col:\d+|line:\d+:\d+) (?:(?:used|referenced|implicit|invalid) )*([-+] )?([\w:]+)', rest)
        name = ((named.group(1) or '') + named.group(2)) if named else ''
        if depth == 0:
            inside = any(p.startswith(folder) for p in paths) if paths else current.startswith(folder)
            container = f'{kind} {name}' if inside else None
            member = None
            if inside and kind == 'VarDecl':
                found[f'constant {name}'] = types[:1]
            elif inside and kind in ('ObjCInterfaceDecl', 'ObjCProtocolDecl'):
                found.setdefault(container, [])
            continue
        if container is None:
            continue
        if depth == 1 and kind in ('ObjCMethodDecl', 'ObjCPropertyDecl', 'EnumConstantDecl'):
            attributes = sorted(w for w in re.sub(r"'[^']*'", ' ', rest.split('>', 1)[-1]).split()
                                if w in ('readonly', 'readwrite', 'copy', 'strong', 'nonatomic', 'atomic', 'weak', 'assign'))
            member = f'{container} {name}'
            found[member] = types[:1] + attributes
        elif depth == 1:
            member = None
        elif depth == 2 and member and kind == 'ParmVarDecl':
            found[member] += types[:1]
        elif depth == 2 and member and kind in ('ObjCPropertyGetterAttr', 'UnavailableAttr'):
            found[member] += [kind]
    return found
if adapter is not None:
    command = [w for w in shlex.split(adapter['command'])]
    base_flags, skip = [], False
    for word in command:
        if skip:
            skip = False
        elif word in ('-o', '-MF', '-MT', '-iframework'):
            skip = True
        elif word not in ('-c', '-MD', adapter['file']) and not word.startswith('-I'):
            base_flags.append(word)
    offapple = os.path.join(root, 'macos/offapple/include/Sparkle/Sparkle.h')
    dumps = {}
    for side, flags, header in (('real', ['-iframework', os.path.dirname(framework)], '<Sparkle/Sparkle.h>'),
                                ('off-Apple', [], f'"{offapple}"')):
        probe = os.path.join(build, f'sparkle-{side}.mm')
        with open(probe, 'w') as f:
            f.write(f'#import {header}\n')
        dumps[side] = run(*base_flags, *flags, '-Wno-everything', '-fsyntax-only', '-Xclang', '-ast-dump', probe, cwd=build)
    real = api(dumps['real'], os.path.join(framework, 'Headers'))
    ours = api(dumps['off-Apple'], os.path.dirname(offapple))
    expect(len(ours) > 20 and len(real) > len(ours), 'the off-Apple and the real Sparkle declarations are read')
    for key, value in sorted(ours.items()):
        if key not in real:
            expect(False, f'off-Apple Sparkle.h: {key} is not declared by the framework')
        elif value != real[key]:
            expect(False, f'off-Apple Sparkle.h: {key} is {" ".join(value)}; the framework says {" ".join(real[key])}')
    summary.append(f'off-Apple Sparkle.h: {len(ours)} declarations, all as the framework declares them')

for failure in failures:
    print(f'FAIL {failure}')
if failures:
    print(f'macos-cross-build: FAILED: {len(failures)} expectations not met')
    sys.exit(1)
print(f'macos-cross-build: {len(units)} translation units compiled for arm64-apple-macos with '
      f'{os.environ["QV_LIBCXX_NOTE"]}')
for line in summary:
    print(f'macos-cross-build: {line}')
print('macos-cross-build: passed')
EOF
