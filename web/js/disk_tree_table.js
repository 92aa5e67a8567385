// The shown folder's size tree as a table: its totals on top, then each entry, whose folders open
// in place as deep as the scan went (and, opened further, are measured then), sorted by any
// column. Each entry can be chosen, revealed and opened from its row.

import { html, svg, nothing } from '../vendor/lit-html.js';
import { OTHER_COLOUR } from './chart_tree.js';
import { formatBytes, formatCount, formatDay, formatShare } from './format.js';
import { shown, shownText } from './names.js';
import { notRemoved, onGridFocus, onGridKey } from './widgets.js';

// The columns that sort, each first in the order a person most likely wants.
const COLUMNS = [
  { key: 'name', title: 'Name', firstDescending: false, of: (entry) => entry.name },
  { key: 'size', title: 'Size', firstDescending: true, of: (entry) => Number(entry.size) },
  { key: 'share', title: 'Share', firstDescending: true, of: (entry) => Number(entry.size) },
  { key: 'files', title: 'Files', firstDescending: true, of: (entry) => Number(entry.files) },
  { key: 'modified', title: 'Modified', firstDescending: true, of: (entry) => Number(entry.modified ?? 0) },
];
const INDENT = 18;

export class DiskTreeTable {
  constructor() {
    this.open = new Set(); // the folders shown open
    this.sort = { key: 'size', descending: true };
  }

  sortBy(key) {
    const column = COLUMNS.find((c) => c.key === key);
    this.sort = { key, descending: this.sort.key === key ? !this.sort.descending : column.firstDescending };
  }

  // `entry`'s children in the chosen order; the entry for smaller items stays last.
  sorted(entry) {
    const { of } = COLUMNS.find((c) => c.key === this.sort.key);
    const order = this.sort.descending ? -1 : 1;
    const items = entry.children.filter((child) => !child.isOther);
    items.sort((a, b) => {
      const x = of(a);
      const y = of(b);
      return x < y ? -order : x > y ? order : 0;
    });
    return [...items, ...entry.children.filter((child) => child.isOther)];
  }

  // `on`: toggle(entry) opens or closes a folder (measuring it first when the scan went no
  // deeper); activate(entry) for its name (into a folder, or a file shown in detail);
  // choose(entry, chosen); isChosen(entry); point(entry or null); reveal(path) and openPath(path);
  // colourOf(entry); tint(entry): { text } or null, for a column of changes when shown;
  // pressed: the file shown in detail; failed(path): why a removal left it, or undefined.
  view(folder, on) {
    const changes = Boolean(on.tint(folder));
    const rows = [];
    const add = (entry, parent, level) => {
      rows.push(this.row(entry, parent, level, on, changes, rows.length));
      if (this.open.has(entry)) for (const child of this.sorted(entry)) add(child, entry, level + 1);
    };
    for (const child of this.sorted(folder)) add(child, folder, 1);
    const header = ({ key, title }) => {
      const sorted = this.sort.key === key;
      const kind = { name: '', size: 'number', share: 'number optional', files: 'number optional', modified: 'number optional' }[key];
      return html`<th scope="col" class=${kind} aria-sort=${sorted ? (this.sort.descending ? 'descending' : 'ascending') : 'none'}>
        <button type="button" class="link sort" @click=${() => on.sortBy(key)}>${title}<span aria-hidden="true">${
          sorted ? (this.sort.descending ? ' ▼' : ' ▲') : ''}</span></button></th>`;
    };
    return html`<table class="grid items disk-tree" @keydown=${onGridKey} @focusin=${onGridFocus}>
      <caption>In ${shown(folder.name)}</caption>
      <thead><tr><th scope="col" class="check"><span class="hidden">Chosen</span></th>${COLUMNS.map(header)}
        ${changes ? html`<th scope="col" class="number optional">Change</th>` : nothing}
        <th scope="col" class="row-actions"><span class="hidden">Reveal and open</span></th></tr></thead>
      <tbody class="total"><tr>
        <td class="check"></td>
        <th scope="row">All of ${shown(folder.name)}</th>
        <td class="number">${formatBytes(folder.size)}</td>
        <td class="number optional">100%</td>
        <td class="number optional">${formatCount(folder.files)}</td>
        <td class="number optional">${formatDay(folder.modified ?? 0)}</td>
        ${changes ? html`<td class="number optional">${on.tint(folder).text}</td>` : nothing}
        <td></td>
      </tr></tbody>
      <tbody>${rows}</tbody>
    </table>`;
  }

  row(entry, parent, level, on, changes, index) {
    const share = formatShare(entry.size, parent.size);
    const indent = svg`<svg class="indent" width=${(level - 1) * INDENT} height="1" aria-hidden="true"></svg>`;
    const swatch = svg`<svg class="swatch" viewBox="0 0 10 10" aria-hidden="true"><circle cx="5" cy="5" r="5"
      fill=${entry.isOther ? OTHER_COLOUR : on.colourOf(entry)}></circle></svg>`;
    if (entry.isOther) {
      return html`<tr class="smaller"><td class="check"></td>
        <th scope="row"><div class="name-cell">${indent}<span class="twisty"></span>${swatch}<span>Smaller items</span></div></th>
        <td class="number">${formatBytes(entry.size)}</td><td class="number optional">${share}</td>
        <td class="number optional">—</td><td class="number optional">${formatDay(entry.modified ?? 0)}</td>
        ${changes ? html`<td class="number optional">—</td>` : nothing}<td></td></tr>`;
    }
    const tint = changes ? on.tint(entry) : null;
    const name = shownText(entry.name);
    const opens = entry.isDir && Number(entry.files) > 0;
    const isOpen = this.open.has(entry);
    return html`<tr class=${on.pressed === entry ? 'current' : ''}>
      <td class="check"><input type="checkbox" tabindex="-1" aria-label=${shownText(entry.path)}
        .checked=${on.isChosen(entry)} @change=${(e) => on.choose(entry, e.target.checked)}></td>
      <th scope="row"><div class="name-cell">${indent}${opens ? html`<button type="button" class="twisty" tabindex="-1"
          aria-expanded=${String(isOpen)} aria-label=${`Expand ${name}`} @click=${() => on.toggle(entry)}></button>` : html`<span class="twisty"></span>`}${swatch}<button
          type="button" class="link" tabindex="-1" id=${`disk-row-${index}`} aria-pressed=${entry.isDir ? nothing : String(on.pressed === entry)}
          @click=${() => on.activate(entry)} @focus=${() => on.point(entry)} @blur=${() => on.point(null)}
          @mouseenter=${() => on.point(entry)} @mouseleave=${() => on.point(null)}>${shown(entry.name)}${entry.isDir ? '/' : ''}</button></div>
        ${notRemoved(on.failed(entry.path))}</th>
      <td class="number">${formatBytes(entry.size)}</td>
      <td class="number optional">${share}</td>
      <td class="number optional">${formatCount(entry.files)}</td>
      <td class="number optional">${formatDay(entry.modified ?? 0)}</td>
      ${changes ? html`<td class="number optional">${tint.text === 'no change recorded' ? '—' : tint.text}</td>` : nothing}
      <td class="row-actions"><button type="button" tabindex="-1" aria-describedby=${`disk-row-${index}`}
        @click=${() => on.reveal(entry.path)}>Reveal</button><button type="button" tabindex="-1"
        aria-describedby=${`disk-row-${index}`} @click=${() => on.openPath(entry.path)}>Open</button></td>
    </tr>`;
  }
}
