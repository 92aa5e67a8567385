// Duplicates: groups of identical files below a folder, those that waste the most first. The
// person chooses copies to remove, by hand or with a helper that keeps one kind of copy in
// every group; whatever is chosen, every group keeps at least one copy.

import { html, nothing } from '../vendor/lit-html.js';
import { keepHelpers, within } from './choice.js';
import { folderOf } from './folders.js';
import { formatBytes, formatCount, formatDate, plural } from './format.js';
import { baseName, shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, MOVE_TO_TRASH, outcomeView, removeItems } from './removal.js';
import { ScanForm } from './scan_form.js';
import { DUPLICATES_SKIP, gapsView } from './scan_gaps.js';
import { failure, middlePath, notRemoved, onGridFocus, onGridKey, showOnDesktop } from './widgets.js';

// The groups drawn at first: more than the tallest window shows, few enough to draw at once
// (10,000 groups drawn whole took over a second, 500 of them 350 ms).
const FIRST = 40;
// Drawn each time the person scrolls near the last group drawn, or asks for more.
const PAGE = 100;
// How near, in pixels below the window, the last group drawn has to come.
const AHEAD = 800;

export class DuplicatesScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Duplicates';
    this.form = new ScanForm(app, 'dupes', { minSize: '1MB' });
    this.scanned = null; // { root, minSizeShown, count, cancelled, answer } of the shown result
    this.groups = [];
    this.shownGroups = FIRST;
    // Draws more as the person scrolls towards the end of what is drawn.
    this.nearEnd = new IntersectionObserver((seen) => {
      if (seen.some((entry) => entry.isIntersecting)) this.showMore();
    }, { rootMargin: `0px 0px ${AHEAD}px 0px` });
    this.chosen = new Set(); // paths
    this.failed = new Map(); // path -> why a removal left it
    this.keepFolder = '';
    this.keepNote = null; // what "Keep these" found, when it found nothing to keep
    this.outcome = null;
    this.error = null;
  }

  show() {
    this.form.prefill();
  }

  async scan() {
    this.error = null;
    const run = await this.form.run('scanDuplicates');
    if (!run) return;
    const { root, minSizeShown, answer } = run;
    this.scanned = { root, minSizeShown, count: answer.scanned ?? 0, cancelled: answer.cancelled === true, answer };
    this.groups = answer.groups;
    this.shownGroups = FIRST;
    this.chosen.clear();
    this.failed.clear();
    this.outcome = null;
    this.keepNote = null;
    this.app.update('nimbra:dupes-drawn');
  }

  showMore() {
    if (this.shownGroups >= this.groups.length) return;
    this.shownGroups += PAGE;
    this.app.update();
  }

  // After drawing: the button for more is watched, and when it is still near, more are drawn.
  drawn() {
    const more = this.app.host.querySelector('main button.more');
    if (more === this.watched) {
      if (more && more.getBoundingClientRect().top < innerHeight + AHEAD) this.showMore();
      return;
    }
    if (this.watched) this.nearEnd.unobserve(this.watched);
    this.watched = more;
    if (more) this.nearEnd.observe(more);
  }

  // The copies of `group` not chosen.
  keptOf(group) {
    return group.files.filter((file) => !this.chosen.has(file.path));
  }

  // Chooses or unchooses one copy; refuses to choose a group's last kept copy.
  toggle(group, file) {
    if (this.chosen.has(file.path)) {
      this.chosen.delete(file.path);
    } else if (this.keptOf(group).length > 1) {
      this.chosen.add(file.path);
    } else {
      return false;
    }
    this.keepNote = null;
    this.app.update();
    return true;
  }

  // Replaces the choice with what a helper chooses in every group.
  applyHelper(helper, ...args) {
    this.chosen.clear();
    this.keepNote = null;
    for (const group of this.groups) for (const path of helper(group.files, ...args)) this.chosen.add(path);
    this.app.update();
  }

  // "Keep these": the copies in the folder typed stay, the others of their groups are chosen.
  async keepInFolder() {
    try {
      const folder = await folderOf(this.app, this.keepFolder);
      this.applyHelper(keepHelpers.inFolder, folder);
      if (!this.groups.some((group) => group.files.some((file) => within(file.path, folder)))) {
        this.keepNote = `No copy lies in ${folder}: nothing was chosen.`;
      } else if (this.chosen.size === 0) {
        this.keepNote = `Every copy lies in ${folder}: nothing was chosen.`;
      }
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // The copies that stay in the groups that lose one: what the confirmation shows beside them.
  get stayingFiles() {
    return this.groups.filter((group) => group.files.some((file) => this.chosen.has(file.path)))
      .flatMap((group) => this.keptOf(group));
  }

  get chosenFiles() {
    return this.groups.flatMap((group) => group.files.filter((file) => this.chosen.has(file.path)));
  }

  async remove(action) {
    const before = this.groups;
    const going = this.chosenFiles;
    const outcome = await removeItems(this.app, going, { action, noun: ['copy', 'copies'],
      stays: this.stayingFiles.map((file) => ({ path: file.path })),
      putBack: (paths) => this.putBack(before, going, paths) });
    if (!outcome) return;
    this.outcome = outcome;
    this.error = null;
    for (const [path, reason] of outcome.failed) this.failed.set(path, reason);
    // A group left with one copy holds no duplicate any more.
    this.groups = this.groups.flatMap((group) => {
      const files = group.files.filter((file) => !outcome.covers(file.path));
      if (files.length < 2) return [];
      return [{ ...group, files, wasted: Number(group.size) * (files.length - 1) }];
    });
    for (const path of [...this.chosen]) if (outcome.covers(path)) this.chosen.delete(path);
    this.app.update();
  }

  // Copies back from the Trash rejoin their group (`before` the groups as they were when
  // `going` went), and a group that had gone with them is listed again.
  putBack(before, going, paths) {
    const back = new Set(paths);
    const went = new Set(going.map((file) => file.path));
    const now = new Map(this.groups.map((group) => [group.hash, group]));
    for (const old of before) {
      const returning = old.files.filter((file) => back.has(file.path));
      if (!returning.length) continue;
      const kept = now.get(old.hash)?.files ?? old.files.filter((file) => !went.has(file.path));
      const files = [...kept, ...returning].sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
      now.set(old.hash, { ...old, files, wasted: Number(old.size) * (files.length - 1) });
    }
    this.groups = [...now.values()].filter((group) => group.files.length > 1)
      .sort((a, b) => Number(b.wasted) - Number(a.wasted));
    this.app.update();
  }

  view() {
    return html`
      <div class="screen-head"><h1 tabindex="-1">Duplicates</h1></div>
      ${this.form.view(() => this.scan())}
      ${this.error ? failure(this.error) : nothing}
      ${this.scanned ? this.resultView() : html`<p class="quiet">Scan a folder to find files with the same content.</p>`}`;
  }

  resultView() {
    const { root, minSizeShown, count, cancelled, answer } = this.scanned;
    const wasted = this.groups.reduce((sum, group) => sum + Number(group.wasted), 0);
    const chosen = this.chosenFiles;
    const frees = chosen.reduce((sum, file) => sum + Number(file.size), 0);
    const busy = this.app.work !== null;
    return html`
      ${cancelled ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        these are the groups it completed before.</p>` : nothing}
      <p class="quiet result-head" role="heading" aria-level="2" tabindex="-1">${plural(this.groups.length, 'group', 'groups')} of identical files of ${minSizeShown}
        or more below <span class="path">${shown(root)}</span>, of ${formatCount(count)} files looked at;
        the extra copies take ${formatBytes(wasted)}.</p>
      ${gapsView(answer, { skips: DUPLICATES_SKIP, unnamedWhat: ['copy is', 'copies are'] })}
      ${outcomeView(this.outcome)}
      ${this.groups.length ? html`
      <div class="helpers" role="group" aria-label="Choose all but one copy in every group">
        <button type="button" @click=${() => this.applyHelper(keepHelpers.newest)}>Keep the newest</button>
        <button type="button" @click=${() => this.applyHelper(keepHelpers.oldest)}>Keep the oldest</button>
        <button type="button" @click=${() => this.applyHelper(keepHelpers.shortestPath)}>Keep the shortest path</button>
        <form class="keep-folder" @submit=${(e) => { e.preventDefault(); this.keepInFolder(); }}>
          <label for="dupes-keep">Keep the copies in folder</label>
          <input id="dupes-keep" type="text" autocomplete="off" spellcheck="false" .value=${this.keepFolder}
            @input=${(e) => { this.keepFolder = e.target.value; this.app.update(); }}>
          <button type="submit" ?disabled=${!this.keepFolder}>Keep these</button>
        </form>
        <button type="button" ?disabled=${!chosen.length} @click=${() => this.applyHelper(() => [])}>Choose none</button>
      </div>
      ${this.keepNote ? html`<p class="quiet keep-note" role="status">${this.keepNote}</p>` : nothing}
      <div class="toolbar">
        <p class="chosen-total" aria-live="polite">${chosen.length
          ? `${plural(chosen.length, 'copy', 'copies')} chosen, ${formatBytes(frees)} to free` : 'Nothing chosen'}</p>
        <button type="button" class="primary" ?disabled=${busy || !chosen.length} @click=${() => this.remove(MOVE_TO_TRASH)}>${MOVE_TO_TRASH}</button>
        <button type="button" class="danger" ?disabled=${busy || !chosen.length} @click=${() => this.remove(DELETE_PERMANENTLY)}>${DELETE_PERMANENTLY}</button>
      </div>
      ${this.tableView()}` : html`<p class="quiet">No duplicates here.</p>`}`;
  }

  tableView() {
    const groups = this.groups.slice(0, this.shownGroups);
    const more = this.groups.length - groups.length;
    return html`<table class="grid items groups" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption class="hidden">Groups of identical files, the most space wasted first</caption>
      <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th><th scope="col">Copy</th>
        <th scope="col" class="number optional">Modified</th><th scope="col" class="reveal"><span class="hidden">Reveal</span></th></tr></thead>
      ${groups.map((group, index) => this.groupView(group, index))}
    </table>
    ${more > 0 ? html`<button type="button" class="more" @click=${() => this.showMore()}>Show
      ${formatCount(Math.min(more, PAGE))} more of ${formatCount(more)} groups</button>` : nothing}`;
  }

  groupView(group, index) {
    const kept = this.keptOf(group);
    const lastKept = kept.length === 1;
    const row = (file, at) => {
      const keptLast = lastKept && !this.chosen.has(file.path);
      const pathId = `dupes-path-${index}-${at}`;
      return html`<tr class=${keptLast ? 'kept' : ''}>
        <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(file.path)}
          aria-disabled=${keptLast ? 'true' : 'false'} .checked=${this.chosen.has(file.path)}
          @click=${(e) => { if (!this.toggle(group, file)) e.preventDefault(); }}></td>
        <td class="copy"><span id=${pathId}>${middlePath(file.path)}</span>${keptLast ? html`<span class="kept-note">kept: a group keeps
          one copy</span>` : nothing}${notRemoved(this.failed.get(file.path))}</td>
        <td class="number optional">${formatDate(file.modified)}</td>
        <td class="reveal"><button type="button" tabindex="-1" aria-describedby=${pathId}
          @click=${() => this.reveal(file.path)}>Reveal</button></td>
      </tr>`;
    };
    // Once copies are chosen, the group goes by the name of one that stays.
    const named = kept.length < group.files.length ? kept[0] : group.files[0];
    return html`<tbody>
      <tr class="group-head"><th colspan="4" scope="rowgroup">${plural(group.files.length, 'copy', 'copies')} of
        <span class="name">${shown(baseName(named.path))}</span> · ${formatBytes(group.size)} each ·
        ${formatBytes(group.wasted)} wasted</th></tr>
      ${group.files.map(row)}
    </tbody>`;
  }

  async reveal(path) {
    this.error = null;
    try {
      await showOnDesktop(this.app, 'revealPath', path);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }
}
