// What a scan left out, said under its result, so that no figure passes for the whole truth:
// the folders it could not read (the first ones behind a disclosure), the entries it counted
// but cannot name, and, for the finders, what they never search.

import { html, nothing } from '../vendor/lit-html.js';
import { formatCount, plural } from './format.js';
import { shown } from './names.js';

// What the large file scan and the duplicate finder pass over by rule.
export const LARGE_FILES_SKIP = 'Hidden files and folders, the contents of packages (.app, .bundle …), the '
  + 'home folder’s Library, node_modules and the hidden tool folders (.git, .cache, .npm …) are not searched';
export const DUPLICATES_SKIP = 'Hidden files and folders, the contents of packages (.app, .bundle …), '
  + 'every Library folder, node_modules and the hidden tool folders (.git, .cache, .npm …) are not searched';

// The answer's "unreadable" and "unreadableFolders" ([{ path, error }]), "unnamed" and, when
// given, what the scan never searches.
export function gapsView(answer, { skips = null, unnamedWhat = ['item is', 'items are'] } = {}) {
  const unreadable = Number(answer?.unreadable ?? 0);
  const folders = answer?.unreadableFolders ?? [];
  const unnamed = Number(answer?.unnamed ?? 0);
  const rest = unreadable - folders.length;
  return html`
    ${unreadable ? html`<details class="gaps">
      <summary>${plural(unreadable, 'folder', 'folders')} could not be read: what ${unreadable === 1
        ? 'it holds is' : 'they hold is'} not counted</summary>
      <ul>${folders.map((folder) => html`<li><span class="path">${shown(folder.path)}</span>: ${folder.error}</li>`)}
        ${rest > 0 ? html`<li>and ${formatCount(rest)} more</li>` : nothing}</ul>
    </details>` : nothing}
    ${unnamed ? html`<p class="note">${plural(unnamed, ...unnamedWhat)} counted but not listed: the
      ${unnamed === 1 ? 'name is' : 'names are'} not valid UTF-8.</p>` : nothing}
    ${skips ? html`<details class="gaps">
      <summary>Not searched: hidden, tool, package folders</summary><p>${skips}.</p>
    </details>` : nothing}`;
}
