// Applications: the installed ones with their icons, and for the chosen one what it left in
// the library folders. "Uninstall" moves the application to the Trash and then, once it went,
// the chosen leftovers; "Delete permanently" removes them for good (uninstallApp: the
// leftovers too only once the application is gone). An application that would not move is
// offered "Uninstall as administrator", which deletes it and its leftovers for good.

import { html, nothing } from '../vendor/lit-html.js';
import { totalSize } from './choice.js';
import { formatBytes, formatDate, plural } from './format.js';
import { baseName, shown, shownText } from './names.js';
import { DELETE_PERMANENTLY, outcomeView, removeItems } from './removal.js';
import { failure, notRemoved, onGridFocus, onGridKey } from './widgets.js';

const UNINSTALL = 'Uninstall';
const UNINSTALL_AS_ADMINISTRATOR = 'Uninstall as administrator';

// Why a leftover was matched to `app`, by the rules the service matched it with.
function leftoverReason(item, app) {
  if (item.weak) {
    return `only its name matches the end of ${app.bundleId}; it may belong to something else`;
  }
  const id = app.bundleId.toLowerCase();
  if (id && baseName(item.path).toLowerCase().includes(id)) return `holds the identifier ${app.bundleId}`;
  return `named after ${app.name}`;
}

export class ApplicationsScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Applications';
    this.apps = null;
    this.chosenApp = null;
    this.leftovers = null; // of the chosen application, once found
    this.chosen = new Set(); // leftover paths
    this.failed = new Map(); // path -> why a removal left it
    this.outcome = null;
    this.stuck = null; // the chosen application, when it would not move to the Trash
    this.error = null;
  }

  // Lists the applications on the first visit; while other work runs, "Refresh" does later.
  show() {
    if (this.apps === null && this.app.work === null) this.load();
  }

  async load() {
    this.error = null;
    try {
      const answer = await this.app.runWork('listApps');
      this.apps = answer.apps;
      this.chosenApp = null;
      this.leftovers = null;
      this.stuck = null;
      this.app.update('nimbra:apps-drawn');
    } catch (error) {
      this.error = error;
      this.app.update();
    }
  }

  async chooseApp(app) {
    this.chosenApp = app;
    this.leftovers = null;
    this.chosen.clear();
    this.outcome = null;
    this.stuck = null;
    this.app.update();
    requestAnimationFrame(() => this.app.host.querySelector('#app-detail-title')?.focus());
    try {
      await this.findLeftovers(app);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // Looks for the leftovers of `app` (again). The sure matches are chosen, a match by a common
  // word is left to the person; what the person chose or left before stays so.
  async findLeftovers(app) {
    const answer = await this.app.runWork('appLeftovers', { bundleId: app.bundleId, name: app.name });
    if (this.chosenApp !== app) return;
    const seen = new Set((this.leftovers ?? []).map((item) => item.path));
    this.leftovers = answer.items;
    const found = new Set(this.leftovers.map((item) => item.path));
    for (const path of [...this.chosen]) if (!found.has(path)) this.chosen.delete(path);
    for (const item of this.leftovers) if (!item.weak && !seen.has(item.path)) this.chosen.add(item.path);
  }

  chosenLeftovers() {
    return (this.leftovers ?? []).filter((item) => this.chosen.has(item.path));
  }

  async remove(action) {
    const app = this.chosenApp;
    const name = shownText(app.name);
    const leftovers = this.chosenLeftovers();
    const outcome = await removeItems(this.app, [{ path: app.path, size: app.size }, ...leftovers], {
      action,
      toTrash: action === UNINSTALL,
      heading: action === UNINSTALL ? `Uninstall ${name}?` : `Delete ${name} permanently?`,
      call: (paths) => ['uninstallApp', { paths, toTrash: false }],
      first: app.path,
      putBack: (paths) => this.putBack(app, paths),
    });
    this.removed(app, outcome, leftovers.length > 0);
  }

  // The administrator's way, after the Trash refused the application: deleted for good, the
  // application and the leftovers found now (what was found before may have changed since).
  async removeAsAdministrator() {
    const app = this.chosenApp;
    let size;
    try {
      await this.findLeftovers(app);
      ({ size } = await this.app.runWork('sizeOf', { path: app.path }));
    } catch (error) {
      this.error = error;
      this.app.update();
      return;
    }
    if (this.chosenApp !== app) return;
    this.app.update();
    const name = shownText(app.name);
    const leftovers = this.chosenLeftovers();
    const outcome = await removeItems(this.app, [{ path: app.path, size }, ...leftovers], {
      action: UNINSTALL_AS_ADMINISTRATOR,
      toTrash: false,
      heading: `Uninstall ${name} as administrator?`,
      lead: 'These are deleted for good, with an administrator\'s rights where they are needed (the desktop asks '
        + 'for the password): they do not go to the Trash and cannot be put back.',
      call: (paths) => ['uninstallApp', { paths, toTrash: false }],
    });
    this.removed(app, outcome, leftovers.length > 0);
  }

  // After a removal of `app`, with leftovers or not: the list and the report. Leftovers go only
  // once the application went (without it they would be lost, and it would be left without
  // them), so when it stayed they stayed too.
  removed(app, outcome, withLeftovers) {
    if (!outcome) return;
    const name = shownText(app.name);
    const stayed = withLeftovers ? ', so nothing else was: its leftovers stay with it.' : '.';
    this.outcome = outcome;
    this.stuck = null;
    for (const [path, reason] of outcome.failed) this.failed.set(path, reason);
    if (outcome.firstStayed && outcome.failed.has(app.path)) {
      outcome.summary = `${name} could not be moved to the Trash${stayed}`;
      this.stuck = app;
    } else if (!outcome.error && !outcome.firstStayed && !outcome.covers(app.path)) {
      outcome.summary = `${name} could not be deleted${stayed}`;
    }
    if (outcome.covers(app.path)) {
      // Focus goes to the application listed in its place.
      const at = this.apps.indexOf(app);
      this.app.focusNext = () => {
        const rows = this.app.host.querySelectorAll('table.apps tbody tr');
        return rows[Math.min(at, rows.length - 1)]?.querySelector('button') ?? null;
      };
      this.apps = this.apps.filter((listed) => listed !== app);
      this.chosenApp = null;
      this.leftovers = null;
    } else {
      // Whether or not work took focus meanwhile, it ends on the button that asked.
      this.app.focusNext = () => this.app.host.querySelector('.app-detail .toolbar button.primary');
      this.leftovers = this.leftovers?.filter((item) => !outcome.covers(item.path)) ?? null;
    }
    for (const path of [...this.chosen]) if (outcome.covers(path)) this.chosen.delete(path);
    this.app.update();
  }

  // An uninstall undone: the application is listed again (its leftovers went back with it and
  // are found when it is chosen).
  putBack(app, paths) {
    if (!paths.includes(app.path) || this.apps === null) return;
    for (const path of paths) this.failed.delete(path);
    if (!this.apps.some((listed) => listed.path === app.path)) {
      this.apps = [...this.apps, app].sort((a, b) => Number(b.size) - Number(a.size));
    }
    this.app.update();
  }

  view() {
    const busy = this.app.work !== null;
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Applications</h1>
        <button type="button" ?disabled=${busy} @click=${() => this.load()}>Refresh</button>
      </div>
      ${this.error ? failure(this.error) : nothing}
      ${outcomeView(this.outcome)}
      ${this.apps === null ? html`<p class="quiet">${busy ? 'Listing applications…' : 'Press Refresh to list the applications.'}</p>`
        : html`<div class="apps-layout">${this.listView()}${this.chosenApp ? this.detailView(busy) : nothing}</div>`}`;
  }

  listView() {
    if (this.apps.length === 0) return html`<p class="quiet">No applications in /Applications or ~/Applications.</p>`;
    const row = (app) => html`<tr class=${app === this.chosenApp ? 'current' : ''}>
      <td class="icon">${app.icon
        ? html`<img class="app-icon" src="data:image/png;base64,${app.icon}" width="64" height="64" alt="">`
        : html`<svg class="app-icon" viewBox="0 0 64 64" aria-hidden="true"><rect x="6" y="6" width="52" height="52" rx="12"></rect></svg>`}</td>
      <th scope="row"><button type="button" class="link" tabindex="-1" aria-pressed=${app === this.chosenApp ? 'true' : 'false'}
        @click=${() => this.chooseApp(app)}>${shown(app.name)}</button>
        <span class="quiet path">${shown(app.path)}</span>
        ${app.isApple ? html`<span class="quiet">Comes with the system</span>` : nothing}
        ${notRemoved(this.failed.get(app.path))}</th>
      <td class="optional">${shown(app.version)}</td>
      <td class="number">${formatBytes(app.size)}</td>
      <td class="number optional">${formatDate(app.modified)}</td>
    </tr>`;
    return html`<table class="grid items apps" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption class="hidden">Applications, the largest first</caption>
      <thead><tr><th scope="col"><span class="hidden">Icon</span></th><th scope="col">Name</th><th scope="col" class="optional">Version</th>
        <th scope="col" class="number">Size</th><th scope="col" class="number optional">Modified</th></tr></thead>
      <tbody>${this.apps.map(row)}</tbody>
    </table>`;
  }

  detailView(busy) {
    const app = this.chosenApp;
    const leftovers = this.leftovers;
    const chosen = (leftovers ?? []).filter((item) => this.chosen.has(item.path));
    const total = Number(app.size) + totalSize(chosen);
    const row = (item) => html`<tr>
      <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(item.path)}
        .checked=${this.chosen.has(item.path)} @change=${(e) => this.choose(item.path, e.target.checked)}></td>
      <td><span class="path">${shown(item.name)}</span>
        <span class=${item.weak ? 'reason weak' : 'reason'}>${shown(leftoverReason(item, app))}</span>
        ${notRemoved(this.failed.get(item.path))}</td>
      <td class="number">${formatBytes(item.size)}</td>
    </tr>`;
    return html`<section class="card app-detail" aria-labelledby="app-detail-title">
      <div class="app-title">
        ${app.icon ? html`<img class="app-icon large" src="data:image/png;base64,${app.icon}" width="64" height="64" alt="">` : nothing}
        <h2 id="app-detail-title" tabindex="-1">${shown(app.name)}</h2>
      </div>
      <p class="quiet"><span class="path">${shown(app.path)}</span> · ${formatBytes(app.size)}</p>
      <h3>Leftovers</h3>
      ${leftovers === null ? html`<p class="quiet">Looking for leftovers…</p>` : leftovers.length === 0
        ? html`<p class="quiet">None found.</p>`
        : html`<table class="grid items leftovers" @keydown=${onGridKey} @focusin=${onGridFocus}>
          <caption class="hidden">Leftovers of ${shownText(app.name)}</caption>
          <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th><th scope="col">Item and why it matched</th>
            <th scope="col" class="number">Size</th></tr></thead>
          <tbody>${leftovers.map(row)}</tbody>
        </table>`}
      ${this.stuck === app ? html`<div class="admin-offer">
        <p>The Trash cannot take ${shown(app.name)}. As administrator, it and the chosen leftovers can be deleted
          for good instead.</p>
        <button type="button" class="danger" ?disabled=${busy || leftovers === null}
          @click=${() => this.removeAsAdministrator()}>${UNINSTALL_AS_ADMINISTRATOR}</button>
      </div>` : nothing}
      <div class="toolbar">
        <p class="chosen-total">The application${chosen.length ? ` and ${plural(chosen.length, 'leftover', 'leftovers')}` : ''},
          ${formatBytes(total)}</p>
        <button type="button" class="primary" ?disabled=${busy || leftovers === null} @click=${() => this.remove(UNINSTALL)}>${UNINSTALL}</button>
        <button type="button" class="danger" ?disabled=${busy || leftovers === null} @click=${() => this.remove(DELETE_PERMANENTLY)}>${DELETE_PERMANENTLY}</button>
      </div>
    </section>`;
  }

  choose(path, chosen) {
    if (chosen) this.chosen.add(path);
    else this.chosen.delete(path);
    this.app.update();
  }
}
