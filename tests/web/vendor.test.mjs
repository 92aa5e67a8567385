// The vendored libraries are exactly the files their manifest names, each with its licence.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { readFileSync, readdirSync } from 'node:fs';

const vendor = new URL('../../web/vendor/', import.meta.url);
const { libraries } = JSON.parse(readFileSync(new URL('manifest.json', vendor), 'utf8'));

test('every vendored file is in the manifest with its version, licence and digest', () => {
  const listed = ['manifest.json'];
  for (const { name, version, license, file, licenseFile, sha256 } of libraries) {
    assert.ok(version && license && readFileSync(new URL(licenseFile, vendor), 'utf8').length > 100, name);
    assert.equal(createHash('sha256').update(readFileSync(new URL(file, vendor))).digest('hex'), sha256, name);
    listed.push(file, licenseFile);
  }
  assert.deepStrictEqual(readdirSync(vendor).sort(), listed.sort());
});
