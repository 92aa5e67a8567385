// The page of `nimbra ui` in Debian's headless Chromium, driven through the names a person with
// a screen reader hears. Screenshots of each screen and the measured timings go to
// $NIMBRA_SCREENSHOTS (build/screenshots from ctest).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { chmodSync, chownSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, utimesSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import http from 'node:http';
import { basename, join } from 'node:path';
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

test('Disk usage shows a built tree as rings, treemap and a tree that opens and sorts, goes in and back, names stay text', async () => {
  const tree = join(folder.path, 'tree');
  const hostile = '<img src=x onerror=window.__x=1>.bin';
  const at = (year, month) => Date.UTC(year, month - 1, 15, 12) / 1000;
  const files = { 'photos/2024/a.jpg': [3.5e6, at(2024, 6)], 'photos/2023/b.jpg': [2.5e6, at(2023, 6)],
    'music/song.flac': [1.2e6, at(2019, 3)], [hostile]: [5e5, at(2021, 1)], 'docs/notes.txt': [3e5, at(2025, 1)],
    'docs/old/draft.txt': [1e4, at(2018, 1)], 'docs/old/older/oldest/deep.txt': [1e5, at(2017, 1)] };
  for (const [path, [size, modified]] of Object.entries(files)) {
    mkdirSync(join(tree, path, '..'), { recursive: true });
    writeFileSync(join(tree, path), Buffer.alloc(size));
    utimesSync(join(tree, path), modified, modified);
  }
  const page = await openPage(ui.url);
  await (await named(page, 'link', 'Disk usage')).click();
  let field = await named(page, 'textbox', 'Folder');
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

  // Each row of the tree: its name, size, share, files and day of its newest file.
  const rows = async () => page.$$eval('table.disk-tree tbody:not(.total) th', (cells) => cells.map((c) => c.textContent.trim()));
  const cells = (name) => page.$$eval('table.disk-tree tbody tr', (trs, n) => trs.map((tr) => [...tr.cells].slice(1, 6)
    .map((c) => c.textContent.trim())).find((row) => row[0] === n), name);
  await page.waitForSelector('table.disk-tree');
  assert.deepStrictEqual(await rows(), ['photos/', 'music/', hostile, 'docs/']);
  assert.deepStrictEqual(await cells(`All of ${basename(tree)}`), [`All of ${basename(tree)}`, '8.1 MB', '100%', '7', 'Jan 15, 2025']);
  assert.deepStrictEqual(await cells('photos/'), ['photos/', '6.0 MB', '74%', '2', 'Jun 15, 2024']);
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

  // The same in the treemap, the choice the page keeps: a piece goes in, Escape comes back.
  await (await named(page, 'button', 'Treemap')).click();
  await (await page.waitForSelector('svg.treemap ::-p-aria([name="music, 1.2 MB"][role="button"])')).evaluate((piece) => piece.focus());
  await page.keyboard.press('Enter');
  await location('music');
  assert.ok(await named(page, 'button', 'song.flac, 1.2 MB'));
  await page.keyboard.press('Escape');
  await location(tree);
  await page.reload();
  await (await named(page, 'link', 'Disk usage')).click();
  await page.waitForFunction(() => document.getElementById('disk-folder').value !== '');
  field = await named(page, 'textbox', 'Folder');
  await field.click({ clickCount: 3 });
  await field.type(tree);
  await field.press('Enter');
  await page.waitForSelector('svg.treemap');
  assert.equal(await (await named(page, 'button', 'Treemap')).evaluate((e) => e.getAttribute('aria-pressed')), 'true');

  // Folders open in place to the tree's depth, and deeper once measured; every column sorts.
  await (await named(page, 'button', 'Expand docs')).click();
  await (await named(page, 'button', 'Expand old')).click();
  await (await named(page, 'button', 'Expand older')).click();
  await page.waitForFunction(() => [...document.querySelectorAll('table.disk-tree th')].some((th) => th.textContent.trim() === 'oldest/'));
  assert.equal(await (await named(page, 'button', 'Expand old')).evaluate((e) => e.getAttribute('aria-expanded')), 'true');
  assert.deepStrictEqual(await rows(), ['photos/', 'music/', hostile, 'docs/', 'notes.txt', 'old/', 'older/', 'oldest/', 'draft.txt']);
  await shoot(page, 'disk-usage-treemap-tree', { fullPage: true });
  await (await named(page, 'button', 'Expand docs')).click();
  const sortedBy = async (column) => {
    await (await named(page, 'button', column)).click();
    const sort = await page.$$eval('table.disk-tree th[aria-sort]', (ths) => ths.filter((th) => th.getAttribute('aria-sort') !== 'none')
      .map((th) => `${th.textContent.trim().replace(/[▲▼]/, '').trim()} ${th.getAttribute('aria-sort')}`));
    return [sort.join(), ...(await rows())];
  };
  assert.deepStrictEqual(await sortedBy('Modified'), ['Modified descending', 'docs/', 'photos/', hostile, 'music/']);
  assert.deepStrictEqual(await sortedBy('Name'), ['Name ascending', hostile, 'docs/', 'music/', 'photos/']);
  assert.deepStrictEqual(await sortedBy('Files'), ['Files descending', 'docs/', 'photos/', 'music/', hostile]);
  assert.deepStrictEqual(await sortedBy('Files'), ['Files ascending', 'music/', hostile, 'photos/', 'docs/']);
  assert.deepStrictEqual(await sortedBy('Size'), ['Size descending', 'photos/', 'music/', hostile, 'docs/']);

  // A file goes to the desktop's opener from its row, exactly as it is named.
  const inRow = async (path, button) => (await named(page, 'checkbox', path)).evaluateHandle((box, b) =>
    [...box.closest('tr').querySelectorAll('button')].find((e) => e.textContent === b), button);
  await (await inRow(join(tree, hostile), 'Open')).click();
  for (let i = 0; i < 50 && !readFileSync(opened, { flag: 'a+', encoding: 'utf8' }).includes(hostile); ++i) await pause(100);
  const opener = readFileSync(opened, 'utf8');
  // First the page that forwards to the address, when nimbra ui started; then the file, exactly as it is named.
  assert.ok(opener.startsWith(`${desk}/xdg-open file://`) && opener.includes(`xdg-open ${join(tree, hostile)}\n`), opener);

  // Every control is reached with Tab; the tree is one stop, on the row last visited.
  await page.focus('body');
  const reached = new Set();
  for (let i = 0; i < 60; ++i) {
    await page.keyboard.press('Tab');
    reached.add(await page.evaluate(() => document.activeElement.getAttribute('aria-label') ?? document.activeElement.textContent.trim()));
  }
  for (const control of ['Overview', 'Disk usage', 'Choose…', 'Scan', 'Rings', 'File types', 'Age', 'photos, 6.0 MB', 'Name',
    join(tree, hostile), hostile, 'Reveal', 'Open']) {
    assert.ok(reached.has(control), `${control} is reached by Tab`);
  }
  assert.equal(await page.evaluate(() => window.__x), undefined);

  // More top-level folders than the palette has colours, each with folders inside: no two
  // pieces of a level look alike, none looks like the piece it lies in, and inside a folder the
  // pieces are shades of its hue; every name in the treemap is readable on its piece.
  const wheel = join(folder.path, 'wheel');
  for (let i = 0; i < 10; ++i) {
    for (let j = 0; j < 3; ++j) {
      mkdirSync(join(wheel, `f${i}`, `f${i}-${j}`, 'in'), { recursive: true });
      writeFileSync(join(wheel, `f${i}`, `f${i}-${j}`, 'in', 'data.bin'), Buffer.alloc(100000 + 1000 * j));
    }
  }
  // Five larger files first in f0 make its first folder the lightest shade, as light as its own first piece would be.
  for (let k = 0; k < 5; ++k) writeFileSync(join(wheel, 'f0', `f0-a${k}.bin`), Buffer.alloc(200000 - 1000 * k));
  await field.click({ clickCount: 3 });
  await field.type(wheel);
  await (await named(page, 'button', 'Scan')).click();
  for (const chart of ['treemap', 'sunburst']) {
    await page.waitForFunction((c) => document.querySelectorAll(`svg.${c} .piece[data-ring="3"]`).length === 30, {}, chart);
    const pieces = await page.$$eval(`svg.${chart} .piece`, (elements) => elements.map((e) => ({
      ring: e.dataset.ring, fill: e.getAttribute('fill'), name: e.querySelector('title').textContent.split(',')[0],
      inside: e.piece.children.map((child) => elements.find((other) => other.piece === child)?.getAttribute('fill')) })));
    const hue = (fill) => Number(/^hsl\((\d+)/.exec(fill)[1]);
    for (const ring of ['1', '2', '3']) {
      const fills = pieces.filter((piece) => piece.ring === ring).map((piece) => piece.fill);
      assert.equal(new Set(fills).size, fills.length, `${chart} level ${ring}: ${fills}`);
    }
    for (const piece of pieces) assert.ok(!piece.inside.includes(piece.fill), `${chart}: ${piece.name} ${piece.fill} / ${piece.inside}`);
    const top = new Map(pieces.filter((piece) => piece.ring === '1').map((piece) => [piece.name, hue(piece.fill)]));
    for (const piece of pieces.filter((p) => p.ring === '2')) assert.equal(hue(piece.fill), top.get(piece.name.split('-')[0]), piece.name);
    if (chart === 'treemap') {
      const contrasts = await page.$$eval('svg.treemap text', (labels) => labels.map((label) => {
        const rgb = (colour) => {
          const probe = document.createElement('i');
          probe.style.color = colour;
          document.body.append(probe);
          const [r, g, b] = getComputedStyle(probe).color.match(/\d+/g).map((c) => Number(c) / 255);
          probe.remove();
          const linear = (c) => (c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4);
          return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
        };
        const [a, b] = [rgb(label.getAttribute('fill')), rgb(label.piece.colour)].sort((x, y) => y - x);
        return (a + 0.05) / (b + 0.05);
      }));
      assert.ok(contrasts.length >= 10 && Math.min(...contrasts) >= 4.5, `label contrasts ${contrasts}`);
      await shoot(page, 'disk-usage-treemap');
      await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
      await shoot(page, 'disk-usage-treemap-dark');
      await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
      await (await named(page, 'button', 'Rings')).click();
    }
  }
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
  } catch (error) {
    error.message += `\nthe server, running as nobody, said: ${asNobody.said() || '(nothing)'}`;
    throw error;
  } finally {
    await page.close();
    await asNobody.stop();
    chmodSync(join(tree, 'secret'), 0o700);
    rmSync(tree, { recursive: true, force: true });
  }
});

test('Disk usage of /usr: rings, treemap and tree are drawn soon after the answer, fit the window, and a cancelled scan is partial', async () => {
  const page = await openPage(ui.url);
  await (await named(page, 'link', 'Disk usage')).click();
  const field = await named(page, 'textbox', 'Folder');
  await page.waitForFunction(() => document.getElementById('disk-folder').value !== '');
  await field.click({ clickCount: 3 });
  await field.type('/usr');
  // From the tree's answer to the chart and the tree on screen, one chart and then the other.
  for (const [chart, figure] of [['Rings', 'usrAnswerToRingsAndTreeMs'], ['Treemap', 'usrAnswerToTreemapAndTreeMs']]) {
    if (chart === 'Treemap') await (await named(page, 'button', chart)).click();
    await page.evaluate(() => performance.clearMarks());
    await (await named(page, 'button', 'Scan')).click();
    await page.waitForFunction(() => performance.getEntriesByName('nimbra:chart-drawn').length > 0, { timeout: 120000 });
    const drawn = await markTime(page, 'nimbra:chart-drawn');
    assert.ok(await page.$(chart === 'Rings' ? 'svg.sunburst' : 'svg.treemap'));
    measured[figure] = Math.round(drawn - await page.evaluate(() => performance.getEntriesByName('nimbra:answer:analyzeDisk').at(-1).startTime));
    for (const viewport of [WIDE, PHONE]) {
      await page.setViewport(viewport);
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${chart} fits ${viewport.width}`);
    }
    await page.setViewport(WIDE);
  }
  assert.ok(await page.$('table.disk-tree'));
  await (await named(page, 'button', 'Rings')).click();
  await shoot(page, 'disk-usage', { fullPage: true });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  await shoot(page, 'disk-usage-dark', { fullPage: true });
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
