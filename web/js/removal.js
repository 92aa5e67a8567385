// Removing chosen items, the two ways every screen offers: "Move to Trash" (trashItems: they
// stay in the Trash and can be put back, at once with the notice's "Undo") and "Delete
// permanently" (deleteItems, or a method of the same answer such as uninstallApp). Each is
// confirmed first; afterwards the screen learns what went, what failed and why, and draws its
// list without scanning again.

import { html, nothing } from '../vendor/lit-html.js';
import { failureReasons, outermost, totalSize } from './choice.js';
import { formatBytes, plural } from './format.js';
import { plainPath, shown } from './names.js';

export const MOVE_TO_TRASH = 'Move to Trash';
export const DELETE_PERMANENTLY = 'Delete permanently';

// What one removal did: `gone` the paths that went (and with them everything inside them),
// `failed` path -> reason ("" when the answer gave none), `summary` for people; after a move to
// the Trash, `moved` the entries each item became ([{ path, trashPath }]).
export class Outcome {
  constructor({ gone = [], failed = new Map(), summary = '', error = null, moved = [] }) {
    this.gone = new Set(gone.map((path) => (path.length > 1 && path.endsWith('/') ? path.slice(0, -1) : path)));
    this.failed = failed;
    this.summary = summary;
    this.error = error;
    this.moved = moved;
    this.firstStayed = false; // the item that had to go first did not, so nothing else was tried
  }

  // Whether the item at `path` is gone: it went, or a folder it was in went. Looks up the path
  // and each folder above it, since a list may be long and so may be what went.
  covers(path) {
    if (this.gone.has(path)) return true;
    for (let end = path.indexOf('/', 1); end > 0; end = path.indexOf('/', end + 1)) {
      if (this.gone.has(path.slice(0, end))) return true;
    }
    return false;
  }
}

// Confirms and removes `items` ({ path, size }): to the Trash, or for good. `action` names the
// button that asks and the one that confirms; `noun` says what the items are (["copy",
// "copies"]); `stays` what the confirmation shows as kept beside them; `heading` and `lead`
// replace the dialog's own words; `call` replaces deleteItems for the permanent way (a method and
// its arguments, given the paths). On the way to the Trash, `first` (the path of one of the
// items) moves alone before the others, which follow only once it went: the Outcome then says
// `firstStayed`. What went to the Trash is offered to be undone; `putBack(paths)` shows those of
// `items` again once they are back. Answers an Outcome, or null when not confirmed.
export async function removeItems(app, items, { action, toTrash = action === MOVE_TO_TRASH,
  noun = ['item', 'items'], stays = [], heading, lead, call = null, first = null, putBack = null }) {
  const going = outermost(items);
  if (going.length === 0) return null;
  const total = totalSize(going);
  const confirmed = await app.confirmation.ask({
    heading: heading ?? `${action}: ${plural(going.length, ...noun)}?`,
    lead: lead ?? (toTrash
      ? 'These go to the Trash: put them back with Undo, or later from the Trash screen.'
      : 'These are deleted for good: they do not go to the Trash and cannot be put back.'),
    action,
    items: going,
    noun,
    stays,
    total,
    danger: !toTrash,
  });
  if (!confirmed) return null;
  const paths = going.map((item) => item.path);
  const at = firstChosenRow(app.host);
  try {
    if (toTrash) {
      const outcome = await trashInTurn(app, going, first);
      const gone = going.filter((item) => outcome.gone.has(item.path));
      if (outcome.moved.length) app.undo.offer({ moved: outcome.moved, bytes: totalSize(gone), putBack });
      return outcome;
    }
    const [method, args] = call ? call(paths) : ['deleteItems', { paths, toTrash: false }];
    return deleted(going, await app.runWork(method, args));
  } catch (error) {
    return new Outcome({ error });
  } finally {
    // The rows that went took focus with them (or "Cancel" did): it goes to the row now in the
    // place of the first one chosen, once the screen has drawn what is left.
    app.focusNext = () => rowControl(app.host, at);
  }
}

// Moves `going` to the Trash: the item at `first` alone, then, once it went, the rest.
async function trashInTurn(app, going, first) {
  const leading = going.filter((item) => item.path === first);
  if (leading.length === 0) return trashed(going, await app.runWork('trashItems', { paths: going.map((item) => item.path) }));
  const firstAnswer = await app.runWork('trashItems', { paths: [first] });
  if (!firstAnswer.trashed.includes(first)) {
    const outcome = trashed(leading, firstAnswer);
    outcome.firstStayed = true;
    return outcome;
  }
  const rest = going.filter((item) => item.path !== first);
  const restAnswer = rest.length === 0 ? { trashed: [], failed: [], error: '', cancelled: false, moved: [] }
    : await app.runWork('trashItems', { paths: rest.map((item) => item.path) });
  return trashed(going, {
    trashed: [...firstAnswer.trashed, ...restAnswer.trashed],
    failed: restAnswer.failed,
    error: restAnswer.error,
    cancelled: restAnswer.cancelled,
    moved: [...firstAnswer.moved, ...restAnswer.moved],
  });
}

// The rows of the screen's item tables that hold controls, in the order they are shown.
function controlRows(host) {
  return [...host.querySelectorAll('main table.grid tbody tr')].filter((row) => row.querySelector('input, button'));
}

function firstChosenRow(host) {
  return controlRows(host).findIndex((row) => row.querySelector('input[type="checkbox"]')?.checked);
}

// The first control of the row at `index` (the last row when fewer are left); null for none.
function rowControl(host, index) {
  if (index < 0) return null;
  const rows = controlRows(host);
  return rows[Math.min(index, rows.length - 1)]?.querySelector('input, button') ?? null;
}

// A trashItems answer: { trashed, failed, error, cancelled, moved }. What went is said by the
// notice that offers to undo it; the summary says what did not.
function trashed(going, answer) {
  const gone = new Set(answer.trashed);
  const failed = failureReasons(answer.failed, answer.error);
  const parts = gone.size ? [] : ['Nothing was moved to the Trash.'];
  if (failed.size) parts.push(`${plural(failed.size, 'item', 'items')} could not be moved.`);
  if (answer.cancelled) {
    const left = going.length - gone.size - failed.size;
    parts.push(`Cancelled: ${plural(left, 'item was', 'items were')} not reached and stay where they are.`);
  }
  return new Outcome({ gone: [...gone], failed, summary: parts.join(' '), moved: answer.moved ?? [] });
}

// A deleteItems answer: { freed, failed, inTrash, inTrashBytes, error }. A path in neither
// list went (or was already gone).
export function deleted(going, answer) {
  const failed = failureReasons([...answer.failed, ...answer.inTrash], answer.error);
  for (const path of answer.inTrash) failed.set(path, failed.get(path) || 'left in the Trash');
  const gone = going.map((item) => item.path).filter((path) => !failed.has(path));
  const parts = [`Deleted ${plural(gone.length, 'item', 'items')} for good, freeing ${formatBytes(answer.freed)}.`];
  if (failed.size) parts.push(`${plural(failed.size, 'item', 'items')} could not be deleted.`);
  return new Outcome({ gone, failed, summary: parts.join(' ') });
}

// The report of the last removal, above the list it changed.
export function outcomeView(outcome) {
  if (!outcome || (!outcome.summary && !outcome.failed.size && !outcome.error)) return nothing;
  if (outcome.error) return html`<p class="failure" role="alert">${outcome.error.message}</p>`;
  return html`<div class="outcome ${outcome.failed.size ? 'with-failures' : ''}" role="status">
    <p>${outcome.summary}</p>
    ${outcome.failed.size ? html`<ul>${[...outcome.failed].map(([path, reason]) => html`<li>
      <span class="path">${shown(plainPath(path))}</span>${reason ? html`: ${shown(reason)}` : nothing}</li>`)}</ul>` : nothing}
  </div>`;
}
