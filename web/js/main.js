// The page's shell: the connection and its status line, the navigation between screens, the
// progress of the running work with its "Cancel", the notice that undoes a move to the Trash,
// and the confirmation dialog.

import { html, nothing, render } from '../vendor/lit-html.js';
import { ApplicationsScreen } from './applications.js';
import { Channel, Status, takeSecret } from './channel.js';
import { ConfirmDialog } from './confirm_dialog.js';
import { DiskUsageScreen } from './disk_usage.js';
import { DuplicatesScreen } from './duplicates.js';
import { formatBytes, formatCount } from './format.js';
import { JunkScreen } from './junk.js';
import { LargeFilesScreen } from './large_files.js';
import { MemoryScreen } from './memory.js';
import { shown } from './names.js';
import { OverviewScreen } from './overview.js';
import { StartupItemsScreen } from './startup_items.js';
import { TrashScreen, TrashSummary } from './trash.js';
import { UndoNotice } from './undo_notice.js';
import { keepGridTabStops } from './widgets.js';

// Listing the Trash reports under the task of moving to it: the method tells them apart.
const METHOD_WORDS = { listTrash: ['Reading the Trash', 'items'] };

const STATUS_TEXT = {
  [Status.connecting]: 'Connecting…',
  [Status.connected]: 'Connected',
  [Status.lost]: 'Connection lost. Trying again…',
  [Status.refused]: 'This page belongs to an earlier run of nimbra ui. Open the address it printed this time.',
  [Status.noSecret]: 'This page was opened without its key. Open the address that nimbra ui printed.',
};

// The progress events' task names, and what their count counts.
const TASKS = {
  junk: ['Looking for junk', 'items'],
  large: ['Looking for large files', 'files'],
  dupes: ['Looking for duplicates', 'files'],
  disk: ['Measuring folders', 'files'],
  delete: ['Removing', 'items'],
  trash: ['Moving to the Trash', 'items'],
  restore: ['Putting back', 'items'],
  apps: ['Listing applications', 'applications'],
};

class App {
  constructor(host) {
    this.host = host;
    this.status = null;
    this.work = null; // { method, event } while a long call runs
    this.marks = [];
    this.channel = new Channel(takeSecret(), {
      onStatus: (status) => this.onStatus(status),
      onEvent: (event) => {
        if (this.work) this.work.event = event;
        this.update();
      },
    });
    this.confirmation = new ConfirmDialog(this);
    this.trashSummary = new TrashSummary(this);
    this.undo = new UndoNotice(this);
    // In navigation order; the key is the address's fragment.
    this.screens = {
      overview: new OverviewScreen(this),
      disk: new DiskUsageScreen(this),
      large: new LargeFilesScreen(this),
      duplicates: new DuplicatesScreen(this),
      junk: new JunkScreen(this),
      applications: new ApplicationsScreen(this),
      trash: new TrashScreen(this),
      startup: new StartupItemsScreen(this),
      memory: new MemoryScreen(this),
    };
    window.addEventListener('hashchange', () => this.route(true));
    this.route(false);
  }

  route(moveFocus) {
    const id = location.hash.slice(1);
    this.screen?.hide?.();
    this.undo.movedOn();
    this.screenId = id in this.screens ? id : 'overview';
    this.screen.show();
    document.title = `${this.screen.title} · Nimbra`;
    this.update();
    // Keyboard and screen reader users land on the new screen's heading.
    if (moveFocus) requestAnimationFrame(() => this.host.querySelector('main h1')?.focus());
  }

  get screen() {
    return this.screens[this.screenId];
  }

  onStatus(status) {
    this.status = status;
    // Back after a lost connection: the screen shows the figures of now, or what it failed to get.
    if (status === Status.connected) {
      if (this.wasConnected) this.screen.show();
      this.wasConnected = true;
      this.trashSummary.refresh();
    }
    this.update();
  }

  // Draws again before the next frame. With `mark`, a performance mark of that name is set
  // once the drawing is on screen.
  update(mark) {
    if (mark) this.marks.push(mark);
    if (this.drawPending) return;
    this.drawPending = true;
    queueMicrotask(() => {
      this.drawPending = false;
      render(this.view(), this.host);
      this.confirmation.opened(this.host);
      keepGridTabStops(this.host);
      const marks = this.marks.splice(0);
      if (marks.length) requestAnimationFrame(() => marks.forEach((name) => performance.mark(name)));
    });
  }

  // Runs a long call of the work queue, with the progress bar and "Cancel" shown meanwhile.
  async runWork(method, args) {
    const work = { method, event: null };
    this.work = work;
    this.undo.movedOn();
    this.update();
    try {
      return await this.channel.call(method, args);
    } finally {
      // A call made meanwhile (the service runs them in turn) keeps the bar.
      if (this.work === work) this.work = null;
      this.trashSummary.changedBy(method);
      this.update();
    }
  }

  view() {
    const status = this.status ?? Status.connecting;
    return html`
      <a class="skip" href="#main" @click=${(e) => { e.preventDefault(); this.host.querySelector('main h1')?.focus(); }}>Skip to content</a>
      <header class="top">
        <span class="brand">Nimbra</span>
        <p class="status status-${status}" role="status">${STATUS_TEXT[status]}</p>
      </header>
      <nav class="screens" aria-label="Screens"><ul>
        ${Object.entries(this.screens).map(([id, screen]) => html`<li><a href="#${id}"
          aria-current=${id === this.screenId ? 'page' : nothing} aria-describedby=${screen.navNote ? `${id}-note` : nothing}
          >${screen.title}</a>${screen.navNote?.(`${id}-note`) ?? nothing}</li>`)}
      </ul></nav>
      ${this.work ? this.workView() : nothing}
      <main id="main">${this.undo.view()}${this.screen.view()}</main>
      ${this.confirmation.view()}`;
  }

  workView() {
    const event = this.work.event;
    const [doing, counted] = METHOD_WORDS[this.work.method] ?? TASKS[event?.task] ?? ['Working', 'items'];
    return html`<section class="work" aria-label="Running work">
      <div class="work-line">
        <progress aria-label=${doing}></progress>
        <button type="button" @click=${() => this.channel.call('cancel').catch(() => {})}>Cancel</button>
      </div>
      <p class="work-text"><span>${doing}${event ? `: ${formatCount(event.count)} ${counted}, ${formatBytes(event.bytes)}` : '…'}</span>
        ${event?.path ? html`<span class="path">${shown(event.path)}</span>` : nothing}</p>
    </section>`;
  }
}

new App(document.getElementById('app'));
