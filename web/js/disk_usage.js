// Disk usage: where the space below a folder goes, as rings or a treemap (the person's choice,
// remembered), as an expandable tree of the same folder, and by file type and age; and what is
// chosen in any of them removed from there. The size tree comes three levels deep; going into a
// folder at its bottom, or opening it in the tree, measures that folder in turn and adds what it
// finds below it.

import { html, nothing } from '../vendor/lit-html.js';
import { outermost, totalSize } from './choice.js';
import { OTHER_COLOUR, RINGS, chartTree } from './chart_tree.js';
import { DiskHistory } from './disk_history.js';
import { DiskTreeTable } from './disk_tree_table.js';
import { FileStats } from './file_stats.js';
import { folderProblem } from './folders.js';
import { formatBytes, formatCount, formatShare, plural } from './format.js';
import { shown } from './names.js';
import { DELETE_PERMANENTLY, MOVE_TO_TRASH, outcomeView, removeItems } from './removal.js';
import { ScanForm } from './scan_form.js';
import { gapsView } from './scan_gaps.js';
import { putBack, takeOut } from './size_tree.js';
import { sunburst } from './sunburst.js';
import { treemapChart } from './treemap.js';
import { failure, showOnDesktop } from './widgets.js';

// The views of the shown folder, in the order offered; the two charts are remembered.
const VIEWS = [['rings', 'Rings'], ['treemap', 'Treemap'], ['types', 'File types'], ['ages', 'Age']];
const CHART_KEY = 'nimbra.diskChart';
// The treemap's height for its width, and the least it is drawn at.
const TREEMAP_RATIO = 0.56;
const TREEMAP_LEAST = { width: 280, height: 240 };
// From this width on, the chart and the tree stand side by side, and the chart column is this wide.
const SIDE_BY_SIDE = 1280;
const CHART_COLUMN = 440;

export class DiskUsageScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Disk usage';
    this.form = new ScanForm(app, 'disk');
    this.trail = []; // the size tree's root, then each folder gone into; the last is shown
    this.pressed = null; // the file shown in detail
    this.pointed = null; // { entry, size } under the pointer or focus
    this.ringed = null; // the chart's piece with the keyboard's focus
    this.partial = false; // some measuring was cancelled: sizes cover what it reached
    this.error = null;
    this.chart = null; // the chart tree of the shown folder, kept until it changes
    this.history = null; // the scanned folder's history (disk_history.js)
    this.table = new DiskTreeTable();
    this.stats = new FileStats(app);
    this.chosen = new Map(); // path -> { path, size, files, modified } of each chosen item
    this.failed = new Map(); // path -> why a removal left it
    this.outcome = null;
    this.shownView = readChart();
    // The treemap is laid out for the room it has: it is laid out again when that changes.
    window.addEventListener('resize', () => {
      if (this.app.screen === this && this.shownView === 'treemap') this.app.update();
    });
  }

  show() {
    this.form.prefill();
  }

  // Each complete scan is recorded in the folder's history; going deeper than the tree came
  // measures a folder without recording it.
  async scan() {
    this.error = null;
    const run = await this.form.scanFolder('analyzeDisk', { depth: RINGS, record: true }, 'path');
    if (!run) return;
    this.trail = [run.answer];
    this.partial = run.answer.cancelled === true;
    this.history = new DiskHistory(this.app, run.answer);
    this.table.open.clear();
    this.stats.forget();
    this.chosen.clear();
    this.failed.clear();
    this.outcome = null;
    if (this.shownView === 'types' || this.shownView === 'ages') this.shownView = readChart();
    this.display(run.answer);
    await this.history.load();
  }

  // The size tree of `path`, a folder below the one scanned, with the progress bar while it is
  // measured (not recorded); null on failure, or when the folder has gone since.
  async measure(path) {
    this.error = null;
    try {
      const answer = await this.app.runWork('analyzeDisk', { path, depth: RINGS });
      const problem = 'cancelled' in answer ? null : await folderProblem(this.app, path);
      if (!problem) return answer;
      this.error = new Error(problem);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
    return null;
  }

  // Hangs what is below `entry` in the tree when the scan went no deeper; false when that
  // failed.
  async deepen(entry) {
    if (entry.children.length > 0 || Number(entry.files) === 0) return true;
    const answer = await this.measure(entry.path);
    if (!answer) return false;
    entry.children = answer.children;
    this.partial ||= answer.cancelled === true;
    return true;
  }

  // Shows `folder`. With `focusOn`, focus that was in the chart or the folder path moves to the
  // chart's piece of that entry, or to its first piece: the control it was on has gone.
  display(folder, focusOn = undefined) {
    const active = document.activeElement;
    const inChart = active?.closest('.chart svg, nav.breadcrumb');
    this.pressed = null;
    this.pointed = null;
    this.ringed = null;
    this.chart = chartTree(folder);
    if (inChart && focusOn !== undefined) {
      const fromKeyboard = active.matches(':focus-visible');
      this.app.focusSoon(() => {
        // The piece may be the very element that had focus, drawn anew: no focus event says so.
        const piece = pieceOf(this.app.host, focusOn);
        if (fromKeyboard) this.ringed = piece?.piece ?? null;
        this.app.update();
        return piece;
      });
    }
    if (this.shownView === 'types' || this.shownView === 'ages') this.stats.load(folder.path);
    this.app.update('nimbra:chart-drawn');
  }

  get current() {
    return this.trail[this.trail.length - 1];
  }

  // A click or Enter on an item of the shown folder, or of one below it in the chart.
  async activate(entry) {
    if (!entry || entry.isOther) return;
    if (!entry.isDir) {
      this.pressed = entry;
      this.app.update();
      return;
    }
    const path = pathTo(this.current, entry);
    if (!(await this.deepen(entry))) return;
    this.trail.push(...path);
    this.display(entry, null);
  }

  goBackTo(index) {
    const left = this.trail[index + 1];
    this.trail.length = index + 1;
    this.display(this.current, left);
  }

  async toggleOpen(entry) {
    if (this.table.open.has(entry)) this.table.open.delete(entry);
    else if (await this.deepen(entry)) this.table.open.add(entry);
    this.app.update();
  }

  // `item` is an entry of the tree ({ path, size, files, modified, ... }), kept as it is so that
  // its figures stay those of now, or a file of a list.
  choose(item, chosen) {
    if (chosen) this.chosen.set(item.path, item);
    else this.chosen.delete(item.path);
    this.app.update();
  }

  showView(which) {
    this.shownView = which;
    if (which === 'rings' || which === 'treemap') {
      try {
        localStorage.setItem(CHART_KEY, which);
      } catch {
        // Storage refused (a private window): the choice holds until the page is left.
      }
      this.app.update('nimbra:chart-drawn');
    } else {
      this.app.update();
      this.stats.load(this.current.path);
    }
  }

  async remove(action) {
    const going = outermost([...this.chosen.values()]);
    const outcome = await removeItems(this.app, going, { action, putBack: (paths) => this.putBack(paths) });
    if (!outcome) return;
    this.outcome = outcome;
    this.error = null;
    const root = this.trail[0];
    this.taken = [];
    for (const item of going) {
      if (!outcome.covers(item.path)) continue;
      const taken = takeOut(root, item);
      if (taken) this.taken.push({ path: item.path, taken });
    }
    for (const path of [...this.chosen.keys()]) if (outcome.covers(path)) this.chosen.delete(path);
    for (const [path, reason] of outcome.failed) this.failed.set(path, reason);
    this.stats.removed(outcome);
    this.afterChange();
  }

  // What came back from the Trash is counted again where it was.
  putBack(paths) {
    const back = new Set(paths);
    for (const { path, taken } of this.taken ?? []) if (back.has(path)) putBack(this.trail[0], taken);
    for (const path of back) this.failed.delete(path);
    this.afterChange();
  }

  // The tree changed in place: a folder gone into that went is left for the nearest one above it.
  afterChange() {
    let kept = 1;
    while (kept < this.trail.length && this.trail[kept - 1].children.includes(this.trail[kept])) ++kept;
    this.trail.length = kept;
    this.display(this.current);
  }

  view() {
    return html`
      <div class="screen-head"><h1 tabindex="-1">Disk usage</h1></div>
      ${this.form.view(() => this.scan())}
      ${this.error ? failure(this.error) : nothing}
      ${this.trail.length ? this.resultView() : html`<p class="quiet">Choose a folder and scan it to see where its space goes.</p>`}`;
  }

  resultView() {
    const root = this.trail[0];
    const folder = this.current;
    const empty = folder.children.length === 0;
    const charted = this.shownView === 'rings' || this.shownView === 'treemap';
    return html`
      ${this.partial ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        sizes count only what it reached.</p>` : nothing}
      <p class="quiet result-head" role="heading" aria-level="2" tabindex="-1">${formatBytes(root.size)} in ${plural(root.files, 'file', 'files')} below
        <span class="path">${shown(root.path)}</span></p>
      ${gapsView(root)}
      ${this.history ? this.history.view() : nothing}
      ${outcomeView(this.outcome)}
      ${this.toolbarView()}
      <div class="view-bar">
        <nav class="breadcrumb" aria-label="Folder path"><ol>
          ${this.trail.map((entry, i) => html`<li>${i === this.trail.length - 1
            ? html`<span aria-current="location">${shown(i === 0 ? entry.path : entry.name)}</span>`
            : html`<button type="button" class="link" @click=${() => this.goBackTo(i)}>${shown(i === 0 ? entry.path : entry.name)}</button>`}</li>`)}
        </ol></nav>
        <div class="views" role="group" aria-label="View">${VIEWS.map(([id, title]) => html`<button type="button"
          aria-pressed=${String(this.shownView === id)} @click=${() => this.showView(id)}>${title}</button>`)}</div>
      </div>
      ${empty ? html`<p class="quiet">No files here, or the folder could not be read.</p>` : html`
      <div class=${`usage ${this.shownView}`}>
        <div class="chart">
          ${charted ? this.chartView(folder) : html`${this.stats.error ? failure(this.stats.error) : nothing}${
            this.stats.view(this.shownView, folder, this.itemActions())}`}
        </div>
        ${this.table.view(folder, {
          ...this.itemActions(),
          toggle: (entry) => this.toggleOpen(entry),
          activate: (entry) => this.activate(entry),
          point: (entry) => this.point(entry),
          sortBy: (key) => { this.table.sortBy(key); this.app.update(); },
          colourOf: (entry) => this.chart.colours.get(entry) ?? OTHER_COLOUR,
          tint: (entry) => this.history?.tintOf(entry) ?? null,
          pressed: this.pressed,
        })}
      </div>`}`;
  }

  // What every list of items on this screen does with them.
  itemActions() {
    return {
      choose: (item, chosen) => this.choose(item, chosen),
      isChosen: (item) => this.chosen.has(item.path),
      reveal: (path) => this.showOnDesktop('revealPath', path),
      openPath: (path) => this.showOnDesktop('openPath', path),
      failed: (path) => this.failed.get(path),
    };
  }

  async showOnDesktop(method, path) {
    this.error = null;
    try {
      await showOnDesktop(this.app, method, path);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  toolbarView() {
    const going = outermost([...this.chosen.values()]);
    const busy = this.app.work !== null;
    return html`<div class="toolbar">
      <p class="chosen-total" aria-live="polite">${going.length
        ? `${plural(going.length, 'item', 'items')} chosen, ${formatBytes(totalSize(going))}` : 'Nothing chosen'}</p>
      <button type="button" class="primary" ?disabled=${busy || !going.length} @click=${() => this.remove(MOVE_TO_TRASH)}>${MOVE_TO_TRASH}</button>
      <button type="button" class="danger" ?disabled=${busy || !going.length} @click=${() => this.remove(DELETE_PERMANENTLY)}>${DELETE_PERMANENTLY}</button>
    </div>`;
  }

  chartView(folder) {
    const on = {
      activate: (entry) => this.activate(entry),
      choose: (entry) => this.choose(entry, !this.chosen.has(entry.path)),
      chosen: (entry) => this.chosen.has(entry.path),
      up: this.trail.length > 1 ? () => this.goBackTo(this.trail.length - 2) : null,
      point: (pointed) => { this.pointed = pointed; this.app.update(); },
      ring: (piece) => { this.ringed = piece; this.app.update(); },
      tint: (entry) => this.history?.tintOf(entry) ?? null,
    };
    const chart = this.shownView === 'treemap'
      ? treemapChart(folder, this.chart, on, this.ringed, this.treemapSize())
      : sunburst(folder, this.chart, on, this.ringed);
    return html`${chart}<div class="chart-side">${this.detailView(folder)}
      <p class="note chart-help">Click a folder to go into it; Shift-click, or Shift with Enter, chooses it.</p></div>`;
  }

  // The room the treemap has: the chart column beside the tree, or the width of the screen.
  treemapSize() {
    const main = this.app.host.querySelector('main');
    const style = main && getComputedStyle(main);
    const room = main ? main.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight) : CHART_COLUMN;
    const width = Math.max(TREEMAP_LEAST.width, Math.floor(innerWidth >= SIDE_BY_SIDE ? CHART_COLUMN : room));
    return { width, height: Math.max(TREEMAP_LEAST.height, Math.round(width * TREEMAP_RATIO)) };
  }

  // What the pointer or focus is on; the file pressed otherwise.
  detailView(folder) {
    const pointed = this.pointed;
    if (pointed && !pointed.entry) {
      return html`<p class="detail">Smaller items together: ${formatBytes(pointed.size)}
        (${formatShare(pointed.size, folder.size)})</p>`;
    }
    const entry = pointed?.entry ?? this.pressed ?? folder;
    return html`<p class="detail"><span class="path">${shown(entry.path)}</span>
      <span>${formatBytes(entry.size)} · ${formatShare(entry.size, folder.size)} · ${formatCount(entry.files)}
      ${Number(entry.files) === 1 ? 'file' : 'files'}</span></p>`;
  }

  point(entry) {
    this.pointed = entry ? { entry, size: entry.size } : null;
    this.app.update();
  }
}

function readChart() {
  try {
    return localStorage.getItem(CHART_KEY) === 'treemap' ? 'treemap' : 'rings';
  } catch {
    return 'rings';
  }
}

// The chart's piece for `entry` that takes focus; its first piece when `entry` is null or has
// none.
function pieceOf(host, entry) {
  const pieces = [...host.querySelectorAll('.chart svg .piece[tabindex="0"]')];
  return pieces.find((piece) => entry !== null && piece.piece.node === entry) ?? pieces[0] ?? null;
}

// The entries from just below `from` down to `to`, following paths: what the trail gains when
// a piece of a deeper level is clicked.
function pathTo(from, to) {
  const steps = [];
  for (let entry = to; entry && entry !== from; entry = parentOf(from, entry)) steps.unshift(entry);
  return steps;
}

function parentOf(top, target) {
  const stack = [top];
  while (stack.length) {
    const entry = stack.pop();
    for (const child of entry.children) {
      if (child === target) return entry;
      stack.push(child);
    }
  }
  return null;
}
