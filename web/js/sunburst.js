// The disk usage rings: the folder in the middle, its children in the first ring, theirs in
// the next, laid out by d3-hierarchy's partition over the chart's tree (chart_tree.js).

import { html, svg, nothing } from '../vendor/lit-html.js';
import { hierarchy, partition } from '../vendor/d3-hierarchy.js';
import { RINGS } from './chart_tree.js';
import { chartKeys, pieceEvents, pieceFill, pieceLabel } from './chart_pieces.js';
import { formatBytes } from './format.js';
import { shownText } from './names.js';

const RADIUS = 200;
const NAME_IN_MIDDLE = 18;

// The SVG chart of `node`, drawn from its chart tree; `on` holds the reactions (chart_pieces.js)
// and `ringed` is the piece with the keyboard's focus, outlined in full above its neighbours.
export function sunburst(node, { tree }, on, ringed = null) {
  const root = partition().size([2 * Math.PI, RINGS + 1])(
    hierarchy(tree, (piece) => piece.children).sum((piece) => (piece.children.length ? 0 : piece.size)),
  );
  const ringWidth = RADIUS / (RINGS + 1);
  const pieces = root.descendants().filter((d) => d.depth > 0 && d.x1 - d.x0 > 0);
  const arcOf = (d) => arc(d.x0, d.x1, d.y0 * ringWidth, d.y1 * ringWidth);
  const piece = (d) => {
    const events = pieceEvents(d, on);
    const label = pieceLabel(d, on);
    // Only the first ring takes focus: going into a piece makes its children the first ring,
    // so the keyboard reaches everything without a tab stop for every piece.
    const focusable = d.depth === 1;
    return svg`<path d=${arcOf(d)} fill=${pieceFill(d, on)} data-ring=${d.depth} .piece=${d.data}
      class=${d.data.node ? 'piece' : 'piece other'} tabindex=${focusable ? '0' : nothing}
      role=${focusable ? 'button' : nothing} aria-label=${focusable ? label : nothing}
      @click=${events.click} @keydown=${events.keydown} @mouseenter=${events.mouseenter}
      @mouseleave=${events.mouseleave} @focus=${events.focus} @blur=${events.blur}><title>${label}</title></path>`;
  };
  const first = pieces.filter((d) => d.depth === 1);
  const deeper = pieces.filter((d) => d.depth > 1);
  const chosen = pieces.filter((d) => d.data.node && on.chosen?.(d.data.node));
  const outlined = ringed && first.find((d) => d.data === ringed);
  const canGoUp = on.up !== null;
  const up = (event) => {
    if (event.key !== 'Enter' && event.key !== ' ') return;
    event.preventDefault();
    on.up();
  };
  return html`<svg class="sunburst" viewBox="${-RADIUS} ${-RADIUS} ${2 * RADIUS} ${2 * RADIUS}"
    role="group" aria-label=${`Chart of ${shownText(node.path)}`} @keydown=${chartKeys(on)}>
    <g>${first.map(piece)}</g>
    <g aria-hidden="true">${deeper.map(piece)}</g>
    <g aria-hidden="true">${chosen.map((d) => svg`<path class="picked" d=${arcOf(d)}></path>`)}</g>
    ${outlined ? svg`<path class="focus-ring" d=${arcOf(outlined)} aria-hidden="true"></path>` : nothing}
    <circle class="middle" r=${ringWidth - 2} tabindex=${canGoUp ? '0' : nothing} role=${canGoUp ? 'button' : nothing}
      aria-label=${canGoUp ? 'Up one folder' : nothing} @click=${canGoUp ? on.up : nothing}
      @keydown=${canGoUp ? up : nothing}></circle>
    <text class="middle-name" text-anchor="middle" y="-4" aria-hidden="true">${shorten(shownText(node.name))}</text>
    <text class="middle-size" text-anchor="middle" y="16" aria-hidden="true">${formatBytes(node.size)}</text>
  </svg>`;
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
