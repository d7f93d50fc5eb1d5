// Named exports for import: the same functions that require('./host.js') gives.
import kit from './host.js';

export const { installHost, uninstallHost, HostInstallError, knownBrowsers } = kit;
