// Memory: how it is used, the pressure, the processes that hold the most, refreshed every few
// seconds while shown; and "Free memory", which drops the file caches as administrator.

import { html, nothing } from '../vendor/lit-html.js';
import { memoryNotFreed } from './failures.js';
import { formatBytes } from './format.js';
import { shown, shownText } from './names.js';
import { MEMORY_LEVELS, failure, level, usageBar } from './widgets.js';

const REFRESH_MS = 3000;

export class MemoryScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Memory';
    this.memory = null;
    this.timer = null;
    this.freeing = false;
    this.freed = null; // the last optimizeMemory answer
    this.error = null;
  }

  show() {
    this.refresh();
    clearInterval(this.timer);
    this.timer = setInterval(() => this.refresh(), REFRESH_MS);
  }

  hide() {
    clearInterval(this.timer);
    this.timer = null;
  }

  async refresh() {
    try {
      this.memory = await this.app.channel.call('memoryInfo');
      this.error = null;
      this.app.update('nimbra:memory-drawn');
    } catch (error) {
      this.error = error;
      this.app.update();
    }
  }

  async free() {
    this.freeing = true;
    this.freed = null;
    this.app.update();
    try {
      this.freed = await this.app.channel.call('optimizeMemory');
    } catch (error) {
      this.freed = { ok: false, callError: error.message };
    } finally {
      this.freeing = false;
    }
    this.refresh();
  }

  view() {
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Memory</h1>
        <button type="button" class="primary" aria-disabled=${this.freeing ? 'true' : 'false'}
          @click=${() => { if (!this.freeing) this.free(); }}>Free memory</button>
      </div>
      ${this.freedView()}
      ${this.error ? failure(this.error) : nothing}
      ${this.memory ? this.figuresView(this.memory) : html`<p class="quiet">Loading…</p>`}`;
  }

  freedView() {
    if (this.freeing) return html`<p class="quiet" role="status">Freeing memory; the desktop may ask for an administrator's password…</p>`;
    const freed = this.freed;
    if (!freed) return nothing;
    if (freed.callError) return html`<p class="failure" role="alert">${freed.callError}</p>`;
    if (!freed.ok) return html`<p class="failure" role="alert">${memoryNotFreed(freed.error)}</p>`;
    return html`<p class="outcome" role="status">Freed ${formatBytes(freed.freed)}: ${formatBytes(freed.before)} was in use,
      now ${formatBytes(freed.after)}.</p>`;
  }

  figuresView(memory) {
    const total = Number(memory.total);
    const pressure = Number(memory.pressure);
    const pressureLevel = level(pressure, MEMORY_LEVELS);
    const part = (label, value) => html`<div class="memory-part">
      <span>${label}</span><span class="number">${formatBytes(value)}</span>
      ${usageBar(total > 0 ? Number(value) / total : 0, label)}
    </div>`;
    const largest = Math.max(1, ...memory.topProcesses.map((p) => Number(p.mem)));
    return html`
      <section class="card" aria-labelledby="memory-use">
        <h2 id="memory-use">${formatBytes(memory.used)} in use of ${formatBytes(memory.total)}</h2>
        <div class="pressure">
          <span>Pressure ${pressure}% · ${pressureLevel}</span>
          ${usageBar(pressure / 100, 'Memory pressure', pressureLevel)}
        </div>
        <div class="memory-parts">
          ${part('Used', memory.used)}${part('Free', memory.free)}${part('Cached', memory.cached)}
          ${part('Wired', memory.wired)}${part('Compressed', memory.compressed)}
        </div>
      </section>
      <section class="card" aria-labelledby="top-processes">
        <h2 id="top-processes">Processes using the most</h2>
        <table class="items processes">
          <thead><tr><th scope="col">Process</th><th scope="col" class="number">PID</th>
            <th scope="col" class="number">Memory</th><th scope="col" class="meter-column"><span class="hidden">Share</span></th></tr></thead>
          <tbody>${memory.topProcesses.map((p) => html`<tr>
            <th scope="row">${shown(p.name)}</th>
            <td class="number">${p.pid}</td>
            <td class="number">${formatBytes(p.mem)}</td>
            <td class="meter-column">${usageBar(Number(p.mem) / largest, `${shownText(p.name)} memory`)}</td>
          </tr>`)}</tbody>
        </table>
      </section>`;
  }
}
