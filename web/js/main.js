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
import { plainPath, shown } from './names.js';
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
  stats: ['Counting files by type and age', 'files'],
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
    this.lastFocus = null; // the element that last took focus; it may have gone or been disabled since
    this.focusNext = null; // where focus goes should it drop now: () => element or null
    this.focusNow = null; // where focus goes after the next drawing, wherever it is
    this.home = null; // the home folder, as the service gives it, once asked
    document.addEventListener('focusin', (event) => { this.lastFocus = event.target; });
    window.addEventListener('hashchange', () => this.route(true));
    this.route(false);
  }

  route(moveFocus) {
    const id = location.hash.slice(1);
    this.screen?.hide?.();
    this.undo.movedOn();
    this.screenId = id in this.screens ? id : 'overview';
    // Before the connection a screen has nothing to ask; it is shown again once connected.
    if (this.connected) this.screen.show();
    document.title = `${this.screen.title} · Nimbra`;
    this.update();
    // Keyboard and screen reader users land on the new screen's heading.
    if (moveFocus) requestAnimationFrame(() => this.host.querySelector('main h1')?.focus());
  }

  get connected() {
    return this.status === Status.connected;
  }

  get screen() {
    return this.screens[this.screenId];
  }

  onStatus(status) {
    this.status = status;
    // Connected, or back after a lost connection: the screen shows the figures of now, or what
    // it failed to get.
    if (status === Status.connected) {
      this.screen.show();
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
      this.screen.drawn?.();
      requestAnimationFrame(() => this.keepFocus());
      const marks = this.marks.splice(0);
      if (marks.length) requestAnimationFrame(() => marks.forEach((name) => performance.mark(name)));
    });
  }

  // After drawing: when the control that had focus went away or was disabled (a removed row,
  // the running work's "Cancel", a button of a screen at work), focus goes where the screen
  // asked (focusNext), else to "Cancel" while work runs, else to the heading of the screen's
  // result or of the screen, never to the page itself. Focus that a person moved elsewhere is
  // left where it is.
  keepFocus() {
    const now = this.focusNow?.();
    this.focusNow = null;
    if (now) {
      now.focus();
      return;
    }
    const next = this.focusNext;
    const active = document.activeElement;
    const dropped = this.lastFocus !== null && (!this.lastFocus.isConnected || this.lastFocus.disabled)
      && (active === null || active === document.body || active === this.lastFocus);
    if (!dropped) {
      this.focusNext = null; // asked for when focus was elsewhere: it stays there
      return;
    }
    const target = next?.() ?? this.host.querySelector('.work button') ?? this.host.querySelector('main .result-head')
      ?? this.host.querySelector('main h1');
    if (target?.isConnected) {
      this.focusNext = null;
      target.focus();
    }
  }

  // Moves focus to what `find` answers once the page is drawn again.
  focusSoon(find) {
    this.focusNow = find;
  }

  // The same, after work that began with focus on `since`: unless the person has moved focus
  // elsewhere meanwhile, which stays where they put it.
  focusUnlessMoved(since, find) {
    this.focusNow = () => {
      const active = document.activeElement;
      const moved = active && active !== document.body && active !== since && active.isConnected && !active.disabled
        && !active.closest('.work');
      return moved ? null : find();
    };
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
        ${event?.path ? html`<span class="path">${shown(plainPath(event.path))}</span>` : nothing}</p>
    </section>`;
  }
}

new App(document.getElementById('app'));
