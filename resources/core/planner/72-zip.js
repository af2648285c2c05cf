// The zip container of .xlsx books, read with bounds. A part may unpack to at most `ZIP_LIMITS.part` bytes and all
// parts together to `ZIP_LIMITS.total`: the sizes the zip declares are checked against them before anything is
// unpacked, and no part is ever unpacked past its declared size, so a zip bomb (a small file that unpacks to
// gigabytes) is refused at once, or as soon as a part gives more than it declared. Both readers of the import go
// through here: the lean reader unpacks the parts it reads with `zipPart`, and a zip handed to the workbook library
// has first been measured whole by `measureZip`.

const MIB = 1024 * 1024;
// The limits, generous for real books: the largest allowed file, stored uncompressed, unpacks to 40 MB. Tests
// lower them.
const ZIP_LIMITS = { part: 256 * MIB, total: 512 * MIB };
PlannerCore.zipLimits = ZIP_LIMITS;

const B64_CODES = (function () {
  const table = new Int16Array(256).fill(-1);
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (let i = 0; i < alphabet.length; i++) table[alphabet.charCodeAt(i)] = i;
  return table;
})();

// The bytes of a Base64 text (line breaks and spaces skipped), or null when it holds any other character.
function base64Bytes(text) {
  let end = text.length;
  while (end > 0 && text.charCodeAt(end - 1) === 61) end--;
  const out = new Uint8Array(Math.floor(end * 3 / 4));
  let bits = 0, value = 0, o = 0;
  for (let i = 0; i < end; i++) {
    const c = text.charCodeAt(i);
    const v = c < 256 ? B64_CODES[c] : -1;
    if (v < 0) {
      if (c === 10 || c === 13 || c === 32) continue;
      return null;
    }
    value = ((value << 6) | v) & 0xffffff;
    bits += 6;
    if (bits >= 8) { bits -= 8; out[o++] = (value >> bits) & 0xff; }
  }
  return o === out.length ? out : out.subarray(0, o);
}

function u16(b, i) { return b[i] | (b[i + 1] << 8); }
function u32(b, i) { return (b[i] | (b[i + 1] << 8) | (b[i + 2] << 16)) + b[i + 3] * 16777216; }

function isZip(b) { return b.length >= 4 && b[0] === 0x50 && b[1] === 0x4b && b[2] === 0x03 && b[3] === 0x04; }

function unreadableZip() { refuse(BOOK_TEXT.unreadable); }

// The ZIP64 sizes of an extra block [from, to): {size, csize} (0 where absent), read the way the workbook library
// reads them.
function zip64Sizes(b, from, to) {
  const out = { size: 0, csize: 0 };
  for (let p = from; p + 4 <= to;) {
    const id = u16(b, p), len = u16(b, p + 2);
    if (id === 0x0001) {
      if (len < 8 || p + 4 + len > to) unreadableZip();
      out.size = u32(b, p + 4) + u32(b, p + 8) * 4294967296;
      if (len >= 16) out.csize = u32(b, p + 12) + u32(b, p + 16) * 4294967296;
    }
    p += 4 + len;
  }
  return out;
}

// The parts of the zip in `b`, as the workbook library will find them: {entries: Map(name -> part), unpacked}.
// A part is {method, start (of its data), csize, size, deflated}; `unpacked` is the sum of the parts' sizes.
// Refuses a damaged or encrypted zip, or one with a method other than stored and deflate, as unreadable, and one
// whose declared sizes pass the limits as too large. Unpacks nothing.
function zipDirectory(b) {
  // The last end record, searched from the very end as the library does.
  let eocd = -1;
  for (let i = b.length - 4; i >= 0; i--) {
    if (b[i] === 0x50 && b[i + 1] === 0x4b && b[i + 2] === 0x05 && b[i + 3] === 0x06) { eocd = i; break; }
  }
  if (eocd < 0 || eocd + 22 > b.length) unreadableZip();
  const count = u16(b, eocd + 8);
  let p = u32(b, eocd + 16);
  const entries = new Map();
  let unpacked = 0;
  for (let k = 0; k < count; k++) {
    if (p + 46 > b.length || u32(b, p) !== 0x02014b50) unreadableZip();
    const nameLen = u16(b, p + 28), extraLen = u16(b, p + 30), commentLen = u16(b, p + 32);
    const extraAt = p + 46 + nameLen;
    if (extraAt + extraLen > b.length) unreadableZip();
    const wide = zip64Sizes(b, extraAt, extraAt + extraLen);
    const size = wide.size || u32(b, p + 24);
    const name = utf8Text(b, p + 46, extraAt).replace(/\\/g, "/");
    const local = u32(b, p + 42);
    p = extraAt + extraLen + commentLen;

    // The local header says how the data is stored and where it begins; the library trusts it.
    if (local + 30 > b.length || u32(b, local) !== 0x04034b50) unreadableZip();
    const flags = u16(b, local + 6), method = u16(b, local + 8);
    if (flags & 0x2041) unreadableZip();  // encrypted: no spreadsheet program writes such a book
    const localName = u16(b, local + 26), localExtra = u16(b, local + 28);
    const start = local + 30 + localName + localExtra;
    if (start > b.length) unreadableZip();
    const localWide = zip64Sizes(b, local + 30 + localName, start);
    const localSize = wide.size || localWide.size || u32(b, local + 22);
    const localCsize = wide.csize || localWide.csize || u32(b, local + 18);
    // What the library unpacks into is the local size: it must be the declared one (or none, when the sizes
    // follow the data).
    if (localSize !== size && !((flags & 8) && localSize === 0)) unreadableZip();
    let part;
    if (method === 8) part = size;
    else if (method === 0) part = Math.min(localCsize, b.length - start);
    else unreadableZip();
    if (part > ZIP_LIMITS.part) refuse(BOOK_TEXT.unpacked);
    unpacked += part;
    if (unpacked > ZIP_LIMITS.total) refuse(BOOK_TEXT.unpacked);
    entries.set(name, { method: method, start: start, csize: localCsize, size: size, deflated: method === 8 });
  }
  return { entries: entries, unpacked: unpacked };
}

// Checks that every deflated part unpacks to no more than it declared (nothing is kept): after this the workbook
// library, which unpacks every part of the zip, cannot unpack more than the limits allow.
function measureZip(b, directory) {
  for (const part of directory.entries.values()) {
    if (part.deflated && inflateRaw(b, part.start, b.length, part.size, null) < 0) unreadableZip();
  }
}

// The unpacked bytes of the part `name`, or null when the zip has no such part.
function zipPart(b, directory, name) {
  const part = directory.entries.get(name);
  if (!part) return null;
  if (!part.deflated) return b.subarray(part.start, part.start + Math.min(part.csize, b.length - part.start));
  const out = new Uint8Array(part.size);
  const got = inflateRaw(b, part.start, b.length, part.size, out);
  if (got < 0) unreadableZip();
  return got === part.size ? out : out.subarray(0, got);
}

// Raw DEFLATE (RFC 1951) of the stream that begins at b[from] (and ends before `to`). With `out` the bytes are
// written there; without it they are only counted. Returns the number of bytes unpacked, or -1 when the stream is
// damaged or would unpack to more than `limit` bytes: decoding stops at that point.
const inflateRaw = (function () {
  const LENGTH_BASE = [3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31, 35, 43, 51, 59, 67, 83, 99, 115,
    131, 163, 195, 227, 258];
  const LENGTH_EXTRA = [0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0];
  const DIST_BASE = [1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769, 1025, 1537,
    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577];
  const DIST_EXTRA = [0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13];
  const CODE_ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15];

  // Fills `table` for the code lengths[0, n): entry (symbol << 4 | length) at every index whose low bits are the
  // symbol's code read in stream order. Returns the longest length (0 for no codes), or -1 for an impossible set.
  function build(lengths, n, table) {
    const count = new Uint16Array(16), next = new Uint16Array(16);
    let longest = 0;
    for (let s = 0; s < n; s++) { count[lengths[s]]++; if (lengths[s] > longest) longest = lengths[s]; }
    if (longest === 0) return 0;
    count[0] = 0;
    let left = 1;
    for (let l = 1; l <= 15; l++) { left = (left << 1) - count[l]; if (left < 0) return -1; }
    for (let l = 1, code = 0; l <= 15; l++) { code = (code + count[l - 1]) << 1; next[l] = code; }
    const size = 1 << longest;
    table.fill(0, 0, size);
    for (let s = 0; s < n; s++) {
      const l = lengths[s];
      if (!l) continue;
      let code = next[l]++, reversed = 0;
      for (let k = 0; k < l; k++) { reversed = (reversed << 1) | (code & 1); code >>= 1; }
      const entry = (s << 4) | l;
      for (let i = reversed; i < size; i += 1 << l) table[i] = entry;
    }
    return longest;
  }

  const fixedLit = new Int32Array(512), fixedDist = new Int32Array(32);
  (function () {
    const lengths = new Uint8Array(288);
    lengths.fill(8, 0, 144); lengths.fill(9, 144, 256); lengths.fill(7, 256, 280); lengths.fill(8, 280, 288);
    build(lengths, 288, fixedLit);
    build(new Uint8Array(30).fill(5), 30, fixedDist);
  })();
  const lit = new Int32Array(32768), dist = new Int32Array(32768);
  const lengths = new Uint8Array(320), codeLengths = new Uint8Array(19), codeTable = new Int32Array(128);

  return function (b, from, to, limit, out) {
    let pos = from, buf = 0, cnt = 0, woff = 0;
    // The next n bits (n <= 16); bits past the end read as zero and are caught below.
    function bits(n) {
      while (cnt < n) { buf |= (pos < to ? b[pos] : 0) << cnt; pos++; cnt += 8; }
      const v = buf & ((1 << n) - 1);
      buf >>>= n;
      cnt -= n;
      return v;
    }
    function symbol(table, longest) {
      while (cnt < longest) { buf |= (pos < to ? b[pos] : 0) << cnt; pos++; cnt += 8; }
      const e = table[buf & ((1 << longest) - 1)];
      const l = e & 15;
      buf >>>= l;
      cnt -= l;
      return l === 0 ? -1 : e >> 4;
    }
    let last = 0;
    while (!last) {
      if (pos > to + 4) return -1;
      last = bits(1);
      const type = bits(2);
      if (type === 0) {
        // To the byte boundary: the bits left of the current byte are dropped, whole bytes read ahead go back.
        pos -= cnt >> 3;
        buf = 0;
        cnt = 0;
        if (pos + 4 > to) return -1;
        const len = u16(b, pos), nlen = u16(b, pos + 2);
        pos += 4;
        if ((len ^ 0xffff) !== nlen || pos + len > to) return -1;
        if (woff + len > limit) return -1;
        if (out) out.set(b.subarray(pos, pos + len), woff);
        woff += len;
        pos += len;
        continue;
      }
      let litTable = fixedLit, litLongest = 9, distTable = fixedDist, distLongest = 5;
      if (type === 2) {
        const nlit = bits(5) + 257, ndist = bits(5) + 1, ncode = bits(4) + 4;
        if (nlit > 286 || ndist > 30) return -1;
        codeLengths.fill(0);
        for (let i = 0; i < ncode; i++) codeLengths[CODE_ORDER[i]] = bits(3);
        const codeLongest = build(codeLengths, 19, codeTable);
        if (codeLongest <= 0) return -1;
        for (let i = 0; i < nlit + ndist;) {
          const s = symbol(codeTable, codeLongest);
          if (s < 0) return -1;
          if (s < 16) { lengths[i++] = s; continue; }
          let repeat, value = 0;
          if (s === 16) { if (i === 0) return -1; value = lengths[i - 1]; repeat = 3 + bits(2); }
          else if (s === 17) repeat = 3 + bits(3);
          else repeat = 11 + bits(7);
          if (i + repeat > nlit + ndist) return -1;
          while (repeat--) lengths[i++] = value;
        }
        litLongest = build(lengths, nlit, lit);
        distLongest = build(lengths.subarray(nlit, nlit + ndist), ndist, dist);
        if (litLongest <= 0 || distLongest < 0) return -1;
        litTable = lit;
        distTable = dist;
      } else if (type !== 1) {
        return -1;
      }
      for (;;) {
        if (pos > to + 4) return -1;
        const s = symbol(litTable, litLongest);
        if (s < 256) {
          if (s < 0 || woff >= limit) return -1;
          if (out) out[woff] = s;
          woff++;
          continue;
        }
        if (s === 256) break;
        const li = s - 257;
        if (li >= 29 || distLongest === 0) return -1;
        const len = LENGTH_BASE[li] + bits(LENGTH_EXTRA[li]);
        const di = symbol(distTable, distLongest);
        if (di < 0 || di >= 30) return -1;
        const d = DIST_BASE[di] + bits(DIST_EXTRA[di]);
        if (d > woff || woff + len > limit) return -1;
        if (out) {
          if (d >= len) out.copyWithin(woff, woff - d, woff - d + len);
          else for (let k = 0; k < len; k++) out[woff + k] = out[woff + k - d];
        }
        woff += len;
      }
    }
    // The stream must end within its data.
    return pos - (cnt >> 3) > to ? -1 : woff;
  };
})();
