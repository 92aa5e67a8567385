// Failures as people read them: what happened and what to do about it, from the terse words of
// the programs the service ran. Kept free of the page so that they can be checked on their own.

// The parent folder of an absolute path ("/" for a top-level item).
function parentOf(path) {
  const end = path.replace(/\/+$/, '').lastIndexOf('/');
  return end > 0 ? path.slice(0, end) : '/';
}

// When "desktopAbilities" says that `method` ("revealPath", "openPath") can show nothing here.
export function cannotShow(method, path) {
  if (method === 'revealPath') {
    return `Nothing could show ${path}: that needs a file manager (gdbus or xdg-open) in a graphical session, `
      + `and there is none where nimbra ui runs. Open the folder ${parentOf(path)} yourself.`;
  }
  return `Nothing could open ${path}: that needs xdg-open in a graphical session, and there is none where `
    + 'nimbra ui runs. Open it from a file manager or a terminal.';
}

// The administrator's password prompt could not be shown at all.
const NO_PROMPT = /Error getting authority|No authentication agent|pkexec is not installed|privileges are not available/i;
// It was shown, and turned down or closed.
const REFUSED = /Request dismissed|Not authorized|dismissed|cancel/i;

// "Free memory" that failed, from the purge's error text (which may be empty).
export function memoryNotFreed(error) {
  const words = error ? ` (${error})` : '';
  if (NO_PROMPT.test(error)) {
    return `Memory was not freed: dropping the caches needs an administrator, and no password prompt can be `
      + `shown here${words}. Start the desktop's polkit authentication agent and try again, or run `
      + '"sudo nimbra call optimizeMemory" in a terminal.';
  }
  if (REFUSED.test(error)) {
    return 'Memory was not freed: the administrator\'s password was not given. Press Free memory to be asked again.';
  }
  return `Memory was not freed${words || ': the system did not say why'}. Nothing was changed; the system may not `
    + 'let its caches be dropped here.';
}
