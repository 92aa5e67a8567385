// What a person chose and what that removes: the rules the screens share, kept free of the
// page so that they can be checked on their own.

// The chosen items that actually go: a folder takes everything inside it, so an item inside
// another chosen item is neither listed nor counted again; a path chosen twice goes once.
// Items are { path, size }; the answer keeps the order of `items`.
export function outermost(items) {
  const chosen = new Set(items.map((item) => item.path));
  const seen = new Set();
  return items.filter((item) => {
    if (seen.has(item.path) || hasChosenAncestor(item.path, chosen)) return false;
    seen.add(item.path);
    return true;
  });
}

function hasChosenAncestor(path, chosen) {
  for (let end = path.indexOf('/', 1); end > 0 && end < path.length - 1; end = path.indexOf('/', end + 1)) {
    if (chosen.has(path.slice(0, end)) || chosen.has(path.slice(0, end + 1))) return true;
  }
  return false;
}

export function totalSize(items) {
  return items.reduce((sum, item) => sum + Number(item.size), 0);
}

// Whether `path` is `root` or lies inside it.
export function within(path, root) {
  return path === root || path.startsWith(root.endsWith('/') ? root : `${root}/`);
}

// A size as the terminal commands take it: bytes ("1048576"), decimal units ("500kB", "1MB",
// "1.5GB"; "K", "M", "G", "T" alone mean the same) or binary ones ("1MiB"), in any case, with
// or without a space. Null for anything else.
const UNITS = { '': 1, b: 1, k: 1e3, kb: 1e3, m: 1e6, mb: 1e6, g: 1e9, gb: 1e9, t: 1e12, tb: 1e12,
  kib: 1024, mib: 1024 ** 2, gib: 1024 ** 3, tib: 1024 ** 4 };

export function parseSize(text) {
  const match = /^\s*(\d+\.?\d*|\.\d+)\s*([a-z]*)\s*$/i.exec(text);
  const factor = match && UNITS[match[2].toLowerCase()];
  if (!factor) return null;
  const value = Math.round(Number(match[1]) * factor);
  return value <= Number.MAX_SAFE_INTEGER ? value : null;
}

// The copies of a duplicate group that a helper chooses: all but the ones it keeps. Files are
// the group's { path, modified }; each answers a set of chosen paths. A group always keeps at
// least one copy.
export const keepHelpers = {
  newest: (files) => allBut(files, best(files, (a, b) => Number(a.modified) > Number(b.modified))),
  oldest: (files) => allBut(files, best(files, (a, b) => Number(a.modified) < Number(b.modified))),
  shortestPath: (files) => allBut(files, best(files, (a, b) => a.path.length < b.path.length)),
  // Keeps every copy inside `folder` and chooses the rest; chooses nothing in a group with no
  // copy there, since nothing would say which copy to keep.
  inFolder: (files, folder) => {
    const kept = files.filter((file) => within(file.path, folder));
    return kept.length === 0 ? new Set() : allBut(files, kept);
  },
};

// The file `better` prefers; the first of equals.
function best(files, better) {
  return [files.reduce((kept, file) => (better(file, kept) ? file : kept))];
}

function allBut(files, kept) {
  return new Set(files.filter((file) => !kept.includes(file)).map((file) => file.path));
}

// Why each failed path failed, where the answer's error text tells: its lines read
// "PATH: description", for the first few failures.
export function failureReasons(failed, errorText) {
  const reasons = new Map();
  for (const path of failed) {
    const at = errorText ? errorText.indexOf(`${path}: `) : -1;
    if (at < 0) {
      reasons.set(path, '');
      continue;
    }
    const from = at + path.length + 2;
    const end = errorText.indexOf('\n', from);
    reasons.set(path, errorText.slice(from, end < 0 ? undefined : end));
  }
  return reasons;
}
