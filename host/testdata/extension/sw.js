// Talks to the application through quorvel-host: announces itself, answers "echo" requests,
// and announces itself again (with a count) each time the host says the application left.
const port = chrome.runtime.connectNative('app.quorvel.bridge');
let detached = 0;

port.onMessage.addListener((message) => {
  if (message.method === 'debugger.detachAll') {
    detached += 1;
    port.postMessage({ event: 'hello', from: 'test-extension', detached });
  } else if (message.method === 'echo') {
    // Id 0 is reserved for the host's own notices: the host must not pass this one on.
    port.postMessage({ id: 0, method: 'never-forwarded' });
    port.postMessage({ id: message.id, result: message.params });
  }
});
port.onDisconnect.addListener(() => {
  console.log('quorvel-test disconnected: ' + (chrome.runtime.lastError?.message ?? ''));
});

// Sent at once: the hello is replayed when the host connects; the other message reaches the
// application only if the host happens to be connected already.
port.postMessage({ event: 'hello', from: 'test-extension', detached });
port.postMessage({ id: 1, method: 'early' });
