// The sentences "Free memory" fails with, from the words of pkexec and of the script runner,
// including those a test machine without polkit cannot produce.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { memoryNotFreed } from '../../web/js/failures.js';

test('a purge that could not ask for a password, was refused, or failed says which and what to do', () => {
  const noPrompt = /^Memory was not freed: dropping the caches needs an administrator, and no password prompt can be shown here \(.+\)\. Start the desktop's polkit authentication agent and try again, or run "sudo nimbra call optimizeMemory" in a terminal\.$/;
  for (const error of ['Error getting authority: Error initializing authority: Could not connect: No such file or directory',
    'Error executing command as another user: No authentication agent found.',
    'administrator privileges are not available: not running as root and /usr/bin/pkexec is not installed']) {
    assert.match(memoryNotFreed(error), noPrompt, error);
  }
  for (const error of ['Error executing command as another user: Request dismissed',
    'Error executing command as another user: Not authorized\n\nThis incident has been reported.']) {
    assert.equal(memoryNotFreed(error), 'Memory was not freed: the administrator\'s password was not given. Press Free memory to be asked again.');
  }
  assert.equal(memoryNotFreed('sh: 1: cannot create /proc/sys/vm/drop_caches: Read-only file system'),
    'Memory was not freed (sh: 1: cannot create /proc/sys/vm/drop_caches: Read-only file system). Nothing was changed; '
    + 'the system may not let its caches be dropped here.');
  assert.match(memoryNotFreed(''), /^Memory was not freed: the system did not say why\. /);
});
