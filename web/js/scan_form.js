// The form of a screen that scans below a folder: "Folder" (the home folder at first),
// "Choose…" (the desktop's folder picker), "Measure" (how much the folder holds, before a
// longer scan of it), optionally "Minimum size", and "Scan".

import { html, nothing } from '../vendor/lit-html.js';
import { parseSize } from './choice.js';
import { formatBytes } from './format.js';
import { gapsView } from './scan_gaps.js';

export class ScanForm {
  // `id` prefixes the fields' ids; `minSize` is the size field's first text, or null for none.
  constructor(app, id, { minSize = null } = {}) {
    this.app = app;
    this.id = id;
    this.folder = '';
    this.minSize = minSize;
    this.sizeWrong = false;
    this.measured = null; // { folder, size } of the last "Measure"
    this.error = null;
  }

  async prefill() {
    if (this.folder) return;
    try {
      this.folder = await this.app.channel.call('homeDir');
    } catch {
      // The field stays empty to be typed in.
    }
    this.app.update();
  }

  async choose() {
    this.error = null;
    try {
      const folder = await this.app.channel.call('pickFolder');
      if (folder !== null) this.folder = folder;
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // A path that names nothing measures 0 too: only then is it asked whether anything is there,
  // so a mistyped folder is said to be one instead of shown as empty.
  async measure() {
    const folder = this.folder;
    this.error = null;
    this.measured = null;
    try {
      const answer = await this.app.runWork('sizeOf', { path: folder });
      const { size } = answer;
      const there = size !== 0 || (await this.app.runWork('inspectItems', { paths: [folder] })).items[0]?.exists;
      if (there) this.measured = { folder, size, answer };
      else this.error = new Error(`Nothing is at ${folder}`);
    } catch (error) {
      this.error = error;
    }
    this.app.update();
  }

  // The minimum size in bytes; null (and the field marked) when it does not read as a size.
  minSizeBytes() {
    const bytes = parseSize(this.minSize ?? '');
    this.sizeWrong = bytes === null;
    this.app.update();
    return bytes;
  }

  // Runs `method` ("scanLargeFiles", "scanDuplicates") below the folder with the minimum size,
  // with the progress bar; answers { root, minSize, answer }, or null when the size does not
  // read or the call failed (the form says why).
  async run(method) {
    const minSize = this.minSizeBytes();
    if (minSize === null) return null;
    const root = this.folder;
    this.error = null;
    this.measured = null;
    try {
      return { root, minSize, answer: await this.app.runWork(method, { root, minSize }) };
    } catch (error) {
      this.error = error;
      this.app.update();
      return null;
    }
  }

  // `scan()` runs when the form is sent while no work runs.
  view(scan) {
    const busy = this.app.work !== null;
    const id = this.id;
    return html`
      <form class="scan-form" @submit=${(e) => { e.preventDefault(); if (!busy) scan(); }}>
        <label for="${id}-folder">Folder</label>
        <input id="${id}-folder" type="text" autocomplete="off" spellcheck="false" .value=${this.folder}
          @input=${(e) => { this.folder = e.target.value; }}>
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
      ${this.measured?.folder === this.folder ? html`<p class="quiet measured" role="status">${formatBytes(
        this.measured.size)} in this folder</p>${gapsView(this.measured.answer)}` : nothing}
      ${this.error ? html`<p class="failure" role="alert">${this.error.message}</p>` : nothing}`;
  }
}
