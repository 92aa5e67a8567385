// Disk usage's "File types" and "Age" views of the shown folder, from one walk of it
// (fileStats): its bytes and files by kind, each kind open to its extensions and to a list of
// its largest files, which can be chosen like the tree's entries; and by the age of the last
// change.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, formatCount, formatDate, formatShare, plural } from './format.js';
import { shown, shownText } from './names.js';
import { gapsView } from './scan_gaps.js';
import { middlePath, notRemoved, onGridFocus, onGridKey, usageBar } from './widgets.js';

// Each kind of the service: its name, and its files in a sentence.
const KINDS = {
  images: ['Images', 'images'],
  video: ['Video', 'videos'],
  audio: ['Audio', 'audio files'],
  documents: ['Documents', 'documents'],
  archives: ['Archives and disk images', 'archives and disk images'],
  code: ['Code', 'code files'],
  applications: ['Applications and libraries', 'application files'],
  other: ['Other', 'other files'],
};
// The ages of the service, youngest first.
const AGES = [['month', 'Under a month'], ['halfYear', '1–6 months'], ['year', '6–12 months'],
  ['twoYears', '1–2 years'], ['older', 'Over 2 years']];

export class FileStats {
  constructor(app) {
    this.app = app;
    this.answers = new Map(); // folder path -> its fileStats answer
    this.open = new Set(); // the kinds shown open
    this.largest = null; // { path, kind, answer } of the list shown
    this.stale = new Set(); // folders whose figures a removal has changed since
    this.error = null;
  }

  // The figures of the folder at `path`, counted unless they are already.
  async load(path, again = false) {
    if (this.answers.has(path) && !again) return;
    this.error = null;
    try {
      const answer = await this.app.runWork('fileStats', { path });
      this.answers.set(path, answer);
      this.stale.delete(path);
    } catch (error) {
      this.error = error;
    }
    this.app.update('nimbra:stats-drawn');
  }

  async listLargest(path, kind) {
    this.error = null;
    try {
      const answer = await this.app.runWork('fileStats', { path, kind });
      this.largest = { path, kind, answer };
      this.answers.set(path, answer);
      this.stale.delete(path);
    } catch (error) {
      this.error = error;
    }
    this.app.update('nimbra:largest-drawn');
  }

  toggle(kind) {
    if (this.open.has(kind)) this.open.delete(kind);
    else this.open.add(kind);
    this.app.update();
  }

  // After a removal: what went leaves the list, and every folder's figures are said to be old.
  removed(outcome) {
    if (this.largest) {
      const items = this.largest.answer.largest.filter((item) => !outcome.covers(item.path));
      this.largest = { ...this.largest, answer: { ...this.largest.answer, largest: items } };
    }
    for (const path of this.answers.keys()) this.stale.add(path);
  }

  forget() {
    this.answers.clear();
    this.stale.clear();
    this.largest = null;
    this.open.clear();
  }

  // The view of `folder`: `which` is "types" or "ages". `on` as the tree's: choose(item,
  // chosen), isChosen(item), reveal(path), failed(path).
  view(which, folder, on) {
    const answer = this.answers.get(folder.path);
    if (!answer) return html`<p class="quiet">${this.error ? nothing : 'Counting…'}</p>`;
    const head = html`<p class="quiet stats-head">${formatBytes(answer.size)} in ${plural(answer.files, 'file', 'files')}
      below <span class="path">${shown(folder.path)}</span>, ${which === 'types' ? 'by type' : 'by the time of their last change'}</p>
      ${answer.cancelled ? html`<p class="partial" role="note"><strong>Partial:</strong> counting was cancelled;
        these are the files it reached.</p>` : nothing}
      ${this.stale.has(folder.path) || answer.cancelled ? html`<p class="note">${answer.cancelled ? '' : 'Counted before the last removal. '}<button
        type="button" @click=${() => this.load(folder.path, true)}>Count again</button></p>` : nothing}
      ${gapsView(answer)}`;
    return which === 'types' ? html`${head}${this.typesView(folder, answer)}${this.largestView(folder, on)}`
      : html`${head}${this.agesView(answer)}`;
  }

  typesView(folder, answer) {
    const total = Number(answer.size);
    const bar = (size, label) => html`<td class="meter-column optional">${usageBar(total ? Number(size) / total : 0, label)}</td>`;
    const kindRows = (kind) => {
      const [title, files] = KINDS[kind.kind] ?? [kind.kind, 'files'];
      const isOpen = this.open.has(kind.kind);
      const extensions = answer.extensions.filter((ext) => ext.kind === kind.kind);
      const rest = Number(kind.size) - extensions.reduce((sum, ext) => sum + Number(ext.size), 0);
      return html`<tbody>
        <tr class="kind"><th scope="row"><button type="button" class="link disclosure" aria-expanded=${String(isOpen)}
          @click=${() => this.toggle(kind.kind)}><span class="chevron" aria-hidden="true">${isOpen ? '▾' : '▸'}</span>${title}</button></th>
          <td class="number">${formatBytes(kind.size)}</td>${bar(kind.size, `${title}: share`)}
          <td class="number">${formatShare(kind.size, total)}</td><td class="number optional">${formatCount(kind.files)}</td></tr>
        ${isOpen ? html`${extensions.map((ext) => html`<tr class="extension">
            <th scope="row">${ext.ext ? `.${shownText(ext.ext)}` : 'no extension'}</th>
            <td class="number">${formatBytes(ext.size)}</td>${bar(ext.size, `.${ext.ext}: share`)}
            <td class="number">${formatShare(ext.size, total)}</td><td class="number optional">${formatCount(ext.files)}</td></tr>`)}
          ${rest > 0 ? html`<tr class="extension"><th scope="row">${extensions.length ? 'other extensions' : 'all extensions'}</th>
            <td class="number">${formatBytes(rest)}</td>${bar(rest, 'other extensions: share')}
            <td class="number">${formatShare(rest, total)}</td><td class="optional"></td></tr>` : nothing}
          <tr class="extension"><td colspan="5"><button type="button" ?disabled=${this.app.work !== null}
            @click=${() => this.listLargest(folder.path, kind.kind)}>List the largest ${files}</button></td></tr>` : nothing}
      </tbody>`;
    };
    return html`<table class="items stats">
      <caption class="hidden">File types</caption>
      <thead><tr><th scope="col">Type</th><th scope="col" class="number">Size</th>
        <th scope="col" class="optional"><span class="hidden">Share of the whole</span></th>
        <th scope="col" class="number">Share</th><th scope="col" class="number optional">Files</th></tr></thead>
      ${answer.kinds.filter((kind) => Number(kind.files) > 0).map(kindRows)}
    </table>`;
  }

  largestView(folder, on) {
    if (this.largest?.path !== folder.path) return nothing;
    const { kind, answer } = this.largest;
    const [, files] = KINDS[kind] ?? [kind, 'files'];
    const row = (item, index) => html`<tr>
      <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(item.path)}
        .checked=${on.isChosen(item)} @change=${(e) => on.choose({ ...item, files: 1 }, e.target.checked)}></td>
      <td class="number">${formatBytes(item.size)}</td>
      <td class="number optional">${formatDate(item.modified)}</td>
      <td class="copy"><span id=${`largest-${index}`}>${middlePath(item.path)}</span>${notRemoved(on.failed(item.path))}</td>
      <td class="reveal"><button type="button" tabindex="-1" aria-describedby=${`largest-${index}`}
        @click=${() => on.reveal(item.path)}>Reveal</button></td>
    </tr>`;
    return html`<section class="largest" aria-labelledby="largest-title">
      <h2 id="largest-title" tabindex="-1">The largest ${files} below <span class="path">${shown(folder.path)}</span></h2>
      ${answer.largest.length === 0 ? html`<p class="quiet">None left.</p>` : html`
      <table class="grid items largest-files" @keydown=${onGridKey} @focusin=${onGridFocus}>
        <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th><th scope="col" class="number">Size</th>
          <th scope="col" class="number optional">Modified</th><th scope="col">Path</th>
          <th scope="col" class="reveal"><span class="hidden">Reveal</span></th></tr></thead>
        <tbody>${answer.largest.map(row)}</tbody>
      </table>`}
      ${Number(answer.unnamed) > 0 ? html`<p class="note">${plural(answer.unnamed, 'file is', 'files are')} not listed:
        the ${Number(answer.unnamed) === 1 ? 'name is' : 'names are'} not valid UTF-8.</p>` : nothing}
    </section>`;
  }

  agesView(answer) {
    const total = Number(answer.size);
    const byAge = new Map(answer.ages.map((age) => [age.age, age]));
    return html`<table class="items stats">
      <caption class="hidden">Age</caption>
      <thead><tr><th scope="col">Last changed</th><th scope="col" class="number">Size</th>
        <th scope="col" class="optional"><span class="hidden">Share of the whole</span></th>
        <th scope="col" class="number">Share</th><th scope="col" class="number optional">Files</th></tr></thead>
      <tbody>${AGES.map(([key, title]) => {
        const age = byAge.get(key) ?? { size: 0, files: 0 };
        return html`<tr><th scope="row">${title}</th><td class="number">${formatBytes(age.size)}</td>
          <td class="meter-column optional">${usageBar(total ? Number(age.size) / total : 0, `${title}: share`)}</td>
          <td class="number">${formatShare(age.size, total)}</td><td class="number optional">${formatCount(age.files)}</td></tr>`;
      })}</tbody>
    </table>`;
  }
}
