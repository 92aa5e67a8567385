// Disk usage: where the space below a folder goes, as a chart and a table of the same folder.
// The size tree comes three levels deep; going into a folder at its bottom measures that
// folder in turn and adds what it finds below it.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, formatCount, formatShare, plural } from './format.js';
import { OTHER_COLOUR, RINGS, chartTree, sunburst } from './sunburst.js';
import { folderProblem } from './folders.js';
import { shown } from './names.js';
import { ScanForm } from './scan_form.js';
import { gapsView } from './scan_gaps.js';
import { desktopButtons, failure } from './widgets.js';
import { DiskHistory } from './disk_history.js';

export class DiskUsageScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Disk usage';
    this.form = new ScanForm(app, 'disk');
    this.trail = []; // the size tree's root, then each folder gone into; the last is shown
    this.chosen = null; // the item "Reveal" and "Open" act on; the shown folder when null
    this.pointed = null; // { entry, size } under the pointer or focus
    this.ringed = null; // the chart's piece with the keyboard's focus
    this.partial = false; // some measuring was cancelled: sizes cover what it reached
    this.error = null;
    this.chart = null; // the chart tree of the shown folder, kept until it changes
    this.history = null; // the scanned folder's history (disk_history.js)
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

  // Shows `folder`. With `focusOn`, focus that was in the chart or the folder path moves to the
  // chart's piece of that entry, or to its first piece: the control it was on has gone.
  display(folder, focusOn = undefined) {
    const active = document.activeElement;
    const inChart = active?.closest('svg.sunburst, nav.breadcrumb');
    this.chosen = null;
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
    this.app.update('nimbra:chart-drawn');
  }

  get current() {
    return this.trail[this.trail.length - 1];
  }

  // A click or Enter on an item of the shown folder, or of one below it in the chart.
  async activate(entry) {
    if (!entry || entry.isOther) return;
    if (!entry.isDir) {
      this.chosen = entry;
      this.app.update();
      return;
    }
    const path = pathTo(this.current, entry);
    if (entry.children.length === 0 && Number(entry.files) > 0) {
      // Measured no deeper than this: measure it now and hang what is below it in the tree.
      const answer = await this.measure(entry.path);
      if (!answer) return;
      entry.children = answer.children;
      this.partial ||= answer.cancelled === true;
    }
    this.trail.push(...path);
    this.display(entry, null);
  }

  goBackTo(index) {
    const left = this.trail[index + 1];
    this.trail.length = index + 1;
    this.display(this.current, left);
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
    return html`
      ${this.partial ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        sizes count only what it reached.</p>` : nothing}
      <p class="quiet result-head" role="heading" aria-level="2" tabindex="-1">${formatBytes(root.size)} in ${plural(root.files, 'file', 'files')} below
        <span class="path">${shown(root.path)}</span></p>
      ${gapsView(root)}
      ${this.history ? this.history.view() : nothing}
      <nav class="breadcrumb" aria-label="Folder path"><ol>
        ${this.trail.map((entry, i) => html`<li>${i === this.trail.length - 1
          ? html`<span aria-current="location">${shown(i === 0 ? entry.path : entry.name)}</span>`
          : html`<button type="button" class="link" @click=${() => this.goBackTo(i)}>${shown(i === 0 ? entry.path : entry.name)}</button>`}</li>`)}
      </ol></nav>
      ${empty ? html`<p class="quiet">No files here, or the folder could not be read.</p>` : html`
      <div class="usage">
        <div class="chart">
          ${sunburst(folder, this.chart, {
            activate: (entry) => this.activate(entry),
            up: this.trail.length > 1 ? () => this.goBackTo(this.trail.length - 2) : null,
            point: (pointed) => { this.pointed = pointed; this.app.update(); },
            ring: (piece) => { this.ringed = piece; this.app.update(); },
            tint: (entry) => this.history?.tintOf(entry) ?? null,
          }, this.ringed)}
          ${this.detailView(folder)}
        </div>
        ${this.tableView(folder)}
      </div>`}
      ${this.actionsView(folder)}`;
  }

  // What the pointer or focus is on; the chosen item otherwise.
  detailView(folder) {
    const pointed = this.pointed;
    if (pointed && !pointed.entry) {
      return html`<p class="detail">Smaller items together: ${formatBytes(pointed.size)}
        (${formatShare(pointed.size, folder.size)})</p>`;
    }
    const entry = pointed?.entry ?? this.chosen ?? folder;
    return html`<p class="detail"><span class="path">${shown(entry.path)}</span>
      <span>${formatBytes(entry.size)} · ${formatShare(entry.size, folder.size)} · ${formatCount(entry.files)}
      ${Number(entry.files) === 1 ? 'file' : 'files'}</span></p>`;
  }

  tableView(folder) {
    const colours = this.chart.colours;
    const tinted = Boolean(this.history?.tintOf(folder));
    const row = (entry) => {
      const tint = this.history?.tintOf(entry.isOther ? null : entry);
      const colour = tint?.colour ?? colours.get(entry) ?? OTHER_COLOUR;
      const name = entry.isOther
        ? html`<span>Smaller items</span>`
        : html`<button type="button" class="link" aria-pressed=${entry.isDir ? nothing : String(entry === this.chosen)}
            @click=${() => this.activate(entry)} @focus=${() => this.point(entry)} @blur=${() => this.point(null)}
            @mouseenter=${() => this.point(entry)} @mouseleave=${() => this.point(null)}>${shown(entry.name)}${entry.isDir ? '/' : ''}</button>`;
      return html`<tr class=${entry === this.chosen ? 'chosen' : ''}>
        <th scope="row"><div class="name-cell"><svg class="swatch" viewBox="0 0 10 10" aria-hidden="true"><circle
          cx="5" cy="5" r="5" fill=${colour}></circle></svg>${name}</div></th>
        <td class="number">${formatBytes(entry.size)}</td>
        <td class="number">${formatShare(entry.size, folder.size)}</td>
        <td class="number">${entry.isOther ? '—' : formatCount(entry.files)}</td>
        ${tinted ? html`<td class="number optional">${tint.text === 'no change recorded' ? '—' : tint.text}</td>` : nothing}
      </tr>`;
    };
    return html`<table class="children">
      <caption>In ${shown(folder.name)}</caption>
      <thead><tr><th scope="col">Name</th><th scope="col" class="number">Size</th>
        <th scope="col" class="number">Share</th><th scope="col" class="number">Files</th>
        ${tinted ? html`<th scope="col" class="number optional">Change</th>` : nothing}</tr></thead>
      <tbody>${folder.children.map(row)}</tbody>
    </table>`;
  }

  point(entry) {
    this.pointed = entry ? { entry, size: entry.size } : null;
    this.app.update();
  }

  actionsView(folder) {
    const target = this.chosen ?? folder;
    return html`<div class="actions">
      <p class="quiet">Chosen: <span class="path">${shown(target.path)}</span></p>
      ${desktopButtons(this.app, target.path, (error) => { this.error = error; this.app.update(); })}
    </div>`;
  }
}

// The chart's piece for `entry` that takes focus; its first piece when `entry` is null or has
// none.
function pieceOf(host, entry) {
  const pieces = [...host.querySelectorAll('svg.sunburst .piece[tabindex="0"]')];
  return pieces.find((piece) => entry !== null && piece.piece.node === entry) ?? pieces[0] ?? null;
}

// The entries from just below `from` down to `to`, following paths: what the trail gains when
// a piece of a deeper ring is clicked.
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
