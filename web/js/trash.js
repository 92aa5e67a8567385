// The Trash: what it holds, each entry with where it came from, when it was moved and its size;
// "Put back" (restoreItems), "Delete permanently" and "Empty Trash" (emptyTrash with exactly the
// entries shown). Beside the navigation entry, how many entries and how much the Trash holds,
// refreshed after everything that changes it, on every screen.

import { html, nothing } from '../vendor/lit-html.js';
import { totalSize } from './choice.js';
import { formatBytes, formatDate, plural } from './format.js';
import { shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, Outcome, deleted, outcomeView } from './removal.js';
import { failure, onGridFocus, onGridKey } from './widgets.js';

export const PUT_BACK = 'Put back';
export const EMPTY_TRASH = 'Empty Trash';

// The methods after which the Trash holds something else.
const CHANGERS = new Set(['trashItems', 'deleteItems', 'uninstallApp', 'emptyTrash', 'restoreItems']);

// Where an entry came from, as its record says; its name in the Trash when it has none.
export function trashedFrom(entry) {
  return entry.originalPath || entry.name;
}

export function movedWhen(entry) {
  return Number(entry.deletedAt) > 0 ? `moved ${formatDate(entry.deletedAt)}` : 'no record of where it came from';
}

// Seconds since 1970 as the local date and time a record holds ("2026-01-02T03:04:05").
function localDateTime(seconds) {
  const d = new Date(Number(seconds) * 1000);
  const two = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}T${two(d.getHours())}:${two(d.getMinutes())}:${two(d.getSeconds())}`;
}

// Why each failed path of an answer that moves items (restoreItems, trashItems) failed: its
// error text holds one line for each of the first failures, in their order.
export function reasonsInOrder(answer) {
  const lines = answer.error ? answer.error.split('\n') : [];
  return new Map(answer.failed.map((path, i) => [path, lines[i] ?? '']));
}

// What a failure line says of `path` once the path it begins with is left out, for a list that
// names the path beside it: "PATH already exists" and "PATH: description" name it first.
export function reasonBeside(line, ...paths) {
  for (const path of paths) {
    if (path && line.startsWith(`${path}: `)) return line.slice(path.length + 2);
    if (path && line.startsWith(`${path} `)) return line.slice(path.length + 1);
  }
  return line;
}

// Why restoreItems left the entry `entry`, from `from`, in the Trash, said beside its path.
export function whyNotPutBack(line, entry, from) {
  if (from && line === `${from} already exists`) return 'its place is taken';
  return reasonBeside(line, entry, from);
}

// Confirms, then deletes for good exactly `entries` of the Trash (as listTrash lists them).
// Answers an Outcome that names each entry by where it came from, or null when not confirmed.
export async function deleteEntries(app, entries, { action, heading, lead }) {
  const confirmed = await app.confirmation.ask({
    heading,
    lead,
    action,
    items: entries.map((entry) => ({ path: trashedFrom(entry), size: entry.size, note: movedWhen(entry) })),
    total: totalSize(entries),
    danger: true,
  });
  if (!confirmed) return null;
  try {
    const outcome = deleted(entries, await app.runWork('emptyTrash', { paths: entries.map((entry) => entry.path) }));
    const from = new Map(entries.map((entry) => [entry.path, trashedFrom(entry)]));
    const result = new Outcome({
      failed: new Map([...outcome.failed].map(([path, reason]) => [from.get(path) ?? path, reason])),
      summary: outcome.summary,
    });
    result.stayed = outcome.failed; // entry path -> why it stayed
    return result;
  } catch (error) {
    return new Outcome({ error });
  }
}

// How many entries the Trash holds and their size, for the navigation: listed afresh after
// every call that changes the Trash, without the progress bar.
export class TrashSummary {
  constructor(app) {
    this.app = app;
    this.count = null;
    this.size = 0;
    this.listing = false;
    this.again = false;
  }

  changedBy(method) {
    if (CHANGERS.has(method)) this.refresh();
  }

  async refresh() {
    if (this.listing) {
      this.again = true;
      return;
    }
    this.listing = true;
    try {
      this.app.screens.trash.take(await this.app.channel.call('listTrash'));
    } catch {
      // The figure stays what it was; the next change lists again.
    } finally {
      this.listing = false;
      if (this.again) {
        this.again = false;
        this.refresh();
      }
    }
  }

  take(listing) {
    if (listing.cancelled) return;
    this.count = listing.items.length + Number(listing.unnamed ?? 0);
    this.size = totalSize(listing.items);
    this.app.update();
  }

  // Beside the navigation entry, which names it as its description.
  view(id) {
    if (this.count === null) return nothing;
    return html`<span class="nav-note" id=${id}>${this.count
      ? `${plural(this.count, 'item', 'items')}, ${formatBytes(this.size)}` : 'empty'}</span>`;
  }
}

export class TrashScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Trash';
    this.entries = null; // as listTrash listed them, newest first
    this.unnamed = 0;
    this.chosen = new Set(); // entry paths
    this.failed = new Map(); // entry path -> what the last attempt on it said ("Not put back: …")
    this.outcome = null;
    this.error = null;
  }

  // Every visit lists the Trash as it is now; while other work runs, the last listing shows
  // until that work's end lists it again.
  show() {
    if (this.app.work === null) this.load();
    else if (this.entries === null) this.app.trashSummary.refresh();
  }

  navNote(id) {
    return this.app.trashSummary.view(id);
  }

  async load() {
    this.error = null;
    try {
      const listing = await this.app.runWork('listTrash');
      // A listing cut short would show, and empty, only part of the Trash.
      if (listing.cancelled && this.entries === null) this.error = new Error('Cancelled: the Trash was not read to the end.');
      this.take(listing);
      this.app.update('nimbra:trash-drawn');
    } catch (error) {
      this.error = error;
      this.app.update();
    }
  }

  // A listing, from this screen or from the navigation's refresh.
  take(listing) {
    if (listing.cancelled) return;
    this.entries = listing.items;
    this.unnamed = Number(listing.unnamed ?? 0);
    const there = new Set(this.entries.map((entry) => entry.path));
    for (const path of [...this.chosen]) if (!there.has(path)) this.chosen.delete(path);
    for (const path of [...this.failed.keys()]) if (!there.has(path)) this.failed.delete(path);
    this.app.trashSummary.take(listing);
  }

  get chosenEntries() {
    return (this.entries ?? []).filter((entry) => this.chosen.has(entry.path));
  }

  // Puts the chosen entries back, with no question: nothing is lost, and anything in the way
  // keeps its place (the entry then says so and stays).
  async putBack() {
    const entries = this.chosenEntries;
    let answer;
    try {
      answer = await this.app.runWork('restoreItems', { paths: entries.map((entry) => entry.path) });
    } catch (error) {
      this.outcome = new Outcome({ error });
      this.app.update();
      return;
    }
    const from = new Map(entries.map((entry) => [entry.path, entry.originalPath]));
    const reasons = new Map([...reasonsInOrder(answer)].map(([path, line]) => [path, whyNotPutBack(line, path, from.get(path))]));
    for (const [path, reason] of reasons) this.failed.set(path, reason ? `Not put back: ${reason}` : 'Not put back');
    const back = entries.filter((entry) => !reasons.has(entry.path));
    const parts = [`Put back ${plural(answer.restored.length, 'item', 'items')} (${formatBytes(totalSize(back))}).`];
    if (reasons.size) parts.push(`${plural(reasons.size, 'item', 'items')} could not be put back.`);
    this.outcome = new Outcome({
      gone: back.map((entry) => entry.path),
      failed: new Map([...reasons].map(([path, reason]) => [from.get(path) || path, reason])),
      summary: parts.join(' '),
    });
    this.forget(back.map((entry) => entry.path));
  }

  async deleteChosen() {
    await this.deleteShown(this.chosenEntries, {
      action: DELETE_PERMANENTLY,
      heading: `${DELETE_PERMANENTLY}: ${plural(this.chosen.size, 'item', 'items')}?`,
    });
  }

  // Exactly the entries shown go: whatever reached the Trash since stays.
  async emptyShown() {
    await this.deleteShown(this.entries, {
      action: EMPTY_TRASH,
      heading: `Empty the Trash: ${plural(this.entries.length, 'item', 'items')}?`,
    });
  }

  async deleteShown(entries, { action, heading }) {
    const unnamed = action === EMPTY_TRASH && this.unnamed
      ? ` ${plural(this.unnamed, 'item', 'items')} whose names cannot be shown here stay in the Trash.` : '';
    const outcome = await deleteEntries(this.app, entries, {
      action,
      heading,
      lead: `These are deleted for good and cannot be put back.${unnamed}`,
    });
    if (!outcome) return;
    this.outcome = outcome;
    if (outcome.error) {
      this.app.update();
      return;
    }
    for (const [path, reason] of outcome.stayed) this.failed.set(path, reason ? `Not removed: ${reason}` : 'Not removed');
    this.forget(entries.map((entry) => entry.path).filter((path) => !outcome.stayed.has(path)));
  }

  // Drops the entries that left the Trash until the next listing arrives.
  forget(paths) {
    const gone = new Set(paths);
    this.entries = this.entries.filter((entry) => !gone.has(entry.path));
    for (const path of gone) this.chosen.delete(path);
    this.app.trashSummary.take({ items: this.entries, unnamed: this.unnamed });
  }

  choose(path, chosen) {
    if (chosen) this.chosen.add(path);
    else this.chosen.delete(path);
    this.app.update();
  }

  view() {
    const busy = this.app.work !== null;
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Trash</h1>
        <button type="button" class="danger" ?disabled=${busy || !this.entries?.length}
          @click=${() => this.emptyShown()}>${EMPTY_TRASH}</button>
      </div>
      ${this.error ? failure(this.error) : nothing}
      ${outcomeView(this.outcome)}
      ${this.entries === null ? html`<p class="quiet">Reading the Trash…</p>` : this.listView(busy)}`;
  }

  listView(busy) {
    const chosen = this.chosenEntries;
    const unnamed = this.unnamed ? html`<p class="note">${plural(this.unnamed, 'item', 'items')} of the Trash
      ${this.unnamed === 1 ? 'is' : 'are'} not listed: the name is not valid UTF-8.</p>` : nothing;
    if (!this.entries.length) return html`<p class="quiet">The Trash is empty.</p>${unnamed}`;
    return html`
      <p class="quiet">${plural(this.entries.length, 'item', 'items')}, ${formatBytes(totalSize(this.entries))},
        newest first. What goes back goes where it came from; a folder missing on the way is made again.</p>
      ${unnamed}
      <div class="toolbar">
        <p class="chosen-total" aria-live="polite">${chosen.length
          ? `${plural(chosen.length, 'item', 'items')} chosen, ${formatBytes(totalSize(chosen))}` : 'Nothing chosen'}</p>
        <button type="button" class="primary" ?disabled=${busy || !chosen.length} @click=${() => this.putBack()}>${PUT_BACK}</button>
        <button type="button" class="danger" ?disabled=${busy || !chosen.length} @click=${() => this.deleteChosen()}>${DELETE_PERMANENTLY}</button>
      </div>
      ${this.tableView()}`;
  }

  tableView() {
    const row = (entry) => {
      const from = trashedFrom(entry);
      const note = this.failed.get(entry.path);
      return html`<tr>
        <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(from)}
          .checked=${this.chosen.has(entry.path)} @change=${(e) => this.choose(entry.path, e.target.checked)}></td>
        <td><span class="path">${shown(from)}</span>
          ${entry.originalPath ? nothing : html`<span class="held-back">No record of where it came from</span>`}
          ${note === undefined ? nothing : html`<span class="not-removed">${shown(note)}</span>`}</td>
        <td class="number optional">${Number(entry.deletedAt) > 0
          ? html`<time datetime=${localDateTime(entry.deletedAt)}>${formatDate(entry.deletedAt)}</time>` : '—'}</td>
        <td class="number">${formatBytes(entry.size)}</td>
      </tr>`;
    };
    return html`<table class="grid items trash-entries" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption class="hidden">The Trash, newest first</caption>
      <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th><th scope="col">Where it came from</th>
        <th scope="col" class="number optional">Moved</th><th scope="col" class="number">Size</th></tr></thead>
      <tbody>${this.entries.map(row)}</tbody>
    </table>`;
  }
}
