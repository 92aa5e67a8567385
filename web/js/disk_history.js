// The history of a folder's disk usage on the Disk usage screen: each complete scan is recorded
// as a snapshot, and when the folder has an earlier one the screen says how much it grew since
// ("Since …"), shows what changed folder by folder ("What changed"), lists the snapshots to
// compare any two ("History"), and tells the chart how each piece changed.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, formatCount, formatDate, plural } from './format.js';
import { shown } from './names.js';
import { failure } from './widgets.js';

// Tints of the chart: growth and shrinkage in Okabe and Ito's vermillion and blue, which stay
// apart with every common colour vision deficiency; what did not change is grey.
export const TINTS = { grew: '#D55E00', shrank: '#0072B2', same: '#B4B4B4' };

// "+1.2 MB", "−300.0 KB" (a true minus sign), "0 B".
export function signedBytes(change) {
  const n = Number(change);
  if (n === 0) return '0 B';
  return `${n > 0 ? '+' : '\u2212'}${formatBytes(Math.abs(n))}`;
}

// What a change of the service's list is: "new" (appeared), "gone" (vanished), "grew",
// "shrank" or "same" (only its file count changed).
export function kindOf(change) {
  const before = Number(change.before), after = Number(change.after);
  if (before === 0 && Number(change.filesBefore) === 0) return 'new';
  if (after === 0 && Number(change.filesAfter) === 0 && !change.unreadable) return 'gone';
  return after > before ? 'grew' : after < before ? 'shrank' : 'same';
}

// How the folder at `path` (inside the compared folder) changed, from a diskChanges answer:
// its own listed change; inside a listed new folder, all of it is new (`size` now); otherwise
// the sum of the outermost listed changes inside it (the list leaves out a folder whose change
// one of its folders holds whole). Null when nothing is listed in or above it.
export function growthOf(changes, path, size) {
  let total = null;
  for (const change of changes.changes) {
    if (change.path === path) return Number(change.after) - Number(change.before);
    if (path.startsWith(`${change.path}/`) && kindOf(change) === 'new') return Number(size);
  }
  const inside = changes.changes.filter((c) => c.path.startsWith(`${path}/`));
  for (const change of inside) {
    const outermost = !inside.some((c) => change.path.startsWith(`${c.path}/`));
    if (outermost) total = (total ?? 0) + Number(change.after) - Number(change.before);
  }
  return total;
}

export class DiskHistory {
  // `answer` is the scan's analyzeDisk answer, made with "record".
  constructor(app, answer) {
    this.app = app;
    // As the history keeps it: trailing slashes aside (the tree's paths then hold "//").
    this.root = answer.path.replace(/(.)\/+$/, '$1');
    this.snapshot = answer.snapshot ?? null; // this scan's id; null when not recorded
    this.recordError = answer.recordError ?? '';
    this.movedAside = answer.historyMovedAside ?? null;
    this.snapshots = []; // of this folder, newest first
    this.changes = null; // the diskChanges answer shown under "What changed"
    this.sinceLast = null; // the one from the previous snapshot to this scan's, for the tint
    this.open = null; // 'changes' or 'history'
    this.from = null; // the pair chosen under "History"
    this.to = null;
    this.tint = false;
    this.error = null;
  }

  // The folder's snapshots, once the scan is recorded.
  async load() {
    if (this.snapshot === null) return;
    try {
      const answer = await this.app.channel.call('diskHistory', { path: this.root });
      this.snapshots = answer.snapshots;
      this.movedAside ??= answer.historyMovedAside ?? null;
      this.to = this.snapshot;
      this.from = this.previous?.id ?? null;
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // The snapshot before this scan's.
  get previous() {
    return this.snapshots.find((s) => Number(s.id) < Number(this.snapshot)) ?? null;
  }

  byId(id) {
    return this.snapshots.find((s) => Number(s.id) === Number(id)) ?? null;
  }

  // The diskChanges answer between two snapshots (by default from the previous one to this
  // scan's); null when it failed (said) or was cancelled.
  async changesBetween(from = this.previous?.id, to = this.snapshot) {
    const sinceLast = Number(from) === Number(this.previous?.id) && Number(to) === Number(this.snapshot);
    if (sinceLast && this.sinceLast) return this.sinceLast;
    this.error = null;
    try {
      const answer = await this.app.runWork('diskChanges', { path: this.root, from, to });
      if (answer.cancelled) return null;
      if (answer.error) throw new Error(answer.error);
      if (sinceLast) this.sinceLast = answer;
      return answer;
    } catch (error) {
      this.error = error;
      this.app.update();
      return null;
    }
  }

  // Shows the changes between the two snapshots under "What changed".
  async compare(from, to) {
    const answer = await this.changesBetween(from, to);
    if (answer) {
      this.changes = answer;
      this.open = 'changes';
    }
    this.app.update();
  }

  async toggle(which) {
    if (which === 'changes' && this.open !== 'changes' && !this.changes) return this.compare();
    this.open = this.open === which ? null : which;
    this.app.update();
  }

  async setTint(on) {
    this.tint = on && (this.sinceLast ?? (await this.changesBetween())) !== null;
    this.app.update();
  }

  // How a piece of the chart changed since the previous snapshot, for its colour and label:
  // { colour, text }, or null while the chart is not tinted.
  tintOf(entry) {
    const changes = this.sinceLast;
    if (!this.tint || !changes) return null;
    // Asked for every piece at every drawing, and the pointer redraws often.
    if (this.tints?.changes !== changes) this.tints = { changes, byEntry: new WeakMap() };
    if (entry && this.tints.byEntry.has(entry)) return this.tints.byEntry.get(entry);
    const change = entry ? growthOf(changes, entry.path.replace(/\/{2,}/g, '/'), entry.size) : null;
    const tint = !change ? { colour: TINTS.same, text: 'no change recorded' }
      : change > 0 ? { colour: TINTS.grew, text: `grew ${formatBytes(change)}` }
        : { colour: TINTS.shrank, text: `shrank ${formatBytes(-change)}` };
    if (entry) this.tints.byEntry.set(entry, tint);
    return tint;
  }

  view() {
    const notes = html`
      ${this.movedAside ? html`<p class="note" role="note">The disk usage history could not be used
        (${this.movedAside.reason}); it was moved aside to <span class="path">${shown(this.movedAside.path)}</span>
        and a new one started.</p>` : nothing}
      ${this.recordError ? html`<p class="note" role="note">This scan was not recorded: ${this.recordError}</p>` : nothing}
      ${this.error ? failure(this.error) : nothing}`;
    const previous = this.previous;
    const current = this.byId(this.snapshot);
    if (!previous || !current) {
      return html`${notes}${this.snapshot !== null && current ? html`<p class="quiet">Recorded: the next scan of this
        folder will show what changed since now.</p>` : nothing}`;
    }
    const grown = Number(current.size) - Number(previous.size);
    return html`${notes}
      <div class="since">
        <p>Since ${formatDate(previous.takenAt)}: <span class=${changeClass(grown)}>${signedBytes(grown)}</span></p>
        <button type="button" aria-expanded=${String(this.open === 'changes')} @click=${() => this.toggle('changes')}>What changed</button>
        <button type="button" aria-expanded=${String(this.open === 'history')} @click=${() => this.toggle('history')}>History</button>
        <label class="tint"><input type="checkbox" .checked=${this.tint}
          @change=${(e) => this.setTint(e.target.checked)}> Tint by growth</label>
      </div>
      ${this.tint ? html`<p class="note tint-legend"><span class="swatch-text grew">■</span> grew
        <span class="swatch-text shrank">■</span> shrank <span class="swatch-text same">■</span> no change
        recorded, since ${formatDate(previous.takenAt)}</p>` : nothing}
      ${this.open === 'changes' && this.changes ? this.changesView() : nothing}
      ${this.open === 'history' ? this.historyView() : nothing}`;
  }

  changesView() {
    const { from, to, changes, more, unnamed } = this.changes;
    const relative = (path) => (path.startsWith(`${this.root}/`) ? path.slice(this.root.length + 1)
      : path.startsWith(this.root) ? path.slice(this.root.length) : path);
    const row = (change) => {
      const kind = kindOf(change);
      const delta = Number(change.after) - Number(change.before);
      const note = change.unreadable ? `could not be read in the ${change.unreadable === 'after' ? 'later' : 'earlier'} scan`
        : kind === 'new' || kind === 'gone' ? kind : '';
      return html`<tr>
        <th scope="row"><span class="path">${shown(relative(change.path))}/</span>${note ? html` <span class="change-note">${note}</span>` : nothing}</th>
        <td class="number">${kind === 'new' ? '—' : formatBytes(change.before)}</td>
        <td class="number">${kind === 'gone' ? '—' : formatBytes(change.after)}</td>
        <td class="number"><span class=${changeClass(delta)}><span aria-hidden="true">${delta > 0 ? '▲ ' : delta < 0 ? '▼ ' : ''}</span>${signedBytes(delta)}</span></td>
      </tr>`;
    };
    return html`<section class="changes" aria-labelledby="changes-title">
      <h2 id="changes-title">What changed from ${formatDate(from.takenAt)} to ${formatDate(to.takenAt)}</h2>
      ${changes.length === 0 ? html`<p class="quiet">No folder changed.</p>` : html`
      <table class="items changes-table">
        <thead><tr><th scope="col">Folder</th><th scope="col" class="number">Before</th>
          <th scope="col" class="number">After</th><th scope="col" class="number">Change</th></tr></thead>
        <tbody>${changes.map(row)}</tbody>
      </table>`}
      ${Number(more) > 0 ? html`<p class="note">And ${plural(more, 'smaller change', 'smaller changes')}, not listed.</p>` : nothing}
      ${Number(unnamed) > 0 ? html`<p class="note">${plural(unnamed, 'change is', 'changes are')} not listed: the
        ${Number(unnamed) === 1 ? 'name is' : 'names are'} not valid UTF-8.</p>` : nothing}
    </section>`;
  }

  historyView() {
    const older = (i) => this.snapshots[i + 1];
    const when = (s) => formatDate(s.takenAt);
    const row = (s, i) => {
      const before = older(i);
      const grown = before ? Number(s.size) - Number(before.size) : null;
      return html`<tr>
        <th scope="row">${when(s)}${Number(s.id) === Number(this.snapshot) ? ' (this scan)' : ''}</th>
        <td class="number">${formatBytes(s.size)}</td>
        <td class="number optional">${formatCount(s.files)}</td>
        <td class="number">${grown === null ? '—' : html`<span class=${changeClass(grown)}>${signedBytes(grown)}</span>`}</td>
        <td class="check"><input type="radio" name="history-from" aria-label=${`Compare from ${when(s)}`}
          .checked=${Number(this.from) === Number(s.id)} @change=${() => { this.from = s.id; this.app.update(); }}></td>
        <td class="check"><input type="radio" name="history-to" aria-label=${`Compare to ${when(s)}`}
          .checked=${Number(this.to) === Number(s.id)} @change=${() => { this.to = s.id; this.app.update(); }}></td>
      </tr>`;
    };
    const same = Number(this.from) === Number(this.to);
    return html`<section class="history" aria-labelledby="history-title">
      <h2 id="history-title">History of <span class="path">${shown(this.root)}</span></h2>
      <table class="items">
        <thead><tr><th scope="col">Taken</th><th scope="col" class="number">Size</th>
          <th scope="col" class="number optional">Files</th><th scope="col" class="number">Change</th>
          <th scope="col">From</th><th scope="col">To</th></tr></thead>
        <tbody>${this.snapshots.map(row)}</tbody>
      </table>
      <p class="buttons"><button type="button" ?disabled=${same || this.app.work !== null}
        @click=${() => this.compare(this.from, this.to)}>Compare</button>
        ${same ? html`<span class="quiet">Choose two different scans.</span>` : nothing}</p>
      <p class="quiet">Each change is since the scan before it. ${plural(this.snapshots.length, 'scan is', 'scans are')}
        kept; a folder keeps its 30 newest.</p>
    </section>`;
  }
}

function changeClass(change) {
  return change > 0 ? 'change grew' : change < 0 ? 'change shrank' : 'change';
}
