// Demo of the updater: a user-initiated update check against a feed served on loopback, printing
// each event as it arrives, then installing the update once it is ready.
import http from 'node:http';
import { once } from 'node:events';

import * as services from '@quorvel/macos-services';

const archive = Buffer.alloc(256 * 1024, 0x51);
const server = http.createServer(async (req, res) => {
  const origin = `http://127.0.0.1:${server.address().port}`;
  if (req.url === '/appcast.xml') {
    res.writeHead(200, { 'content-type': 'application/rss+xml' });
    res.end(`<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"
     xmlns:quorvel="https://quorvel.example/xml">
  <channel>
    <title>Quorvel</title>
    <item>
      <title>Quorvel 2.0</title>
      <description>Faster sync
Smaller downloads</description>
      <sparkle:version>2.0</sparkle:version>
      <sparkle:minimumSystemVersion>15.0</sparkle:minimumSystemVersion>
      <quorvel:announcement>{"headline":"Quorvel 2.0 is here"}</quorvel:announcement>
      <enclosure url="${origin}/releases/Quorvel-2.0.zip" length="${archive.length}"
                 type="application/octet-stream"/>
    </item>
  </channel>
</rss>`);
  } else if (req.url === '/releases/Quorvel-2.0.zip') {
    res.writeHead(200, { 'content-length': archive.length });
    // Four slices with pauses, so that the progress shows.
    const slice = archive.length / 4;
    for (let i = 0; i < 4; i++) {
      res.write(archive.subarray(i * slice, (i + 1) * slice));
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    res.end();
  } else {
    res.writeHead(404);
    res.end();
  }
});
server.listen(0, '127.0.0.1');
await once(server, 'listening');
const feed = `http://127.0.0.1:${server.address().port}/appcast.xml`;
console.log(`feed: ${feed}`);

const finished = new Promise((resolve) => {
  services.start(feed, (text) => {
    console.log(`event: ${text}`);
    const event = JSON.parse(text);
    if (event.type === 'ready') {
      console.log('-> install');
      services.install();
    } else if (['installing', 'error', 'up-to-date', 'unsupported', 'cancelled'].includes(event.type)) {
      resolve(event.type);
    }
  }, false);
});
console.log('-> check');
services.check();
const timeout = setTimeout(() => {
  console.error('no outcome within 30 seconds');
  process.exit(1);
}, 30000);
const outcome = await finished;
clearTimeout(timeout);
services.dispose();
server.close();
console.log(`outcome: ${outcome}`);
process.exitCode = outcome === 'installing' ? 0 : 1;
