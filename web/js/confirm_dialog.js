// The confirmation before anything is removed: a modal dialog that lists every item that goes,
// with the total, and what stays where that matters, "Cancel" focused first and the action's own
// name on the button that does it. Escape, like "Cancel", closes it with nothing done.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, plural } from './format.js';
import { plainPath, shown } from './names.js';

export class ConfirmDialog {
  constructor(app) {
    this.app = app;
    this.asked = null; // { heading, lead, action, danger, items, noun, stays, total, resolve, opener }
  }

  // Answers true when the person confirms. `items` are { path, size, note } (size and note may
  // be absent; a note says more of the item, such as when it went to the Trash); `noun` what they
  // are (["file", "files"]), as the heading counts them; `stays`, when given, the items kept
  // beside them ({ path }); `total` the bytes that go, when known.
  ask({ heading, lead, action, items, noun = ['item', 'items'], stays = [], total = null, danger = false }) {
    this.settle(false);
    return new Promise((resolve) => {
      this.asked = { heading, lead, action, items, noun, stays, total, danger, resolve, opener: document.activeElement };
      this.app.update();
    });
  }

  settle(confirmed) {
    const asked = this.asked;
    if (!asked) return;
    this.asked = null;
    this.app.update();
    asked.resolve(confirmed);
    if (asked.opener?.isConnected) asked.opener.focus();
  }

  // After drawing: opens the dialog that was just drawn.
  opened(host) {
    const dialog = host.querySelector('dialog.confirm');
    if (!dialog || dialog.open) return;
    dialog.showModal();
    dialog.querySelector('button.cancel').focus();
  }

  view() {
    const asked = this.asked;
    if (!asked) return nothing;
    const close = (confirmed) => (event) => {
      event.preventDefault();
      event.target.closest('dialog').close();
      this.settle(confirmed);
    };
    const count = plural(asked.items.length, ...asked.noun);
    return html`<dialog class="confirm" aria-labelledby="confirm-heading" aria-describedby="confirm-lead"
        @cancel=${close(false)}>
      <h2 id="confirm-heading">${asked.heading}</h2>
      <p id="confirm-lead">${asked.lead}</p>
      <ul class="going" tabindex="0" aria-label="What goes">${asked.items.map((item) => html`<li>
        <span class="path">${shown(plainPath(item.path))}</span>
        ${item.note ? html`<span class="note">${item.note}</span>` : nothing}
        ${item.size === undefined ? nothing : html`<span class="number">${formatBytes(item.size)}</span>`}</li>`)}
      </ul>
      <p class="going-total">${asked.total === null ? count : `${count}, ${formatBytes(asked.total)} in all`}</p>
      ${asked.stays.length ? html`<p class="staying-head">Stays</p>
      <ul class="staying" tabindex="0" aria-label="What stays">${asked.stays.map((item) => html`<li>
        <span class="path">${shown(plainPath(item.path))}</span></li>`)}
      </ul>` : nothing}
      <div class="buttons">
        <button type="button" class="cancel" @click=${close(false)}>Cancel</button>
        <button type="button" class=${asked.danger ? 'danger' : 'primary'} @click=${close(true)}>${asked.action}</button>
      </div>
    </dialog>`;
  }
}
