// Figures as people read them. The service's int64 figures arrive as BigInt, its int32
// figures as Number: everything here takes either.

const UNITS = ['KB', 'MB', 'GB', 'TB', 'PB', 'EB'];
const counts = new Intl.NumberFormat('en');

// Decimal units with one decimal, as the terminal commands print them: "512 B", "8.0 MB".
export function formatBytes(bytes) {
  let value = Number(bytes);
  if (Math.abs(value) < 1000) return `${value} B`;
  let unit = 0;
  value /= 1000;
  while (Math.abs(value) >= 999.95 && unit + 1 < UNITS.length) {
    value /= 1000;
    ++unit;
  }
  return `${value.toFixed(1)} ${UNITS[unit]}`;
}

const BINARY_UNITS = ['KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];

// Binary units with one decimal, as `du -h` counts: "1.0 MiB".
export function formatBinaryBytes(bytes) {
  let value = Number(bytes);
  if (Math.abs(value) < 1024) return `${value} B`;
  let unit = 0;
  value /= 1024;
  while (Math.abs(value) >= 1023.95 && unit + 1 < BINARY_UNITS.length) {
    value /= 1024;
    ++unit;
  }
  return `${value.toFixed(1)} ${BINARY_UNITS[unit]}`;
}

// A size a person typed ("1MiB", "500kB", "1048576"), stated back in the kind of units it was
// typed in: binary ones for a binary unit, else the decimal ones the rest of the page uses.
export function formatSizeAsTyped(bytes, typed) {
  return /ib\s*$/i.test(typed) ? formatBinaryBytes(bytes) : formatBytes(bytes);
}

export function formatCount(n) {
  return counts.format(Number(n));
}

// A fraction of a whole as a whole percentage; a sliver that would read "0%" reads "<1%".
export function formatShare(part, whole) {
  const w = Number(whole);
  if (w <= 0) return '0%';
  const percent = (Number(part) / w) * 100;
  if (percent > 0 && percent < 1) return '<1%';
  return `${Math.round(percent)}%`;
}

// "3 days 4 h 12 min", "4 h 12 min", "12 min".
export function formatDuration(seconds) {
  const s = Number(seconds);
  const days = Math.floor(s / 86400);
  const hours = Math.floor((s % 86400) / 3600);
  const minutes = Math.floor((s % 3600) / 60);
  const parts = [];
  if (days > 0) parts.push(`${days} ${days === 1 ? 'day' : 'days'}`);
  if (days > 0 || hours > 0) parts.push(`${hours} h`);
  parts.push(`${minutes} min`);
  return parts.join(' ');
}

const dates = new Intl.DateTimeFormat('en', { dateStyle: 'medium', timeStyle: 'short' });

// A modification time of the service (whole seconds since 1970); "—" where it is unknown (0).
export function formatDate(seconds) {
  const s = Number(seconds);
  return s > 0 ? dates.format(new Date(s * 1000)) : '—';
}

const days = new Intl.DateTimeFormat('en', { dateStyle: 'medium' });

// The day of a modification time, where a column has no room for the hour; "—" where unknown.
export function formatDay(seconds) {
  const s = Number(seconds);
  return s > 0 ? days.format(new Date(s * 1000)) : '—';
}

// "1 file", "2 files".
export function plural(count, one, many) {
  return `${formatCount(count)} ${Number(count) === 1 ? one : many}`;
}
