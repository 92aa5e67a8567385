// Startup items: what starts by itself, by kind. A launch job has a switch that loads or
// unloads it (for jobs of the whole machine the desktop asks for an administrator's password;
// the page never does), and any item can be removed.

import { html, nothing } from '../vendor/lit-html.js';
import { shown, shownText } from './names.js';
import { failure, refresh } from './widgets.js';

const KINDS = [
  ['userAgent', 'Your launch agents', 'Started when you log in.'],
  ['globalAgent', 'Launch agents for every user', 'Started when anyone logs in; changing them needs an administrator.'],
  ['daemon', 'Launch daemons', 'Started with the machine; changing them needs an administrator.'],
  ['loginItem', 'Login items', 'Opened when you log in; they can only be removed.'],
];

// `text` ending as a sentence does: the service's own texts may end without a full stop.
const sentence = (text) => (/[.!?]$/.test(text) ? text : `${text}.`);

export class StartupItemsScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Startup items';
    this.items = null;
    this.pending = new Set(); // ids with a call under way
    this.notes = new Map(); // id -> { text, failed } from the last change
    this.loading = false;
    this.error = null;
  }

  show() {
    this.load();
  }

  load() {
    return refresh(this, async () => {
      this.items = (await this.app.channel.call('listStartupItems')).items;
      this.notes.clear();
    }, 'nimbra:startup-drawn');
  }

  async change(item, method, args, apply) {
    this.pending.add(item.id);
    this.app.update();
    try {
      const answer = await this.app.channel.call(method, { id: item.id, kind: item.kind, ...args });
      apply(answer);
    } catch (error) {
      this.notes.set(item.id, { text: error.message, failed: true });
    } finally {
      this.pending.delete(item.id);
      this.app.update();
    }
  }

  // The switch was flipped by the person; it shows what the service then did. On a failure it
  // is turned back here: the page draws `item.enabled`, which did not change, so drawing again
  // would leave the switch where the click put it.
  async switchTo(item, toggle) {
    const enabled = toggle.checked;
    await this.change(item, 'setStartupItem', { enabled }, (answer) => {
      if (answer.ok) {
        item.enabled = enabled;
        this.notes.set(item.id, { text: `${enabled ? 'Switched on' : 'Switched off'}.${answer.output ? ` ${answer.output}` : ''}`, failed: false });
      } else {
        this.notes.set(item.id, { text: sentence(`Could not switch it ${enabled ? 'on' : 'off'}${answer.error ? `: ${answer.error}` : ''}`), failed: true });
      }
    });
    toggle.checked = item.enabled;
  }

  async remove(item) {
    const confirmed = await this.app.confirmation.ask({
      heading: `Remove ${shownText(item.name)}?`,
      lead: item.kind === 'loginItem' ? 'The login item is removed; the application it opens stays.'
        : `The job is switched off and its file deleted for good${item.editable ? '' : ', with an administrator\'s rights'}.`,
      action: 'Remove',
      items: [{ path: item.kind === 'loginItem' ? item.name : item.id }],
      danger: true,
    });
    if (!confirmed) return;
    const at = this.shownOrder().indexOf(item);
    this.change(item, 'removeStartupItem', {}, (answer) => {
      if (answer.ok) {
        this.items = this.items.filter((listed) => listed !== item);
        // Its row goes, and with it the focus: the row now in its place takes it.
        this.app.focusNext = () => {
          const rows = this.app.host.querySelectorAll('.startup-item');
          return rows[Math.min(at, rows.length - 1)]?.querySelector('input, button') ?? null;
        };
      } else {
        this.notes.set(item.id, { text: sentence(`Not removed${answer.error ? `: ${answer.error}` : ''}`), failed: true });
      }
    });
  }

  // The items in the order the screen shows them, kind by kind.
  shownOrder() {
    return KINDS.flatMap(([kind]) => this.items.filter((item) => item.kind === kind));
  }

  view() {
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Startup items</h1>
        <button type="button" ?disabled=${this.loading} @click=${() => this.load()}>Refresh</button>
      </div>
      ${this.error ? failure(this.error) : nothing}
      ${this.items === null ? html`<p class="quiet">${this.loading ? 'Loading…' : ''}</p>`
        : KINDS.map(([kind, title, about]) => this.kindView(kind, title, about))}`;
  }

  kindView(kind, title, about) {
    const items = this.items.filter((item) => item.kind === kind);
    return html`<section class="card startup-kind" aria-labelledby="startup-${kind}">
      <h2 id="startup-${kind}">${title}</h2>
      <p class="quiet">${about}</p>
      ${items.length ? html`<ul class="startup-items">${items.map((item) => this.itemView(item))}</ul>`
        : html`<p class="quiet">None.</p>`}
    </section>`;
  }

  itemView(item) {
    const busy = this.pending.has(item.id);
    const note = this.notes.get(item.id);
    const nameId = `startup-name-${this.items.indexOf(item)}`;
    const isJob = item.kind !== 'loginItem';
    // While its call is under way the item's controls are marked, not disabled, so that focus
    // stays on them; what they are asked meanwhile is ignored.
    const ignoreWhileBusy = (event) => { if (this.pending.has(item.id)) event.preventDefault(); };
    return html`<li class="startup-item">
      ${isJob ? html`<input type="checkbox" role="switch" class="switch" aria-label=${shownText(item.name)}
        .checked=${item.enabled} aria-disabled=${busy ? 'true' : 'false'} @click=${ignoreWhileBusy}
        @change=${(e) => this.switchTo(item, e.target)}>` : nothing}
      <div class="startup-text">
        <span id=${nameId} class="startup-name">${shown(item.name)}${item.editable ? nothing : html` <svg class="lock"
          viewBox="0 0 16 16" role="img" aria-label="needs an administrator"><title>Needs an administrator</title>
          <rect x="3" y="7" width="10" height="8" rx="1.5"></rect><path d="M5 7V5a3 3 0 0 1 6 0v2" fill="none"></path></svg>`}</span>
        ${item.path ? html`<span class="quiet path">${shown(item.path)}</span>` : nothing}
        ${isJob ? html`<span class="quiet">${item.enabled ? 'On' : 'Off'}${item.runAtLoad ? ' · runs at load' : ''}</span>` : nothing}
        ${note ? html`<span class=${note.failed ? 'failure' : 'quiet'} role="status">${shown(note.text)}</span>` : nothing}
      </div>
      <button type="button" aria-describedby=${nameId} aria-disabled=${busy ? 'true' : 'false'}
        @click=${() => { if (!this.pending.has(item.id)) this.remove(item); }}>Remove</button>
    </li>`;
  }
}
