// Compiled under --strict by types.test.mjs: the module's declarations as the application uses
// them. Each @ts-expect-error line must stay an error, so the declarations cannot loosen.
import type * as Services from '@quorvel/macos-services';
import type { CleanupResult, Release, UpdaterEvent } from '@quorvel/macos-services';

declare function loadNativeModule(file: string): unknown;  // the application's require()
const services = loadNativeModule('macos_services.node') as typeof Services;

function notesOf(release: Release): string {
  const headline = release.announcement?.['headline'];
  const required = release.required ? ', required' : '';
  const notes = release.notes.join(' ');
  const extra = typeof headline === 'string' ? ` ${headline}` : '';
  return `${release.version} (macOS ${release.minimumMacOS}+${required}): ${notes}${extra}`;
}

function show(event: UpdaterEvent): string {
  switch (event.type) {
    case 'checking':
    case 'installing':
    case 'focus':
    case 'cancelled':
    case 'up-to-date':
      return event.type;
    case 'available':
    case 'unsupported':
      return `${event.type} ${notesOf(event.release)}`;
    case 'downloading':
      if (event.percent !== undefined) return `downloading ${event.percent.toFixed(0)}%`;
      return event.canCancel === true ? 'downloading (can cancel)' : 'downloading';
    case 'ready':
      return event.release.version === undefined ? 'ready' : `ready ${notesOf(event.release)}`;
    case 'error':
      return `${event.error} failed with code ${event.code.toFixed(0)}`;
    default: {
      const unreachable: never = event;
      return unreachable;
    }
  }
}

services.start('', (text) => {
  const event = JSON.parse(text) as UpdaterEvent;
  console.log(show(event));
  if (event.type === 'ready' && !services.replace()) services.install();
}, true);
services.check();
services.cancel();
services.dispose();

const result = JSON.parse(await services.cleanupCopies()) as CleanupResult;
if (result.status === 'complete') {
  const kept: number = result.busy + result.newer + result.unverified + result.inaccessible;
  console.log(result.removed.map((copy) => `${copy.name} -> ${copy.path}`), kept);
} else {
  console.log(result.status, result.removed.length);
}
services.cancelCleanup();

// @ts-expect-error the counts come with "complete" only
console.log(result.busy);
// @ts-expect-error "start" takes exactly three arguments
services.start('', () => {});
// @ts-expect-error events arrive as JSON texts, not parsed
services.start('', (event: UpdaterEvent) => event, false);
// @ts-expect-error no such event type
export const unknownType: UpdaterEvent = { type: 'downloaded' };
// @ts-expect-error an error event names its phase with one of four words
export const badPhase: UpdaterEvent = { type: 'error', error: 'network', code: 1 };
// @ts-expect-error the last download event reports 99
export const extracting: UpdaterEvent = { type: 'downloading', canCancel: false, percent: 100 };
