#!/usr/bin/env node
'use strict';
// quorvel-host-install: the install kit of quorvel-host as a command.
const { parseArgs } = require('node:util');

const { installHost, uninstallHost, knownBrowsers } = require('../host.js');

const USAGE = `usage:
  quorvel-host-install install --name NAME --host PATH --socket PATH --origin ORIGIN...
                       --browser BROWSER... [--description TEXT] [--user-data-dir DIR]
  quorvel-host-install uninstall --name NAME [--browser BROWSER...] [--user-data-dir DIR]
browsers here: ${knownBrowsers().join(', ')}
`;

function main(argv) {
  let parsed;
  try {
    parsed = parseArgs({
      args: argv,
      allowPositionals: true,
      options: {
        name: { type: 'string' },
        host: { type: 'string' },
        socket: { type: 'string' },
        origin: { type: 'string', multiple: true },
        browser: { type: 'string', multiple: true },
        description: { type: 'string' },
        'user-data-dir': { type: 'string' },
        help: { type: 'boolean' },
      },
    });
  } catch (error) {
    process.stderr.write(`quorvel-host-install: ${error.message}\n${USAGE}`);
    return 2;
  }
  const { values, positionals } = parsed;
  if (values.help) {
    process.stdout.write(USAGE);
    return 0;
  }
  const [command, ...rest] = positionals;
  if (rest.length > 0 || (command !== 'install' && command !== 'uninstall')) {
    process.stderr.write(USAGE);
    return 2;
  }
  const common = { name: values.name, browsers: values.browser, userDataDir: values['user-data-dir'] };
  try {
    if (command === 'install') {
      const { written } = installHost({
        ...common, hostPath: values.host, socketPath: values.socket, origins: values.origin,
        description: values.description,
      });
      for (const file of written) process.stdout.write(`wrote ${file}\n`);
    } else {
      const { removed, kept } = uninstallHost(common);
      for (const file of removed) process.stdout.write(`removed ${file}\n`);
      for (const file of kept) process.stdout.write(`kept ${file} (not written by this kit)\n`);
    }
  } catch (error) {
    process.stderr.write(`quorvel-host-install: ${error.message}\n`);
    return 1;
  }
  return 0;
}

process.exitCode = main(process.argv.slice(2));
