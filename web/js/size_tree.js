// A size tree of the service as the page changes it after a removal: what went is taken out and
// its bytes and files subtracted from every folder above it, so that the charts and the tree say
// what is left without a new scan; what comes back from the Trash is put back the same way.

// The entries from `root` down to the one at `path`, or to the deepest one holding it when the
// tree goes no deeper (or holds it among a folder's smaller items).
export function chainTo(root, path) {
  const chain = [root];
  for (let entry = root; ;) {
    const next = entry.children.find((child) => !child.isOther && (child.path === path || path.startsWith(`${child.path}/`)));
    if (!next) return chain;
    chain.push(next);
    entry = next;
  }
}

// Takes `item` ({ path, size, files }) out of the tree below `root`. Answers what `putBack`
// needs to undo it, or null when the item is not below `root`.
export function takeOut(root, item) {
  const path = item.path.length > 1 && item.path.endsWith('/') ? item.path.slice(0, -1) : item.path;
  if (!path.startsWith(`${root.path.replace(/\/+$/, '')}/`)) return null;
  const chain = chainTo(root, path);
  const last = chain.at(-1);
  const whole = last !== root && last.path === path;
  const taken = { chain: whole ? chain.slice(0, -1) : chain, entry: whole ? last : null,
    size: Number(whole ? last.size : item.size), files: Number(whole ? last.files : item.files ?? 1),
    modified: Number((whole ? last : item).modified ?? 0), emptied: [] };
  if (whole) detach(taken.chain.at(-1), last, taken);
  add(taken, -1);
  // A folder left without a file is left out, as a scan leaves it out.
  for (let i = taken.chain.length - 1; i > 0 && Number(taken.chain[i].files) <= 0; --i) {
    detach(taken.chain[i - 1], taken.chain[i], taken);
  }
  return taken;
}

// Undoes `takeOut`, unless a folder on the way has gone since.
export function putBack(root, taken) {
  const { chain, emptied } = taken;
  const kept = (entry, i) => i === 0 || chain[i - 1].children.includes(entry) || emptied.some((e) => e.entry === entry);
  if (chain[0] !== root || !chain.every(kept)) return false;
  for (const { parent, entry, index } of [...emptied].reverse()) {
    parent.children.splice(Math.min(index, parent.children.length), 0, entry);
  }
  add(taken, 1);
  return true;
}

function detach(parent, entry, taken) {
  const index = parent.children.indexOf(entry);
  parent.children.splice(index, 1);
  taken.emptied.push({ parent, entry, index });
}

function add(taken, sign) {
  const { chain, entry, size, files, modified } = taken;
  const parent = chain.at(-1);
  // An item inside a folder's smaller items is counted in that entry too.
  const rest = entry ? null : parent.children.find((child) => child.isOther);
  if (rest) rest.size = Number(rest.size) + sign * size;
  if (rest && Number(rest.size) <= 0) parent.children.splice(parent.children.indexOf(rest), 1);
  for (const folder of chain) {
    folder.size = Number(folder.size) + sign * size;
    folder.files = Number(folder.files) + sign * files;
  }
  // A folder with its children in the tree is as new as the newest of them; one whose children
  // the scan did not reach keeps the time it had (the newest anyone can tell without a new scan),
  // or takes the time of what comes back into it.
  for (const folder of [...chain].reverse()) {
    if (folder.children.length) folder.modified = Math.max(...folder.children.map((child) => Number(child.modified ?? 0)));
    else if (Number(folder.files) === 0) folder.modified = 0;
    else if (sign > 0) folder.modified = Math.max(Number(folder.modified ?? 0), modified);
  }
}
