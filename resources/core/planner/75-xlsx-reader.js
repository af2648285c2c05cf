// A lean reader of the cell values of large .xlsx books. The workbook library builds a full cell record for every
// cell and several copies of each sheet's text, which for a book of the largest allowed size (40 MB) means minutes
// and gigabytes; this reader walks the bytes of each sheet once and keeps only the values. It reads the parts the
// import needs (sheet names, shared strings, cell values) and gives up (returns null) on anything unusual, so that
// the library then reads the book as usual.

// Books whose parts unpack to fewer than `threshold` bytes (a few hundred orders) go through the library, larger
// ones here: a day of 2,000 orders reads in a tenth of the library's time. `lastUsed` tells whether the last import
// was read here (the tests compare both readers on the same books).
const LEAN_READER = { threshold: 256 * 1024, lastUsed: false };
PlannerCore.leanReader = LEAN_READER;

// UTF-8 bytes [from, to) as text. The code units go through one reused array: the sheets of a large book hold
// millions of short texts, and nothing but the text itself is made for each.
const TEXT_UNITS = [];
function unitsText(n) {
  TEXT_UNITS.length = n;
  if (n <= 8192) return String.fromCharCode.apply(null, TEXT_UNITS);
  let out = "";
  for (let k = 0; k < n; k += 8192) out += String.fromCharCode.apply(null, TEXT_UNITS.slice(k, Math.min(n, k + 8192)));
  return out;
}
function utf8Text(b, from, to) {
  if (to <= from) return "";
  const units = TEXT_UNITS;
  let n = 0;
  for (let i = from; i < to;) {
    const c = b[i];
    let cp;
    if (c < 0x80) { cp = c; i += 1; }
    else if (c < 0xe0) { cp = ((c & 0x1f) << 6) | (b[i + 1] & 0x3f); i += 2; }
    else if (c < 0xf0) {
      cp = ((c & 0x0f) << 12) | ((b[i + 1] & 0x3f) << 6) | (b[i + 2] & 0x3f);
      if (cp >= 0xd800 && cp <= 0xdfff) cp = 0xfffd;  // a surrogate written as a character: damaged text
      i += 3;
    } else {
      cp = ((c & 0x07) << 18) | ((b[i + 1] & 0x3f) << 12) | ((b[i + 2] & 0x3f) << 6) | (b[i + 3] & 0x3f);
      if (cp > 0x10ffff) cp = 0xfffd;
      i += 4;
    }
    if (cp > 0xffff) { cp -= 0x10000; units[n++] = 0xd800 + (cp >> 10); units[n++] = 0xdc00 + (cp & 0x3ff); }
    else units[n++] = cp;
  }
  return unitsText(n);
}

const XML_ENTITIES = { amp: "&", lt: "<", gt: ">", quot: "\"", apos: "'" };
// The text of XML character data: entities and Excel's "_xHHHH_" escapes replaced; a character reference to a lone
// surrogate or past Unicode (damaged text) reads as U+FFFD.
function xmlText(b, from, to) {
  const t = utf8Text(b, from, to);
  if (t.indexOf("&") < 0 && t.indexOf("_x") < 0) return t;
  return wellFormed(t.replace(/&(#x[0-9a-fA-F]+|#[0-9]+|[a-z]+);/g, function (m, e) {
    if (e.charAt(0) !== "#") return XML_ENTITIES[e] !== undefined ? XML_ENTITIES[e] : m;
    const code = e.charAt(1) === "x" ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10);
    return code >= 0 && code <= 0x10ffff ? String.fromCodePoint(code) : "\ufffd";
  }).replace(/_x([0-9A-Fa-f]{4})_/g, function (m, h) { return String.fromCharCode(parseInt(h, 16)); }));
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

// The position just past `name="` (name given as byte codes, e.g. r=") inside the tag bytes [from, to), where the
// name follows white space; -1 when the tag has no such attribute.
function attributeValueAt(b, from, to, name) {
  const n = name.length;
  outer: for (let i = from + 1; i + n <= to; i++) {
    if (b[i] !== name[0]) continue;
    const before = b[i - 1];
    if (before !== 0x20 && before !== 0x09 && before !== 0x0a && before !== 0x0d) continue;
    for (let k = 1; k < n; k++) if (b[i + k] !== name[k]) continue outer;
    return i + n;
  }
  return -1;
}
const ATTR_R = [0x72, 0x3d, 0x22], ATTR_T = [0x74, 0x3d, 0x22];  // r=" and t="

// Cell types, read from the bytes of the t attribute.
const CELL = { number: 0, shared: 1, text: 2, inline: 3, bool: 4, error: 5 };
function cellType(b, p) {
  if (p < 0) return CELL.number;
  const c = b[p], next = b[p + 1];
  if (c === 0x73) return next === 0x22 ? CELL.shared : (next === 0x74 ? CELL.text : CELL.number);  // s, str
  if (c === 0x69) return CELL.inline;                                                            // inlineStr
  if (next !== 0x22) return CELL.number;
  if (c === 0x62) return CELL.bool;
  if (c === 0x65) return CELL.error;
  if (c === 0x64) return CELL.text;                                                              // d
  return CELL.number;
}

// A whole number written in the bytes [from, to) (surrounding white space allowed), or -1 when they hold anything
// else or more than 15 digits.
function wholeNumber(b, from, to) {
  while (from < to && b[from] <= 0x20) from++;
  while (to > from && b[to - 1] <= 0x20) to--;
  if (to <= from || to - from > 15) return -1;
  let v = 0;
  for (let i = from; i < to; i++) {
    const d = b[i] - 0x30;
    if (d < 0 || d > 9) return -1;
    v = v * 10 + d;
  }
  return v;
}

// Exact powers of ten: a decimal of at most 15 digits divided by one of them is the double nearest to it, as
// Number() would read it.
const TENS = [1, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15];
// A plain decimal ("-12", "55.7506") of at most 15 digits in the bytes [from, to), read without making a text;
// NaN for anything else (exponents, spaces, longer numbers), which the caller then reads the long way.
function plainDecimal(b, from, to) {
  let i = from, negative = false;
  if (b[i] === 0x2d) { negative = true; i++; }
  let v = 0, digits = 0, fraction = -1;
  for (; i < to; i++) {
    const c = b[i];
    if (c === 0x2e && fraction < 0) { fraction = 0; continue; }
    const d = c - 0x30;
    if (d < 0 || d > 9) return NaN;
    v = v * 10 + d;
    digits++;
    if (fraction >= 0) fraction++;
  }
  if (digits === 0 || digits > 15 || fraction === 0) return NaN;
  if (fraction > 0) v /= TENS[fraction];
  return negative ? -v : v;
}

// The value of a cell whose content (between its tags) is [from, to).
function sheetCell(b, from, to, type, strings) {
  if (type === CELL.inline) return runsText(b, from, to);
  const v = bytesIndex(b, "<v>", from, to);
  if (v < 0) return null;
  let vend = bytesIndex(b, "</v>", v, to);
  if (vend < 0) vend = to;
  const start = v + 3;
  if (type === CELL.shared) {
    let index = wholeNumber(b, start, vend);
    if (index < 0) index = Number(xmlText(b, start, vend));
    return strings[index] === undefined ? null : strings[index];
  }
  if (type === CELL.text) return xmlText(b, start, vend);
  if (type === CELL.error) return null;
  if (type === CELL.bool) return (vend - start === 1 && b[start] === 0x31) || (vend - start === 4 && b[start] === 0x74 &&
    b[start + 1] === 0x72 && b[start + 2] === 0x75 && b[start + 3] === 0x65);
  const plain = plainDecimal(b, start, vend);
  if (plain === plain) return plain;  // not NaN
  const text = xmlText(b, start, vend);
  const n = Number(text);
  return text.trim() !== "" && isFinite(n) ? n : null;
}

// The rows of one sheet part: arrays of values (texts, numbers, booleans), blank rows left out, with `numbers`
// beside them (each row's number in the sheet, from 1); null when a cell stands past the last column a sheet has.
function sheetValues(b, strings) {
  const rows = [], numbers = [];
  rows.numbers = numbers;
  let i = bytesIndex(b, "<sheetData", 0);
  if (i < 0) return rows;
  let number = 0;
  for (;;) {
    const r = bytesIndex(b, "<row", i);
    if (r < 0) break;
    const rgt = bytesIndex(b, ">", r);
    const at = attributeValueAt(b, r, rgt, ATTR_R);
    const given = at >= 0 ? wholeNumber(b, at, bytesIndex(b, "\"", at, rgt)) : -1;
    number = given > 0 ? given : number + 1;
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
      const ref = attributeValueAt(b, cs, cgt, ATTR_R);
      if (ref >= 0) {
        if (b[ref] < 0x41 || b[ref] > 0x5a) return null;
        col = 0;
        for (let k = ref; b[k] >= 0x41 && b[k] <= 0x5a && col <= 16384; k++) col = col * 26 + (b[k] - 0x40);
        col--;
      }
      if (col > 16383) return null;
      let value = null;
      let next;
      if (b[cgt - 1] === 0x2f) next = cgt + 1;
      else {
        const cend = bytesIndex(b, "</c>", cgt, rend);
        if (cend < 0) return null;
        next = cend + 4;
        value = sheetCell(b, cgt + 1, cend, cellType(b, attributeValueAt(b, cs, cgt, ATTR_T)), strings);
      }
      if (value !== null) {
        while (row.length < col) row.push(null);
        row[col] = value;
        if (value !== "") any = true;
      }
      col++;
      c = next;
    }
    if (any) { rows.push(row); numbers.push(number); }
    i = rend + 6;
  }
  return rows;
}

// {names: [...], rows(name)} of the .xlsx book in `b` (its zip directory read by `zipDirectory`), or null when
// the lean reader does not apply. A part that cannot be unpacked is refused, not left to the library.
function leanBook(b, directory) {
  try {
    const workbook = zipPart(b, directory, "xl/workbook.xml");
    const rels = zipPart(b, directory, "xl/_rels/workbook.xml.rels");
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
    const strings = sharedStrings(zipPart(b, directory, "xl/sharedStrings.xml"));
    // Every sheet is read now (the import looks at each): one the lean reader cannot read leaves the book to the
    // library.
    const rows = new Map();
    for (const sheet of sheets) {
      if (rows.has(sheet.name)) continue;
      const part = zipPart(b, directory, sheet.part);
      const values = part ? sheetValues(part, strings) : [];
      if (values === null) return null;
      rows.set(sheet.name, values);
    }
    return {
      names: sheets.map(function (s) { return s.name; }),
      rows: function (name) { return rows.get(name) || []; }
    };
  } catch (e) {
    if (e instanceof Prelude.UserError) throw e;
    return null;
  }
}
