// Names and paths as a person reads them. Anyone can name a file; a name may hold a newline,
// a control character, an invisible character or a right-to-left override that makes
// "txt.exe" read as "exe.txt". Such characters are shown as escapes (\n, \u{202E}), and a
// backslash as \\, so that the text on screen names exactly the item that would be removed.

import { html } from '../vendor/lit-html.js';

// C0 and C1 controls, DEL, the soft hyphen, invisible and zero-width characters, line and
// paragraph separators, and every bidirectional mark, embedding, override and isolate.
const ODD = /[\\\u0000-\u001f\u007f-\u009f\u00ad\u061c\u115f\u1160\u180e\u200b-\u200f\u2028-\u202e\u2060-\u206f\u3164\ufeff\ufff9-\ufffb]/u;
const ODD_ALL = new RegExp(ODD.source, 'gu');
const NAMED = { '\n': '\\n', '\r': '\\r', '\t': '\\t', '\\': '\\\\' };

const escapeOf = (c) => NAMED[c] ?? `\\u{${c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')}}`;

// The text as shown, for accessible names and titles.
export function shownText(text) {
  return ODD.test(text) ? text.replace(ODD_ALL, escapeOf) : text;
}

// The text for the page: plain text when nothing in it is odd, else with each escape marked,
// so that it stands out from the characters around it.
export function shown(text) {
  if (!ODD.test(text)) return text;
  const parts = [];
  let from = 0;
  for (const match of text.matchAll(ODD_ALL)) {
    if (match.index > from) parts.push(text.slice(from, match.index));
    parts.push(html`<span class="escape">${escapeOf(match[0])}</span>`);
    from = match.index + match[0].length;
  }
  parts.push(text.slice(from));
  return parts;
}

// An absolute path as a person reads it: a run of slashes is one slash, as the file system takes
// it ("/tmp//name" is "/tmp/name"). Only for showing: the path acted on stays as the service gave
// it. Anything else (a login item's name) is left as it is.
export function plainPath(path) {
  return path.startsWith('/') ? path.replace(/\/{2,}/g, '/') : path;
}

// The last component of a path.
export function baseName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}
