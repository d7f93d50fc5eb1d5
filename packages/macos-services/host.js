'use strict';
// Install kit of quorvel-host for the current user: a native-messaging manifest in the manifest
// folder of each Chromium-family browser asked for, and beside it a launcher that sets
// QV_BROWSER_BRIDGE_SOCKET and executes the host (a browser starts the host with its own
// environment, and a manifest carries none). Plain Node, no native part.
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// Per-user manifest folders, relative to ~/Library/Application Support on macOS and to
// $XDG_CONFIG_HOME (else ~/.config) on Linux.
const FOLDERS = {
  darwin: {
    chrome: 'Google/Chrome',
    'chrome-beta': 'Google/Chrome Beta',
    'chrome-canary': 'Google/Chrome Canary',
    chromium: 'Chromium',
    edge: 'Microsoft Edge',
    brave: 'BraveSoftware/Brave-Browser',
    vivaldi: 'Vivaldi',
  },
  linux: {
    chrome: 'google-chrome',
    chromium: 'chromium',
    edge: 'microsoft-edge',
    brave: 'BraveSoftware/Brave-Browser',
    vivaldi: 'vivaldi',
  },
};

// The browser's own rules: it refuses other host names, and reads only these origins.
const HOST_NAME = /^[a-z0-9_]+(\.[a-z0-9_]+)*$/;
const ORIGIN = /^chrome-extension:\/\/[a-p]{32}\/$/;
// The first line after the interpreter line: marks a launcher as this kit's own.
const MARK = '# quorvel-host launcher, written by @quorvel/macos-services';

class HostInstallError extends Error {
  constructor(message) {
    super(message);
    this.name = 'HostInstallError';
  }
}

function browsersOf(platform) {
  const table = FOLDERS[platform];
  if (!table) throw new HostInstallError(`No browser manifest folders are known on ${platform}`);
  return Object.keys(table);
}

// The manifest folder of each browser asked for, in the order asked, without repeats.
function manifestFolders(options, platform) {
  const { browsers, userDataDir } = options;
  const table = FOLDERS[platform];
  if (!table) throw new HostInstallError(`No browser manifest folders are known on ${platform}`);
  if (!Array.isArray(browsers) || browsers.length === 0) {
    throw new HostInstallError(`browsers must name one or more of: ${Object.keys(table).join(', ')}`);
  }
  for (const browser of browsers) {
    if (typeof browser !== 'string' || !Object.hasOwn(table, browser)) {
      throw new HostInstallError(`Unknown browser ${JSON.stringify(browser)}; known on ${platform}: `
        + Object.keys(table).join(', '));
    }
  }
  if (userDataDir !== undefined) {
    // A browser started with --user-data-dir reads the manifests of that folder only.
    absolute(userDataDir, 'userDataDir');
    if (browsers.length !== 1) throw new HostInstallError('userDataDir goes with exactly one browser');
    return [path.join(userDataDir, 'NativeMessagingHosts')];
  }
  let base;
  if (platform === 'darwin') {
    base = path.join(os.homedir(), 'Library', 'Application Support');
  } else {
    const xdg = process.env.XDG_CONFIG_HOME;
    base = xdg && path.isAbsolute(xdg) ? xdg : path.join(os.homedir(), '.config');
  }
  const folders = browsers.map((browser) => path.join(base, table[browser], 'NativeMessagingHosts'));
  return [...new Set(folders)];
}

function absolute(value, what) {
  if (typeof value !== 'string' || value === '' || value.includes('\0') || !path.isAbsolute(value)) {
    throw new HostInstallError(`${what} must be an absolute path, not ${JSON.stringify(value)}`);
  }
  return path.normalize(value);
}

function checkName(name) {
  if (typeof name !== 'string' || !HOST_NAME.test(name)) {
    throw new HostInstallError(`Invalid host name ${JSON.stringify(name)}: browsers accept only `
      + 'lower-case letters, digits, "_" and dots, with no dot at either end and no two in a row');
  }
  return name;
}

// Single quotes keep every byte as it is; a quote inside is closed, escaped and reopened.
function shellQuote(text) {
  return `'${text.replace(/'/g, "'\\''")}'`;
}

function launcherText(hostPath, socketPath) {
  return `#!/bin/sh\n${MARK}\nQV_BROWSER_BRIDGE_SOCKET=${shellQuote(socketPath)}\n`
    + `export QV_BROWSER_BRIDGE_SOCKET\nexec ${shellQuote(hostPath)} "$@"\n`;
}

function paths(folder, name) {
  return { manifest: path.join(folder, `${name}.json`), launcher: path.join(folder, `${name}.launcher`) };
}

function readOrNull(file) {
  try {
    return fs.readFileSync(file);
  } catch (error) {
    if (error.code === 'ENOENT') return null;
    throw error;
  }
}

// Writes through a temporary file in the same folder and a rename, so a reader sees the old
// file or the new one, never a part.
function writeAtomically(file, content, mode) {
  const temporary = path.join(path.dirname(file),
    `.${path.basename(file)}.${process.pid}.${crypto.randomBytes(6).toString('hex')}.tmp`);
  try {
    fs.writeFileSync(temporary, content, { mode, flag: 'wx' });
    fs.chmodSync(temporary, mode);  // the umask may have narrowed it
    fs.renameSync(temporary, file);
  } catch (error) {
    fs.rmSync(temporary, { force: true });
    throw error;
  }
}

// Creates the missing folders of `folder` and returns them, outermost first.
function makeFolders(folder) {
  const missing = [];
  for (let at = folder; !fs.existsSync(at); at = path.dirname(at)) missing.unshift(at);
  for (const at of missing) fs.mkdirSync(at);
  return missing;
}

/**
 * Writes the manifest and the launcher into each browser's folder. Either every file is written,
 * or nothing is changed: on a failure the files written so far get their old content back (or
 * are removed) and the folders made are removed again.
 */
function installHost(options) {
  if (options === null || typeof options !== 'object') {
    throw new HostInstallError('installHost needs options');
  }
  const platform = options.platform ?? process.platform;
  const name = checkName(options.name);
  const hostPath = absolute(options.hostPath, 'hostPath');
  const socketPath = absolute(options.socketPath, 'socketPath');
  // The longest socket path the system's sockaddr_un holds, terminator excluded.
  const limit = platform === 'darwin' ? 103 : 107;
  if (Buffer.byteLength(socketPath) > limit) {
    throw new HostInstallError(`socketPath is longer than a socket path may be (${limit} bytes)`);
  }
  const origins = options.origins;
  if (!Array.isArray(origins) || origins.length === 0) {
    throw new HostInstallError('origins must list the extensions allowed to start the host');
  }
  for (const origin of origins) {
    if (typeof origin !== 'string' || !ORIGIN.test(origin)) {
      throw new HostInstallError(`Invalid origin ${JSON.stringify(origin)}: browsers accept only `
        + '"chrome-extension://" followed by a 32-letter extension id (a to p) and "/"');
    }
  }
  const description = options.description ?? 'Quorvel browser bridge';
  if (typeof description !== 'string') throw new HostInstallError('description must be a text');
  try {
    fs.accessSync(hostPath, fs.constants.X_OK);
    if (!fs.statSync(hostPath).isFile()) throw new Error('not a file');
  } catch {
    throw new HostInstallError(`hostPath ${hostPath} is not an executable file`);
  }
  const folders = manifestFolders(options, platform);

  const made = [];
  const undo = [];
  const written = [];
  try {
    for (const folder of folders) {
      made.push(...makeFolders(folder));
      const { manifest, launcher } = paths(folder, name);
      const manifestText = `${JSON.stringify({
        name, description, path: launcher, type: 'stdio', allowed_origins: [...new Set(origins)],
      }, null, 2)}\n`;
      // The launcher first: a manifest must never name a launcher that is not there.
      for (const [file, content, mode] of [[launcher, launcherText(hostPath, socketPath), 0o755],
        [manifest, manifestText, 0o644]]) {
        undo.push({ file, before: readOrNull(file) });
        writeAtomically(file, content, mode);
        written.push(file);
      }
    }
  } catch (error) {
    for (const { file, before } of undo.reverse()) {
      try {
        if (before === null) fs.rmSync(file, { force: true });
        else writeAtomically(file, before, file.endsWith('.launcher') ? 0o755 : 0o644);
      } catch {
        // Best effort: the error below is what the caller needs to see.
      }
    }
    for (const folder of made.reverse()) {
      try {
        fs.rmdirSync(folder);  // only when empty: never anything another program put there
      } catch {
        // Left in place.
      }
    }
    throw new HostInstallError(`Could not install the host into ${folders.join(', ')}: ${error.message}`);
  }
  return { written };
}

// A manifest and launcher pair is this kit's when the launcher carries the mark and the manifest
// names that launcher.
function ours(manifest, launcher) {
  const launcherText = readOrNull(launcher);
  if (launcherText === null || launcherText.toString('utf8').split('\n')[1] !== MARK) return false;
  const manifestText = readOrNull(manifest);
  if (manifestText === null) return true;  // a launcher left alone
  try {
    return JSON.parse(manifestText.toString('utf8')).path === launcher;
  } catch {
    return false;
  }
}

/**
 * Removes what installHost wrote for `name` from each browser's folder (every known browser when
 * none are named), and nothing else: a manifest of that name that does not name this kit's
 * launcher is left in place. Folders stay.
 */
function uninstallHost(options) {
  if (options === null || typeof options !== 'object') {
    throw new HostInstallError('uninstallHost needs options');
  }
  const platform = options.platform ?? process.platform;
  const name = checkName(options.name);
  const browsers = options.browsers ?? browsersOf(platform);
  const folders = manifestFolders({ ...options, browsers }, platform);
  const removed = [];
  const kept = [];
  for (const folder of folders) {
    const { manifest, launcher } = paths(folder, name);
    if (!ours(manifest, launcher)) {
      if (readOrNull(manifest) !== null) kept.push(manifest);
      continue;
    }
    // The manifest first, so the browser never finds one naming a missing launcher.
    for (const file of [manifest, launcher]) {
      if (readOrNull(file) === null) continue;
      try {
        fs.rmSync(file);
      } catch (error) {
        throw new HostInstallError(`Could not remove ${file}: ${error.message}`);
      }
      removed.push(file);
    }
  }
  return { removed, kept };
}

module.exports = {
  installHost,
  uninstallHost,
  HostInstallError,
  knownBrowsers: (platform = process.platform) => browsersOf(platform),
};
