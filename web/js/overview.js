// Overview: this machine, its volumes and its memory.

import { html, nothing } from '../vendor/lit-html.js';
import { formatBytes, formatDuration, formatShare } from './format.js';
import { MEMORY_LEVELS, failure, figure, level, refresh, usageBar } from './widgets.js';

// Percentages from which a volume's bar warns: nearly full.
const VOLUME_LEVELS = { elevated: 85, high: 95 };

export class OverviewScreen {
  constructor(app) {
    this.app = app;
    this.title = 'Overview';
    this.facts = null; // { name, id, system, memory }
    this.error = null;
    this.loading = false;
  }

  // Each visit shows the figures of that moment.
  show() {
    this.load();
  }

  load() {
    const call = (method) => this.app.channel.call(method);
    return refresh(this, async () => {
      const [name, id, system, memory] = await Promise.all([call('deviceName'), call('deviceId'), call('systemInfo'),
        call('memoryInfo')]);
      this.facts = { name, id, system, memory };
    }, 'nimbra:overview-drawn');
  }

  view() {
    const facts = this.facts;
    return html`
      <div class="screen-head">
        <h1 tabindex="-1">Overview</h1>
        <button type="button" @click=${() => this.load()} ?disabled=${this.loading}>Refresh</button>
      </div>
      ${this.error ? failure(this.error) : nothing}
      ${facts ? this.factsView(facts) : html`<p class="quiet">${this.loading ? 'Loading…' : ''}</p>`}`;
  }

  factsView({ name, id, system, memory }) {
    return html`
      <section class="card machine" aria-labelledby="machine-name">
        <h2 id="machine-name">${name}</h2>
        <p class="quiet">${system.os} ${system.osVersion} (${system.arch}) · ${system.user}</p>
        <dl class="figures">
          ${figure('Processor', system.cpu)}
          ${figure('Cores', String(system.cores))}
          ${figure('Memory', `${formatBytes(system.memUsed)} used of ${formatBytes(system.memTotal)}`)}
          ${figure('Uptime', formatDuration(system.uptime))}
          ${figure('Device ID', html`<span class="device-id">${id}</span>`)}
        </dl>
      </section>
      <section class="card" aria-labelledby="volumes-title">
        <h2 id="volumes-title">Volumes</h2>
        ${system.disks.length === 0 ? html`<p class="quiet">No volumes reported.</p>` : nothing}
        <ul class="volumes">${system.disks.map((disk) => volumeView(disk))}</ul>
      </section>
      ${memoryView(memory)}`;
  }
}

function volumeView(disk) {
  const total = Number(disk.total);
  const used = Number(disk.used);
  return html`<li class="volume">
    <div class="volume-head">
      <span class="volume-name">${disk.name}</span>
      ${disk.path === disk.name ? nothing : html`<span class="quiet path">${disk.path}</span>`}
    </div>
    ${usageBar(total > 0 ? used / total : 0, `${disk.name} used`, level(total > 0 ? (100 * used) / total : 0, VOLUME_LEVELS))}
    <p class="volume-figures">${formatBytes(disk.used)} used of ${formatBytes(disk.total)} ·
      ${formatBytes(disk.free)} free · ${formatShare(used, total)}</p>
  </li>`;
}

function memoryView(memory) {
  const pressure = Number(memory.pressure);
  const pressureLevel = level(pressure, MEMORY_LEVELS);
  const words = { normal: 'normal', elevated: 'elevated', high: 'high' };
  return html`<section class="card" aria-labelledby="memory-title">
    <h2 id="memory-title">Memory</h2>
    <div class="pressure">
      <span>Pressure ${pressure}% · ${words[pressureLevel]}</span>
      ${usageBar(pressure / 100, 'Memory pressure', pressureLevel)}
    </div>
    <dl class="figures">
      ${figure('Total', formatBytes(memory.total))}
      ${figure('Used', formatBytes(memory.used))}
      ${figure('Free', formatBytes(memory.free))}
      ${figure('Cached', formatBytes(memory.cached))}
      ${figure('Wired', formatBytes(memory.wired))}
      ${figure('Compressed', formatBytes(memory.compressed))}
    </dl>
  </section>`;
}
