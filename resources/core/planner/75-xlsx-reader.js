// A lean reader of the cell values of large .xlsx books. The workbook library builds a full cell record for every
// cell and several copies of each sheet's text, which for a book of the largest allowed size (40 MB) means minutes
// and gigabytes; this reader walks the bytes of each sheet once and keeps only the values. It reads the parts the
// import needs (sheet names, shared strings, cell values) and gives up (returns null) on anything unusual, so that
// the library then reads the book as usual.

// Books smaller than `threshold` bytes go through the library; `lastUsed` tells whether the last import was read
// here (the tests compare both readers on the same books).
const LEAN_READER = { threshold: 4 * 1024 * 1024, lastUsed: false };
PlannerCore.leanReader = LEAN_READER;

const B64_CODES = (function () {
  const table = new Int16Array(256).fill(-1);
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (let i = 0; i < alphabet.length; i++) table[alphabet.charCodeAt(i)] = i;
  return table;
})();

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

// The zip's entries by name: {method, offset, size, csize}; null when it is not a plain zip.
function zipEntries(b) {
  let eocd = -1;
  for (let i = b.length - 22; i >= Math.max(0, b.length - 65557); i--) {
    if (b[i] === 0x50 && b[i + 1] === 0x4b && b[i + 2] === 0x05 && b[i + 3] === 0x06) { eocd = i; break; }
  }
  if (eocd < 0) return null;
  const count = u16(b, eocd + 10);
  let p = u32(b, eocd + 16);
  const entries = new Map();
  for (let k = 0; k < count; k++) {
    if (p + 46 > b.length || u32(b, p) !== 0x02014b50) return null;
    const method = u16(b, p + 10), csize = u32(b, p + 20), size = u32(b, p + 24);
    const nameLen = u16(b, p + 28), extraLen = u16(b, p + 30), commentLen = u16(b, p + 32);
    const local = u32(b, p + 42);
    const name = utf8Text(b, p + 46, p + 46 + nameLen);
    entries.set(name.replace(/\\/g, "/"), { method: method, local: local, csize: csize, size: size });
    p += 46 + nameLen + extraLen + commentLen;
  }
  return entries;
}

function zipPart(b, entries, name) {
  const e = entries.get(name);
  if (!e) return null;
  const p = e.local;
  if (u32(b, p) !== 0x04034b50) return null;
  const start = p + 30 + u16(b, p + 26) + u16(b, p + 28);
  const raw = b.subarray(start, start + e.csize);
  if (e.method === 0) return raw;
  if (e.method !== 8) return null;
  const out = XLSX.CFB.utils._inflateRaw(raw, e.size);
  const bytes = out instanceof Uint8Array ? out : Uint8Array.from(out);
  return bytes.length === e.size ? bytes : bytes.subarray(0, e.size);
}

// UTF-8 bytes [from, to) as text.
function utf8Text(b, from, to) {
  let out = "";
  let chunk = [];
  for (let i = from; i < to;) {
    const c = b[i];
    let cp;
    if (c < 0x80) { cp = c; i += 1; }
    else if (c < 0xe0) { cp = ((c & 0x1f) << 6) | (b[i + 1] & 0x3f); i += 2; }
    else if (c < 0xf0) { cp = ((c & 0x0f) << 12) | ((b[i + 1] & 0x3f) << 6) | (b[i + 2] & 0x3f); i += 3; }
    else { cp = ((c & 0x07) << 18) | ((b[i + 1] & 0x3f) << 12) | ((b[i + 2] & 0x3f) << 6) | (b[i + 3] & 0x3f); i += 4; }
    if (cp > 0xffff) { cp -= 0x10000; chunk.push(0xd800 + (cp >> 10), 0xdc00 + (cp & 0x3ff)); }
    else chunk.push(cp);
    if (chunk.length > 4096) { out += String.fromCharCode.apply(null, chunk); chunk = []; }
  }
  return out + String.fromCharCode.apply(null, chunk);
}

const XML_ENTITIES = { amp: "&", lt: "<", gt: ">", quot: "\"", apos: "'" };
function xmlText(b, from, to) {
  const t = utf8Text(b, from, to);
  if (t.indexOf("&") < 0 && t.indexOf("_x") < 0) return t;
  return t.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-z]+);/g, function (m, e) {
    if (e.charAt(0) === "#") return String.fromCodePoint(e.charAt(1) === "x" ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
    return XML_ENTITIES[e] !== undefined ? XML_ENTITIES[e] : m;
  }).replace(/_x([0-9A-Fa-f]{4})_/g, function (m, h) { return String.fromCharCode(parseInt(h, 16)); });
}

// Position of the ASCII text `s` in b from `from`, or -1.
function bytesIndex(b, s, from, to) {
  const first = s.charCodeAt(0), n = s.length;
  const end = (to === undefined ? b.length : to) - n;
  outer: for (let i = from; i <= end; i++) {
    if (b[i] !== first) continue;
    for (let k = 1; k < n; k++) if (b[i + k] !== s.charCodeAt(k)) continue outer;
    return i;
  }
  return -1;
}

// The attribute value of `name` inside the tag bytes [from, to), or null.
function tagAttribute(b, from, to, name) {
  let i = from;
  for (;;) {
    i = bytesIndex(b, name + "=\"", i, to);
    if (i < 0) return null;
    const before = b[i - 1];
    if (before === 0x20 || before === 0x09 || before === 0x0a || before === 0x0d) {
      const start = i + name.length + 2;
      const end = bytesIndex(b, "\"", start, to);
      return end < 0 ? null : xmlText(b, start, end);
    }
    i += name.length;
  }
}

// Concatenated text of the <t> elements in [from, to), leaving out phonetic runs.
function runsText(b, from, to) {
  let out = "";
  let i = from;
  for (;;) {
    const t = bytesIndex(b, "<t", i, to);
    if (t < 0) return out;
    const next = b[t + 2];
    if (next !== 0x3e && next !== 0x20 && next !== 0x2f) { i = t + 2; continue; }
    const ph = bytesIndex(b, "<rPh", i, t);
    if (ph >= 0) { const close = bytesIndex(b, "</rPh>", ph, to); i = close < 0 ? to : close + 6; continue; }
    const gt = bytesIndex(b, ">", t, to);
    if (b[gt - 1] === 0x2f) { i = gt + 1; continue; }
    const end = bytesIndex(b, "</t>", gt, to);
    if (end < 0) return out;
    out += xmlText(b, gt + 1, end);
    i = end + 4;
  }
}

function sharedStrings(b) {
  const out = [];
  if (!b) return out;
  let i = 0;
  for (;;) {
    const si = bytesIndex(b, "<si", i);
    if (si < 0) return out;
    const gt = bytesIndex(b, ">", si);
    if (b[gt - 1] === 0x2f) { out.push(""); i = gt + 1; continue; }
    const end = bytesIndex(b, "</si>", gt);
    if (end < 0) return out;
    out.push(runsText(b, gt + 1, end));
    i = end + 5;
  }
}

// Column index of a cell reference such as "AB12".
function columnOf(ref) {
  let c = 0;
  for (let i = 0; i < ref.length; i++) {
    const code = ref.charCodeAt(i);
    if (code < 65 || code > 90) break;
    c = c * 26 + (code - 64);
  }
  return c - 1;
}

// The rows of one sheet part: arrays of values (texts, numbers, booleans), blank rows left out.
function sheetValues(b, strings) {
  const rows = [];
  let i = bytesIndex(b, "<sheetData", 0);
  if (i < 0) return rows;
  for (;;) {
    const r = bytesIndex(b, "<row", i);
    if (r < 0) break;
    const rgt = bytesIndex(b, ">", r);
    if (b[rgt - 1] === 0x2f) { i = rgt + 1; continue; }
    const rend = bytesIndex(b, "</row>", rgt);
    if (rend < 0) break;
    const row = [];
    let any = false, c = rgt + 1, col = 0;
    for (;;) {
      const cs = bytesIndex(b, "<c", c, rend);
      if (cs < 0) break;
      if (b[cs + 2] !== 0x20 && b[cs + 2] !== 0x3e && b[cs + 2] !== 0x2f) { c = cs + 2; continue; }
      const cgt = bytesIndex(b, ">", cs, rend);
      const ref = tagAttribute(b, cs, cgt, "r");
      if (ref) col = columnOf(ref);
      if (col < 0 || col > 16383) return null;
      let value = null;
      let next;
      if (b[cgt - 1] === 0x2f) next = cgt + 1;
      else {
        const cend = bytesIndex(b, "</c>", cgt, rend);
        if (cend < 0) return null;
        next = cend + 4;
        const type = tagAttribute(b, cs, cgt, "t") || "n";
        if (type === "inlineStr") value = runsText(b, cgt + 1, cend);
        else {
          const v = bytesIndex(b, "<v>", cgt, cend);
          if (v >= 0) {
            const vend = bytesIndex(b, "</v>", v, cend);
            const text = xmlText(b, v + 3, vend < 0 ? cend : vend);
            if (type === "s") value = strings[Number(text)] === undefined ? null : strings[Number(text)];
            else if (type === "str" || type === "d") value = text;
            else if (type === "b") value = text === "1" || text === "true";
            else if (type === "e") value = null;
            else { const n = Number(text); value = text.trim() !== "" && isFinite(n) ? n : null; }
          }
        }
      }
      if (value !== null && value !== "") {
        while (row.length < col) row.push(null);
        row[col] = value;
        any = true;
      } else if (value === "") {
        while (row.length < col) row.push(null);
        row[col] = "";
      }
      col++;
      c = next;
    }
    if (any) rows.push(row);
    i = rend + 6;
  }
  return rows;
}

// {names: [...], rows(name)} of an .xlsx book given as Base64, or null when the lean reader does not apply.
function leanBook(base64) {
  if (typeof base64 !== "string" || base64.length * 3 / 4 < LEAN_READER.threshold) return null;
  try {
    const b = base64Bytes(base64);
    if (!b || b.length < 4 || b[0] !== 0x50 || b[1] !== 0x4b) return null;
    const entries = zipEntries(b);
    if (!entries) return null;
    const workbook = zipPart(b, entries, "xl/workbook.xml");
    const rels = zipPart(b, entries, "xl/_rels/workbook.xml.rels");
    if (!workbook || !rels) return null;
    const targets = new Map();
    for (let i = 0; ;) {
      const r = bytesIndex(rels, "<Relationship ", i);
      if (r < 0) break;
      const gt = bytesIndex(rels, ">", r);
      const id = tagAttribute(rels, r, gt, "Id"), target = tagAttribute(rels, r, gt, "Target");
      if (id && target) targets.set(id, target.charAt(0) === "/" ? target.slice(1) : "xl/" + target);
      i = gt + 1;
    }
    const sheets = [];
    for (let i = 0; ;) {
      const s = bytesIndex(workbook, "<sheet ", i);
      if (s < 0) break;
      const gt = bytesIndex(workbook, ">", s);
      const name = tagAttribute(workbook, s, gt, "name"), id = tagAttribute(workbook, s, gt, "r:id");
      if (name === null || !id || !targets.has(id)) return null;
      sheets.push({ name: name, part: targets.get(id) });
      i = gt + 1;
    }
    if (!sheets.length) return null;
    const strings = sharedStrings(zipPart(b, entries, "xl/sharedStrings.xml"));
    const cache = new Map();
    return {
      names: sheets.map(function (s) { return s.name; }),
      rows: function (name) {
        if (cache.has(name)) return cache.get(name);
        const sheet = sheets.find(function (s) { return s.name === name; });
        const part = sheet ? zipPart(b, entries, sheet.part) : null;
        const rows = part ? sheetValues(part, strings) : [];
        if (rows === null) throw new Error("unreadable sheet");
        cache.set(name, rows);
        return rows;
      }
    };
  } catch (e) {
    return null;
  }
}
