// What the browser interface's tests share: `nimbra ui` as a child process, temporary folders,
// Debian's Chromium with pages that record every problem, and a WebSocket client of our own,
// so that tests can send what no browser would.

import { spawn } from 'node:child_process';
import { randomBytes } from 'node:crypto';
import { chmodSync, mkdtempSync, rmSync } from 'node:fs';
import net from 'node:net';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import puppeteer from 'puppeteer-core';

export const NIMBRA = process.env.NIMBRA_HOST ?? fileURLToPath(new URL('../../build/nimbra', import.meta.url));
// Screenshots of each screen and the measured timings go here (build/screenshots from ctest).
export const SHOTS = process.env.NIMBRA_SCREENSHOTS ?? fileURLToPath(new URL('../../build/screenshots', import.meta.url));
export const WIDE = { width: 980, height: 640 };
export const PHONE = { width: 390, height: 844 };

export function launchBrowser(profile) {
  return puppeteer.launch({
    executablePath: process.env.NIMBRA_CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--host-resolver-rules=MAP hostile.test 127.0.0.1'],
  });
}

// A page that records every console error, uncaught exception and blocked resource in
// `page.problems`.
export async function newPage(browser, url, viewport = WIDE) {
  const page = await browser.newPage();
  page.problems = [];
  page.on('console', (message) => { if (message.type() === 'error') page.problems.push(message.text()); });
  page.on('pageerror', (error) => page.problems.push(error.message));
  await page.evaluateOnNewDocument(() => {
    document.addEventListener('securitypolicyviolation', (e) => console.error(`CSP: ${e.violatedDirective} ${e.blockedURI}`));
  });
  await page.setViewport(viewport);
  if (url) await page.goto(url);
  return page;
}

// The element of `role` whose accessible name is `name`, once there.
export const named = (page, role, name) => page.waitForSelector(`::-p-aria([name=${JSON.stringify(name)}][role="${role}"])`);
export const textOf = (handle) => handle.evaluate((e) => e.textContent.trim());

// What has focus, by its accessible name (or text), once the page has drawn: "<body>" when
// nothing has, which a flow must never leave behind.
export async function focused(page) {
  await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
  return page.evaluate(() => {
    const e = document.activeElement;
    if (!e || e === document.body) return '<body>';
    return e.getAttribute('aria-label') ?? e.labels?.[0]?.textContent ?? e.textContent.replace(/\s+/g, ' ').trim();
  });
}

// The start of the performance mark `name`, once set.
export async function markTime(page, name) {
  await page.waitForFunction((n) => performance.getEntriesByName(n).length > 0, {}, name);
  return page.evaluate((n) => performance.getEntriesByName(n).at(-1).startTime, name);
}

// A whole page is taken from its top, where its sticky bars belong.
export async function shoot(page, name, options = {}) {
  if (options.fullPage) await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: join(SHOTS, `${name}.png`), ...options });
}

export const isDark = (page) => page.evaluate(() => {
  const [r, g, b] = getComputedStyle(document.body.parentElement).backgroundColor.match(/\d+/g).map(Number);
  return (0.2126 * r + 0.7152 * g + 0.0722 * b) / 255 < 0.3;
});

// `nimbra ui ARGS` until stop(); answers once it has printed its address. `env` adds to or
// replaces variables of the test's own environment; `wrap` is a command that execs the rest of
// its arguments, `nimbra ui ARGS`, so that the child is nimbra itself. The disk usage history
// goes to a folder of its own (`state`), removed on stop(), never the user's; any user may make
// its folder there, as in /tmp.
export async function startUi(args = ['--no-open', '--allow-root'], env = {}, wrap = []) {
  const command = [...wrap, NIMBRA, 'ui', ...args];
  const state = mkdtempSync(join(tmpdir(), 'nimbra-ui-state-'));
  chmodSync(state, 0o1777);
  const child = spawn(command[0], command.slice(1), { stdio: ['ignore', 'pipe', 'pipe'],
    env: { ...process.env, XDG_STATE_HOME: state, ...env } });
  let stderr = '';
  child.stderr.on('data', (chunk) => { stderr += chunk; });
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal, stderr })));
  const line = await new Promise((resolve, reject) => {
    let out = '';
    child.stdout.on('data', (chunk) => {
      out += chunk;
      if (out.includes('\n')) resolve(out.slice(0, out.indexOf('\n')));
    });
    exited.then(() => reject(new Error(`nimbra ui ended before printing its address: ${stderr}`)));
  });
  const [, port, secret] = /^http:\/\/127\.0\.0\.1:(\d+)\/#t=([A-Za-z0-9_-]+)$/.exec(line) ?? [];
  if (!port) throw new Error(`not an address: ${line}`);
  // stop(): SIGTERM, then the exit's outcome.
  const stop = async () => {
    child.kill('SIGTERM');
    const outcome = await exited;
    rmSync(state, { recursive: true, force: true });
    return outcome;
  };
  // said(): what the server wrote to stderr so far, for a failure's message.
  return { url: line, port: Number(port), secret, child, exited, state, stop, said: () => stderr };
}

export function tempFolder() {
  const path = mkdtempSync(join(tmpdir(), 'nimbra-ui-'));
  return { path, remove: () => rmSync(path, { recursive: true, force: true }) };
}

// Resolves after `ms`.
export const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// One raw HTTP/1.1 exchange: `head` is the request line and headers without the empty line
// that ends them; `close` adds "Connection: close". Answers { status, headers (lower-case
// names, each a list), body (with whatever followed the first answer) } or, when the server
// closed or reset the connection without answering, { status: 0 }.
export function rawRequest(port, head, { body = '', close = true } = {}) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    const chunks = [];
    socket.on('data', (chunk) => chunks.push(chunk));
    socket.on('error', (error) => (error.code === 'ECONNRESET' ? socket.destroy() : reject(error)));
    socket.on('close', () => resolve(parseResponse(Buffer.concat(chunks))));
    socket.setTimeout(15000, () => socket.destroy(new Error(`no answer to ${head.split('\r\n')[0]}`)));
    socket.end(`${head}${close ? '\r\nConnection: close' : ''}\r\n\r\n${body}`);
  });
}

function parseResponse(bytes) {
  const end = bytes.indexOf('\r\n\r\n');
  if (end < 0) return { status: 0, headers: {}, body: '' };
  const [statusLine, ...lines] = bytes.subarray(0, end).toString('latin1').split('\r\n');
  const headers = {};
  for (const line of lines) {
    const colon = line.indexOf(':');
    const name = line.slice(0, colon).trim().toLowerCase();
    (headers[name] ??= []).push(line.slice(colon + 1).trim());
  }
  return { status: Number(statusLine.split(' ')[1]), headers, body: bytes.subarray(end + 4).toString() };
}

// A WebSocket client over a raw socket. connect() answers the upgrade's HTTP status; with 101
// the socket speaks WebSocket: send(), and messages and the close arrive through next().
export class RawSocket {
  constructor(port) {
    this.port = port;
    this.messages = [];
    this.waiting = null;
    this.pending = Buffer.alloc(0);
    this.closed = null; // { code, reason } from the server's close frame, or { code: 0 } at the end
  }

  connect(headers) {
    const head = ['GET /channel HTTP/1.1', 'Upgrade: websocket', 'Connection: Upgrade',
      `Sec-WebSocket-Key: ${randomBytes(16).toString('base64')}`, 'Sec-WebSocket-Version: 13', ...headers].join('\r\n');
    return new Promise((resolve) => {
      this.socket = net.connect(this.port, '127.0.0.1', () => this.socket.write(`${head}\r\n\r\n`));
      this.socket.on('error', () => {});
      let upgraded = false;
      this.socket.on('data', (chunk) => {
        this.pending = Buffer.concat([this.pending, chunk]);
        const end = upgraded ? -1 : this.pending.indexOf('\r\n\r\n');
        if (end >= 0) {
          upgraded = true;
          resolve(parseResponse(this.pending.subarray(0, end + 4)));
          this.pending = this.pending.subarray(end + 4);
        }
        if (upgraded) this.parse();
      });
      this.socket.on('close', () => {
        resolve({ status: 0, headers: {} });  // when the server closed before its answer
        this.closed ??= { code: 0 };
        this.wake();
      });
    });
  }

  // One message; `opcode` 1 text, 2 binary. `length` may claim more than `payload` holds.
  send(payload, opcode = typeof payload === 'string' ? 1 : 2, length = Buffer.byteLength(payload)) {
    const mask = randomBytes(4);
    const data = Buffer.from(payload).map((byte, i) => byte ^ mask[i % 4]);
    // The length in 7 bits, else 126 and 16 bits, else 127 and 64 bits; the high bit says masked.
    const size = length < 126 ? Buffer.from([length]) : length < 65536 ? Buffer.from([126, length >> 8, length & 0xff])
      : Buffer.concat([Buffer.from([127]), Buffer.from(BigInt(length).toString(16).padStart(16, '0'), 'hex')]);
    size[0] |= 0x80;
    this.socket.write(Buffer.concat([Buffer.from([0x80 | opcode]), size, mask, data]));
  }

  // The next message (a Buffer, or a string for text), or null once the connection has closed.
  async next(timeoutMs = 60000) {
    const deadline = Date.now() + timeoutMs;
    while (this.messages.length === 0 && !this.closed) {
      if (Date.now() > deadline) throw new Error('no message in time');
      await new Promise((resolve) => {
        this.waiting = resolve;
        setTimeout(resolve, 50);
      });
    }
    return this.messages.shift() ?? null;
  }

  // Waits for the server to end the connection; answers the close code (0: closed without one).
  async closeCode(timeoutMs = 60000) {
    while ((await this.next(timeoutMs)) !== null);
    return this.closed.code;
  }

  end() { this.socket.destroy(); }

  parse() {
    for (let p = this.pending; p.length >= 2; p = this.pending) {
      const short = p[1] & 0x7f;
      const at = short === 126 ? 4 : short === 127 ? 10 : 2;
      if (p.length < at) return;
      const length = short === 126 ? p.readUInt16BE(2) : short === 127 ? Number(p.readBigUInt64BE(2)) : short;
      if (p.length < at + length) return;
      const opcode = p[0] & 0x0f;
      const payload = p.subarray(at, at + length);
      this.pending = p.subarray(at + length);
      if (opcode === 8) {
        this.closed = { code: payload.length >= 2 ? payload.readUInt16BE(0) : 1005, reason: payload.subarray(2).toString() };
        this.socket.end();
      } else if (opcode === 1 || opcode === 2) {
        this.messages.push(opcode === 1 ? payload.toString() : Buffer.from(payload));
      }
      this.wake();
    }
  }

  wake() {
    const waiting = this.waiting;
    this.waiting = null;
    waiting?.();
  }
}

// Goes to the screen named `screen` by its navigation link, once its heading shows.
export async function goToScreen(page, screen) {
  await page.evaluate(() => performance.clearMarks());
  await (await named(page, 'link', screen)).click();
  await page.waitForFunction((s) => document.querySelector('main h1')?.textContent === s, {}, screen);
}

// Replaces what the text field named `label` holds with `text`, typed.
export async function typeInto(page, label, text) {
  const field = await named(page, 'textbox', label);
  await field.click({ clickCount: 3 });
  await page.keyboard.press('Backspace');
  await field.type(text);
}
