// The disk usage treemap: the shown folder as a rectangle, each entry a rectangle inside it in
// proportion to its size, three levels deep, laid out squarified by d3-hierarchy over the same
// chart tree and colours as the rings (chart_tree.js). A folder big enough for its name has a
// band for it above what it holds; any piece is named where its name fits.

import { html, svg, nothing } from '../vendor/lit-html.js';
import { hierarchy, treemap, treemapSquarify } from '../vendor/d3-hierarchy.js';
import { labelColour } from './chart_tree.js';
import { chartKeys, pieceEvents, pieceFill, pieceLabel } from './chart_pieces.js';
import { formatBytes } from './format.js';
import { shownText } from './names.js';

// The band above a folder's contents, and the room a folder needs to be given one.
const BAND = 17;
const BANDED = { width: 64, height: 48 };
// Between a folder's edge and what it holds, so that no piece touches one of another folder.
const INSET = 2;
const FONT = 11;
// Wider than most characters of the page's font at FONT pixels: a name cut short by this never
// runs past its piece.
const CHARACTER = 6.6;

// The treemap of `node`, `width` by `height` pixels, drawn from its chart tree; `on` holds the
// reactions (chart_pieces.js) and `ringed` is the piece with the keyboard's focus.
export function treemapChart(node, { tree }, on, ringed, { width, height }) {
  const banded = (d) => d.depth > 0 && d.children && d.x1 - d.x0 >= BANDED.width && d.y1 - d.y0 >= BANDED.height;
  const root = treemap().tile(treemapSquarify).size([width, height])
    .paddingInner(1)
    .paddingTop((d) => (d.depth === 0 ? 0 : banded(d) ? BAND : INSET))
    .paddingRight((d) => (d.depth === 0 ? 0 : INSET))
    .paddingBottom((d) => (d.depth === 0 ? 0 : INSET))
    .paddingLeft((d) => (d.depth === 0 ? 0 : INSET))(
      hierarchy(tree, (piece) => piece.children)
        .sum((piece) => (piece.children.length ? 0 : piece.size))
        .sort((a, b) => b.value - a.value),
    );
  const pieces = root.descendants().filter((d) => d.depth > 0 && d.x1 - d.x0 > 0.5 && d.y1 - d.y0 > 0.5);
  const box = (d) => ({ x: d.x0.toFixed(1), y: d.y0.toFixed(1), w: (d.x1 - d.x0).toFixed(1), h: (d.y1 - d.y0).toFixed(1) });
  const piece = (d) => {
    const events = pieceEvents(d, on);
    const label = pieceLabel(d, on);
    const { x, y, w, h } = box(d);
    // As in the rings, only the first level takes focus.
    const focusable = d.depth === 1;
    return svg`<rect x=${x} y=${y} width=${w} height=${h} fill=${pieceFill(d, on)} data-ring=${d.depth} .piece=${d.data}
      class=${d.data.node ? 'piece' : 'piece other'} tabindex=${focusable ? '0' : nothing}
      role=${focusable ? 'button' : nothing} aria-label=${focusable ? label : nothing}
      @click=${events.click} @keydown=${events.keydown} @mouseenter=${events.mouseenter}
      @mouseleave=${events.mouseleave} @focus=${events.focus} @blur=${events.blur}><title>${label}</title></rect>`;
  };
  const outline = (d, kind) => {
    const { x, y, w, h } = box(d);
    return svg`<rect class=${kind} x=${x} y=${y} width=${w} height=${h}></rect>`;
  };
  const first = pieces.filter((d) => d.depth === 1);
  const outlined = ringed && first.find((d) => d.data === ringed);
  return html`<svg class="treemap" viewBox="0 0 ${width} ${height}" width=${width} height=${height}
    role="group" aria-label=${`Treemap of ${shownText(node.path)}`} @keydown=${chartKeys(on)}>
    <g>${first.map(piece)}</g>
    <g aria-hidden="true">${pieces.filter((d) => d.depth > 1).map(piece)}</g>
    <g class="labels" aria-hidden="true">${pieces.map((d) => nameOf(d, on))}</g>
    <g aria-hidden="true">${pieces.filter((d) => d.data.node && on.chosen?.(d.data.node)).map((d) => outline(d, 'picked'))}</g>
    ${outlined ? svg`<g aria-hidden="true">${outline(outlined, 'focus-ring')}</g>` : nothing}
  </svg>`;
}

// The name of a piece where it fits, cut short with "…" where only part of it does: in a
// folder's band, or at the top of a piece with nothing drawn inside it, with its size below
// when there is room; nothing on a piece too small for three characters.
function nameOf(d, on) {
  const width = d.x1 - d.x0;
  const height = d.y1 - d.y0;
  const inside = d.children?.some((child) => child.x1 - child.x0 > 0.5);
  if (inside && !(d.y1 - d.y0 >= BANDED.height && width >= BANDED.width)) return nothing;
  if (height < FONT + 4) return nothing;
  const fits = Math.floor((width - 6) / CHARACTER);
  if (fits < 3) return nothing;
  const name = d.data.node ? shownText(d.data.node.name) : `${d.data.lumped.length} more`;
  const shown = name.length > fits ? `${name.slice(0, fits - 1)}…` : name;
  const size = formatBytes(d.data.size);
  const colour = labelColour(pieceFill(d, on));
  const sized = !inside && height >= 2 * FONT + 10 && size.length <= fits;
  return svg`<text x=${(d.x0 + 4).toFixed(1)} y=${(d.y0 + FONT + 2).toFixed(1)} fill=${colour} .piece=${d.data}>${shown}${
    sized ? svg`<tspan x=${(d.x0 + 4).toFixed(1)} dy=${FONT + 3}>${size}</tspan>` : nothing}</text>`;
}
