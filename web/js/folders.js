// Folder fields: what a person types, as the service takes it, and the one check that tells a
// folder that is not there from an empty one.

// `~` and `~/…` stand for the home folder, as in a shell; anything else is taken as typed.
export function expandHome(text, home) {
  if (text === '~') return home;
  if (text.startsWith('~/')) return `${home.replace(/\/+$/, '')}${text.slice(1)}`;
  return text;
}

// The folder `text` names, with `~` expanded by the home folder the service gives.
export async function folderOf(app, text) {
  if (text !== '~' && !text.startsWith('~/')) return text;
  app.home ??= await app.channel.call('homeDir');
  return expandHome(text, app.home);
}

// "PATH/." names the folder PATH (or the one a link at PATH leads to), and nothing when PATH is
// missing or is a file: so the size of it, and whether it exists, are of a folder only.
export const inside = (path) => `${path}/.`;

// What is wrong with `path` as a folder to scan, as a sentence; null when a folder is there.
// Asked only once a measurement or scan found nothing at `path`, where it costs little.
export async function folderProblem(app, path) {
  const answer = await app.runWork('inspectItems', { paths: [inside(path)] });
  const fact = answer.items[0];
  if (!fact) return null; // cancelled before it looked
  if (!fact.exists) return `No folder at ${path}`;
  if (Number(fact.unreadable) > 0) return `The folder ${path} could not be read: it does not let you list what is in it.`;
  return null;
}
