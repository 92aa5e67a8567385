// The form of a screen that scans below a folder: "Folder" (the home folder at first),
// "Choose…" (the desktop's folder picker), "Measure" (how much the folder holds, before a
// longer scan of it), optionally "Minimum size", and "Scan".

import { html, nothing } from '../vendor/lit-html.js';
import { parseSize } from './choice.js';
import { folderOf, folderProblem, inside } from './folders.js';
import { formatBytes, formatSizeAsTyped } from './format.js';
import { gapsView } from './scan_gaps.js';

export class ScanForm {
  // `id` prefixes the fields' ids; `minSize` is the size field's first text, or null for none.
  constructor(app, id, { minSize = null } = {}) {
    this.app = app;
    this.id = id;
    this.folder = '';
    this.minSize = minSize;
    this.sizeWrong = false;
    this.measured = null; // { typed, size } of the last "Measure": the field's text then
    this.error = null;
  }

  async prefill() {
    if (this.folder) return;
    try {
      const home = await this.app.channel.call('homeDir');
      // A field the person has typed in, or is about to, is theirs.
      const field = document.getElementById(`${this.id}-folder`);
      if (!this.folder && (!field || document.activeElement !== field)) this.folder = home;
    } catch {
      // The field stays empty to be typed in.
    }
    this.app.update();
  }

  async choose() {
    this.error = null;
    try {
      const can = await this.app.channel.call('desktopAbilities');
      if (!can.pickFolder) {
        this.error = new Error('No folder panel can open here: it needs zenity or kdialog in a graphical session. '
          + 'Type the folder in the Folder field instead; ~ is your home folder.');
        this.app.focusSoon(() => this.field());
      } else {
        const folder = await this.app.channel.call('pickFolder');
        if (folder !== null) this.folder = folder;
      }
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  field() {
    return this.app.host.querySelector(`#${this.id}-folder`);
  }

  // The folder the field names; its size is measured as the folder's, so that a file typed in
  // the field measures as nothing and is said to be no folder.
  async measure() {
    const since = document.activeElement;
    this.error = null;
    this.measured = null;
    try {
      const folder = await folderOf(this.app, this.folder);
      const answer = await this.app.runWork('sizeOf', { path: inside(folder) });
      const { size } = answer;
      const problem = size === 0 ? await folderProblem(this.app, folder) : null;
      if (problem) this.fail(problem, since);
      else this.measured = { typed: this.folder, size, answer };
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // Says what is wrong with the folder, with focus in the field to mend it (unless the person
  // has gone on elsewhere since `since` had it).
  fail(problem, since) {
    this.error = new Error(problem);
    this.app.focusUnlessMoved(since, () => this.field());
  }

  // The minimum size in bytes; null (and the field marked) when it does not read as a size.
  minSizeBytes() {
    const bytes = parseSize(this.minSize ?? '');
    this.sizeWrong = bytes === null;
    this.app.update();
    return bytes;
  }

  // Runs `method` below the folder typed, with `args` besides the folder (under `rootKey`) and
  // the progress bar; answers { root, answer }, or null when the call failed or no folder is
  // there (the form says which). A scan answers without "cancelled" when it cannot open its root.
  // Focus, unless moved meanwhile, goes to the heading of the result the screen draws.
  async scanFolder(method, args = {}, rootKey = 'root') {
    const since = document.activeElement;
    this.error = null;
    this.measured = null;
    try {
      const root = await folderOf(this.app, this.folder);
      const answer = await this.app.runWork(method, { ...args, [rootKey]: root });
      const problem = 'cancelled' in answer ? null : await folderProblem(this.app, root);
      if (!problem) {
        this.app.focusUnlessMoved(since, () => this.app.host.querySelector('main .result-head'));
        return { root, answer };
      }
      this.fail(problem, since);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
    return null;
  }

  // Runs `method` ("scanLargeFiles", "scanDuplicates") below the folder with the minimum size;
  // answers { root, minSizeShown, answer }, or null when the size does not read or the scan
  // failed. `minSizeShown` is the size in the units it was typed in, for the result to say.
  async run(method) {
    const typed = this.minSize ?? '';
    const minSize = this.minSizeBytes();
    if (minSize === null) return null;
    const run = await this.scanFolder(method, { minSize });
    return run && { ...run, minSizeShown: formatSizeAsTyped(minSize, typed) };
  }

  // `scan()` runs when the form is sent while no work runs.
  view(scan) {
    const busy = this.app.work !== null;
    const id = this.id;
    return html`
      <form class="scan-form" @submit=${(e) => { e.preventDefault(); if (!busy) scan(); }}>
        <label for="${id}-folder">Folder</label>
        <input id="${id}-folder" type="text" autocomplete="off" spellcheck="false" .value=${this.folder}
          @input=${(e) => { this.folder = e.target.value; this.app.update(); }}>
        <button type="button" @click=${() => this.choose()} ?disabled=${busy}>Choose…</button>
        <button type="button" @click=${() => this.measure()} ?disabled=${busy || !this.folder}>Measure</button>
        ${this.minSize === null ? nothing : html`<span class="size-field">
          <label for="${id}-size">Minimum size</label>
          <input id="${id}-size" type="text" autocomplete="off" spellcheck="false" size="8" .value=${this.minSize}
            aria-invalid=${this.sizeWrong ? 'true' : 'false'}
            @input=${(e) => { this.minSize = e.target.value; }}></span>`}
        <button type="submit" class="primary" ?disabled=${busy || !this.folder}>Scan</button>
      </form>
      ${this.minSize !== null && this.sizeWrong ? html`<p class="failure" role="alert">Minimum
        size takes bytes or a size such as 500kB, 1MB or 1MiB.</p>` : nothing}
      ${this.measured?.typed === this.folder ? html`<p class="quiet measured" role="status">${formatBytes(
        this.measured.size)} in this folder</p>${gapsView(this.measured.answer)}` : nothing}
      ${this.error ? html`<p class="failure" role="alert">${this.error.message}</p>` : nothing}`;
  }
}
