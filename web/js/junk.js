// Junk: the caches, logs, temporary files and other leftovers the scan finds in its fixed
// places, by category, and the Trash's figure with "Empty Trash". Choosing a category chooses
// its items, except temporary files that may still be in use.

import { html, nothing } from '../vendor/lit-html.js';
import { totalSize } from './choice.js';
import { formatBytes, formatDate, plural } from './format.js';
import { plainPath, shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, MOVE_TO_TRASH, Outcome, outcomeView, removeItems } from './removal.js';
import { gapsView } from './scan_gaps.js';
import { EMPTY_TRASH, deleteEntries } from './trash.js';
import { failure, notRemoved, onGridFocus, onGridKey } from './widgets.js';

const CATEGORY_TITLES = {
  userCache: 'Application caches',
  userLogs: 'Logs',
  systemCache: 'System caches',
  temp: 'Temporary files',
  trash: 'Trash',
  developer: 'Developer caches',
  browsers: 'Browser caches',
  crashReports: 'Crash reports',
  savedState: 'Saved application state',
  mail: 'Mail attachments',
  iosBackups: 'Device backups',
  localization: 'Unused languages',
};

const DAY_SECONDS = 24 * 60 * 60;

// Why choosing its category leaves a temporary entry alone, or null: what the service holds back
// (in use, a socket or device, the system's own, unreadable inside), another user's files, which
// are not ours to clean, and what changed lately, which a program may still be writing. `facts` is the service's "inspectItems" answer by path; an entry it did
// not answer for was never looked at. One that is gone is left to the removal to report.
function heldBack(category, item, facts, nowSeconds) {
  if (category.id !== 'temp') return null;
  const fact = facts.get(item.path);
  if (!fact) return 'not looked at';
  if (!fact.exists) return null;
  if (fact.holdBack) return fact.holdBack;
  if (!fact.mine) return "another user's";
  if (Number(fact.newest) >= nowSeconds - DAY_SECONDS) return 'changed in the last 24 hours';
  return null;
}

// What the service tells about the temporary entries, by path; empty when it could not tell.
async function inspectTemporary(app, categories) {
  const paths = categories.filter((category) => category.id === 'temp').flatMap((category) => category.items.map((item) => item.path));
  if (!paths.length) return new Map();
  try {
    const answer = await app.runWork('inspectItems', { paths });
    return new Map(answer.items.map((fact) => [fact.path, fact]));
  } catch {
    return new Map();
  }
}

export class JunkScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Junk';
    this.scanned = null; // { cancelled, at, facts, answer } of the shown result
    this.categories = []; // the scan's, but the Trash (whose figure is the navigation's)
    this.open = new Set(); // ids of the categories whose items are shown
    this.chosen = new Set(); // paths
    this.failed = new Map(); // path -> why a removal left it
    this.outcome = null;
    this.error = null;
  }

  show() {}

  async scan() {
    const since = document.activeElement;
    this.error = null;
    try {
      const answer = await this.app.runWork('scanJunk');
      const categories = answer.categories.map((category) => ({ ...category, title: CATEGORY_TITLES[category.id] ?? category.id }));
      const facts = await inspectTemporary(this.app, categories);
      this.scanned = { cancelled: answer.cancelled === true, at: Date.now() / 1000, facts, answer };
      this.categories = categories.filter((category) => category.id !== 'trash');
      this.chosen.clear();
      this.failed.clear();
      this.outcome = null;
      this.app.focusUnlessMoved(since, () => this.app.host.querySelector('main .result-head'));
      this.app.update('nimbra:junk-drawn');
    } catch (error) {
      this.error = error;
      this.app.update();
    }
  }

  // The items that choosing `category` chooses.
  eligible(category) {
    return category.items.filter((item) => !heldBack(category, item, this.scanned.facts, this.scanned.at));
  }

  chooseCategory(category, chosen) {
    for (const item of chosen ? this.eligible(category) : category.items) {
      if (chosen) this.chosen.add(item.path);
      else this.chosen.delete(item.path);
    }
    this.app.update();
  }

  choose(path, chosen) {
    if (chosen) this.chosen.add(path);
    else this.chosen.delete(path);
    this.app.update();
  }

  get chosenItems() {
    return this.categories.flatMap((category) => category.items.filter((item) => this.chosen.has(item.path)));
  }

  async remove(action) {
    // Each item with its category, to go back into it if the move is undone.
    const going = this.categories.flatMap((category) => category.items
      .filter((item) => this.chosen.has(item.path)).map((item) => ({ category, item })));
    const outcome = await removeItems(this.app, going.map(({ item }) => item), { action, putBack: (paths) => this.putBack(going, paths) });
    if (!outcome) return;
    this.outcome = outcome;
    for (const category of this.categories) {
      const left = category.items.filter((item) => !outcome.covers(item.path));
      category.items = left;
      category.size = totalSize(left);
    }
    for (const path of [...this.chosen]) if (outcome.covers(path)) this.chosen.delete(path);
    for (const [path, reason] of outcome.failed) this.failed.set(path, reason);
    this.app.update();
  }

  putBack(going, paths) {
    const back = new Set(paths);
    for (const { category, item } of going) {
      if (!back.has(item.path) || category.items.some((listed) => listed.path === item.path)) continue;
      category.items.push(item);
      category.size = totalSize(category.items);
      this.failed.delete(item.path);
    }
    this.app.update();
  }

  // Lists the Trash as it is now, asks, and removes exactly the entries listed: whatever
  // arrives in the Trash meanwhile stays.
  async emptyTrash() {
    let listing;
    try {
      listing = await this.app.runWork('listTrash');
    } catch (error) {
      this.outcome = new Outcome({ error });
      this.app.update();
      return;
    }
    if (listing.cancelled) return;
    const entries = listing.items;
    const unnamed = Number(listing.unnamed);
    if (!entries.length) {
      this.outcome = new Outcome({ summary: unnamed ? `The Trash holds ${plural(unnamed, 'item', 'items')} whose
        names cannot be shown here; nothing was deleted.` : 'The Trash is empty.' });
      this.app.update();
      return;
    }
    const outcome = await deleteEntries(this.app, entries, {
      action: EMPTY_TRASH,
      heading: `Empty the Trash: ${plural(entries.length, 'item', 'items')}?`,
      lead: `These are deleted for good and cannot be put back.${unnamed ? ` ${plural(unnamed, 'item', 'items')}
        whose names cannot be shown here stay in the Trash.` : ''}`,
    });
    if (!outcome) return;
    this.outcome = outcome;
    this.app.update();
  }

  // Once the Trash is emptied its button is disabled: focus rests on the Trash's heading.
  async emptyTrashThenHeading() {
    try {
      await this.emptyTrash();
    } finally {
      this.app.focusNext = () => this.app.host.querySelector('#trash-title');
    }
  }

  view() {
    const busy = this.app.work !== null;
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Junk</h1>
        <button type="button" class="primary" ?disabled=${busy} @click=${() => this.scan()}>Scan</button>
      </div>
      ${this.error ? failure(this.error) : nothing}
      ${this.scanned ? this.resultView(busy) : html`<p class="quiet">Scan to find caches, logs, temporary files and
        other leftovers, and to see what the Trash holds.</p>`}`;
  }

  resultView(busy) {
    const chosen = this.chosenItems;
    const total = this.categories.reduce((sum, category) => sum + Number(category.size), 0);
    const count = this.categories.reduce((sum, category) => sum + category.items.length, 0);
    return html`
      ${this.scanned.cancelled ? html`<p class="partial" role="note"><strong>Partial:</strong> the scan was cancelled;
        the categories hold what it found before.</p>` : nothing}
      ${outcomeView(this.outcome)}
      ${gapsView(this.scanned.answer)}
      ${this.trashView(busy)}
      <p class="quiet result-head" role="heading" aria-level="2" tabindex="-1">${plural(count, 'item', 'items')}, ${formatBytes(total)}, in ${plural(
        this.categories.filter((category) => category.items.length).length, 'category', 'categories')}.</p>
      <div class="toolbar">
        <p class="chosen-total" aria-live="polite">${chosen.length
          ? `${plural(chosen.length, 'item', 'items')} chosen, ${formatBytes(totalSize(chosen))}` : 'Nothing chosen'}</p>
        <button type="button" class="primary" ?disabled=${busy || !chosen.length} @click=${() => this.remove(MOVE_TO_TRASH)}>${MOVE_TO_TRASH}</button>
        <button type="button" class="danger" ?disabled=${busy || !chosen.length} @click=${() => this.remove(DELETE_PERMANENTLY)}>${DELETE_PERMANENTLY}</button>
      </div>
      <ul class="categories">${this.categories.map((category) => this.categoryView(category))}</ul>`;
  }

  trashView(busy) {
    const { count, size } = this.app.trashSummary;
    return html`<section class="card trash" aria-labelledby="trash-title">
      <div class="trash-line">
        <h2 id="trash-title" tabindex="-1">Trash</h2>
        <p>${count ? `${plural(count, 'item', 'items')}, ${formatBytes(size)}` : 'Empty'}</p>
        <a href="#trash">What is in it</a>
        <button type="button" class="danger" ?disabled=${busy || !count} @click=${() => this.emptyTrashThenHeading()}>${EMPTY_TRASH}</button>
      </div>
    </section>`;
  }

  categoryView(category) {
    const items = category.items;
    const eligible = this.eligible(category);
    const chosenCount = items.filter((item) => this.chosen.has(item.path)).length;
    const all = eligible.length > 0 && eligible.every((item) => this.chosen.has(item.path));
    const isOpen = this.open.has(category.id);
    const listId = `junk-${category.id}`;
    return html`<li class="category ${items.length ? '' : 'empty'}">
      <div class="category-line">
        <input type="checkbox" aria-label=${category.title} ?disabled=${!eligible.length}
          .checked=${all} .indeterminate=${chosenCount > 0 && !all}
          @change=${(e) => this.chooseCategory(category, e.target.checked)}>
        <button type="button" class="link disclosure" aria-expanded=${isOpen ? 'true' : 'false'} aria-controls=${listId}
          ?disabled=${!items.length} @click=${() => this.toggleOpen(category.id)}><span class="chevron"
          aria-hidden="true">${isOpen ? '▾' : '▸'}</span>${category.title}</button>
        <span class="quiet">${items.length ? plural(items.length, 'item', 'items') : 'nothing found'}</span>
        <span class="number">${formatBytes(category.size)}</span>
      </div>
      ${isOpen && items.length ? this.itemsView(category, listId) : nothing}
    </li>`;
  }

  toggleOpen(id) {
    if (this.open.has(id)) this.open.delete(id);
    else this.open.add(id);
    this.app.update();
  }

  itemsView(category, id) {
    const row = (item) => {
      const why = heldBack(category, item, this.scanned.facts, this.scanned.at);
      return html`<tr>
        <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(plainPath(item.path))}
          .checked=${this.chosen.has(item.path)} @change=${(e) => this.choose(item.path, e.target.checked)}></td>
        <td><span class="path">${shown(plainPath(item.path))}</span>
          ${why ? html`<span class="held-back">Left unchosen: ${why}</span>` : nothing}
          ${notRemoved(this.failed.get(item.path))}</td>
        <td class="number">${formatBytes(item.size)}</td>
        <td class="number optional">${formatDate(item.modified)}</td>
      </tr>`;
    };
    return html`<table id=${id} class="grid items" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption class="hidden">${category.title}</caption>
      <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th><th scope="col">Item</th>
        <th scope="col" class="number">Size</th><th scope="col" class="number optional">Modified</th></tr></thead>
      <tbody>${category.items.map(row)}</tbody>
    </table>`;
  }
}
