// Duplicates: groups of identical files below a folder, those that waste the most first. The
// person chooses copies to remove, by hand or with a helper that keeps one kind of copy in
// every group; whatever is chosen, every group keeps at least one copy.

import { html, nothing } from '../vendor/lit-html.js';
import { keepHelpers } from './choice.js';
import { formatBytes, formatCount, formatDate, plural } from './format.js';
import { baseName, shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, MOVE_TO_TRASH, outcomeView, removeItems } from './removal.js';
import { ScanForm } from './scan_form.js';
import { DUPLICATES_SKIP, gapsView } from './scan_gaps.js';
import { notRemoved, onGridFocus, onGridKey } from './widgets.js';

// Groups are drawn this many at a time; more follow on request.
const PAGE = 500;

export class DuplicatesScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Duplicates';
    this.form = new ScanForm(app, 'dupes', { minSize: '1MiB' });
    this.scanned = null; // { root, minSize, count, cancelled, answer } of the shown result
    this.groups = [];
    this.shownGroups = PAGE;
    this.chosen = new Set(); // paths
    this.failed = new Map(); // path -> why a removal left it
    this.keepFolder = '';
    this.outcome = null;
  }

  show() {
    this.form.prefill();
  }

  async scan() {
    const run = await this.form.run('scanDuplicates');
    if (!run) return;
    const { root, minSize, answer } = run;
    this.scanned = { root, minSize, count: answer.scanned ?? 0, cancelled: answer.cancelled === true, answer };
    this.groups = answer.groups;
    this.shownGroups = PAGE;
    this.chosen.clear();
    this.failed.clear();
    this.outcome = null;
    this.keepFolder ||= root;
    this.app.update('nimbra:dupes-drawn');
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
    this.app.update();
    return true;
  }

  // Replaces the choice with what a helper chooses in every group.
  applyHelper(helper, ...args) {
    this.chosen.clear();
    for (const group of this.groups) for (const path of helper(group.files, ...args)) this.chosen.add(path);
    this.app.update();
  }

  get chosenFiles() {
    return this.groups.flatMap((group) => group.files.filter((file) => this.chosen.has(file.path)));
  }

  async remove(action) {
    const before = this.groups;
    const going = this.chosenFiles;
    const outcome = await removeItems(this.app, going, { action, noun: ['copy', 'copies'],
      putBack: (paths) => this.putBack(before, going, paths) });
    if (!outcome) return;
    this.outcome = outcome;
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
      ${this.scanned ? this.resultView() : html`<p class="quiet">Scan a folder to find files with the same content.</p>`}`;
  }

  resultView() {
    const { root, minSize, count, cancelled, answer } = this.scanned;
    const wasted = this.groups.reduce((sum, group) => sum + Number(group.wasted), 0);
    const chosen = this.chosenFiles;
    const frees = chosen.reduce((sum, file) => sum + Number(file.size), 0);
    const busy = this.app.work !== null;
    return html`
      ${cancelled ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        these are the groups it completed before.</p>` : nothing}
      <p class="quiet">${plural(this.groups.length, 'group', 'groups')} of identical files of ${formatBytes(minSize)}
        or more below <span class="path">${shown(root)}</span>, of ${formatCount(count)} files looked at;
        the extra copies take ${formatBytes(wasted)}.</p>
      ${gapsView(answer, { skips: DUPLICATES_SKIP, unnamedWhat: ['copy is', 'copies are'] })}
      ${outcomeView(this.outcome)}
      ${this.groups.length ? html`
      <div class="helpers" role="group" aria-label="Choose all but one copy in every group">
        <button type="button" @click=${() => this.applyHelper(keepHelpers.newest)}>Keep the newest</button>
        <button type="button" @click=${() => this.applyHelper(keepHelpers.oldest)}>Keep the oldest</button>
        <button type="button" @click=${() => this.applyHelper(keepHelpers.shortestPath)}>Keep the shortest path</button>
        <form class="keep-folder" @submit=${(e) => { e.preventDefault(); this.applyHelper(keepHelpers.inFolder, this.keepFolder); }}>
          <label for="dupes-keep">Keep the copies in folder</label>
          <input id="dupes-keep" type="text" autocomplete="off" spellcheck="false" .value=${this.keepFolder}
            @input=${(e) => { this.keepFolder = e.target.value; }}>
          <button type="submit" ?disabled=${!this.keepFolder}>Keep these</button>
        </form>
        <button type="button" ?disabled=${!chosen.length} @click=${() => this.applyHelper(() => [])}>Choose none</button>
      </div>
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
        <th scope="col" class="number">Modified</th></tr></thead>
      ${groups.map((group) => this.groupView(group))}
    </table>
    ${more > 0 ? html`<button type="button" class="more" @click=${() => { this.shownGroups += PAGE; this.app.update(); }}>Show
      ${formatCount(Math.min(more, PAGE))} more of ${formatCount(more)} groups</button>` : nothing}`;
  }

  groupView(group) {
    const lastKept = this.keptOf(group).length === 1;
    const row = (file) => {
      const kept = lastKept && !this.chosen.has(file.path);
      return html`<tr class=${kept ? 'kept' : ''}>
        <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(file.path)}
          aria-disabled=${kept ? 'true' : 'false'} .checked=${this.chosen.has(file.path)}
          @click=${(e) => { if (!this.toggle(group, file)) e.preventDefault(); }}></td>
        <td><span class="path">${shown(file.path)}</span>${kept ? html`<span class="kept-note">kept: a group keeps
          one copy</span>` : nothing}${notRemoved(this.failed.get(file.path))}</td>
        <td class="number">${formatDate(file.modified)}</td>
      </tr>`;
    };
    return html`<tbody>
      <tr class="group-head"><th colspan="3" scope="rowgroup">${plural(group.files.length, 'copy', 'copies')} of
        <span class="name">${shown(baseName(group.files[0].path))}</span> · ${formatBytes(group.size)} each ·
        ${formatBytes(group.wasted)} wasted</th></tr>
      ${group.files.map(row)}
    </tbody>`;
  }
}
