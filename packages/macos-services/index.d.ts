// Types of @quorvel/macos-services (index.js, which loads macos_services.node): the updater's
// functions and events, and the app-copy cleanup.

/** Any value a JSON text can hold. */
export type JsonValue =
  | null
  | boolean
  | number
  | string
  | JsonValue[]
  | { [key: string]: JsonValue };

/** A release from the update feed, as the updater describes it. */
export interface Release {
  /** The release's version text; "" when the feed names none. */
  version: string;
  /** The oldest macOS it runs on; "15.0" when the feed names none. */
  minimumMacOS: string;
  /** The release description split at every line feed; one "" when there is none. */
  notes: string[];
  required: boolean;
  /** The feed item's announcement object, present only when it was a usable JSON object. */
  announcement?: { [key: string]: JsonValue };
}

/** A user-initiated check has started; "cancel" can stop it. */
export interface CheckingEvent {
  type: 'checking';
}

/** The feed holds a valid update. */
export interface AvailableEvent {
  type: 'available';
  release: Release;
}

/**
 * Download progress, in one of these shapes: `canCancel` false as the download is about to
 * start, then true once it runs ("cancel" can stop it); one event per received chunk with
 * `percent` (0 to 99) while the expected length is known, and without it when not; finally
 * `canCancel` false with `percent` 99 when the download is complete and extraction starts.
 */
export type DownloadingEvent =
  | { type: 'downloading'; canCancel: boolean; percent?: undefined }
  | { type: 'downloading'; canCancel?: undefined; percent?: number }
  | { type: 'downloading'; canCancel: false; percent: 99 };

/**
 * An update is downloaded and waits for `install()` (and, when `replace()` answers true, may be
 * discarded). `release` is an empty object when the update framework offered none.
 */
export interface ReadyEvent {
  type: 'ready';
  release: Release | { [key in keyof Release]?: never };
}

/** Installation has begun; the framework then ends and relaunches the application. */
export interface InstallingEvent {
  type: 'installing';
}

/** The framework asks for the running update to be brought into view. */
export interface UpdaterFocusEvent {
  type: 'focus';
}

/** The download or the installation was cancelled. */
export interface CancelledEvent {
  type: 'cancelled';
}

/** The check found no update. */
export interface UpToDateEvent {
  type: 'up-to-date';
}

/** The newest release in the feed does not support this system. */
export interface UnsupportedEvent {
  type: 'unsupported';
  release: Release;
}

/** Any other failure: the phase it happened in and the update framework's error code. */
export interface UpdaterErrorEvent {
  type: 'error';
  error: 'check' | 'download' | 'verify' | 'install';
  code: number;
}

/** What `JSON.parse` makes of the text each `onEvent` call receives; tell them apart by `type`. */
export type UpdaterEvent =
  | CheckingEvent
  | AvailableEvent
  | DownloadingEvent
  | ReadyEvent
  | InstallingEvent
  | UpdaterFocusEvent
  | CancelledEvent
  | UpToDateEvent
  | UnsupportedEvent
  | UpdaterErrorEvent;

/** One event as it arrives: the compact JSON text of an `UpdaterEvent`. */
export type UpdaterEventText = string;

/**
 * Starts the updater, once per process, on the main thread. An empty `feed` uses the feed
 * configured in the application bundle. `onEvent` is called once per event, in order, with its
 * JSON text. Throws "Invalid updater initialization" on a second call, off the main thread, or
 * with other than three arguments; a framework that fails to start is reported as an event.
 */
export declare function start(
  feed: string,
  onEvent: (event: UpdaterEventText) => void,
  checkNow: boolean,
): void;

/** Asks for a user-initiated check (deferred while an update session runs). */
export declare function check(): void;

/** Installs the update on offer; throws "Update is not ready" when there is none. */
export declare function install(): void;

/** Discards the update on offer and checks again once the session ends; false when none is. */
export declare function replace(): boolean;

/** Cancels the running user-initiated check or download, if any. */
export declare function cancel(): void;

/** Stops event delivery for good; the updater itself keeps its state. */
export declare function dispose(): void;

/** A stale copy moved to the Trash. */
export interface RemovedCopy {
  /** Its file name in the scanned folder, for instance "Quorvel 2.app". */
  name: string;
  /** Its path inside the Trash; "" when the system reported none. */
  path: string;
}

/** What `JSON.parse` makes of the text `cleanupCopies()` resolves with. */
export type CleanupResult =
  | {
      /** The running application is not an installed copy: nothing was examined. */
      status: 'not-installed';
      removed: [];
    }
  | {
      /** The running application's own signature or identity was not confirmed. */
      status: 'unverified';
      removed: [];
    }
  | {
      /** The scan ran, to its end or until cancelled. */
      status: 'complete';
      removed: RemovedCopy[];
      /** Kept: a running process executes from inside them. */
      busy: number;
      /** Kept: newer than the running application. */
      newer: number;
      /** Kept: signature, team or identity not confirmed. */
      unverified: number;
      /** Unreadable folders, copies not owned by the user, failed moves to the Trash. */
      inaccessible: number;
    };

/** One cleanup result as it arrives: the compact JSON text of a `CleanupResult`. */
export type CleanupResultText = string;

/**
 * Moves verified stale copies of the application to the Trash, off the JavaScript thread. The
 * promise resolves with the result's JSON text and is never rejected. Throws "Cleanup is already
 * running" while a cleanup runs.
 */
export declare function cleanupCopies(): Promise<CleanupResultText>;

/** Asks the running cleanup to stop early; it still resolves, with what it did so far. */
export declare function cancelCleanup(): void;
