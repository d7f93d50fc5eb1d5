// Types of @quorvel/macos-services/host (host.js): the install kit of quorvel-host.

/** The Chromium-family browsers whose per-user manifest folders the kit knows. */
export type Browser = 'chrome' | 'chrome-beta' | 'chrome-canary' | 'chromium' | 'edge' | 'brave' | 'vivaldi';

export interface InstallOptions {
  /** The host name extensions connect to: lower-case letters, digits, "_" and inner dots. */
  name: string;
  /** Absolute path of the quorvel-host executable. */
  hostPath: string;
  /** Absolute path of the application's bridge socket, set as QV_BROWSER_BRIDGE_SOCKET. */
  socketPath: string;
  /** The extensions allowed to start the host: "chrome-extension://<32 letters a to p>/". */
  origins: string[];
  /** The browsers to install for ("chrome-beta" and "chrome-canary" exist on macOS only). */
  browsers: Browser[];
  /** The manifest's description; "Quorvel browser bridge" when absent. */
  description?: string;
  /**
   * A browser profile started with --user-data-dir: the manifest goes into its
   * NativeMessagingHosts folder instead (with exactly one browser).
   */
  userDataDir?: string;
  /** Whose folders: `process.platform` when absent. */
  platform?: 'darwin' | 'linux';
}

export interface UninstallOptions {
  name: string;
  /** Every browser the kit knows on this system when absent. */
  browsers?: Browser[];
  userDataDir?: string;
  platform?: 'darwin' | 'linux';
}

/** Thrown for input a browser would reject and for folders that cannot be written. */
export declare class HostInstallError extends Error {
  readonly name: 'HostInstallError';
}

/**
 * Writes, in each browser's manifest folder, the launcher "<name>.launcher" and the manifest
 * "<name>.json" that names it. Running it again rewrites the same files. On any failure nothing
 * is left changed.
 */
export declare function installHost(options: InstallOptions): { written: string[] };

/**
 * Removes the manifest and launcher that `installHost` wrote, and nothing else: a manifest of the
 * same name that another program wrote is left and listed in `kept`. Running it again does nothing.
 */
export declare function uninstallHost(options: UninstallOptions): { removed: string[]; kept: string[] };

/** The browsers the kit knows on a system (`process.platform` when absent). */
export declare function knownBrowsers(platform?: 'darwin' | 'linux'): Browser[];
