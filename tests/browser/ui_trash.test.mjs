// Taking removals back, in Debian's headless Chromium: the notice with "Undo" after every move
// to the Trash, the Trash screen with "Put back", "Delete permanently" and "Empty Trash", and the
// Trash's figure beside its navigation entry. Real files in a temporary folder that is the home
// of `nimbra ui`; trash-cli's trash-list, where it is installed, reads the same Trash and must
// agree with the screen after every step.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { existsSync, mkdirSync, readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { PHONE, SHOTS, WIDE, goToScreen, launchBrowser, markTime, named, newPage, startUi, tempFolder,
  typeInto } from './support.mjs';

const folder = tempFolder();
const home = join(folder.path, 'home');
const data = join(home, '.local/share');
const HOSTILE = '<img src=x onerror=window.__x=1>';
const hasTrashCli = spawnSync('trash-list', ['--version']).status === 0;
let ui;
let browser;
let page;

// A file of `size` bytes of `fill`; answers its path.
function file(path, size, fill) {
  mkdirSync(dirname(path), { recursive: true });
  writeFileSync(path, Buffer.alloc(size, fill));
  return path;
}

before(async () => {
  mkdirSync(SHOTS, { recursive: true });
  mkdirSync(join(home, 'tmp'), { recursive: true });
  ui = await startUi(['--no-open', '--allow-root'], { HOME: home, XDG_DATA_HOME: data, TMPDIR: join(home, 'tmp') });
  browser = await launchBrowser(join(folder.path, 'profile'));
  page = await newPage(browser, ui.url);
});

after(async () => {
  await browser?.close();
  await ui?.stop();
  folder.remove();
});

const goTo = (screen) => goToScreen(page, screen);
const typeIn = (label, text) => typeInto(page, label, text);

async function scan(folderPath, minSize, mark) {
  await page.waitForFunction(() => [...document.querySelectorAll('main input')].every((i) => i.id.endsWith('-size') || i.value));
  await typeIn('Folder', folderPath);
  await typeIn('Minimum size', minSize);
  await page.evaluate(() => performance.clearMarks());
  await (await named(page, 'button', 'Scan')).click();
  await markTime(page, mark);
}

// Asks for `action` (unless the dialog is open already), answers what it lists, and confirms.
async function confirm(action, { ask = true } = {}) {
  if (ask) await (await named(page, 'button', action)).click();
  const dialog = await page.waitForSelector('dialog[open]');
  const listed = await dialog.$$eval('.going .path', (paths) => paths.map((p) => p.textContent));
  await (await dialog.$('.buttons button:last-child')).click();
  await page.waitForSelector('dialog[open]', { hidden: true });
  return listed;
}

const notice = () => page.$eval('.undo-notice', (e) => e.textContent.replace(/\s+/g, ' ').trim());
const noticeSays = (text) => page.waitForFunction((t) => document.querySelector('.undo-notice[role="status"]')
  ?.textContent.replace(/\s+/g, ' ').includes(t), {}, text);
const navNote = () => page.$eval('#trash-note', (e) => e.textContent);

// The Trash screen's entries as trash-list prints them ("DATE TIME PATH"), sorted.
const shownEntries = () => page.$$eval('table.trash-entries tbody tr', (rows) => rows.map((row) =>
  `${row.querySelector('time').getAttribute('datetime').replace('T', ' ')} ${row.querySelector('input').getAttribute('aria-label')}`).sort());

// trash-list's own, of the entries from the test's folder.
const trashList = () => execFileSync('trash-list', [], { env: { ...process.env, HOME: home, XDG_DATA_HOME: data }, encoding: 'utf8' })
  .split('\n').filter((line) => line.includes(folder.path)).sort();

// On the Trash screen, which lists the Trash afresh on every visit and after every change, the
// entries are those trash-list reads: `count` of them.
async function trashListAgrees(count) {
  if (await page.$eval('main h1', (h) => h.textContent) !== 'Trash') {
    await goTo('Trash');
    await markTime(page, 'nimbra:trash-drawn');
  }
  let shown = await shownEntries();
  const listed = hasTrashCli ? trashList() : shown;
  for (let tries = 0; tries < 50 && JSON.stringify(shown) !== JSON.stringify(listed); ++tries) {
    await new Promise((resolve) => setTimeout(resolve, 100));
    shown = await shownEntries();
  }
  assert.deepStrictEqual(shown, listed, 'trash-list and the Trash screen');
  assert.equal(shown.length, count);
}

test('A round trip: moves from three screens, one undone, one put back, one deleted, the rest emptied, byte for byte', async (t) => {
  if (!hasTrashCli) t.diagnostic('trash-cli is not installed: the Trash screen is not compared with trash-list');
  const movie = file(join(home, 'Videos/movie.mkv'), 2e6, 'm');
  const copies = [file(join(home, 'Pictures/a/beach.jpg'), 1.5e6, 'b'), file(join(home, 'Pictures/b/beach.jpg'), 1.5e6, 'b')];
  const cache = join(home, 'Library/Caches/com.example.cache');
  const cacheFile = file(join(cache, `${HOSTILE}.bin`), 50000, 'c');
  const log = file(join(home, 'Library/Logs/app.log'), 3000, 'l');
  const bytes = new Map([movie, ...copies, cacheFile].map((path) => [path, readFileSync(path)]));

  // Large files: the movie goes; the notice says so on the screen that moved it.
  await goTo('Large files');
  await scan(join(home, 'Videos'), '1MB', 'nimbra:large-drawn');
  await (await named(page, 'checkbox', movie)).click();
  assert.deepStrictEqual(await confirm('Move to Trash'), [movie]);
  await noticeSays('Moved 1 item (2.0 MB) to the Trash — Undo or put it back later from the Trash screen');
  assert.ok(!existsSync(movie));
  await page.waitForFunction(() => document.querySelector('#trash-note')?.textContent === '1 item, 2.0 MB');
  await shoot('trash-undo-notice');
  await trashListAgrees(1);

  // Duplicates: a copy goes, and Undo brings exactly it back; its group is listed again.
  await goTo('Duplicates');
  await scan(join(home, 'Pictures'), '1MB', 'nimbra:dupes-drawn');
  await (await named(page, 'checkbox', copies[0])).click();
  await confirm('Move to Trash');
  await noticeSays('Moved 1 item (1.5 MB) to the Trash');
  assert.match(await page.$eval('main', (e) => e.textContent), /No duplicates here/);
  await (await named(page, 'button', 'Undo')).click();
  await noticeSays('Put back 1 item.');
  assert.deepStrictEqual(readFileSync(copies[0]), bytes.get(copies[0]));
  await named(page, 'checkbox', copies[0]);
  assert.match(await page.$eval('main', (e) => e.textContent), /2 copies of\s+beach\.jpg/);
  await page.waitForFunction(() => document.querySelector('#trash-note')?.textContent === '1 item, 2.0 MB');
  await trashListAgrees(1);

  // Junk: a cache folder and a log go in one move.
  await goTo('Junk');
  await page.evaluate(() => performance.clearMarks());
  await (await named(page, 'button', 'Scan')).click();
  await markTime(page, 'nimbra:junk-drawn');
  await (await named(page, 'checkbox', 'Application caches')).click();
  await (await named(page, 'checkbox', 'Logs')).click();
  assert.deepStrictEqual((await confirm('Move to Trash')).sort(), [cache, log].sort());
  await noticeSays('Moved 2 items (53.0 KB) to the Trash');
  assert.ok(!existsSync(cache) && !existsSync(log));
  await page.waitForFunction(() => document.querySelector('main .trash-line p')?.textContent === '3 items, 2.1 MB');
  assert.equal(await navNote(), '3 items, 2.1 MB');
  await trashListAgrees(3);

  // Something takes the cache's place meanwhile. Put back: the movie goes home; the cache says
  // why it stays.
  const blocker = file(cache, 7, 'x');
  await (await named(page, 'checkbox', movie)).click();
  await (await named(page, 'checkbox', cache)).click();
  await (await named(page, 'button', 'Put back')).click();
  await page.waitForFunction(() => /Put back 1 item \(2\.0 MB\)\. 1 item could not be put back\./
    .test(document.querySelector('main .outcome')?.textContent));
  assert.match(await page.$eval('table.trash-entries', (e) => e.textContent), /Not put back: its place is taken/);
  assert.match(await page.$eval('main .outcome', (e) => e.textContent), new RegExp(`${cache}: its place is taken`));
  assert.deepStrictEqual(readFileSync(movie), bytes.get(movie));
  assert.deepStrictEqual(readFileSync(blocker), Buffer.alloc(7, 'x'));
  await shoot('trash');
  await trashListAgrees(2);

  // Delete permanently asks, listing what goes by where it came from; Empty Trash takes
  // exactly the entries shown.
  await (await named(page, 'checkbox', cache)).click();
  await (await named(page, 'checkbox', log)).click();
  assert.deepStrictEqual(await confirm('Delete permanently'), [log]);
  await page.waitForFunction(() => /Deleted 1 item for good/.test(document.querySelector('main .outcome')?.textContent));
  await trashListAgrees(1);
  assert.deepStrictEqual(await confirm('Empty Trash'), [cache]);
  await page.waitForFunction(() => /The Trash is empty\./.test(document.querySelector('main').textContent));
  await page.waitForFunction(() => document.querySelector('#trash-note')?.textContent === 'empty');
  await trashListAgrees(0);
  for (const path of [movie, ...copies]) assert.deepStrictEqual(readFileSync(path), bytes.get(path), path);
  assert.ok(!existsSync(log) && !existsSync(cacheFile));
  assert.equal(execFileSync('find', [join(data, 'Trash'), '-mindepth', '2'], { encoding: 'utf8' }), '');
  assert.equal(await page.evaluate(() => window.__x), undefined);
  assert.deepStrictEqual(page.problems, []);
});

test('Undo after an uninstall, reached from the keyboard; the notice stays ten seconds and until the person moves on', async () => {
  const tk = join(home, 'Applications/Tk.app');
  const plist = file(join(tk, 'Contents/Info.plist'), 0, 'p');
  writeFileSync(plist, '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>CFBundleName</key><string>Tk</string>'
    + '<key>CFBundleIdentifier</key><string>com.example.toolkit</string></dict></plist>\n');
  const leftover = file(join(home, 'Library/Caches/com.example.toolkit/cache.db'), 20000, 't');

  await goTo('Applications');
  await (await named(page, 'button', 'Tk')).click();
  await page.waitForSelector('table.leftovers');
  const size = `${((readFileSync(plist).length + 20000) / 1000).toFixed(1)} KB`;
  await confirm('Uninstall');
  await noticeSays(`Moved 2 items (${size})`);
  assert.ok(!existsSync(tk) && !existsSync(leftover));
  // Tab reaches Undo; Enter presses it.
  for (let i = 0; i < 80 && await page.evaluate(() => document.activeElement.textContent) !== 'Undo'; ++i) await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.closest('[role="status"]')?.className), 'undo-notice');
  await page.keyboard.press('Enter');
  await noticeSays('Put back 2 items.');
  assert.ok(existsSync(plist) && existsSync(leftover));
  await named(page, 'button', 'Tk');

  // Left alone on its screen, the notice stays past ten seconds; moving on then ends it.
  const clips = [file(join(home, 'Clips/a.bin'), 2e6, 'a'), file(join(home, 'Clips/b.bin'), 2e6, 'b')];
  await goTo('Large files');
  await scan(join(home, 'Clips'), '1MB', 'nimbra:large-drawn');
  await (await named(page, 'checkbox', clips[0])).click();
  await confirm('Move to Trash');
  await noticeSays('Moved 1 item');
  await new Promise((resolve) => setTimeout(resolve, 10500));
  assert.match(await notice(), /Undo/);
  await goTo('Duplicates');
  assert.equal(await notice(), '');

  // Moving on at once: it stays for the ten seconds all the same.
  await goTo('Large files');
  await (await named(page, 'checkbox', clips[1])).click();
  await confirm('Move to Trash');
  await noticeSays('Moved 1 item');
  const shownAt = Date.now();
  await goTo('Overview');
  assert.match(await notice(), /Undo/);
  await page.waitForFunction(() => document.querySelector('.undo-notice').textContent.trim() === '', { timeout: 15000 });
  assert.ok(Date.now() - shownAt >= 9500, `gone after ${Date.now() - shownAt} ms`);
  assert.deepStrictEqual(page.problems, []);
});

// The Trash screen as a person sees it: light and dark, and at a phone's width, where it fits.
async function shoot(name) {
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: join(SHOTS, `${name}.png`) });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  await page.screenshot({ path: join(SHOTS, `${name}-dark.png`) });
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
  await page.setViewport(PHONE);
  await page.screenshot({ path: join(SHOTS, `${name}-phone.png`) });
  const fits = await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth);
  await page.setViewport(WIDE);
  assert.ok(fits, `${name} fits a phone`);
}
