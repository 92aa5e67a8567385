// After every move to the Trash, on every screen: "Moved N items (SIZE) to the Trash — Undo".
// Undo puts back exactly the entries that move made (trashItems' "moved"), nothing that was in
// the Trash before, and the screen that moved them shows them again. The notice stays at least
// ten seconds and until the person moves on (to another screen, or to other work), so that it
// can be read and reached from the keyboard; it sits in a live region, so screen readers say it.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, plural } from './format.js';
import { shown } from './names.js';
import { reasonsInOrder, whyNotPutBack } from './trash.js';

const SHOWN_AT_LEAST_MS = 10000;

// The path a record keeps of an item given as `path`: trailing slashes name the item itself.
const asRecorded = (path) => path.replace(/(.)\/+$/, '$1');

export class UndoNotice {
  constructor(app) {
    this.app = app;
    this.offer_ = null; // { moved, bytes, putBack, at, undoing }
    this.report = null; // { summary, failed: Map } after an undo
    this.timer = null;
  }

  // After a move: `moved` is the answer's [{ path, trashPath }], `bytes` their size, and
  // `putBack(paths)` shows again the items of these paths once they are back.
  offer({ moved, bytes, putBack }) {
    clearTimeout(this.timer);
    this.timer = null;
    this.offer_ = { moved, bytes, putBack, at: Date.now(), undoing: false };
    this.report = null;
    this.app.update();
  }

  // The person moved on: the notice goes, once it has been up long enough to be read. A report
  // of an undo goes at once.
  movedOn() {
    const offered = this.offer_;
    if (this.report) {
      this.report = null;
      this.app.update();
    }
    if (!offered || offered.undoing || this.timer) return;
    const end = () => {
      this.timer = null;
      if (this.offer_ !== offered) return;
      this.offer_ = null;
      this.app.update();
    };
    const left = offered.at + SHOWN_AT_LEAST_MS - Date.now();
    if (left <= 0) end();
    else this.timer = setTimeout(end, left);
  }

  async undo() {
    const offered = this.offer_;
    if (!offered || offered.undoing) return;
    offered.undoing = true;
    clearTimeout(this.timer);
    this.timer = null;
    this.app.update();
    let answer;
    try {
      answer = await this.app.runWork('restoreItems', { paths: offered.moved.map((item) => item.trashPath) });
    } catch (error) {
      offered.undoing = false;
      this.report = { summary: error.message, failed: new Map() };
      this.app.update();
      return;
    }
    const back = new Set(answer.restored);
    const returned = offered.moved.filter((item) => back.has(asRecorded(item.path)));
    const from = new Map(offered.moved.map((item) => [item.trashPath, item.path]));
    const failed = new Map([...reasonsInOrder(answer)].map(([entry, line]) => [from.get(entry) ?? entry,
      whyNotPutBack(line, entry, asRecorded(from.get(entry) ?? entry))]));
    const parts = [`Put back ${plural(returned.length, 'item', 'items')}.`];
    if (failed.size) parts.push(`${plural(failed.size, 'item', 'items')} could not be put back and ${failed.size === 1 ? 'stays' : 'stay'} in the Trash.`);
    this.offer_ = null;
    this.report = { summary: parts.join(' '), failed };
    offered.putBack?.(returned.map((item) => item.path));
    this.app.update();
  }

  // Always in the page, so that what appears in it is announced.
  view() {
    return html`<div class="undo-notice" role="status">${this.offer_ ? this.offerView() : this.report ? this.reportView() : nothing}</div>`;
  }

  offerView() {
    const { moved, bytes, undoing } = this.offer_;
    const them = moved.length === 1 ? 'it' : 'them';
    return html`<p>Moved ${plural(moved.length, 'item', 'items')} (${formatBytes(bytes)}) to the Trash —
      <button type="button" ?disabled=${undoing || this.app.work !== null} @click=${() => this.undo()}>Undo</button>
      <span class="quiet">or put ${them} back later from the <a href="#trash">Trash</a> screen</span></p>`;
  }

  reportView() {
    const { summary, failed } = this.report;
    return html`<p>${summary}</p>${failed.size ? html`<ul>${[...failed].map(([path, reason]) => html`<li>
      <span class="path">${shown(path)}</span>${reason ? html`: ${shown(reason)}` : nothing}</li>`)}</ul>` : nothing}`;
  }
}
