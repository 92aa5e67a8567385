// What a choice removes, the sizes people type, the duplicate helpers and the reasons of failures.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { failureReasons, keepHelpers, outermost, parseSize } from '../../web/js/choice.js';

test('a folder chosen with things inside it goes, and counts, once', () => {
  const items = [{ path: '/h/a/b/c.txt', size: 1 }, { path: '/h/a b', size: 5 }, { path: '/h/a', size: 10 },
    { path: '/h/ab', size: 2 }, { path: '/h/a/b', size: 4 }, { path: '/h/ab', size: 2 }, { path: '/h/x/', size: 3 },
    { path: '/h/x/y', size: 1 }];
  assert.deepStrictEqual(outermost(items).map((item) => item.path), ['/h/a b', '/h/a', '/h/ab', '/h/x/']);
});

test('sizes read as the terminal commands read them', () => {
  const read = ['1048576', '500kB', '1MB', '1 mb', '1.5GB', '1MiB', '4KiB', '2T', '.5M', '0'].map(parseSize);
  assert.deepStrictEqual(read, [1048576, 500000, 1e6, 1e6, 1.5e9, 1048576, 4096, 2e12, 500000, 0]);
  for (const wrong of ['', 'MB', '-1MB', '1e3', '1.2.3MB', '10 parsecs', '99999999999999999999']) {
    assert.equal(parseSize(wrong), null, wrong);
  }
});

test('each helper keeps one kind of copy and chooses the rest; equals keep the first', () => {
  const files = [{ path: '/p/2023/a.jpg', modified: 20n }, { path: '/p/a.jpg', modified: 30n },
    { path: '/p/old/a.jpg', modified: 10n }, { path: '/q/a.jpg', modified: 30n }];
  const chosen = (set) => [...set].sort();
  assert.deepStrictEqual(chosen(keepHelpers.newest(files)), ['/p/2023/a.jpg', '/p/old/a.jpg', '/q/a.jpg']);
  assert.deepStrictEqual(chosen(keepHelpers.oldest(files)), ['/p/2023/a.jpg', '/p/a.jpg', '/q/a.jpg']);
  assert.deepStrictEqual(chosen(keepHelpers.shortestPath(files)), ['/p/2023/a.jpg', '/p/old/a.jpg', '/q/a.jpg']);
  assert.deepStrictEqual(chosen(keepHelpers.inFolder(files, '/p/old')), ['/p/2023/a.jpg', '/p/a.jpg', '/q/a.jpg']);
  // A folder that is only a prefix of a name holds nothing; a group without a copy there keeps all.
  assert.deepStrictEqual(chosen(keepHelpers.inFolder(files, '/p/ol')), []);
  assert.deepStrictEqual(chosen(keepHelpers.inFolder(files, '/p')), ['/q/a.jpg']);
});

test('a failure takes its reason from the answer\'s error lines, also for a path with a newline', () => {
  const error = '/h/a\nb: Permission denied\n/h/c: Invalid cross-device link';
  assert.deepStrictEqual([...failureReasons(['/h/a\nb', '/h/c', '/h/d'], error)],
    [['/h/a\nb', 'Permission denied'], ['/h/c', 'Invalid cross-device link'], ['/h/d', '']]);
});
