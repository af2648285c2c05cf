// The compound-file container of .xls books (and of password-protected .xlsx books), checked before the workbook
// library reads it. The library follows the file's sector chains and directory links as they stand: a chain that
// loops, or a directory whose links form a cycle, makes it grow without end (a damaged 6 KB file reached gigabytes
// within seconds). The check walks the same structures the way the library will, with bounds: the sector chains
// (each once, with loops found), the directory (at most `COMPOUND_LIMITS.entries` entries, its links within it and
// free of cycles, its paths of bounded total length), and the streams (within the file, their chains loop-free).
// A file that passes holds no structure the library could loop on; one that does not is refused as damaged.

const COMPOUND_LIMITS = { entries: 4096, pathChars: 1 << 20 };
PlannerCore.compoundLimits = COMPOUND_LIMITS;

const COMPOUND_SIGNATURE = [0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1];
const END_OF_CHAIN = -2, NO_STREAM = -1;

function isCompound(b) {
  if (b.length < 8) return false;
  for (let k = 0; k < 8; k++) if (b[k] !== COMPOUND_SIGNATURE[k]) return false;
  return true;
}

// A signed 32-bit number at b[i]; bytes past the end read as zero, as the library reads them.
function i32(b, i) { return (b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (b[i + 3] << 24)) | 0; }

function damagedCompound() { refuse(BOOK_TEXT.unreadable); }

function checkCompound(b) {
  if (b.length < 512 || !isCompound(b)) damagedCompound();
  const major = u16(b, 26);
  const ssz = major === 3 ? 512 : major === 4 ? 4096 : 0;
  if (!ssz || b.length <= ssz || u16(b, 30) !== (major === 3 ? 9 : 12) || u16(b, 32) !== 6) damagedCompound();
  for (let k = 34; k < 40; k++) if (b[k] !== 0) damagedCompound();
  if (major === 3 && i32(b, 40) !== 0) damagedCompound();
  if (i32(b, 56) !== 4096) damagedCompound();
  const dirStart = i32(b, 48), difatStart = i32(b, 68), difatCount = i32(b, 72);

  // Sector k is the bytes [(k + 1) * ssz, (k + 2) * ssz) of the file; the last one may be short.
  const count = Math.ceil(b.length / ssz) - 1;
  const exists = function (k) { return Number.isInteger(k) && k >= 0 && k < count; };

  // Where the FAT lies: the header's list, then the DIFAT chain.
  const fat = [];
  for (let j = 0; j < 109; j++) {
    const q = i32(b, 76 + 4 * j);
    if (q < 0) break;
    fat.push(q);
  }
  const difatSeen = new Uint8Array(count);
  for (let idx = difatStart, left = difatCount; ;) {
    if (idx === END_OF_CHAIN) { if (left !== 0) damagedCompound(); break; }
    if (!exists(idx)) break;
    if (difatSeen[idx]) damagedCompound();
    difatSeen[idx] = 1;
    const at = (idx + 1) * ssz;
    for (let i = 0; i < ssz / 4 - 1; i++) {
      const q = i32(b, at + 4 * i);
      if (q === END_OF_CHAIN) break;
      fat.push(q);
    }
    if (left < 1) break;
    idx = i32(b, at + ssz - 4);
    left--;
  }

  // The sector after sector j in its chain, or null where the library stops following it.
  const nextOf = function (j) {
    const addr = fat[Math.floor(j * 4 / ssz)];
    if (!exists(addr)) return null;
    return i32(b, (addr + 1) * ssz + ((j * 4) & (ssz - 1)));
  };
  // The sectors of the chain from `start`, as the library collects them for a stream; a chain that comes back to
  // one of its sectors, or runs longer than the file has sectors, is damaged.
  const chainStamp = new Int32Array(count);
  let stamp = 0;
  const chain = function (start) {
    const nodes = [];
    stamp++;
    for (let j = start; j >= 0;) {
      if (nodes.length > count) damagedCompound();
      if (exists(j)) {
        if (chainStamp[j] === stamp) damagedCompound();
        chainStamp[j] = stamp;
      }
      nodes.push(j);
      const next = nextOf(j);
      if (next === null) break;
      j = next;
    }
    return nodes;
  };

  // The library's first pass walks a chain from every sector not yet reached, in order from the directory's;
  // a chain's data is copied each time, so the total walked is bounded as well.
  const reached = new Uint8Array(count), heads = new Uint8Array(count);
  let walked = 0;
  for (let i = 0; i < count; i++) {
    let k = i + dirStart;
    if (k >= count) k -= count;
    if (exists(k)) {
      if (reached[k]) continue;
      heads[k] = 1;
    }
    stamp++;
    for (let j = k; j >= 0;) {
      if (++walked > 4 * count + 1024) damagedCompound();
      if (exists(j)) { chainStamp[j] = stamp; reached[j] = 1; }
      const next = nextOf(j);
      if (next === null) break;
      j = next;
      if (exists(j) && chainStamp[j] === stamp) break;
    }
  }

  // The directory: 128-byte entries on the chain of the directory's first sector.
  if (!exists(dirStart) || !heads[dirStart]) damagedCompound();
  const directory = chain(dirStart);
  if (!directory.every(exists)) damagedCompound();
  let length = 0;
  for (const k of directory) length += Math.min(ssz, b.length - (k + 1) * ssz);
  const entries = Math.ceil(length / 128);
  if (entries > COMPOUND_LIMITS.entries) damagedCompound();
  const entryAt = function (e) { return (directory[Math.floor(e * 128 / ssz)] + 1) * ssz + (e * 128) % ssz; };
  const L = new Int32Array(entries), R = new Int32Array(entries), C = new Int32Array(entries);
  const used = new Uint8Array(entries), nameLength = new Int32Array(entries);
  for (let e = 0; e < entries; e++) {
    const at = entryAt(e);
    const end = Math.min(at + 128, b.length);
    const byte = function (i) { return at + i < end ? b[at + i] : 0; };
    const word = function (i) { return (byte(i) | (byte(i + 1) << 8) | (byte(i + 2) << 16) | (byte(i + 3) << 24)) | 0; };
    const nameBytes = byte(64) | (byte(65) << 8);
    if (nameBytes > 64) damagedCompound();
    const type = byte(66), start = word(116), size = word(120);
    L[e] = word(68); R[e] = word(72); C[e] = word(76);
    for (const link of [L[e], R[e], C[e]]) if (link !== NO_STREAM && !(link >= 0 && link < entries)) damagedCompound();
    const emptied = size < 0 && start < 0;
    used[e] = emptied ? 0 : type;
    nameLength[e] = emptied ? 0 : Math.max(0, (nameBytes - 2) >> 1);
    if (emptied || type === 5 || size < 4096) continue;
    if (size > b.length) damagedCompound();
    chain(start);
  }

  // The paths: the library's parent links found over the entries' links (bounded where it is not), then each
  // path built by following them.
  const dad = new Int32Array(entries), queue = [], last = new Int32Array(entries);
  for (let i = 0; i < entries; i++) { dad[i] = i; queue.push(i); last[i] = i; }
  let l = 0, r = 0;
  for (let j = 0; j < queue.length; ++j) {
    if (queue.length > 4 * entries + 16) damagedCompound();
    const i = queue[j];
    l = L[i]; r = R[i];
    const c = C[i];
    if (dad[i] === i) {
      if (l !== NO_STREAM && dad[l] !== l) dad[i] = dad[l];
      if (r !== NO_STREAM && dad[r] !== r) dad[i] = dad[r];
    }
    if (c !== NO_STREAM) dad[c] = i;
    if (l !== NO_STREAM && i !== dad[i]) { dad[l] = dad[i]; if (last[l] < j) { last[l] = queue.length; queue.push(l); } }
    if (r !== NO_STREAM && i !== dad[i]) { dad[r] = dad[i]; if (last[r] < j) { last[r] = queue.length; queue.push(r); } }
  }
  for (let i = 1; i < entries; i++) {
    if (dad[i] !== i) continue;
    if (r !== NO_STREAM && dad[r] !== r) dad[i] = dad[r];
    else if (l !== NO_STREAM && dad[l] !== l) dad[i] = dad[l];
  }
  const pathLength = new Float64Array(entries);
  for (let i = 0; i < entries; i++) pathLength[i] = nameLength[i];
  let chars = 0;
  for (let i = 1; i < entries; i++) {
    if (used[i] === 0) continue;
    let j = i;
    if (j !== dad[j]) {
      do {
        j = dad[j];
        pathLength[i] += pathLength[j] + 1;
        chars += pathLength[j] + 1;
        if (chars > COMPOUND_LIMITS.pathChars) damagedCompound();
      } while (j !== 0 && dad[j] !== -1 && j !== dad[j]);
    }
    dad[i] = -1;
  }
}

// The record stream of an .xls book (BIFF) with its formulas taken out before the workbook library reads it. The
// import reads each cell's last computed value, which a formula cell keeps, while the library's formula reader
// loops without end on some damaged formulas. A formula cell keeps its value with an empty formula (everything
// from its formula's length on is cleared: the length sits there in every version of the format); array and shared
// formulas and defined names become records of no meaning, which the library skips. A formula record too short
// to hold a formula is damaged.
const BIFF_FORMULAS = new Set([0x0006, 0x0206, 0x0406]);
const BIFF_FORMULA_PARTS = new Set([0x0018, 0x0218, 0x0021, 0x0221, 0x04bc]);
const BIFF_NOTHING = 0x7fff;

function withoutFormulas(stream) {
  // The shortest formula record of the book's version, from its first record (the start of the book).
  const bof = stream.length >= 2 ? stream[0] | (stream[1] << 8) : 0;
  const shortest = bof === 0x0009 ? 17 : bof === 0x0209 || bof === 0x0409 ? 18 : 22;
  for (let p = 0; p + 4 <= stream.length;) {
    const type = stream[p] | (stream[p + 1] << 8), size = stream[p + 2] | (stream[p + 3] << 8);
    const data = p + 4;
    if (data + size > stream.length) break;
    if (BIFF_FORMULAS.has(type)) {
      if (size < shortest) damagedCompound();
      for (let k = data + 16; k < data + size; k++) stream[k] = 0;
    } else if (BIFF_FORMULA_PARTS.has(type)) {
      stream[p] = BIFF_NOTHING & 0xff;
      stream[p + 1] = BIFF_NOTHING >> 8;
    }
    p = data + size;
  }
}

// The workbook library's reading of a compound file, once checkCompound has passed it: the container read, the
// book's record stream without its formulas, then the book. A password-protected .xlsx goes the library's usual
// way (it says it is protected).
function readCompoundBook(b, options) {
  const container = XLSX.CFB.read(b, { type: "array" });
  if (XLSX.CFB.find(container, "EncryptedPackage")) return XLSX.read(b, options);
  const stream = XLSX.CFB.find(container, "/Workbook") || XLSX.CFB.find(container, "/Book");
  if (stream && stream.content) withoutFormulas(stream.content);
  return XLSX.parse_xlscfb(container, options);
}
