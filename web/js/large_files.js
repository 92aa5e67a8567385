// Large files: the biggest files below a folder, in a table to sort and choose from, and the
// chosen ones moved to the Trash or deleted.

import { html, nothing } from '../vendor/lit-html.js';
import { totalSize } from './choice.js';
import { formatBytes, formatCount, formatDate, plural } from './format.js';
import { shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, MOVE_TO_TRASH, outcomeView, removeItems } from './removal.js';
import { ScanForm } from './scan_form.js';
import { LARGE_FILES_SKIP, gapsView } from './scan_gaps.js';
import { desktopButtons, failure, notRemoved, onGridFocus, onGridKey } from './widgets.js';

const COLUMNS = [
  { key: 'size', title: 'Size', firstDescending: true, of: (item) => Number(item.size) },
  { key: 'modified', title: 'Modified', firstDescending: true, of: (item) => Number(item.modified) },
  { key: 'path', title: 'Path', firstDescending: false, of: (item) => item.path },
];

export class LargeFilesScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Large files';
    this.form = new ScanForm(app, 'large', { minSize: '100MB' });
    this.scanned = null; // { root, minSizeShown, count, cancelled, answer } of the shown result
    this.items = [];
    this.chosen = new Set(); // paths
    this.failed = new Map(); // path -> why a removal left it
    this.sort = { key: 'size', descending: true };
    this.current = null; // the path of the row last visited: what "Reveal" and "Open" act on
    this.outcome = null;
    this.error = null;
  }

  show() {
    this.form.prefill();
  }

  async scan() {
    this.error = null;
    const run = await this.form.run('scanLargeFiles');
    if (!run) return;
    const { root, minSizeShown, answer } = run;
    this.scanned = { root, minSizeShown, count: answer.scanned, cancelled: answer.cancelled === true, answer };
    this.items = answer.items;
    this.chosen.clear();
    this.failed.clear();
    this.current = null;
    this.outcome = null;
    this.app.update('nimbra:large-drawn');
  }

  async remove(action) {
    const going = this.items.filter((item) => this.chosen.has(item.path));
    const outcome = await removeItems(this.app, going, { action, noun: ['file', 'files'], putBack: (paths) => this.putBack(going, paths) });
    if (!outcome) return;
    this.outcome = outcome;
    this.error = null;
    // Reveal and Open are not offered for what went; the row that takes focus is the next current.
    if (this.current !== null && outcome.covers(this.current)) this.current = null;
    this.items = this.items.filter((item) => !outcome.covers(item.path));
    for (const path of [...this.chosen]) if (outcome.covers(path)) this.chosen.delete(path);
    for (const [path, reason] of outcome.failed) this.failed.set(path, reason);
    this.app.update();
  }

  // Files of `going` that came back from the Trash are listed again.
  putBack(going, paths) {
    const back = new Set(paths);
    const listed = new Set(this.items.map((item) => item.path));
    this.items = [...this.items, ...going.filter((item) => back.has(item.path) && !listed.has(item.path))];
    for (const path of back) this.failed.delete(path);
    this.app.update();
  }

  sortBy(key) {
    const column = COLUMNS.find((c) => c.key === key);
    this.sort = { key, descending: this.sort.key === key ? !this.sort.descending : column.firstDescending };
    this.app.update();
  }

  get sorted() {
    const { of } = COLUMNS.find((c) => c.key === this.sort.key);
    const order = this.sort.descending ? -1 : 1;
    return [...this.items].sort((a, b) => {
      const x = of(a);
      const y = of(b);
      return x < y ? -order : x > y ? order : 0;
    });
  }

  view() {
    return html`
      <div class="screen-head"><h1 tabindex="-1">Large files</h1></div>
      ${this.form.view(() => this.scan())}
      ${this.error ? failure(this.error) : nothing}
      ${this.scanned ? this.resultView() : html`<p class="quiet">Scan a folder to list its largest files.</p>`}`;
  }

  resultView() {
    const { root, minSizeShown, count, cancelled, answer } = this.scanned;
    // The scan keeps the largest: when more were large enough, it says of how many.
    const listed = answer.items.length + Number(answer.unnamed ?? 0);
    const matched = Math.max(Number(answer.matched ?? listed), listed);
    const chosen = this.items.filter((item) => this.chosen.has(item.path));
    const busy = this.app.work !== null;
    return html`
      ${cancelled ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        the list holds what it found before.</p>` : nothing}
      <p class="quiet result-head" role="heading" aria-level="2" tabindex="-1">${matched > listed
        ? `The ${formatCount(listed)} largest of ${plural(matched, 'file', 'files')}`
        : plural(listed, 'file', 'files')} of ${minSizeShown} or more below
        <span class="path">${shown(root)}</span>, of ${formatCount(count)} looked at.</p>
      ${gapsView(answer, { skips: LARGE_FILES_SKIP, unnamedWhat: ['file is', 'files are'] })}
      ${outcomeView(this.outcome)}
      <div class="toolbar">
        <p class="chosen-total" aria-live="polite">${chosen.length
          ? `${plural(chosen.length, 'file', 'files')} chosen, ${formatBytes(totalSize(chosen))}` : 'Nothing chosen'}</p>
        <button type="button" class="primary" ?disabled=${busy || !chosen.length} @click=${() => this.remove(MOVE_TO_TRASH)}>${MOVE_TO_TRASH}</button>
        <button type="button" class="danger" ?disabled=${busy || !chosen.length} @click=${() => this.remove(DELETE_PERMANENTLY)}>${DELETE_PERMANENTLY}</button>
        ${desktopButtons(this.app, this.current, (error) => { this.error = error; this.app.update(); })}
      </div>
      ${this.items.length ? this.tableView() : html`<p class="quiet">No files of this size here.</p>`}`;
  }

  tableView() {
    const sortButton = ({ key, title }) => {
      const sorted = this.sort.key === key;
      return html`<th scope="col" class=${{ size: 'number', modified: 'number optional', path: '' }[key]}
        aria-sort=${sorted ? (this.sort.descending ? 'descending' : 'ascending') : 'none'}>
        <button type="button" class="link sort" @click=${() => this.sortBy(key)}>${title}<span aria-hidden="true">${
          sorted ? (this.sort.descending ? ' ▼' : ' ▲') : ''}</span></button></th>`;
    };
    const row = (item) => html`<tr class=${item.path === this.current ? 'current' : ''}
        @focusin=${() => this.visit(item.path)} @click=${() => this.visit(item.path)}>
      <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(item.path)}
        .checked=${this.chosen.has(item.path)} @change=${(e) => this.choose(item.path, e.target.checked)}></td>
      <td class="number">${formatBytes(item.size)}</td>
      <td class="number optional">${formatDate(item.modified)}</td>
      <td><span class="path">${shown(item.path)}</span>${notRemoved(this.failed.get(item.path))}</td>
    </tr>`;
    return html`<table class="grid items" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption class="hidden">Large files, ${this.sort.key === 'path' ? 'by path' : `by ${this.sort.key}`}</caption>
      <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th>${COLUMNS.map(sortButton)}</tr></thead>
      <tbody>${this.sorted.map(row)}</tbody>
    </table>`;
  }

  visit(path) {
    if (this.current === path) return;
    this.current = path;
    this.app.update();
  }

  choose(path, chosen) {
    if (chosen) this.chosen.add(path);
    else this.chosen.delete(path);
    this.app.update();
  }
}
