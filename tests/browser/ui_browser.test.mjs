// The page of `nimbra ui` in Debian's headless Chromium, driven through the names a person with
// a screen reader hears. Screenshots of each screen and the measured timings go to
// $NIMBRA_SCREENSHOTS (build/screenshots from ctest).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { chmodSync, chownSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import http from 'node:http';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { NIMBRA, PHONE, SHOTS, WIDE, focused, isDark, launchBrowser, markTime, named, newPage, pause, shoot, startUi,
  tempFolder, textOf } from './support.mjs';

const folder = tempFolder();
const measured = {};
let ui;
let browser;

// Stand-ins for the desktop's opener and file manager: each records its arguments.
const desk = join(folder.path, 'desk');
const opened = join(folder.path, 'opened.txt');

before(async () => {
  mkdirSync(SHOTS, { recursive: true });
  mkdirSync(desk);
  for (const program of ['xdg-open', 'gdbus']) {
    writeFileSync(join(desk, program), `#!/bin/sh\nprintf '%s\\n' "$0 $*" >> '${opened}'\nexit 1\n`);
    chmodSync(join(desk, program), 0o755);
  }
  // A graphical session, for the desktop's programs to be asked at all.
  ui = await startUi(['--allow-root'], { PATH: `${desk}:${process.env.PATH}`, DISPLAY: ':99' });
  browser = await launchBrowser(join(folder.path, 'profile'));
});

after(async () => {
  await browser?.close();
  await ui?.stop();
  writeFileSync(join(SHOTS, 'measurements.json'), `${JSON.stringify(measured, null, 2)}\n`);
  folder.remove();
});

const openPage = (url, viewport) => newPage(browser, url, viewport);
const nimbraCall = (method) => JSON.parse(execFileSync(NIMBRA, ['call', method], { encoding: 'utf8' }));

test('the page opened through the opener\'s page loads clean, keeps its secret out of the address, and shows this machine', async () => {
  const sizes = { ours: 0, vendored: 0 };
  const page = await openPage(null);
  page.on('response', async (response) => {
    const body = await response.buffer().catch(() => Buffer.alloc(0));
    sizes[response.url().includes('/vendor/') ? 'vendored' : 'ours'] += body.length;
  });
  // The opener was handed a page that forwards to the address; it goes once the page is in.
  for (let i = 0; i < 100 && !readFileSync(opened, { flag: 'a+', encoding: 'utf8' }).includes('\n'); ++i) await pause(50);
  const [, forwarder] = /^\S+ (file:\S+)\n/.exec(readFileSync(opened, 'utf8')) ?? [];
  assert.ok(forwarder && !forwarder.includes(ui.secret), readFileSync(opened, 'utf8'));
  await page.goto(forwarder);
  const name = await named(page, 'heading', nimbraCall('deviceName'));
  for (let i = 0; i < 50 && existsSync(fileURLToPath(forwarder)); ++i) await pause(100);
  assert.ok(!existsSync(fileURLToPath(forwarder)), 'the opener\'s page has gone');
  measured.loadToOverviewMs = Math.round(await markTime(page, 'nimbra:overview-drawn'));
  assert.equal(page.url(), `http://127.0.0.1:${ui.port}/`);
  assert.equal(await page.evaluate(() => location.href), page.url());
  assert.equal(await page.evaluate(() => sessionStorage.getItem('nimbra.secret')), ui.secret);
  assert.ok(await named(page, 'meter', 'Memory pressure'));
  assert.equal(await page.$eval('.device-id', (e) => e.textContent), nimbraCall('deviceId'));
  const root = nimbraCall('systemInfo').disks[0];
  assert.ok(await named(page, 'meter', `${root.name} used`), 'a bar for the system volume');
  assert.equal(await textOf(await page.waitForSelector('[role=status]')), 'Connected');
  await shoot(page, 'overview');
  measured.pageBytes = { ...sizes };

  // A reload still connects: the secret stayed in the tab.
  const machine = await textOf(name);
  await page.reload();
  await named(page, 'heading', machine);
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  assert.ok(await isDark(page), 'dark mode renders dark');
  await shoot(page, 'overview-dark');
  assert.deepStrictEqual(page.problems, []);
  await page.close();
});

test('Disk usage shows a built tree in chart and table, goes in and back, names stay text', async () => {
  const tree = join(folder.path, 'tree');
  const hostile = '<img src=x onerror=window.__x=1>.bin';
  const files = { 'photos/2024/a.jpg': 3.5e6, 'photos/2023/b.jpg': 2.5e6, 'music/song.flac': 1.2e6,
    [hostile]: 5e5, 'docs/notes.txt': 3e5, 'docs/old/draft.txt': 1e4, 'docs/old/older/oldest/deep.txt': 1e5 };
  for (const [path, size] of Object.entries(files)) {
    mkdirSync(join(tree, path, '..'), { recursive: true });
    writeFileSync(join(tree, path), Buffer.alloc(size));
  }
  const page = await openPage(ui.url);
  await (await named(page, 'link', 'Disk usage')).click();
  const field = await named(page, 'textbox', 'Folder');
  await page.waitForFunction(() => document.getElementById('disk-folder').value !== '');
  assert.equal(await field.evaluate((e) => e.value), nimbraCall('homeDir'));
  await field.click({ clickCount: 3 });
  await field.type(`${tree}-typo`);
  await (await named(page, 'button', 'Measure')).click();
  await page.waitForFunction((t) => document.querySelector('[role=alert]')?.textContent === `No folder at ${t}-typo`, {}, tree);
  await field.click({ clickCount: 3 });
  await field.type(tree);
  await (await named(page, 'button', 'Measure')).click();
  await page.waitForFunction(() => document.querySelector('.measured')?.textContent === '8.1 MB in this folder');
  await field.press('Enter');

  const rows = async () => page.$$eval('table.children tbody th', (cells) => cells.map((c) => c.textContent.trim()));
  await page.waitForSelector('table.children');
  assert.deepStrictEqual(await rows(), ['photos/', 'music/', hostile, 'docs/']);
  assert.ok(await named(page, 'button', 'photos, 6.0 MB'), 'the chart has the biggest folder');
  assert.equal(await page.evaluate(() => window.__x), undefined);
  assert.equal(await page.$('img'), null, 'a name is never markup');

  // Into photos by its piece and up again with Escape or Backspace: focus stays in the chart, on
  // the first piece inside and on the piece left, outlined whole above its neighbours.
  const location = (name) => page.waitForFunction((n) => document.querySelector('[aria-current=location]')?.textContent === n, {}, name);
  const outlined = () => page.evaluate(() => document.querySelector('.focus-ring')?.getAttribute('d') === document.activeElement.getAttribute('d'));
  await page.focus('#disk-folder');
  await page.keyboard.press('Tab');
  for (let i = 0; i < 30 && (await focused(page)) !== 'photos, 6.0 MB'; ++i) await page.keyboard.press('Tab');
  for (const [key, piece, inside] of [['Escape', 'photos, 6.0 MB', '2024, 3.5 MB'], ['Backspace', 'music, 1.2 MB', 'song.flac, 1.2 MB']]) {
    for (let i = 0; i < 5 && (await focused(page)) !== piece; ++i) await page.keyboard.press('Tab');
    await page.keyboard.press('Enter');
    await location(piece.split(',')[0]);
    assert.equal(await focused(page), inside);
    assert.ok(await outlined(), 'the focused piece is outlined in full');
    if (key === 'Escape') await shoot(page, 'disk-usage-built-tree');
    await page.keyboard.press(key);
    await location(tree);
    assert.equal(await focused(page), piece, key);
    assert.ok(await outlined());
  }
  assert.deepStrictEqual(await rows(), ['photos/', 'music/', hostile, 'docs/']);
  // The tree came three levels deep; going further measures the folder at the bottom.
  for (const step of ['docs/', 'old/', 'older/']) await (await named(page, 'button', step)).click();
  await page.waitForFunction(() => document.querySelector('[aria-current=location]')?.textContent === 'older');
  assert.deepStrictEqual(await rows(), ['oldest/']);
  await (await named(page, 'button', tree)).click();

  // The chosen file goes to the desktop's opener exactly as it is named.
  await (await named(page, 'button', hostile)).click();
  await (await named(page, 'button', 'Open')).click();
  await page.waitForFunction(() => document.querySelector('.actions .path')?.textContent.endsWith('.bin'));
  for (let i = 0; i < 50 && !readFileSync(opened, { flag: 'a+', encoding: 'utf8' }).includes(hostile); ++i) await pause(100);
  const opener = readFileSync(opened, 'utf8');
  // First the page that forwards to the address, when nimbra ui started; then the file, exactly as it is named.
  assert.ok(opener.startsWith(`${desk}/xdg-open file://`) && opener.includes(`xdg-open ${join(tree, hostile)}\n`), opener);

  // Every control is reached with Tab.
  await page.focus('body');
  const reached = new Set();
  for (let i = 0; i < 40; ++i) {
    await page.keyboard.press('Tab');
    reached.add(await page.evaluate(() => document.activeElement.getAttribute('aria-label') ?? document.activeElement.textContent.trim()));
  }
  for (const control of ['Overview', 'Disk usage', 'Choose…', 'Scan', 'photos, 6.0 MB', 'photos/', hostile, 'Reveal', 'Open']) {
    assert.ok(reached.has(control), `${control} is reached by Tab`);
  }
  assert.equal(await page.evaluate(() => window.__x), undefined);

  // More top-level folders than the palette has colours, each with folders inside: no two
  // pieces of a ring look alike, and inside a folder the pieces are shades of its hue.
  const wheel = join(folder.path, 'wheel');
  for (let i = 0; i < 10; ++i) {
    for (let j = 0; j < 3; ++j) {
      mkdirSync(join(wheel, `f${i}`, `f${i}-${j}`, 'in'), { recursive: true });
      writeFileSync(join(wheel, `f${i}`, `f${i}-${j}`, 'in', 'data.bin'), Buffer.alloc(100000 + 1000 * j));
    }
  }
  await field.click({ clickCount: 3 });
  await field.type(wheel);
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForFunction(() => document.querySelectorAll('.sunburst .piece[data-ring="3"]').length === 30);
  const rings = await page.$$eval('.sunburst .piece', (pieces) => pieces.map((p) => ({
    ring: p.dataset.ring, fill: p.getAttribute('fill'), name: p.querySelector('title').textContent.split(',')[0] })));
  const hue = (fill) => Number(/^hsl\((\d+)/.exec(fill)[1]);
  for (const ring of ['1', '2', '3']) {
    const fills = rings.filter((piece) => piece.ring === ring).map((piece) => piece.fill);
    assert.equal(new Set(fills).size, fills.length, `ring ${ring}: ${fills}`);
  }
  const top = new Map(rings.filter((piece) => piece.ring === '1').map((piece) => [piece.name, hue(piece.fill)]));
  for (const piece of rings.filter((p) => p.ring === '2')) assert.equal(hue(piece.fill), top.get(piece.name.split('-')[0]), piece.name);
  await shoot(page, 'disk-usage-colours');
  assert.deepStrictEqual(page.problems, []);
  await page.close();
});

test('Disk usage: a second scan of a changing folder says what grew since, largest change first, tints the chart and compares any two scans', async () => {
  const tree = join(folder.path, 'changing');
  const put = (path, size) => {
    mkdirSync(join(tree, path, '..'), { recursive: true });
    writeFileSync(join(tree, path), Buffer.alloc(size));
  };
  put('photos/2023/x.jpg', 2e6);
  put('music/s.flac', 1e6);
  put('old/stuff.bin', 3e5);
  const page = await openPage(ui.url);
  await (await named(page, 'link', 'Disk usage')).click();
  const field = await named(page, 'textbox', 'Folder');
  await page.waitForFunction(() => document.getElementById('disk-folder').value !== '');
  await field.click({ clickCount: 3 });
  await field.type(`${tree}/`);  // the same folder's history, however it is typed
  await field.press('Enter');
  await page.waitForFunction(() => [...document.querySelectorAll('main p')].some((p) => p.textContent.trim().startsWith('Recorded:')));

  put('photos/2024/new.jpg', 3e6);
  put('music/s.flac', 1.5e6);
  rmSync(join(tree, 'old'), { recursive: true });
  await (await named(page, 'button', 'Scan')).click();
  const since = await page.waitForSelector('.since p');
  assert.match(await textOf(since), /^Since .+: \+3\.2 MB$/);
  await (await named(page, 'button', 'What changed')).click();
  await page.waitForSelector('table.changes-table');
  const rows = await page.$$eval('table.changes-table tbody tr', (trs) => trs.map((tr) =>
    [...tr.children].map((cell) => cell.textContent.replace(/\s+/g, ' ').trim())));
  assert.deepStrictEqual(rows, [['photos/2024/ new', '—', '3.0 MB', '▲ +3.0 MB'],
    ['music/', '1.0 MB', '1.5 MB', '▲ +500.0 KB'], ['old/ gone', '300.0 KB', '—', '▼ −300.0 KB']]);
  await (await named(page, 'checkbox', 'Tint by growth')).click();
  assert.ok(await named(page, 'button', 'photos, 5.0 MB, grew 3.0 MB'), 'the piece says how it changed');
  assert.ok(await named(page, 'button', 'music, 1.5 MB, grew 500.0 KB'));
  await shoot(page, 'disk-usage-changes');

  // The other way round: from this scan back to the first, what grew is what went.
  await (await named(page, 'button', 'History')).click();
  const radios = await page.$$('input[name=history-from]');
  assert.equal(radios.length, 2);
  await radios[0].click();
  await (await page.$$('input[name=history-to]'))[1].click();
  await (await named(page, 'button', 'Compare')).click();
  await page.waitForFunction(() => document.querySelector('table.changes-table tbody th')?.textContent.includes('gone'));
  assert.equal(await page.$eval('table.changes-table tbody tr td:last-child', (e) => e.textContent.trim()), '▼ −3.0 MB');
  assert.ok(await named(page, 'button', 'photos, 5.0 MB, grew 3.0 MB'), 'the chart still tints by growth since the last scan');
  await (await named(page, 'button', 'History')).click();
  await shoot(page, 'disk-usage-history');
  await page.setViewport(PHONE);
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), 'the history fits a phone');
  await shoot(page, 'disk-usage-history-phone', { fullPage: true });
  assert.deepStrictEqual(page.problems, []);
  await page.close();
});

test('as an ordinary user, the folders a scan could not read are said, and named behind a disclosure', async () => {
  const tree = mkdtempSync(join(tmpdir(), 'nimbra-unreadable-'));
  writeFileSync(join(tree, 'seen.bin'), Buffer.alloc(3e5));
  mkdirSync(join(tree, 'secret'));
  writeFileSync(join(tree, 'secret/hidden.bin'), Buffer.alloc(7e5));
  execFileSync('chown', ['-R', '65534:65534', tree]);
  chmodSync(tree, 0o755);
  chmodSync(join(tree, 'secret'), 0);
  const asNobody = await startUi(['--no-open'], { HOME: tree },
    ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']);
  const page = await openPage(asNobody.url);
  try {
    await (await named(page, 'link', 'Disk usage')).click();
    const field = await named(page, 'textbox', 'Folder');
    await field.click({ clickCount: 3 });
    await field.type(tree);
    await field.press('Enter');
    const summary = await page.waitForSelector('details.gaps summary');
    assert.equal(await textOf(summary), '1 folder could not be read: what it holds is not counted');
    assert.match(await page.$eval('main', (e) => e.textContent), /300\.0 KB in 1 file below/);
    await summary.click();
    assert.equal(await page.$eval('details.gaps li', (e) => e.textContent.replace(/\s+/g, ' ').trim()),
      `${join(tree, 'secret')}: Permission denied`);
    await shoot(page, 'disk-usage-unreadable');
    assert.deepStrictEqual(page.problems, []);
  } finally {
    await page.close();
    await asNobody.stop();
    chmodSync(join(tree, 'secret'), 0o700);
    rmSync(tree, { recursive: true, force: true });
  }
});

test('Disk usage of /usr: the chart is drawn soon after the answer, fits the window, and a cancelled scan is partial', async () => {
  const page = await openPage(ui.url);
  await (await named(page, 'link', 'Disk usage')).click();
  const field = await named(page, 'textbox', 'Folder');
  await page.waitForFunction(() => document.getElementById('disk-folder').value !== '');
  await field.click({ clickCount: 3 });
  await field.type('/usr');
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForSelector('svg.sunburst', { timeout: 120000 });
  const answered = await page.evaluate(() => performance.getEntriesByName('nimbra:answer').at(-1).startTime);
  measured.usrAnswerToChartMs = Math.round((await markTime(page, 'nimbra:chart-drawn')) - answered);
  for (const viewport of [WIDE, PHONE]) {
    await page.setViewport(viewport);
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `fits ${viewport.width}`);
  }
  await page.setViewport(WIDE);
  await shoot(page, 'disk-usage');
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  await shoot(page, 'disk-usage-dark');
  await page.setViewport(PHONE);
  await shoot(page, 'disk-usage-phone', { fullPage: true });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
  await page.setViewport(WIDE);

  // The whole machine takes long enough to cancel, and what was found stays, marked partial.
  await field.click({ clickCount: 3 });
  await field.type('/');
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForSelector('::-p-aria([role="progressbar"])');
  await page.waitForFunction(() => /files/.test(document.querySelector('.work-text')?.textContent));
  await shoot(page, 'progress');
  await (await named(page, 'button', 'Cancel')).click();
  const note = await page.waitForSelector('.partial');
  assert.match(await textOf(note), /Partial/);
  assert.equal(await page.$('progress'), null);
  assert.ok(await page.$('svg.sunburst'));
  assert.deepStrictEqual(page.problems, []);
  await page.close();
});

test('Free memory, for a user who cannot be asked for a password, says why and what to do', async () => {
  const home = join(folder.path, 'nobody');
  mkdirSync(home);
  chownSync(home, 65534, 65534);
  const plain = await startUi(['--no-open'], { HOME: home, DISPLAY: '' },
    ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']);
  try {
    const page = await openPage(plain.url);
    await named(page, 'heading', nimbraCall('deviceName'));
    await (await named(page, 'link', 'Memory')).click();
    await (await named(page, 'button', 'Free memory')).click();
    const said = await page.waitForSelector('main [role=alert]', { timeout: 20000 });
    assert.match(await textOf(said), /^Memory was not freed: dropping the caches needs an administrator, and no password prompt can be shown here \(.+\)\. Start the desktop's polkit authentication agent/);
    assert.equal(await focused(page), 'Free memory', 'the button kept focus while it worked');
    assert.deepStrictEqual(page.problems, []);
    await page.close();
  } finally {
    await plain.stop();
  }
});

test('a page of another origin cannot open the socket, and the server\'s restart is shown', async () => {
  // The hostile page tries the socket under the server's address and under its own name, which
  // a rebinding attack would point at the server.
  const hostilePage = `<!doctype html><script>
    window.outcomes = [];
    for (const url of ['ws://127.0.0.1:${ui.port}/channel', 'ws://hostile.test:${ui.port}/channel']) {
      const socket = new WebSocket(url);
      socket.onopen = () => { socket.send('guess'); window.outcomes.push('open'); };
      socket.onclose = (e) => window.outcomes.push(e.code);
    }</script>`;
  const server = http.createServer((request, response) => response.end(hostilePage));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const hostile = await openPage(`http://hostile.test:${server.address().port}/`);
  await hostile.waitForFunction(() => window.outcomes.length === 2);
  assert.deepStrictEqual(await hostile.evaluate(() => window.outcomes), [1006, 1006]);
  const rebound = await hostile.goto(`http://hostile.test:${ui.port}/`);
  assert.equal(rebound.status(), 421);
  await hostile.close();
  server.close();

  // The program ends: the page says so and tries again; a new run on the same port does not
  // take the old secret, and the page says that instead.
  const page = await openPage(ui.url);
  await named(page, 'heading', nimbraCall('deviceName'));
  await ui.stop();
  await page.waitForFunction(() => /Connection lost/.test(document.querySelector('[role=status]').textContent));
  // Meanwhile a call fails at once instead of working for as long as the program is away.
  await (await named(page, 'button', 'Refresh')).click();
  await page.waitForFunction(() => document.querySelector('main [role=alert]')?.textContent.startsWith('Not connected'));
  await (await named(page, 'link', 'Disk usage')).click();
  await (await named(page, 'textbox', 'Folder')).type('/usr');
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForFunction(() => document.querySelector('main [role=alert]')?.textContent.startsWith('Not connected'));
  assert.equal(await page.$('::-p-aria([role="progressbar"])'), null);
  assert.notEqual(await focused(page), '<body>');
  ui = await startUi(['--no-open', '--allow-root', '--port', String(ui.port)]);
  await page.waitForFunction(() => /earlier run/.test(document.querySelector('[role=status]').textContent),
    { timeout: 20000 });
  await page.close();
});
