// The screens that find and remove things, in Debian's headless Chromium, on real trees in a
// temporary folder that is also the home, the Trash and the temporary folder of `nimbra ui`.
// The program runs in a private mount namespace whose /Applications and /Library are folders
// of the test (and whose root is a tmpfs of bind mounts, since this machine has no
// /Applications to mount on). Every name a person could give a file is hostile here.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { chmodSync, closeSync, lchownSync, existsSync, mkdirSync, openSync, readFileSync, readdirSync, rmSync, truncateSync,
  utimesSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { NIMBRA, PHONE, SHOTS, WIDE, focused, goToScreen, launchBrowser, markTime, named, newPage, shoot, startUi,
  tempFolder, textOf, typeInto } from './support.mjs';

const folder = tempFolder();
const home = join(folder.path, 'home');
const tmp = join(home, 'tmp');
const trash = join(home, '.local/share/Trash');
const applications = join(folder.path, 'Applications');
const library = join(folder.path, 'Library');
const systemd = join(folder.path, 'systemd.log');
const busDown = join(folder.path, 'bus-down'); // while it exists, systemd's programs cannot reach it
const HOSTILE = '<img src=x onerror=window.__x=1>';
const DAY = 24 * 60 * 60;
const now = Math.floor(Date.now() / 1000);
const measured = {};
let ui;
let browser;
let page;

// A file of `size` bytes: sparse zeros, or `fill` repeated.
function file(path, size = 0, { fill = null, modified = null } = {}) {
  mkdirSync(dirname(path), { recursive: true });
  if (fill === null) {
    closeSync(openSync(path, 'w'));
    truncateSync(path, size);
  } else {
    writeFileSync(path, Buffer.alloc(size, fill));
  }
  if (modified !== null) utimesSync(path, modified, modified);
  return path;
}

const xml = (text) => text.replace(/&/g, '&amp;').replace(/</g, '&lt;');
const plistValue = (v) => (v === true ? '<true/>' : Array.isArray(v)
  ? `<array>${v.map(plistValue).join('')}</array>` : `<string>${xml(v)}</string>`);
const plist = (dict) => `<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict>${
  Object.entries(dict).map(([k, v]) => `<key>${k}</key>${plistValue(v)}`).join('')}</dict></plist>\n`;

// An application bundle with its information file and an icns icon holding one PNG.
function bundle(path, info, png) {
  const be32 = (n) => { const b = Buffer.alloc(4); b.writeUInt32BE(n); return b; };
  const entry = Buffer.concat([Buffer.from('ic07'), be32(png.length + 8), png]);
  mkdirSync(join(path, 'Contents/Resources'), { recursive: true });
  writeFileSync(join(path, 'Contents/Info.plist'), plist({ CFBundleShortVersionString: '2.1', CFBundleIconFile: 'App', ...info }));
  writeFileSync(join(path, 'Contents/Resources/App.icns'), Buffer.concat([Buffer.from('icns'), be32(entry.length + 8), entry]));
  file(join(path, 'Contents/MacOS/app'), 300000);
}

// Starts `nimbra ui` chrooted into a tmpfs that holds a bind mount of each top-level folder of
// this machine, plus `applications` and `library` bound on /Applications and /Library: nothing
// outside the namespace sees these mounts, and nothing is written to the machine's root.
const NEW_ROOT = `set -e
root=$1 apps=$2 library=$3
shift 3
mount -t tmpfs nimbra-root "$root"
for entry in /*; do
  name=\${entry#/}
  if [ -L "$entry" ]; then ln -s "$(readlink "$entry")" "$root/$name"
  elif [ -d "$entry" ]; then mkdir "$root/$name"; mount --rbind "$entry" "$root/$name"; fi
done
mkdir -p "$root/Applications"
mount --bind "$apps" "$root/Applications"
mkdir -p "$root/Library"
mount --bind "$library" "$root/Library"
exec chroot "$root" "$@"`;

before(async () => {
  mkdirSync(SHOTS, { recursive: true });
  mkdirSync(join(folder.path, 'root'));
  // Stand-ins for systemd's programs record how they are called; the user's agent is loaded.
  const bin = join(folder.path, 'bin');
  mkdirSync(bin);
  writeFileSync(join(folder.path, 'units.txt'), 'com.example.agent.service loaded active running\n');
  for (const program of ['systemctl', 'systemd-run', 'xdg-open', 'gdbus']) {
    writeFileSync(join(bin, program), `#!/bin/sh\nprintf '%s|' "\${0##*/}" "$@" >> '${systemd}'\necho >> '${systemd}'\n`
      + `[ -e '${busDown}' ] && { echo 'Failed to connect to bus: No medium found' >&2; exit 1; }\n`
      + `case " $* " in *' list-units '*) cat '${folder.path}/units.txt';; esac\n`);
    chmodSync(join(bin, program), 0o755);
  }
  browser = await launchBrowser(join(folder.path, 'profile'));
  page = await newPage(browser, null);
  // The icons: PNGs drawn by the browser, 128 px, for the service to scale to 64.
  const png = async (colour) => Buffer.from((await page.evaluate((c) => {
    const canvas = Object.assign(document.createElement('canvas'), { width: 128, height: 128 });
    const g = canvas.getContext('2d');
    g.fillStyle = c;
    g.fillRect(16, 16, 96, 96);
    return canvas.toDataURL('image/png');
  }, colour)).split(',')[1], 'base64');
  bundle(join(applications, 'Frame.app'), { CFBundleName: 'Frame', CFBundleIdentifier: 'com.example.frame' }, await png('#0072b2'));
  bundle(join(applications, 'Odd.app'), { CFBundleName: `${HOSTILE}\n\u202Eppa.exe`, CFBundleIdentifier: 'org.odd' }, await png('#e69f00'));
  bundle(join(home, 'Applications/Tk.app'), { CFBundleName: 'Tk', CFBundleIdentifier: 'com.example.toolkit' }, await png('#009e73'));
  mkdirSync(tmp, { recursive: true });
  for (const [folderName, label] of [['LaunchAgents', 'com.example.updater'], ['LaunchDaemons', 'com.example.backupd']]) {
    writeFileSync(file(join(library, folderName, `${label}.plist`)), plist({ Label: label, Program: '/usr/bin/true' }));
  }

  // No graphical session: no folder panel, file manager or opener can show anything.
  ui = await startUi(['--no-open', '--allow-root'], {
    HOME: home, XDG_DATA_HOME: join(home, '.local/share'), TMPDIR: tmp, PATH: `${bin}:${process.env.PATH}`,
    DISPLAY: '', WAYLAND_DISPLAY: '',
  }, ['unshare', '--mount', '--propagation', 'private', 'sh', '-c', NEW_ROOT, 'sh', join(folder.path, 'root'), applications, library]);
  await page.goto(ui.url);
});

after(async () => {
  await browser?.close();
  await ui?.stop();
  writeFileSync(join(SHOTS, 'screens-measurements.json'), `${JSON.stringify(measured, null, 2)}\n`);
  folder.remove();
});

const goTo = (screen) => goToScreen(page, screen);
const typeIn = (label, text) => typeInto(page, label, text);

// Scans with the form of the screen shown; answers the time from the answer to the drawn list.
// Focus, which the disabled "Scan" gave up, rests on the result's heading.
async function scan(folderPath, minSize, mark) {
  await page.waitForFunction(() => document.querySelector('main input')?.value);
  await typeIn('Folder', folderPath);
  await typeIn('Minimum size', minSize);
  await page.evaluate(() => performance.clearMarks());
  await (await named(page, 'button', 'Scan')).click();
  const drawn = await markTime(page, mark);
  assert.equal(await focused(page), await page.$eval('main .result-head', (e) => e.textContent.replace(/\s+/g, ' ').trim()));
  return Math.round(drawn - await page.evaluate(() => performance.getEntriesByName('nimbra:answer').at(-1).startTime));
}

const alert = () => page.$eval('main [role=alert]', (e) => e.textContent.replace(/\s+/g, ' ').trim()).catch(() => null);

const checkbox = (name) => named(page, 'checkbox', name);
const isChecked = async (name) => (await checkbox(name)).evaluate((e) => e.checked);
const chosenTotal = () => page.$eval('main .chosen-total', (e) => e.textContent.trim());

// Asks for `action` (unless the dialog is open already) and answers what the confirmation
// lists, with "Cancel" focused first; then confirms, or presses Escape. `shot` names a
// screenshot of the dialog.
async function confirmation(action, { confirm = true, ask = true, shot = null } = {}) {
  if (ask) await (await named(page, 'button', action)).click();
  const dialog = await page.waitForSelector('dialog[open]');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), 'Cancel');
  const listed = await dialog.$$eval('.going .path', (paths) => paths.map((p) => p.textContent));
  const stays = await dialog.$$eval('.staying .path', (paths) => paths.map((p) => p.textContent));
  const total = await dialog.$eval('.going-total', (e) => e.textContent);
  if (shot) await shoot(page, shot);
  if (confirm) {
    const button = await dialog.$('.buttons button:last-child');
    assert.equal(await textOf(button), action);
    await button.click();
  } else {
    await page.keyboard.press('Escape');
  }
  await page.waitForSelector('dialog[open]', { hidden: true });
  return { listed, total, stays };
}

const outcome = (text) => page.waitForFunction((t) => document.querySelector('main .outcome')?.textContent.includes(t), {}, text);
// What a move to the Trash says, in the notice that offers to undo it.
const moved = (text) => page.waitForFunction((t) => document.querySelector('.undo-notice')?.textContent.includes(t), {}, text);

// What each screen must be: no markup from a name, no problem on the console, no page wider
// than the window; and the screenshots, light and dark at 980 x 640, and at a phone's width.
async function checkAndShoot(name) {
  assert.equal(await page.evaluate(() => window.__x), undefined);
  assert.equal(await page.$('img:not(.app-icon)'), null, 'a name is never markup');
  assert.deepStrictEqual(page.problems, []);
  await page.evaluate(() => window.scrollTo(0, 0));
  await shoot(page, `${name}`);
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'dark' }]);
  await shoot(page, `${name}-dark`);
  await page.emulateMediaFeatures([{ name: 'prefers-color-scheme', value: 'light' }]);
  await page.setViewport(PHONE);
  await page.evaluate(() => window.scrollTo(0, 0));
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${name} fits a phone`);
  await shoot(page, `${name}-phone`);
  await page.setViewport(WIDE);
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth), `${name} fits 980 px`);
}

test('Every scanning screen takes ~ for the home folder, says when no folder is at a path, and why Choose… opens nothing', async () => {
  const music = join(home, 'Music');
  file(join(music, 'song.flac'), 2e6);
  file(join(home, 'notes.txt'), 10);
  for (const screen of ['Disk usage', 'Large files', 'Duplicates']) {
    await goTo(screen);
    await page.waitForFunction(() => document.querySelector('main input').value);
    if (screen !== 'Disk usage') await typeIn('Minimum size', '1MB');
    // A mistyped folder and a file are no folder, and focus goes back to the field to mend it.
    for (const typed of ['~/Musik', '~/notes.txt']) {
      await typeIn('Folder', typed);
      await (await named(page, 'button', 'Scan')).click();
      await page.waitForFunction(() => document.querySelector('main [role=alert]'));
      assert.equal(await alert(), `No folder at ${home}${typed.slice(1)}`, screen);
      assert.equal(await focused(page), 'Folder', screen);
    }
    await (await named(page, 'button', 'Measure')).click();
    await page.waitForFunction((t) => document.querySelector('main [role=alert]')?.textContent === `No folder at ${t}`, {},
      join(home, 'notes.txt'));
    // The folder scanned, with no old error above it, and measured.
    await typeIn('Folder', '~/Music');
    await (await named(page, 'button', 'Scan')).click();
    await page.waitForFunction((m) => document.querySelector('main .result-head')?.textContent.includes(m), {}, music);
    assert.equal(await alert(), null, screen);
    assert.equal(await focused(page), await page.$eval('main .result-head', (e) => e.textContent.replace(/\s+/g, ' ').trim()));
    await (await named(page, 'button', 'Measure')).click();
    await page.waitForFunction(() => document.querySelector('.measured')?.textContent === '2.0 MB in this folder');
  }
  // No desktop to show the folder panel on.
  await (await named(page, 'button', 'Choose…')).click();
  await page.waitForFunction(() => document.querySelector('main [role=alert]'));
  assert.match(await alert(), /^No folder panel can open here: it needs zenity or kdialog in a graphical session\. Type the folder/);
  assert.equal(await focused(page), 'Folder');
  assert.deepStrictEqual(page.problems, []);
});

test('Large files: the 400 largest, sorted, hostile names escaped, the chosen file deleted after confirmation', async () => {
  const videos = join(home, 'Videos');
  const movie = file(join(videos, 'movie.mkv'), 3e6);
  const odd = ['two\nlines.bin', '\u202Egnp.exe', 'bell\u0007.bin', `${HOSTILE}.iso`].map((n) => file(join(videos, n), 2e6));
  for (let i = 0; i < 450; ++i) file(join(videos, 'clips', `clip-${i}.bin`), 1e6);
  const neighbours = [file(join(videos, 'backup.tar'), 2.5e6), file(join(home, 'keep.bin'), 5e6), ...odd];

  await goTo('Large files');
  measured.large400AnswerToDrawnMs = await scan(videos, '1MB', 'nimbra:large-drawn');
  await page.waitForFunction(() => /The 400 largest of 456 files of 1\.0 MB or more/.test(document.querySelector('main').textContent));
  assert.match(await page.$eval('main details.gaps', (e) => e.textContent), /Not searched: hidden, tool, package folders\s*Hidden files and folders, the contents of packages/);
  assert.match(await page.$eval('main .result-head', (e) => e.textContent), /files of 1\.0 MB or more below/);
  assert.equal(await page.$$eval('table.items tbody tr', (rows) => rows.length), 400);
  // Odd characters read as escapes, in the text and in the checkboxes' names.
  for (const name of ['two\\nlines.bin', '\\u{202E}gnp.exe', 'bell\\u{0007}.bin', `${HOSTILE}.iso`]) await checkbox(`${videos}/${name}`);
  assert.deepStrictEqual(await page.$$eval('main .escape', (escapes) => escapes.map((e) => e.textContent).sort()),
    ['\\n', '\\u{0007}', '\\u{202E}']);

  const labels = () => page.$$eval('table.items tbody input', (boxes) => boxes.map((b) => b.getAttribute('aria-label')));
  await (await named(page, 'button', 'Path')).click();
  const byPath = await labels();
  assert.deepStrictEqual([byPath[0], byPath.at(-1)], [`${videos}/${HOSTILE}.iso`, `${videos}/\\u{202E}gnp.exe`]);
  await (await named(page, 'button', 'Size')).click();
  assert.equal((await labels())[0], movie);

  // The arrow keys move between rows; Space chooses.
  await (await checkbox(movie)).evaluate((box) => box.focus());
  await page.keyboard.press('ArrowDown');
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute('aria-label')), (await labels())[1]);
  await page.keyboard.press('ArrowUp');
  await page.keyboard.press('Space');
  assert.equal(await chosenTotal(), '1 file chosen, 3.0 MB');
  // Nothing here can show a file: Reveal says so, and what to do instead.
  await (await named(page, 'button', 'Reveal')).click();
  await page.waitForFunction(() => document.querySelector('main [role=alert]'));
  assert.equal(await alert(), `Nothing could show ${movie}: that needs a file manager (gdbus or xdg-open) in a graphical `
    + `session, and there is none where nimbra ui runs. Open the folder ${videos} yourself.`);

  // Escape leaves everything; the confirmed deletion removes exactly the chosen file, and focus
  // goes to the row now in its place, which Reveal and Open act on.
  const asked = await confirmation('Delete permanently', { confirm: false });
  assert.deepStrictEqual(asked, { listed: [movie], total: '1 file, 3.0 MB in all', stays: [] });
  assert.ok(existsSync(movie));
  await confirmation('Delete permanently');
  await outcome('Deleted 1 item for good, freeing 3.0 MB.');
  assert.ok(!existsSync(movie));
  assert.equal(await focused(page), (await labels())[0]);
  assert.equal(await page.$eval('tr.current input', (box) => box.getAttribute('aria-label')), (await labels())[0]);
  assert.equal(await alert(), null, 'the Reveal failure went with its file');
  for (const path of neighbours) assert.ok(existsSync(path), path);
  assert.equal(await page.$$eval('table.items tbody tr', (rows) => rows.length), 399);
  assert.match(await page.$eval('main', (e) => e.textContent), /The 400 largest of 456 files/);
  assert.equal(await chosenTotal(), 'Nothing chosen');
  await checkAndShoot('large-files');
});

test('Duplicates: helpers, a group always keeps a copy, one copy to the Trash, 10,000 groups, a cancelled scan', async () => {
  const pictures = join(home, 'Pictures');
  const at = (year, month) => Date.UTC(year, month - 1, 1) / 1000;
  const beach = [['2023/beach.jpg', at(2023, 6)], ['2024/beach.jpg', at(2024, 6)], ['beach.jpg', at(2023, 12)]]
    .map(([name, modified]) => file(join(pictures, name), 1.5e6, { fill: 'a', modified }));
  const notes = [['notes.pdf', at(2022, 1)], [`${HOSTILE}.pdf`, at(2021, 1)], ['old/\u202Efdp.exe', at(2020, 1)]]
    .map(([name, modified]) => file(join(pictures, name), 1.2e6, { fill: 'b', modified }));
  const oddNote = `${pictures}/old/\\u{202E}fdp.exe`;

  await goTo('Duplicates');
  await scan(pictures, '1MiB', 'nimbra:dupes-drawn');
  assert.match(await page.$eval('main .result-head', (e) => e.textContent), /^2 groups of identical files of 1\.0 MiB\s+or more/);
  // At a phone's width the first group shows above the fold, the date gives way and each path
  // stays on one line, shortened in the middle: a name that fits is shown whole.
  await page.setViewport(PHONE);
  await page.evaluate(() => window.scrollTo(0, 0));
  await shoot(page, 'duplicates-phone-result');
  assert.ok(await page.$eval('.groups tbody tr:not(.group-head)', (row) => row.getBoundingClientRect().bottom <= innerHeight),
    'the first copy is above the fold');
  assert.ok(await page.$eval('.groups thead th.optional', (column) => getComputedStyle(column).display === 'none'));
  assert.deepStrictEqual(await page.$$eval('.groups .middle-path', (paths) => paths.map((path) => {
    const [folders, name] = path.children;
    return [path.offsetHeight < 30, folders.scrollWidth > folders.clientWidth, name.textContent === 'beach.jpg'
      ? name.scrollWidth <= name.clientWidth : null];
  })), [...Array(3).fill([true, true, true]), ...Array(3).fill([true, true, null])]);
  await page.setViewport(WIDE);
  // A group goes by the name of the copy a rule keeps.
  const heads = () => page.$$eval('.group-head .name', (names) => names.map((name) => name.textContent));
  assert.deepStrictEqual(await heads(), ['beach.jpg', `${HOSTILE}.pdf`]);
  await (await named(page, 'button', 'Keep the newest')).click();
  assert.deepStrictEqual(await Promise.all([...beach, notes[0], notes[1], oddNote].map(isChecked)),
    [true, false, true, false, true, true]);
  assert.deepStrictEqual(await heads(), ['beach.jpg', 'notes.pdf']);
  await (await named(page, 'button', 'Keep the oldest')).click();
  assert.deepStrictEqual(await heads(), ['beach.jpg', '\\u{202E}fdp.exe']);
  await (await named(page, 'button', 'Keep the shortest path')).click();
  assert.deepStrictEqual(await Promise.all([...beach, ...notes.slice(0, 2), oddNote].map(isChecked)),
    [true, true, false, false, true, true]);
  // The folder to keep starts empty, and says when no copy lies in the one typed.
  assert.equal(await page.$eval('#dupes-keep', (field) => field.value), '');
  for (const [typed, chosen, note] of [['~/Pictures/old', [false, false, false, true, true, false], null],
    ['~/Nowhere', [false, false, false, false, false, false], `No copy lies in ${home}/Nowhere: nothing was chosen.`]]) {
    await typeIn('Keep the copies in folder', typed);
    await (await named(page, 'button', 'Keep these')).click();
    assert.deepStrictEqual(await Promise.all([...beach, ...notes.slice(0, 2), oddNote].map(isChecked)), chosen, typed);
    assert.equal(await page.$eval('main', (e) => e.querySelector('.keep-note')?.textContent ?? null), note);
  }
  // Each copy has Reveal; here nothing can show it, and it says so.
  await (await (await checkbox(beach[1])).evaluateHandle((box) => box.closest('tr').querySelector('td.reveal button'))).click();
  await page.waitForFunction(() => document.querySelector('main [role=alert]'));
  assert.match(await alert(), new RegExp(`^Nothing could show ${beach[1]}: `));

  await (await named(page, 'button', 'Choose none')).click();

  // The last copy of a group refuses to be chosen.
  for (const name of [notes[0], notes[1], oddNote]) await (await checkbox(name)).click();
  assert.deepStrictEqual(await Promise.all([notes[0], notes[1], oddNote].map(isChecked)), [true, true, false]);
  assert.equal(await (await checkbox(oddNote)).evaluate((e) => e.getAttribute('aria-disabled')), 'true');
  assert.equal(await chosenTotal(), '2 copies chosen, 2.4 MB to free');
  await checkAndShoot('duplicates');
  await (await named(page, 'button', 'Choose none')).click();

  // One copy goes to the Trash with its record of where it was; its twins stay.
  await (await checkbox(beach[0])).click();
  assert.deepStrictEqual(await confirmation('Move to Trash', { shot: 'duplicates-confirm' }),
    { listed: [beach[0]], total: '1 copy, 1.5 MB in all', stays: [beach[1], beach[2]] });
  await moved('Moved 1 item (1.5 MB) to the Trash');
  assert.equal(await focused(page), beach[1], 'the row in its place');
  assert.ok(!existsSync(beach[0]) && existsSync(beach[1]) && existsSync(beach[2]));
  const record = readFileSync(join(trash, 'info/beach.jpg.trashinfo'), 'utf8');
  assert.equal(decodeURIComponent(/^Path=(.*)$/m.exec(record)[1]), beach[0]);
  assert.equal(readFileSync(join(trash, 'files/beach.jpg')).length, 1.5e6);
  assert.match(await page.$eval('main', (e) => e.textContent), /2 copies of\s+beach\.jpg/);

  // Many groups: the first screenful drawn at once, more as the person scrolls, or asks.
  const many = join(folder.path, 'many');
  mkdirSync(many);
  for (let i = 0; i < 20000; ++i) writeFileSync(join(many, `${i}.txt`), `${String(i >> 1).padStart(12)}\n`);
  measured.dupes10000AnswerToFirstScreenMs = await scan(many, '1', 'nimbra:dupes-drawn');
  assert.match(await page.$eval('main', (e) => e.textContent), /10,000 groups of identical files/);
  const drawnGroups = () => page.$$eval('table.groups tbody', (groups) => groups.length);
  assert.equal(await drawnGroups(), 40);
  await named(page, 'button', 'Show 100 more of 9,960 groups');
  await page.evaluate(() => window.scrollTo(0, document.documentElement.scrollHeight));
  await page.waitForFunction(() => document.querySelectorAll('table.groups tbody').length === 140);
  await page.evaluate(() => window.scrollTo(0, document.documentElement.scrollHeight));
  await page.waitForFunction(() => document.querySelectorAll('table.groups tbody').length === 240);
  // The button is the keyboard's way to more. Back at the top nothing more is drawn by itself (a
  // slow machine may have drawn on while the end was in view), and the button, focused where it
  // stands, asks for the next 100: scrolled to, it would draw more and move away from a pointer.
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.evaluate(() => new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done))));
  const drawn = await drawnGroups();
  assert.ok(drawn >= 240);
  const more = await named(page, 'button', `Show 100 more of ${(10000 - drawn).toLocaleString('en-US')} groups`);
  await more.evaluate((button) => button.focus({ preventScroll: true }));
  await page.keyboard.press('Enter');
  await page.waitForFunction((n) => document.querySelectorAll('table.groups tbody').length === n, {}, drawn + 100);

  // A scan of large files cancelled while it reads them: what it found, marked partial.
  const big = join(folder.path, 'big');
  for (let i = 0; i < 4; ++i) file(join(big, `disk-${i}.img`), 2 ** 30);
  await typeIn('Folder', big);
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForSelector('::-p-aria([role="progressbar"])');
  await (await named(page, 'button', 'Cancel')).click();
  await page.waitForFunction(() => /Partial/.test(document.querySelector('main .partial')?.textContent));
  assert.equal(await page.$('progress'), null);
  assert.deepStrictEqual(page.problems, []);
});

test('Junk: the temporary files chosen but those held back go to the Trash, and the Trash is emptied of exactly what was listed', async () => {
  const old = now - 3 * DAY;
  const entries = ['old.log', 'old-build/out.o', `${HOSTILE}\n.tmp`].map((name) => file(join(tmp, name), 40000, { modified: old }));
  const theirs = file(join(tmp, 'theirs.tmp'), 40000, { modified: old });
  lchownSync(theirs, 65534, 65534);
  file(join(tmp, 'unpacking/part'), 40000);  // an old folder, something in it written just now
  file(join(tmp, 'pipes/data'), 40000, { modified: old });  // and a program's FIFO
  execFileSync('mkfifo', [join(tmp, 'pipes/fifo')]);
  for (const folder of ['old-build', 'unpacking', 'pipes']) utimesSync(join(tmp, folder), old, old);
  const recent = file(join(tmp, 'recent.tmp'), 40000);
  // The temporary folder ends in "/": the service's paths read T//name, shown as T/name.
  const keptBack = [`${tmp}/recent.tmp`, `${tmp}/theirs.tmp`, `${tmp}/unpacking`, `${tmp}/pipes`];
  const cache = file(join(home, 'Library/Caches/com.example.cache/data.bin'), 50000);
  file(join(home, 'Library/Caches/Firefox/profile/cache.bin'), 2e6);  // an item with no date
  const shownEntries = [`${tmp}/old.log`, `${tmp}/old-build`, `${tmp}/${HOSTILE}\\n.tmp`];

  await goTo('Junk');
  await page.evaluate(() => performance.clearMarks());
  await (await named(page, 'button', 'Scan')).click();
  await markTime(page, 'nimbra:junk-drawn');
  assert.equal(await focused(page), await page.$eval('main .result-head', (e) => e.textContent.replace(/\s+/g, ' ').trim()));
  await (await named(page, 'button', 'Temporary files')).click();
  await (await named(page, 'button', 'Application caches')).click();
  await (await named(page, 'button', 'Browser caches')).click();
  // Each category's table has its columns where the others have theirs.
  const columns = await page.$$eval('.category table', (tables) => tables.map((table) => [...table.querySelectorAll('thead th')]
    .map((th) => Math.round(th.getBoundingClientRect().left)).join()));
  assert.ok(columns.length === 3 && new Set(columns).size === 1, columns.join(' / '));
  assert.ok(!(await page.$eval('main', (e) => e.textContent)).includes('//'));
  await (await checkbox('Temporary files')).click();
  assert.deepStrictEqual(await Promise.all([...shownEntries, ...keptBack].map(isChecked)), [true, true, true, false, false, false, false]);
  const reasons = await page.$$eval('main .held-back', (marks) => marks.map((mark) => mark.textContent).sort());
  assert.deepStrictEqual(reasons, ["Left unchosen: another user's", ...Array(2).fill('Left unchosen: changed in the last 24 hours'),
    'Left unchosen: is or holds a socket, FIFO or device']);
  await checkAndShoot('junk');

  const labels = () => page.$$eval('main table.grid tbody input', (boxes) => boxes.map((box) => box.getAttribute('aria-label')));
  const before = await labels();
  const first = await page.$$eval('main table.grid tbody input', (boxes) => boxes.findIndex((box) => box.checked));
  const { listed } = await confirmation('Move to Trash');
  assert.deepStrictEqual(listed.sort(), [...shownEntries].sort());
  await moved('Moved 3 items');
  assert.equal(await focused(page), (await labels())[first], `the row in place of ${before[first]}`);
  for (const entry of entries) assert.ok(!existsSync(entry), entry);
  assert.ok([recent, theirs, join(tmp, 'unpacking/part'), cache].every(existsSync));
  assert.equal(readdirSync(join(trash, 'info')).length, 4, 'three entries besides the copy trashed before');

  // Something reaches the Trash after the screen drew its figure: the dialog lists it too, by
  // where it came from and when; what arrives while the dialog is open stays.
  const iso = file(join(trash, 'files/disk.iso'), 70000);
  writeFileSync(join(trash, 'info/disk.iso.trashinfo'), `[Trash Info]\nPath=${join(home, 'Downloads/disk.iso')}\nDeletionDate=2026-01-02T03:04:05\n`);
  await (await named(page, 'button', 'Empty Trash')).click();
  const dialog = await page.waitForSelector('dialog[open]');
  const going = await dialog.$$eval('.going li', (items) => items.map((item) => item.textContent.replace(/\s+/g, ' ').trim()));
  assert.equal(going.length, 5);
  assert.ok(going.some((item) => item.startsWith(`${join(home, 'Downloads/disk.iso')} moved Jan 2, 2026`)), going.join('\n'));
  assert.ok(going.every((item) => !item.includes('/Trash/files/')), 'the Trash\'s inner names are not shown');
  await shoot(page, 'junk-empty-trash');
  const late = file(join(trash, 'files/late.bin'), 10);
  const trashed = await confirmation('Empty Trash', { ask: false });
  assert.equal(trashed.total, '5 items, 1.7 MB in all');
  await outcome('Deleted 5 items');
  assert.equal(await focused(page), 'Trash', 'focus rests on the emptied Trash');
  assert.deepStrictEqual([readdirSync(join(trash, 'files')), readdirSync(join(trash, 'info'))], [['late.bin'], []]);
  assert.ok(!existsSync(iso) && existsSync(late));
  assert.ok(existsSync(recent) && existsSync(cache));
  assert.deepStrictEqual(page.problems, []);
});

test('Applications: icons from /Applications, leftovers chosen by how sure they are, uninstalled through the Trash', async () => {
  const library = join(home, 'Library');
  const strong = [join(library, 'Caches/com.example.toolkit/cache.db'), join(library, 'Preferences/com.example.toolkit.plist'),
    join(library, `Caches/com.example.toolkit ${HOSTILE}`)].map((path) => file(path, 20000));
  const weak = file(join(library, 'Application Support/Toolkit/state.json'), 10000);
  const [toolkitCache, toolkitPrefs, toolkitOdd] = [dirname(strong[0]), strong[1], strong[2]];

  await goTo('Applications');
  await markTime(page, 'nimbra:apps-drawn');
  assert.deepStrictEqual(await page.$$eval('table.apps img.app-icon', (icons) => icons.map((i) => [i.complete, i.naturalWidth])),
    [[true, 64], [true, 64], [true, 64]]);
  await named(page, 'button', `${HOSTILE}\\n\\u{202E}ppa.exe`);

  await (await named(page, 'button', 'Tk')).click();
  await page.waitForSelector('table.leftovers');
  assert.deepStrictEqual(await Promise.all([toolkitCache, toolkitPrefs, toolkitOdd, dirname(weak)].map(isChecked)),
    [true, true, true, false]);
  assert.match(await page.$eval('.app-detail', (e) => e.textContent), /only its name matches the end of com\.example\.toolkit/);
  await checkAndShoot('applications');

  const tk = join(home, 'Applications/Tk.app');
  const appNames = () => page.$$eval('table.apps tbody th button', (buttons) => buttons.map((b) => b.textContent));
  const tkAt = (await appNames()).indexOf('Tk');
  const { listed } = await confirmation('Uninstall');
  assert.deepStrictEqual([listed[0], listed.slice(1).sort()], [tk, [toolkitCache, toolkitOdd, toolkitPrefs].sort()]);
  await moved('Moved 4 items');
  assert.ok(!existsSync(tk) && existsSync(join(trash, 'files/Tk.app/Contents/Info.plist')));
  assert.ok(existsSync(join(trash, 'info/Tk.app.trashinfo')));
  for (const path of [toolkitCache, toolkitPrefs, toolkitOdd]) assert.ok(!existsSync(path), path);
  assert.ok(existsSync(weak));
  assert.equal(await page.$('::-p-aria([name="Tk"][role="button"])'), null);
  const appsLeft = await appNames();
  assert.equal(await focused(page), appsLeft[Math.min(tkAt, appsLeft.length - 1)], 'the application listed in its place');

  // /Applications is another mount than the home's Trash: the application cannot move, says
  // why, and its leftovers stay with it. The administrator's way deletes for good what is there
  // by then: a leftover gone since is not listed, one that came since is.
  const frameCache = file(join(library, 'Caches/com.example.frame/cache.db'), 30000);
  const framePrefs = file(join(library, 'Preferences/com.example.frame.plist'), 2000);
  const frame = '/Applications/Frame.app';
  await (await named(page, 'button', 'Frame')).click();
  await page.waitForSelector('table.leftovers');
  assert.deepStrictEqual((await confirmation('Uninstall')).listed, [frame, dirname(frameCache), framePrefs]);
  await outcome('Frame could not be moved to the Trash, so nothing else was: its leftovers stay with it.');
  await page.waitForFunction(() => /Not removed: .*cross-device/.test(document.querySelector('table.apps')?.textContent));
  assert.ok([join(applications, 'Frame.app/Contents/Info.plist'), frameCache, framePrefs].every(existsSync));
  assert.ok(!readdirSync(join(trash, 'files')).some((name) => /frame/i.test(name)));
  assert.equal(await focused(page), 'Uninstall', 'on what is still there');
  await checkAndShoot('applications-not-moved');
  await shoot(page, 'applications-not-moved-whole', { fullPage: true });  // the offer is below the fold

  rmSync(framePrefs);
  const frameLogs = dirname(file(join(library, 'Logs/Frame/frame.log'), 500));
  const asAdministrator = await confirmation('Uninstall as administrator');
  assert.deepStrictEqual(asAdministrator.listed, [frame, dirname(frameCache), frameLogs]);
  assert.match(asAdministrator.total, /^3 items, 33\d\.\d KB in all$/);
  await outcome('Deleted 3 items');
  assert.ok(![join(applications, 'Frame.app'), dirname(frameCache), frameLogs].some(existsSync));
  assert.equal(await page.$('::-p-aria([name="Frame"][role="button"])'), null);
  assert.deepStrictEqual(page.problems, []);
});

test('Startup items switch a launch agent off in its file and remove another; Memory lists the top processes', async () => {
  const agents = join(home, 'Library/LaunchAgents');
  const agent = join(agents, 'com.example.agent.plist');
  writeFileSync(file(agent), plist({ Label: 'com.example.agent', ProgramArguments: ['/bin/true'], RunAtLoad: true }));
  const odd = join(agents, 'odd.plist');
  writeFileSync(file(odd), plist({ Label: `${HOSTILE}\nagent`, Program: '/bin/true' }));

  await goTo('Startup items');
  const toggle = await named(page, 'switch', 'com.example.agent');
  assert.equal(await toggle.evaluate((e) => e.checked), true, 'loaded, so on');
  // The jobs of every user are marked as needing an administrator.
  assert.deepStrictEqual(await page.$$eval('.startup-item', (items) => items.map((i) => [
    i.querySelector('[role=switch]').getAttribute('aria-label'), i.querySelector('.lock') !== null]).sort()),
  [[`${HOSTILE}\\nagent`, false], ['com.example.agent', false], ['com.example.backupd', true], ['com.example.updater', true]]);
  await toggle.focus();
  await page.keyboard.press('Space');
  await page.waitForFunction(() => /Switched off/.test(document.querySelector('.startup-items').textContent));
  assert.equal(await focused(page), 'com.example.agent', 'the switch keeps focus through its call');
  assert.match(readFileSync(agent, 'utf8'), /<key>Disabled<\/key>\s*<true\/>/);
  assert.ok(readFileSync(systemd, 'utf8').includes('systemctl|--user|stop|com.example.agent.service|\n'));
  // Switched back on while systemd cannot be reached: the switch stays off and says why.
  writeFileSync(busDown, '');
  await toggle.focus();
  await page.keyboard.press('Space');
  await page.waitForFunction(() => /Could not switch it on: Failed to connect to bus: No medium found\./
    .test(document.querySelector('.startup-items').textContent));
  rmSync(busDown);
  assert.deepStrictEqual(await toggle.evaluate((e) => [e.checked, e.closest('li').textContent.includes('Off')]), [false, true]);
  await checkAndShoot('startup-items');

  const oddSwitch = await named(page, 'switch', `${HOSTILE}\\nagent`);
  const rowNames = () => page.$$eval('.startup-item [role=switch]', (switches) => switches.map((e) => e.getAttribute('aria-label')));
  const oddAt = (await rowNames()).indexOf(`${HOSTILE}\\nagent`);
  await (await oddSwitch.evaluateHandle((e) => e.closest('li').querySelector('button'))).click();
  const { listed } = await confirmation('Remove', { ask: false });
  assert.deepStrictEqual(listed, [odd]);
  await page.waitForFunction(() => document.querySelectorAll('.startup-item').length === 3);
  const left = await rowNames();
  assert.ok([left[Math.min(oddAt, left.length - 1)], 'Remove'].includes(await focused(page)), 'a control of the row in its place');
  assert.ok(!existsSync(odd) && existsSync(agent));

  await goTo('Memory');
  await markTime(page, 'nimbra:memory-drawn');
  const listedProcesses = await page.$$eval('.processes tbody tr', (rows) => rows.map((r) => r.cells[1].textContent.trim()));
  const running = JSON.parse(execFileSync(NIMBRA, ['call', 'memoryInfo'], { encoding: 'utf8' })).topProcesses.map((p) => String(p.pid));
  assert.ok(listedProcesses.length > 0 && listedProcesses.some((pid) => running.includes(pid)), `${listedProcesses} / ${running}`);
  await checkAndShoot('memory');
});

test('Disk usage: chosen in the rings, the treemap, the tree and a kind\'s list, removed, and subtracted without a new scan; File types and Age', async () => {
  const disk = join(home, 'Disk');
  const ago = (days) => now - days * DAY;
  const c = file(join(disk, 'photos/2024/trip/c.jpg'), 8e5);  // below the tree's three levels
  file(join(disk, 'photos/2024/a.jpg'), 3e6, { modified: ago(400) });
  file(join(disk, 'photos/2024/b.png'), 1e6);
  file(join(disk, 'photos/old.jpg'), 5e5, { modified: ago(1100) });
  file(join(disk, 'Album.photoslibrary/resources/x.dat'), 2.5e6);  // an image by its package
  const videos = dirname(file(join(disk, 'videos/clip.mp4'), 4e6, { modified: ago(100) }));
  file(join(disk, 'videos/deep/film.mkv'), 2e6);
  const notes = dirname(file(join(disk, 'notes/todo.txt'), 1e4));
  const zip = file(join(disk, `${HOSTILE}.zip`), 6e5);

  await goTo('Disk usage');
  await typeIn('Folder', disk);
  await (await named(page, 'button', 'Scan')).click();
  await page.waitForFunction((d) => document.querySelector('main .result-head')?.textContent.includes(d), {}, disk);
  const total = () => page.$eval('table.disk-tree tbody.total td.number', (e) => e.textContent);
  const scanned = await page.evaluate(() => performance.getEntriesByName('nimbra:answer:analyzeDisk').at(-1).startTime);
  assert.equal(await total(), '14.4 MB');

  // In the rings with the keyboard, in the tree by its checkbox, in the list of a kind's largest
  // files: that list is of what File types counts, the photo library's contents among them.
  await (await named(page, 'button', 'videos, 6.0 MB')).evaluate((piece) => piece.focus());
  await page.keyboard.down('Shift');
  await page.keyboard.press('Enter');
  await page.keyboard.up('Shift');
  await named(page, 'button', 'videos, 6.0 MB, chosen');
  assert.ok(await isChecked(videos), 'the tree shows what the chart chose');
  await (await checkbox(notes)).click();
  await (await named(page, 'button', 'File types')).click();
  const images = await named(page, 'button', 'Images');
  await images.click();
  assert.equal(await images.evaluate((e) => e.getAttribute('aria-expanded')), 'true');
  const typeRows = () => page.$$eval('table.stats tbody tr', (rows) => rows.map((row) => [...row.cells]
    .map((cell) => cell.textContent.replace(/[▸▾]/g, '').trim())).filter((cells) => cells.length > 1).map((cells) => `${cells[0]} ${cells[1]}`));
  assert.deepStrictEqual((await typeRows()).slice(0, 5), ['Images 7.8 MB', '.jpg 4.3 MB', '.png 1.0 MB', 'other extensions 2.5 MB',
    'Video 6.0 MB']);
  await (await named(page, 'button', 'List the largest images')).click();
  await markTime(page, 'nimbra:largest-drawn');
  assert.deepStrictEqual(await page.$$eval('table.largest-files input', (boxes) => boxes.map((box) => box.getAttribute('aria-label'))),
    ['photos/2024/a.jpg', 'Album.photoslibrary/resources/x.dat', 'photos/2024/b.png', 'photos/2024/trip/c.jpg', 'photos/old.jpg']
      .map((path) => join(disk, path)));
  await (await checkbox(c)).click();
  assert.equal(await chosenTotal(), '3 items chosen, 6.8 MB');
  // The pictures without the notice of the screens before, once it has gone.
  await page.waitForFunction(() => !document.querySelector('.undo-notice p'), { timeout: 20000 });
  await checkAndShoot('disk-usage-types');
  await shoot(page, 'disk-usage-types-whole', { fullPage: true });
  await (await named(page, 'button', 'Age')).click();
  assert.deepStrictEqual(await page.$$eval('table.stats tbody tr', (rows) => rows.map((row) => `${row.cells[0].textContent} ${row.cells[1].textContent}`)),
    ['Under a month 6.9 MB', '1–6 months 4.0 MB', '6–12 months 0 B', '1–2 years 3.0 MB', 'Over 2 years 500.0 KB']);
  await checkAndShoot('disk-usage-ages');

  // What went is subtracted from every folder above it, as deep as the tree goes; Undo adds it back.
  const { listed } = await confirmation('Move to Trash');
  assert.deepStrictEqual(listed, [videos, notes, c]);
  await moved('Moved 3 items (6.8 MB) to the Trash');
  assert.ok(![videos, notes, c].some(existsSync) && existsSync(zip));
  await (await named(page, 'button', 'Rings')).click();
  assert.equal(await total(), '7.6 MB');
  assert.ok(await named(page, 'button', 'photos, 4.5 MB'));
  assert.equal(await page.$('::-p-aria([name="videos, 6.0 MB"][role="button"])'), null);
  await (await named(page, 'button', 'Expand photos')).click();
  await (await named(page, 'button', 'Expand 2024')).click();
  const treeRows = () => page.$$eval('table.disk-tree tbody:not(.total) tr', (rows) => rows.map((row) =>
    `${row.cells[1].textContent.trim()} ${row.cells[2].textContent}`));
  assert.deepStrictEqual(await treeRows(), ['photos/ 4.5 MB', '2024/ 4.0 MB', 'a.jpg 3.0 MB', 'b.png 1.0 MB', 'old.jpg 500.0 KB',
    'Album.photoslibrary/ 2.5 MB', `${HOSTILE}.zip 600.0 KB`]);
  await (await named(page, 'button', 'Undo')).click();
  await page.waitForFunction(() => document.querySelector('table.disk-tree tbody.total td.number').textContent === '14.4 MB');
  assert.ok(await named(page, 'button', 'videos, 6.0 MB') && [videos, notes, c].every(existsSync));
  assert.deepStrictEqual(await treeRows(), ['videos/ 6.0 MB', 'photos/ 5.3 MB', '2024/ 4.8 MB', 'a.jpg 3.0 MB', 'b.png 1.0 MB',
    'trip/ 800.0 KB', 'old.jpg 500.0 KB', 'Album.photoslibrary/ 2.5 MB', `${HOSTILE}.zip 600.0 KB`, 'notes/ 10.0 KB']);

  // Shift-click in the treemap, then for good.
  await (await named(page, 'button', 'Treemap')).click();
  await page.keyboard.down('Shift');
  await (await named(page, 'button', `${HOSTILE}.zip, 600.0 KB`)).click();
  await page.keyboard.up('Shift');
  assert.equal(await chosenTotal(), '1 item chosen, 600.0 KB');
  await confirmation('Delete permanently');
  await outcome('Deleted 1 item for good, freeing 600.0 KB.');
  assert.ok(!existsSync(zip) && existsSync(videos));
  assert.equal(await total(), '13.8 MB');
  assert.equal(await page.evaluate(() => performance.getEntriesByName('nimbra:answer:analyzeDisk').at(-1).startTime), scanned,
    'no new scan');
  await checkAndShoot('disk-usage-removed');
});
