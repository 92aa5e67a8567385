// How a piece of either disk usage chart answers a person, the same in the rings and the treemap.
// `on` holds the chart's reactions:
//   activate(entry): a click, Enter or Space on a piece (entry null for "other");
//   choose(entry): the same with Shift, Ctrl or Cmd held: the entry is chosen, or no longer;
//   chosen(entry): whether it is chosen, said in its label and drawn outlined;
//   up(): Escape or Backspace in the chart (null at the top);
//   point({ entry, size }) when a piece gains hover or focus, point(null) when it loses it;
//   ring(piece) when a piece gains focus from the keyboard, ring(null) when it loses it;
//   tint(entry): optionally { colour, text }, a colour by something else than its place, said in
//   its label, or null.

import { formatBytes } from './format.js';
import { shownText } from './names.js';

// `d` is a d3-hierarchy node over the chart's tree (chart_tree.js).
export function pieceLabel(d, on) {
  const entry = d.data.node;
  const what = entry ? shownText(entry.name) : `other (${d.data.lumped.length} more)`;
  const tint = on.tint?.(entry) ?? null;
  const chosen = entry && on.chosen?.(entry);
  return `${what}, ${formatBytes(d.data.size)}${tint ? `, ${tint.text}` : ''}${chosen ? ', chosen' : ''}`;
}

export function pieceFill(d, on) {
  return on.tint?.(d.data.node)?.colour ?? d.data.colour;
}

// The piece's event handlers, for lit-html's @ bindings.
export function pieceEvents(d, on) {
  const entry = d.data.node;
  const act = (event) => {
    const choosing = event.shiftKey || event.ctrlKey || event.metaKey;
    if (choosing && entry && !entry.isOther) on.choose(entry);
    else on.activate(entry);
  };
  const point = () => on.point({ entry, size: d.data.size });
  const leave = () => on.point(null);
  return {
    click: act,
    keydown: (event) => {
      if (event.key !== 'Enter' && event.key !== ' ') return;
      event.preventDefault();
      act(event);
    },
    mouseenter: point,
    mouseleave: leave,
    focus: (event) => {
      point();
      on.ring(event.target.matches(':focus-visible') ? d.data : null);
    },
    blur: () => {
      leave();
      on.ring(null);
    },
  };
}

// The chart's own keys: Escape and Backspace go up a folder.
export function chartKeys(on) {
  return (event) => {
    if (!on.up || (event.key !== 'Escape' && event.key !== 'Backspace')) return;
    event.preventDefault();
    on.up();
  };
}
