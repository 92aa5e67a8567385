// Small pieces the screens share.

import { html } from '../vendor/lit-html.js';

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

// The way a screen says that a call failed.
export function failure(error) {
  return html`<p class="failure" role="alert">${error.message}</p>`;
}

export function figure(label, value) {
  return html`<div class="figure"><dt>${label}</dt><dd>${value}</dd></div>`;
}
