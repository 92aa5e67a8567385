// What the disk usage charts draw, shared by the rings and the treemap: the shown folder's size
// tree RINGS levels deep, pieces too small to see or to point at lumped into one "other" piece
// per parent, and each piece's colour.

export const RINGS = 3;
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

function hsl([h, s, l]) {
  return `hsl(${h}, ${s}%, ${l}%)`;
}

// The colour `wanted` or, when a piece of the same ring has it already or it is `besides` (the
// parent's, drawn against it in both charts), the nearest shade of it that is free: no two
// pieces side by side look alike.
function unused(wanted, taken, besides) {
  let [h, s, l] = wanted;
  for (let tries = 0; taken.has(hsl([h, s, l])) || hsl([h, s, l]) === besides; ++tries) {
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

// A tree of what the charts show below `node` (a size tree of the service), RINGS levels deep:
// { node, size, children, lumped, colour } where `node` is null for an "other" piece and
// `lumped` the entries it stands for. `colours` holds the colour of each entry with a piece of
// its own, for the tree of the folder to match.
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
      const chosen = unused(wanted, taken, parent && hsl(parent));
      child.colour = hsl(chosen);
      if (child.node) colours.set(child.node, child.colour);
      return { piece: child, hsl: chosen };
    }));
  }
  return { tree, colours };
}

// Black or white, whichever reads better on `fill` ("hsl(h, s%, l%)" or "#rrggbb"), by the
// contrast ratio of WCAG 2: a label stays readable on every piece, in light and dark alike.
export function labelColour(fill) {
  const luminance = relativeLuminance(fill);
  return (luminance + 0.05) / 0.05 >= 1.05 / (luminance + 0.05) ? '#000000' : '#ffffff';
}

export function relativeLuminance(fill) {
  const linear = (c) => (c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4);
  const [r, g, b] = rgbOf(fill).map((c) => linear(c / 255));
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

function rgbOf(fill) {
  if (fill.startsWith('#')) return [1, 3, 5].map((i) => parseInt(fill.slice(i, i + 2), 16));
  const [h, s, l] = fill.match(/[\d.]+/g).map(Number);
  const a = (s / 100) * Math.min(l / 100, 1 - l / 100);
  const f = (n) => {
    const k = (n + h / 30) % 12;
    return 255 * (l / 100 - a * Math.max(-1, Math.min(k - 3, 9 - k, 1)));
  };
  return [f(0), f(8), f(4)];
}
