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
// Okabe and Ito's palette, told apart with every common colour vision deficiency, as hue,
// saturation and lightness; the first ring's further pieces take hues by the golden angle. Each
// piece of a deeper ring is a shade of its top-level piece's hue; "other" is grey, or the greyed
// hue of its parent.
const PALETTE = [[41, 100, 45], [202, 77, 63], [164, 100, 31], [56, 85, 60], [202, 100, 35], [26, 100, 42], [327, 46, 64]];
const GREY = [0, 0, 55];
export const OTHER_COLOUR = hsl(GREY);
const LIGHTEST = 88;
const DARKEST = 24;
const NAME_IN_MIDDLE = 18;

function hsl([h, s, l]) {
  return `hsl(${h}, ${s}%, ${l}%)`;
}

// The colour `wanted` or, when a piece of the same ring has it already, the nearest shade of it
// that none has: no two pieces of one ring look alike.
function unused(wanted, taken) {
  let [h, s, l] = wanted;
  for (let tries = 0; taken.has(hsl([h, s, l])); ++tries) {
    l = l + 3 > LIGHTEST ? DARKEST : l + 3;
    if (tries % 22 === 21) h = (h + 5) % 360;
  }
  taken.add(hsl([h, s, l]));
  return [h, s, l];
}

// The colour wanted for the first ring's `index`th piece.
function topColour(index) {
  if (index < PALETTE.length) return PALETTE[index];
  return [Math.round((index * 137.508) % 360), 65, index % 2 ? 58 : 44];
}

// The colour wanted for the `index`th child of a piece coloured `parent`: lighter outwards, each
// sibling a shade further.
function shadeOf([h, s, l], index) {
  const lighter = Math.min(LIGHTEST, l + 8);
  return [h, s, DARKEST + ((lighter - DARKEST + index * 7) % (LIGHTEST - DARKEST + 1))];
}

// A tree of what the chart shows below `node` (a size tree of the service), RINGS levels deep:
// { node, size, children, lumped, colour } where `node` is null for an "other" piece and
// `lumped` the entries it stands for. `colours` holds the colour of each entry with a piece of
// its own in the first ring, for the table to match.
export function chartTree(node) {
  const whole = Number(node.size);
  const build = (entry, depth) => {
    const piece = { node: entry, size: Number(entry.size), children: [], lumped: [], colour: null };
    if (depth === RINGS) return piece;
    const other = { node: null, size: 0, children: [], lumped: [], colour: null };
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
    if (other.size > 0) piece.children.push(other);
    return piece;
  };
  const tree = build(node, 0);
  const colours = new Map();
  // Ring by ring, so that each ring's colours are told apart from each other.
  let ring = [{ piece: tree, hsl: null }];
  while (ring.length) {
    const taken = new Set();
    ring = ring.flatMap(({ piece, hsl: parent }) => piece.children.map((child, i) => {
      let wanted;
      if (parent === null) wanted = child.node ? topColour(i) : GREY;
      else wanted = child.node ? shadeOf(parent, i) : [parent[0], Math.min(parent[1], 15), parent[2]];
      const chosen = unused(wanted, taken);
      child.colour = hsl(chosen);
      if (parent === null && child.node) colours.set(child.node, child.colour);
      return { piece: child, hsl: chosen };
    }));
  }
  return { tree, colours };
}

// The SVG chart of `node`. `on` holds the reactions: activate(entry) for a click, Enter or
// Space on a piece (entry null for "other"), up() for the middle, Escape or Backspace (null at
// the top), point({ entry, size }) when a piece gains hover or focus, point(null) when it loses
// it, and ring(piece) when a piece gains focus from the keyboard, ring(null) when it loses it;
// `ringed` is that piece, outlined in full above its neighbours. Optionally, tint(entry):
// { colour, text } colours a piece by something else than its place, said in its label, or null.
export function sunburst(node, { tree }, on, ringed = null) {
  const root = partition().size([2 * Math.PI, RINGS + 1])(
    hierarchy(tree, (piece) => piece.children).sum((piece) => (piece.children.length ? 0 : piece.size)),
  );
  const ringWidth = RADIUS / (RINGS + 1);
  const pieces = root.descendants().filter((d) => d.depth > 0 && d.x1 - d.x0 > 0);
  const arcOf = (d) => arc(d.x0, d.x1, d.y0 * ringWidth, d.y1 * ringWidth);
  const tintOf = (d) => on.tint?.(d.data.node) ?? null;
  const label = (d) => {
    const what = d.data.node ? shownText(d.data.node.name) : `other (${d.data.lumped.length} more)`;
    const tint = tintOf(d);
    return `${what}, ${formatBytes(d.data.size)}${tint ? `, ${tint.text}` : ''}`;
  };
  const piece = (d) => {
    const activate = () => on.activate(d.data.node);
    const point = () => on.point({ entry: d.data.node, size: d.data.size });
    const leave = () => on.point(null);
    const focus = (event) => {
      point();
      on.ring(event.target.matches(':focus-visible') ? d.data : null);
    };
    const blur = () => {
      leave();
      on.ring(null);
    };
    // Only the first ring takes focus: going into a piece makes its children the first ring,
    // so the keyboard reaches everything without a tab stop for every piece.
    const focusable = d.depth === 1;
    return svg`<path d=${arcOf(d)} fill=${tintOf(d)?.colour ?? d.data.colour} data-ring=${d.depth} .piece=${d.data}
      class=${d.data.node ? 'piece' : 'piece other'} tabindex=${focusable ? '0' : nothing}
      role=${focusable ? 'button' : nothing} aria-label=${focusable ? label(d) : nothing}
      @click=${activate} @keydown=${(e) => onKey(e, activate)} @mouseenter=${point} @mouseleave=${leave}
      @focus=${focus} @blur=${blur}><title>${label(d)}</title></path>`;
  };
  const first = pieces.filter((d) => d.depth === 1);
  const deeper = pieces.filter((d) => d.depth > 1);
  const outlined = ringed && first.find((d) => d.data === ringed);
  const canGoUp = on.up !== null;
  const goUp = (event) => {
    if (!canGoUp || (event.key !== 'Escape' && event.key !== 'Backspace')) return;
    event.preventDefault();
    on.up();
  };
  return html`<svg class="sunburst" viewBox="${-RADIUS} ${-RADIUS} ${2 * RADIUS} ${2 * RADIUS}"
    role="group" aria-label=${`Chart of ${shownText(node.path)}`} @keydown=${goUp}>
    <g>${first.map(piece)}</g>
    <g aria-hidden="true">${deeper.map(piece)}</g>
    ${outlined ? svg`<path class="focus-ring" d=${arcOf(outlined)} aria-hidden="true"></path>` : nothing}
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
