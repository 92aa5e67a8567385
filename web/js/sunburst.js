// The disk usage chart: the folder in the middle, its children in the first ring, theirs in
// the next, laid out by d3-hierarchy's partition. Pieces too thin to see or to point at are
// lumped into one "other" piece per parent.

import { html, svg, nothing } from '../vendor/lit-html.js';
import { hierarchy, partition } from '../vendor/d3-hierarchy.js';
import { formatBytes } from './format.js';
import { shownText } from './names.js';

export const RINGS = 3;
const RADIUS = 200;
// A piece smaller than this share of the folder in the middle joins its parent's "other".
const MIN_SHARE = 0.004;
// Okabe and Ito's palette, told apart with every common colour vision deficiency; "other" is
// grey.
const PALETTE = ['#E69F00', '#56B4E9', '#009E73', '#F0E442', '#0072B2', '#D55E00', '#CC79A7'];
export const OTHER_COLOUR = '#8C8C8C';
const FILL_OPACITY = [1, 1, 0.78, 0.58];
const NAME_IN_MIDDLE = 18;

// A tree of what the chart shows below `node` (a size tree of the service), RINGS levels deep:
// { node, size, children, lumped } where `node` is null for an "other" piece and `lumped` the
// entries it stands for. Each child that gets a piece of its own is also given a colour, for
// the table to match.
export function chartTree(node) {
  const whole = Number(node.size);
  const colours = new Map();
  const build = (entry, depth) => {
    const piece = { node: entry, size: Number(entry.size), children: [], lumped: [] };
    if (depth === RINGS) return piece;
    const other = { node: null, size: 0, children: [], lumped: [] };
    for (const child of entry.children) {
      const size = Number(child.size);
      if (size <= 0) continue;
      if (child.isOther || size < whole * MIN_SHARE) {
        other.size += size;
        other.lumped.push(child);
      } else {
        piece.children.push(build(child, depth + 1));
      }
    }
    if (depth === 0) piece.children.forEach((child, i) => colours.set(child.node, PALETTE[i % PALETTE.length]));
    if (other.size > 0) piece.children.push(other);
    return piece;
  };
  return { tree: build(node, 0), colours };
}

// The SVG chart of `node`. `on` holds the reactions: activate(entry) for a click, Enter or
// Space on a piece (entry null for "other"), up() for the middle (null at the top), and
// point({ entry, size }) when a piece gains hover or focus, point(null) when it loses it; and,
// optionally, tint(entry): { colour, text } to colour a piece by something else than its place,
// said in its label, or null.
export function sunburst(node, { tree, colours }, on) {
  const root = partition().size([2 * Math.PI, RINGS + 1])(
    hierarchy(tree, (piece) => piece.children).sum((piece) => (piece.children.length ? 0 : piece.size)),
  );
  const ringWidth = RADIUS / (RINGS + 1);
  const pieces = root.descendants().filter((d) => d.depth > 0 && d.x1 - d.x0 > 0);
  const colourOf = (d) => {
    const tint = on.tint?.(d.data.node);
    if (tint) return tint.colour;
    const top = d.ancestors().find((a) => a.depth === 1);
    return top.data.node ? colours.get(top.data.node) : OTHER_COLOUR;
  };
  const label = (d) => {
    const what = d.data.node ? shownText(d.data.node.name) : `other (${d.data.lumped.length} more)`;
    const tint = on.tint?.(d.data.node);
    return `${what}, ${formatBytes(d.data.size)}${tint ? `, ${tint.text}` : ''}`;
  };
  const piece = (d) => {
    const path = arc(d.x0, d.x1, d.y0 * ringWidth, d.y1 * ringWidth);
    const activate = () => on.activate(d.data.node);
    const point = () => on.point({ entry: d.data.node, size: d.data.size });
    const leave = () => on.point(null);
    // Only the first ring takes focus: going into a piece makes its children the first ring,
    // so the keyboard reaches everything without a tab stop for every piece.
    const focusable = d.depth === 1;
    return svg`<path d=${path} fill=${colourOf(d)} fill-opacity=${FILL_OPACITY[d.depth]}
      class=${d.data.node ? 'piece' : 'piece other'} tabindex=${focusable ? '0' : nothing}
      role=${focusable ? 'button' : nothing} aria-label=${focusable ? label(d) : nothing}
      @click=${activate} @keydown=${(e) => onKey(e, activate)} @mouseenter=${point} @mouseleave=${leave}
      @focus=${point} @blur=${leave}><title>${label(d)}</title></path>`;
  };
  const first = pieces.filter((d) => d.depth === 1);
  const deeper = pieces.filter((d) => d.depth > 1);
  const canGoUp = on.up !== null;
  return html`<svg class="sunburst" viewBox="${-RADIUS} ${-RADIUS} ${2 * RADIUS} ${2 * RADIUS}"
    role="group" aria-label=${`Chart of ${shownText(node.path)}`}>
    <g>${first.map(piece)}</g>
    <g aria-hidden="true">${deeper.map(piece)}</g>
    <circle class="middle" r=${ringWidth - 2} tabindex=${canGoUp ? '0' : nothing} role=${canGoUp ? 'button' : nothing}
      aria-label=${canGoUp ? 'Up one folder' : nothing} @click=${canGoUp ? on.up : nothing}
      @keydown=${canGoUp ? (e) => onKey(e, on.up) : nothing}></circle>
    <text class="middle-name" text-anchor="middle" y="-4" aria-hidden="true">${shorten(shownText(node.name))}</text>
    <text class="middle-size" text-anchor="middle" y="16" aria-hidden="true">${formatBytes(node.size)}</text>
  </svg>`;
}

function onKey(event, action) {
  if (event.key === 'Enter' || event.key === ' ') {
    event.preventDefault();
    action();
  }
}

function shorten(name) {
  return name.length > NAME_IN_MIDDLE ? `${name.slice(0, NAME_IN_MIDDLE - 1)}…` : name;
}

// The ring sector between angles a0 and a1 (radians, clockwise from twelve o'clock) and radii
// r0 and r1.
function arc(a0, a1, r0, r1) {
  // A whole ring would start and end at the same point, which draws nothing.
  const end = Math.min(a1, a0 + 2 * Math.PI - 1e-4);
  const large = end - a0 > Math.PI ? 1 : 0;
  const at = (a, r) => `${(r * Math.sin(a)).toFixed(2)},${(-r * Math.cos(a)).toFixed(2)}`;
  return `M${at(a0, r1)}A${r1},${r1} 0 ${large} 1 ${at(end, r1)}L${at(end, r0)}A${r0},${r0} 0 ${large} 0 ${at(a0, r0)}Z`;
}
