// Small pieces the screens share.

import { html, nothing } from '../vendor/lit-html.js';
import { cannotShow } from './failures.js';
import { shown, shownText } from './names.js';

// A horizontal bar for how full something is, 0 to 1. Drawn in SVG: the page's policy allows
// no inline styles, and SVG's own attributes carry the width.
export function usageBar(fraction, label, level = 'normal') {
  const percent = Math.max(0, Math.min(100, fraction * 100));
  return html`<svg class="bar bar-${level}" viewBox="0 0 100 6" preserveAspectRatio="none" role="meter"
    aria-label=${label} aria-valuemin="0" aria-valuemax="100" aria-valuenow=${Math.round(percent)}>
    <rect class="bar-track" width="100" height="6" rx="3"></rect>
    <rect class="bar-fill" width=${percent} height="6" rx="3"></rect>
  </svg>`;
}

// Percentages from which memory pressure warns: memory that is mostly in use.
export const MEMORY_LEVELS = { elevated: 70, high: 90 };

// "normal", "elevated" or "high": how a bar of `percent` is drawn.
export function level(percent, { elevated, high }) {
  if (percent >= high) return 'high';
  if (percent >= elevated) return 'elevated';
  return 'normal';
}

// The way a screen says that a call failed.
export function failure(error) {
  return html`<p class="failure" role="alert">${error.message}</p>`;
}

export function figure(label, value) {
  return html`<div class="figure"><dt>${label}</dt><dd>${value}</dd></div>`;
}

// Hands `path` to the desktop's file manager ("revealPath") or its application ("openPath").
// Both answer true whatever happens, so the service is first asked whether anything can show it
// here; when nothing can, this fails with a sentence that says so and what to do instead.
export async function showOnDesktop(app, method, path) {
  const can = await app.channel.call('desktopAbilities');
  if (!can[method]) throw new Error(cannotShow(method, path));
  await app.channel.call(method, { path });
}

// "Reveal" and "Open" for one item; `onError` gets what went wrong.
export function desktopButtons(app, path, onError) {
  const act = (method) => showOnDesktop(app, method, path).catch(onError);
  return html`<div class="buttons">
    <button type="button" ?disabled=${!path} @click=${() => act('revealPath')}>Reveal</button>
    <button type="button" ?disabled=${!path} @click=${() => act('openPath')}>Open</button>
  </div>`;
}

// A path that, where it does not fit, gives way in the middle: the folders are cut short
// ("/home/sam/Pict…/beach.jpg") before the name is, and no word is ever broken across lines.
// The whole path is its title.
export function middlePath(path) {
  const cut = path.lastIndexOf('/') + 1;
  return html`<span class="path middle-path" title=${shownText(path)}><span class="folders">${shown(path.slice(0, cut))}</span><span
    class="name">${shown(path.slice(cut))}</span></span>`;
}

// The note on an item that a removal left in place, with the reason where the answer gave one.
export function notRemoved(reason) {
  if (reason === undefined) return nothing;
  return html`<span class="not-removed">Not removed${reason ? html`: ${shown(reason)}` : ''}</span>`;
}

// Tables of items (class "grid") are one tab stop each: the arrow keys move between their
// rows and the controls of a row, Page Up/Down by ten rows, Ctrl+Home/End to the ends, and
// Tab leaves the table from the row last visited. The controls of body rows are rendered
// with tabindex -1; these handlers move the 0.
const CONTROLS = 'input, button, a[href]';
const controlsOf = (row) => [...row.querySelectorAll(CONTROLS)];

export function onGridKey(event) {
  const row = event.target.closest('tbody tr');
  if (!row || event.altKey || event.metaKey) return;
  const here = controlsOf(row);
  const column = Math.max(0, here.indexOf(event.target));
  let target = null;
  if (event.key === 'ArrowLeft' || event.key === 'ArrowRight') {
    target = here[column + (event.key === 'ArrowLeft' ? -1 : 1)];
  } else {
    const rows = [...event.currentTarget.querySelectorAll('tbody tr')].filter((r) => r.querySelector(CONTROLS));
    const at = rows.indexOf(row);
    const to = { ArrowUp: at - 1, ArrowDown: at + 1, PageUp: at - 10, PageDown: at + 10 }[event.key]
      ?? (event.ctrlKey && event.key === 'Home' ? 0 : null)
      ?? (event.ctrlKey && event.key === 'End' ? rows.length - 1 : null);
    if (to === null) return;
    const next = rows[Math.max(0, Math.min(rows.length - 1, to))];
    const controls = controlsOf(next);
    target = controls[Math.min(column, controls.length - 1)];
  }
  event.preventDefault();
  target?.focus();
}

export function onGridFocus(event) {
  const row = event.target.closest('tbody tr');
  if (!row) return;
  for (const control of event.currentTarget.querySelectorAll('tbody [tabindex="0"]')) control.setAttribute('tabindex', '-1');
  for (const control of controlsOf(row)) control.setAttribute('tabindex', '0');
}

// After drawing: a grid whose tab stop went with a removed row gets its first row as the stop.
export function keepGridTabStops(host) {
  for (const grid of host.querySelectorAll('table.grid')) {
    if (grid.querySelector('tbody [tabindex="0"]')) continue;
    const first = grid.querySelector(`tbody tr :is(${CONTROLS})`)?.closest('tr');
    if (first) for (const control of controlsOf(first)) control.setAttribute('tabindex', '0');
  }
}

// A screen's refresh: one at a time, its `loading` and `error` kept, the page redrawn before
// and after (with `mark` once `fetch` has stored what it answered).
export async function refresh(screen, fetch, mark) {
  if (screen.loading) return;
  screen.loading = true;
  screen.error = null;
  screen.app.update();
  try {
    await fetch();
    screen.app.update(mark);
  } catch (error) {
    screen.error = error;
    screen.app.update();
  } finally {
    screen.loading = false;
  }
}
