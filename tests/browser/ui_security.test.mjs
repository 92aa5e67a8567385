// `nimbra ui` seen from outside, as a hostile page or program on this machine would see it:
// raw HTTP requests and WebSocket connections with the headers no browser would let a page set.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { chmodSync, closeSync, existsSync, mkdirSync, openSync, readFileSync, readdirSync, readlinkSync, statSync, truncateSync, writeFileSync } from 'node:fs';
import net from 'node:net';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { FrameKind, decodeEnvelope, decodeFrame, encodeFrame, encodeMethodCall } from '../../web/js/standard_codec.js';
import { NIMBRA, RawSocket, pause, rawRequest, startUi, tempFolder } from './support.mjs';

let ui, port, host, origin;
const folder = tempFolder();

before(async () => {
  ui = await startUi();
  ({ port } = ui);
  host = `127.0.0.1:${port}`;
  origin = `http://${host}`;
});

after(async () => {
  const { code, signal } = await ui.stop();
  folder.remove();
  assert.deepStrictEqual({ code, signal }, { code: 0, signal: null }, 'SIGTERM ends nimbra ui with status 0');
});

const get = (target, headers = [`Host: ${host}`], method = 'GET') =>
  rawRequest(port, [`${method} ${target} HTTP/1.1`, ...headers].join('\r\n'));

async function channel(headers = [`Host: ${host}`, `Origin: ${origin}`]) {
  const socket = new RawSocket(port);
  const { status } = await socket.connect(headers);
  return { socket, status };
}

async function signedIn() {
  const { socket, status } = await channel();
  assert.equal(status, 101);
  socket.send(ui.secret);
  return socket;
}

function call(socket, id, method, args = null, channelName = 'nimbra/native') {
  socket.send(Buffer.from(encodeFrame({ kind: FrameKind.request, id, channel: channelName, message: encodeMethodCall(method, args) })));
}

async function nextFrame(socket) {
  const message = await socket.next();
  assert.ok(Buffer.isBuffer(message), 'a binary message');
  const frame = decodeFrame(new Uint8Array(message));
  return { ...frame, reply: decodeEnvelope(frame.message) };
}

// Calls and answers the next frame, which is the answer where nothing else is sent to `socket`.
async function ask(socket, ...request) {
  call(socket, ...request);
  return nextFrame(socket);
}

test('the Host header must name this server; only GET and HEAD; never a CORS header', async () => {
  const refused = [[`Host: evil.test:${port}`], [`Host: 127.0.0.1:${port + 1}`], [`Host: localhost.evil.test:${port}`],
    [`Host: 127.0.0.1:${port}.evil.test`], ['Host: 127.0.0.1'], [`Host: LOCALHOST:${port}x`], [], [`Host: ${host}`, 'Host: evil.test']];
  for (const headers of refused) assert.equal((await get('/', headers)).status, 421, headers.join(', ') || 'no Host');

  const hostile = ['Origin: http://evil.test', 'Access-Control-Request-Method: GET'];
  for (const name of [host, `localhost:${port}`]) {
    const page = await get('/', [`Host: ${name}`, ...hostile]);
    assert.equal(page.status, 200, name);
    assert.match(page.body, /<script type="module" src="\/js\/main.js">/);
    const { 'content-length': length, ...headers } = page.headers;
    assert.ok(Number(length) > 0);
    assert.deepStrictEqual(headers, { 'content-type': ['text/html; charset=utf-8'], 'content-security-policy': [
      "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self' " +
      `ws://127.0.0.1:${port} ws://localhost:${port}; base-uri 'none'; form-action 'none'; frame-ancestors 'none'`],
    'x-content-type-options': ['nosniff'], 'referrer-policy': ['no-referrer'], 'cache-control': ['no-store'],
    connection: ['close'] }, 'exactly these headers, no CORS ones');
  }
  for (const method of ['POST', 'OPTIONS', 'PUT', 'DELETE']) {
    const answer = await get('/', [`Host: ${host}`, ...hostile], method);
    assert.equal(answer.status, 405, method);
    assert.ok(!Object.keys(answer.headers).some((name) => name.startsWith('access-control-')), method);
  }

  const head = await get('/js/main.js', [`Host: ${host}`], 'HEAD');
  assert.equal(head.status, 200);
  assert.equal(head.body, '');
  assert.ok(Number(head.headers['content-length'][0]) > 1000);
  // Browsers refuse a module script of any other type when the server says nosniff.
  assert.deepStrictEqual(head.headers['content-type'], ['text/javascript; charset=utf-8']);
});

test('a request with a body or any Transfer-Encoding gets 400 and ends its connection: nothing after it is read as a request', async () => {
  const hidden = `GET /index.html HTTP/1.1\r\nHost: ${host}\r\n\r\n`;
  const length = Buffer.byteLength(hidden);
  const framings = ['Transfer-Encoding: gzip', 'Transfer-Encoding: xchunked', 'Transfer-Encoding: chunked, gzip',
    'Transfer-Encoding: chunked', 'Transfer-Encoding: chunked\r\nTransfer-Encoding: chunked', 'Transfer-Encoding : chunked',
    'Transfer-Encoding:\tidentity', 'TRANSFER-ENCODING: gzip', 'Transfer-Encoding:', `Content-Length: ${length}`,
    `Content-Length: ${length}\r\nContent-Length: ${length}`, `Content-Length: 0\r\nContent-Length: ${length}`,
    `Content-Length: +${length}`, `Content-Length: ${length}\r\nTransfer-Encoding: chunked`];
  const upgrade = `Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: ${'A'.repeat(22)}==\r\nSec-WebSocket-Version: 13`;
  for (const start of ['GET /', `GET /channel HTTP/1.1\r\nOrigin: ${origin}\r\n${upgrade}`, 'POST /channel', 'HEAD /']) {
    const line = start.includes('HTTP/1.1') ? start : `${start} HTTP/1.1`;
    for (const framing of framings) {
      const answer = await rawRequest(port, `${line}\r\nHost: ${host}\r\n${framing}`, { body: hidden, close: false });
      assert.equal(answer.status, 400, `${start.split('\r\n')[0]}, ${framing}`);
      assert.doesNotMatch(answer.body, /HTTP\/1\.1/, `${start.split('\r\n')[0]}, ${framing}: one answer`);
    }
  }
  // Without a body, what follows is the next request, and answered.
  const pipelined = await rawRequest(port, `GET / HTTP/1.1\r\nHost: ${host}\r\nContent-Length: 0`, { body: hidden, close: false });
  assert.equal(pipelined.status, 200);
  assert.match(pipelined.body, /HTTP\/1\.1 200 OK/);
});

test('the page\'s own files, byte for byte, by exact path only: traversal names nothing', async () => {
  const web = fileURLToPath(new URL('../../web/', import.meta.url));
  for (const file of readdirSync(web, { recursive: true })) {
    if (file === 'package.json' || !statSync(join(web, file)).isFile()) continue;  // package.json is Node's alone
    assert.equal((await get(`/${file}`)).body, readFileSync(join(web, file), 'utf8'), file);
  }
  for (const target of ['/js/../index.html', '/%2e%2e/%2e%2e/etc/passwd', '/..%2f..%2fetc%2fpasswd', '//etc/passwd',
    '/../../../../etc/passwd', '/index.html?x', '/INDEX.HTML', '/index.html%00', `http://${host}/etc/passwd`,
    '/vendor/../../CMakeLists.txt', '/package.json', '/.gitignore', '*', 'index.html', '//index.html', '/index.html/',
    '/%69ndex.html', '/js', '/js/']) {
    const answer = await get(target);
    assert.ok([400, 404].includes(answer.status), `${target}: ${answer.status}`);
    assert.doesNotMatch(answer.body, /root:|cmake_minimum_required/, target);
  }
  // Too many header bytes end the connection without an answer.
  assert.equal((await get('/', [`Host: ${host}`, `X-Padding: ${'a'.repeat(9000)}`])).status, 0);
});

test('the WebSocket needs this page as its Origin and the secret before anything else', async () => {
  const origins = ['null', `https://${host}`, `http://127.0.0.1:${port + 1}`, `http://${host}.evil.test`, `http://${host}x`,
    `xhttp://${host}`, `http://${host}/`, 'http://127.0.0.1', 'http://evil.test', `HTTP://${host}`];
  for (const headers of [[], ...origins.map((o) => [`Origin: ${o}`]), [`Origin: ${origin}`, 'Origin: http://evil.test']]) {
    assert.equal((await channel([`Host: ${host}`, ...headers])).status, 403, headers.join(', ') || 'no Origin');
  }
  assert.equal((await channel([`Host: evil.test:${port}`, `Origin: ${origin}`])).status, 421);
  for (const name of [host, `localhost:${port}`]) {
    const { socket, status } = await channel([`Host: ${name}`, `Origin: http://${name}`]);
    assert.equal(status, 101, name);
    socket.end();
  }

  // A deletion sent before the secret is never handed on.
  const victim = join(folder.path, 'keep-me');
  writeFileSync(victim, 'still here');
  const early = (await channel()).socket;
  call(early, 1, 'deleteItems', { paths: [victim], toTrash: false, allowAdmin: false });
  early.send(ui.secret);
  const wrong = (await channel()).socket;
  wrong.send(`${ui.secret.slice(1)}x`);
  const silent = (await channel()).socket;
  const started = Date.now();
  const long = (await channel()).socket;
  long.send(Buffer.from(ui.secret), 1, 1024 * 1024);
  assert.equal(await early.closeCode(), 1008, 'a frame first');
  assert.equal(await wrong.closeCode(), 1008, 'a wrong secret');
  assert.equal(await long.closeCode(), 1009, 'a first message longer than a secret');
  assert.equal(await silent.closeCode(), 1008, 'no secret');
  assert.ok(Date.now() - started >= 4000, 'the silent connection had its 5 seconds');
  const good = await signedIn();
  const answer = await ask(good, 7, 'sizeOf', { path: victim });
  assert.deepStrictEqual([answer.kind, answer.id, answer.channel], [FrameKind.answer, 7, 'nimbra/native']);
  assert.deepStrictEqual(answer.reply, { kind: 'success', result: { size: 10, unreadable: 0, unreadableFolders: [] } });
  assert.ok(existsSync(victim));
  good.end();
});

test('a bad message closes only its own connection, stalled handshakes hold up nobody, answers go to the connection that asked and events to the one that listened last', async () => {
  const [first, bystander] = [await signedIn(), await signedIn()];
  for (const socket of [first, bystander]) assert.equal((await ask(socket, 1, 'listen', null, 'nimbra/events')).reply.kind, 'success');
  const stall = () => net.connect(port, '127.0.0.1').on('error', () => {})
    .on('connect', function () { this.write(`GET / HTTP/1.1\r\nHost: ${host}\r\n`); });
  const stalled = Array.from({ length: 40 }, stall);
  const bad = [
    [(s) => s.send(Buffer.alloc(16), 2, 64 * 1024 * 1024 + 1), 1009, 'over 64 MiB'],
    [(s) => s.send(Buffer.from([0x0c, 0x03, 0x03, 0x00])), 1007, 'a truncated frame'],
    [(s) => s.send(Buffer.from(encodeFrame({ kind: 0, id: 1, channel: 'nimbra/native', message: null })).subarray(1)), 1007, 'not a frame'],
    [(s) => s.send('homeDir'), 1003, 'text after the secret'],
  ];
  for (const [send, code, what] of bad) {
    const socket = await signedIn();
    send(socket);
    assert.equal(await socket.closeCode(), code, what);
  }
  mkdirSync(join(folder.path, 'tree', 'a'), { recursive: true });
  writeFileSync(join(folder.path, 'tree', 'a', 'file.bin'), Buffer.alloc(3000));
  const answer = await ask(first, 2, 'analyzeDisk', { path: join(folder.path, 'tree') });
  assert.deepStrictEqual([answer.kind, answer.id], [FrameKind.answer, 2]);
  assert.equal(answer.reply.result.size, 3000);
  const event = await nextFrame(bystander);
  assert.deepStrictEqual([event.kind, event.channel], [FrameKind.notice, 'nimbra/events']);
  assert.deepStrictEqual(event.reply.result, { task: 'disk', path: '', count: 1, bytes: 3000 });
  assert.equal((await ask(bystander, 2, 'homeDir')).reply.kind, 'success');
  assert.equal((await get('/index.html')).status, 200, 'pages still served beside 40 stalled requests');
  // Past 64 open requests, a connection is closed unanswered; once they go, pages are served again.
  let refused = 0;
  stalled.push(...Array.from({ length: 40 }, () => stall().on('close', () => ++refused)));
  for (let i = 0; i < 50 && refused < 16; ++i) await pause(100);
  assert.ok(refused >= 16, `${refused} of 80 stalled requests refused`);
  stalled.forEach((socket) => socket.destroy());
  for (let i = 0; i < 50 && (await get('/index.html')).status !== 200; ++i) await pause(100);
  assert.equal((await get('/index.html')).status, 200);
  first.end();
  bystander.end();
});

test('a connection that stops reading is dropped before its backlog exceeds 64 MiB', async () => {
  // 20 x 20 x 20 files with 255-byte names: each size tree answer is about 10 MB.
  const tree = join(folder.path, 'wide');
  const name = (c, i) => `${String(i).padStart(3, '0')}${c.repeat(252)}`;
  for (let i = 0; i < 20; ++i) {
    for (let j = 0; j < 20; ++j) {
      const dir = join(tree, name('a', i), name('b', j));
      mkdirSync(dir, { recursive: true });
      for (let k = 0; k < 20; ++k) writeFileSync(join(dir, name('c', k)), '');
    }
  }
  const answers = 16;
  const reader = await signedIn();
  reader.socket.pause();
  for (let id = 1; id <= answers; ++id) call(reader, id, 'analyzeDisk', { path: tree });
  const other = await signedIn();
  // The server's sockets, counted through its descriptors: one goes when it drops the reader.
  const sockets = () => readdirSync(`/proc/${ui.child.pid}/fd`).filter((fd) => {
    try { return readlinkSync(`/proc/${ui.child.pid}/fd/${fd}`).startsWith('socket:'); } catch { return false; }
  }).length;
  const before = sockets();
  for (let waited = 0; sockets() >= before && waited < 60000; waited += 100) await pause(100);
  const received = await new Promise((resolve) => {
    let bytes = 0;
    reader.socket.removeAllListeners('data');
    reader.socket.on('data', (chunk) => { bytes += chunk.length; });
    reader.socket.on('close', () => resolve(bytes));
    reader.socket.resume();
  });
  assert.ok(received < answers * 9e6, `${received} bytes arrived before the connection ended`);
  assert.equal((await ask(other, 2, 'homeDir')).reply.kind, 'success');
  other.end();
});

test('connections are bounded: 32 strangers without the secret, 16 pages with it; the others are refused and the server serves on', async () => {
  const strangers = [];
  let refused = 0;
  while (!refused && strangers.length < 40) {
    const { socket, status } = await channel();
    if (status === 101) strangers.push(socket);
    else refused = status;
  }
  assert.deepStrictEqual([strangers.length, refused], [32, 503]);
  // A stranger that shows the secret is a page, and its place goes to the next.
  strangers[0].send(ui.secret);
  const pages = [strangers.shift()];
  assert.equal((await ask(pages[0], 1, 'homeDir')).reply.kind, 'success');
  const next = await channel();
  assert.equal(next.status, 101);
  strangers.push(next.socket);
  for (const stranger of strangers) stranger.end();
  for (let tries = 0; tries < 20 && pages.length < 16; ++tries) {
    const { socket, status } = await channel();
    if (status === 101) {
      socket.send(ui.secret);
      pages.push(socket);
    } else {
      await pause(100);  // the strangers' places are given back as the server sees them go
    }
  }
  for (const page of pages) assert.equal((await ask(page, 2, 'homeDir')).reply.kind, 'success');
  const extra = await signedIn();
  assert.equal(await extra.closeCode(10000), 1013, 'a page over the bound: try again later');
  assert.equal((await get('/index.html')).status, 200);
  pages.pop().end();
  let again;
  for (let tries = 0; tries < 20 && !again; ++tries) {
    const page = await signedIn();
    call(page, 3, 'homeDir');
    if (await page.next(5000)) again = page;
    else await pause(100);
  }
  assert.ok(again, 'a page that went makes room for another');
  for (const socket of [...pages, again]) socket.end();
});

test('a page\'s calls wait in its socket while its work runs; a page that goes takes its work along and no one else\'s', async () => {
  // Two sparse files of `size` bytes, the same.
  const pair = (name, size) => {
    mkdirSync(join(folder.path, name));
    for (const file of ['one.bin', 'two.bin']) {
      closeSync(openSync(join(folder.path, name, file), 'w'));
      truncateSync(join(folder.path, name, file), size);
    }
    return join(folder.path, name);
  };
  // Their digests: under a second for the short pair, hours for the endless one.
  const short = pair('short-pair', 256 * 1024 * 1024);
  const endless = pair('endless-pair', 2 ** 40);
  mkdirSync(join(folder.path, 'small', 'a'), { recursive: true });
  writeFileSync(join(folder.path, 'small', 'a', 'file.bin'), Buffer.alloc(1234));
  const bystander = await signedIn();

  // Calls beyond what the server keeps unsettled stay in the page's socket, and none is lost.
  const hog = await signedIn();
  call(hog, 1, 'scanDuplicates', { root: endless, minSize: 1 });
  assert.equal((await ask(hog, 2, 'homeDir')).id, 2);
  const large = Buffer.from(encodeFrame({ kind: FrameKind.request, id: 3, channel: 'nimbra/native',
    message: encodeMethodCall('sizeOf', { path: `/${'p'.repeat(8 * 1024 * 1024)}` }) }));
  for (let i = 0; i < 12; ++i) hog.send(large);
  for (let left = -1; hog.socket.writableLength !== left;) {
    left = hog.socket.writableLength;
    await pause(500);
  }
  // The server holds 16 MiB and the message that crossed it; the kernel's buffers hold the rest.
  const kernelMax = (name) => Number(readFileSync(`/proc/sys/net/ipv4/${name}`, 'utf8').trim().split(/\s+/)[2]);
  const taken = 12 * large.length - hog.socket.writableLength;
  assert.ok(taken < 16 * 1024 * 1024 + large.length + kernelMax('tcp_rmem') + kernelMax('tcp_wmem'), `${taken} bytes taken`);
  assert.equal((await ask(bystander, 1, 'cancel')).reply.result, true);
  const scan = await nextFrame(hog);
  assert.deepStrictEqual([scan.id, scan.reply.result.cancelled], [1, true]);
  for (let i = 0; i < 12; ++i) assert.deepStrictEqual((await nextFrame(hog)).reply.result, { size: 0, unreadable: 0, unreadableFolders: [] });
  assert.equal((await ask(hog, 4, 'homeDir')).reply.kind, 'success');
  hog.end();

  // A page's call waiting behind another page's work is dropped when it goes; the other's runs on.
  call(bystander, 2, 'scanDuplicates', { root: short, minSize: 1 });
  assert.equal((await ask(bystander, 3, 'homeDir')).id, 3, 'the scan has been handed on');
  const leaving = await signedIn();
  call(leaving, 1, 'scanDuplicates', { root: endless, minSize: 1 });
  assert.equal((await ask(leaving, 2, 'homeDir')).id, 2);
  leaving.end();
  const finished = await nextFrame(bystander);
  assert.deepStrictEqual([finished.id, finished.reply.result.cancelled, finished.reply.result.groups.length], [2, false, 1]);

  // A page's running work is cancelled when it goes, even while its reading is held back.
  const gone = await signedIn();
  call(gone, 1, 'scanDuplicates', { root: endless, minSize: 1 });
  for (let id = 2; id < 300; ++id) call(gone, id, 'sizeOf', { path: '/nonexistent' });
  await pause(500);
  gone.end();
  const after = await ask(bystander, 4, 'analyzeDisk', { path: join(folder.path, 'small') });
  assert.deepStrictEqual([after.id, after.reply.result.cancelled, after.reply.result.size], [4, false, 1234]);
  bystander.end();
});

test('the opener is handed a private page that forwards to the address, never the secret; the page goes when nimbra ui ends', async () => {
  const desk = join(folder.path, 'desk');
  const log = join(folder.path, 'opener.log');
  const tmp = join(folder.path, 'tmp');
  mkdirSync(desk);
  mkdirSync(tmp);
  writeFileSync(join(desk, 'xdg-open'), `#!/bin/sh\nprintf '%s\\n' "$@" > '${log}.part'\nmv '${log}.part' '${log}'\n`);
  chmodSync(join(desk, 'xdg-open'), 0o755);
  const opened = await startUi(['--allow-root'], { PATH: `${desk}:${process.env.PATH}`, TMPDIR: tmp });
  for (let i = 0; i < 100 && !existsSync(log); ++i) await pause(50);
  const [url, ...more] = readFileSync(log, 'utf8').trim().split('\n');
  assert.deepStrictEqual(more, [], 'one argument');
  assert.ok(!url.includes(opened.secret), url);
  const page = fileURLToPath(url);
  assert.equal(dirname(dirname(page)), tmp);
  assert.equal(statSync(page).mode & 0o777, 0o600);
  assert.equal(statSync(dirname(page)).mode & 0o777, 0o700);
  assert.match(readFileSync(page, 'utf8'), new RegExp(`<meta http-equiv="refresh" content="0;url=${opened.url}">`));
  assert.deepStrictEqual(await opened.stop(), { code: 0, signal: null, stderr: '' });
  assert.deepStrictEqual(readdirSync(tmp), []);
});

test('as root, nimbra ui refuses without --allow-root', { skip: process.getuid() !== 0 }, () => {
  const run = spawnSync(NIMBRA, ['ui', '--no-open'], { encoding: 'utf8', timeout: 15000 });
  assert.equal(run.status, 1);
  assert.equal(run.stdout, '');
  assert.match(run.stderr, /--allow-root/);
});
