// Must fail to compile (types.test.mjs checks the one diagnostic): an event member misspelt.
import type { UpdaterEvent } from '@quorvel/macos-services';

export function percentOf(event: UpdaterEvent): number | undefined {
  return event.type === 'downloading' ? event.percnt : undefined;
}
