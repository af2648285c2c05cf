// Order books made to hurt the import: zip bombs, zips that are not workbooks, sheets wider than a spreadsheet.

const IMPORT = { name: "Заказы.xlsx", routeDate: "2026-09-22" };
const READ_FAILED = "Не удалось прочитать файл Excel: файл повреждён.";
const TOO_LARGE = "Книга Excel слишком велика в распакованном виде. Сохраните в отдельную книгу только лист с заказами.";

function importBase64(base64) { return run("import", Object.assign({ base64: base64 }, IMPORT)); }
// Raw DEFLATE that unpacks to `head` followed by copies of its last byte: one stored block with the head, then
// units of a fixed-Huffman block of `copies` matches of 258 bytes at distance 1, each closed by an empty stored
// block so that every unit is the same whole bytes. {bytes, size}
function repeatingDeflate(head, units, copies) {
  const bits = [];
  function put(value, n) { for (let k = 0; k < n; k++) bits.push((value >> k) & 1); }
  function code(value, n) { for (let k = n - 1; k >= 0; k--) bits.push((value >> k) & 1); }
  function align() { while (bits.length % 8) bits.push(0); }
  function bytes() {
    const out = new Uint8Array(bits.length / 8);
    for (let i = 0; i < bits.length; i++) out[i >> 3] |= bits[i] << (i & 7);
    bits.length = 0;
    return out;
  }
  put(0, 3); align(); put(head.length, 16); put(head.length ^ 0xffff, 16);
  head.forEach(function (b) { put(b, 8); });
  const start = bytes();
  put(0, 1); put(1, 2);
  for (let k = 0; k < copies; k++) { code(0xc5, 8); code(0, 5); }
  code(0, 7);
  put(0, 3); align(); put(0, 16); put(0xffff, 16);
  const unit = bytes();
  const out = new Uint8Array(start.length + unit.length * units + 2);
  out.set(start, 0);
  for (let u = 0; u < units; u++) out.set(unit, start.length + u * unit.length);
  out[out.length - 2] = 0x03;  // the last block: final, fixed, end of block at once
  return { bytes: out, size: head.length + units * copies * 258 };
}

// A zip of parts {name, data (bytes), method (0 or 8), size (unpacked), declared (size written, when it lies),
// flags}.
function zip(parts) {
  const chunks = [], directory = [];
  let offset = 0;
  function le(n, width) { const out = []; for (let k = 0; k < width; k++) out.push(Math.floor(n / Math.pow(256, k)) & 0xff); return out; }
  parts.forEach(function (p) {
    const name = textBytes(p.name);
    const method = p.method === undefined ? 0 : p.method;
    const size = p.declared !== undefined ? p.declared : (p.size !== undefined ? p.size : p.data.length);
    const common = [].concat(le(method, 2), le(0, 4), le(0, 4), le(p.data.length, 4), le(size, 4), le(name.length, 2), le(0, 2));
    const local = [].concat(le(0x04034b50, 4), le(20, 2), le(p.flags || 0, 2), common);
    chunks.push(new Uint8Array(local), name, p.data);
    directory.push([].concat(le(0x02014b50, 4), le(20, 2), le(20, 2), le(p.flags || 0, 2), common, le(0, 2), le(0, 2), le(0, 2),
      le(0, 4), le(offset, 4)), name);
    offset += local.length + name.length + p.data.length;
  });
  const start = offset;
  directory.forEach(function (d) { const c = d instanceof Uint8Array ? d : new Uint8Array(d); chunks.push(c); offset += c.length; });
  chunks.push(new Uint8Array([].concat(le(0x06054b50, 4), le(0, 4), le(parts.length, 2), le(parts.length, 2), le(offset - start, 4),
    le(start, 4), le(0, 2))));
  const total = chunks.reduce(function (n, c) { return n + c.length; }, 0);
  const out = new Uint8Array(total);
  let at = 0;
  chunks.forEach(function (c) { out.set(c, at); at += c.length; });
  return out;
}

// The parts of a one-sheet book around the sheet part given.
function bookParts(sheet) {
  return [
    { name: "[Content_Types].xml", data: textBytes("<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">" +
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" ContentType=\"application/xml\"/>" +
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>" +
      "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>") },
    { name: "_rels/.rels", data: textBytes("<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>") },
    { name: "xl/workbook.xml", data: textBytes("<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" " +
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets><sheet name=\"Заказы\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>") },
    { name: "xl/_rels/workbook.xml.rels", data: textBytes("<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>") },
    Object.assign({ name: "xl/worksheets/sheet1.xml" }, sheet)
  ];
}

const SHEET_HEAD = "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
  "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Адрес</t></is></c></row><row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>Москва, Арбат, 10</t></is></c></row>" +
  "</sheetData></worksheet>";

// Both readers: the workbook library (small books) and the lean reader (large ones).
function withEachReader(fn) {
  [Infinity, 0].forEach(function (threshold) {
    PlannerCore.leanReader.threshold = threshold;
    fn(threshold === 0 ? "lean reader" : "workbook library");
  });
}

test("the hand-made books are read by both readers", function () {
  const plain = bytesBase64(zip(bookParts({ data: textBytes(SHEET_HEAD) })));
  const padded = repeatingDeflate(Array.from(textBytes(SHEET_HEAD)), 4, 1000);
  const deflated = bytesBase64(zip(bookParts({ data: padded.bytes, method: 8, size: padded.size })));
  withEachReader(function (reader) {
    assertEqual(importBase64(plain).orders.map(function (o) { return o.address; }), ["Москва, Арбат, 10"], reader);
    // The padding repeats the last ">" after the closing tag: the deflated book holds the same order.
    assertEqual(importBase64(deflated).orders.length, 1, reader);
  });
});

// Damaged sheets the library once answered with its own texts («unrecognized type …», «invalid column -1»), and a
// sheet that declares a million rows around two: each is read, or refused in the book's own words.
test("odd cells of a damaged sheet are read or refused in the book's words", function () {
  const head = "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
  const sheets = {
    "a million rows declared": head + "<dimension ref=\"A1:XFD1048576\"/><sheetData>" +
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Адрес</t></is></c></row>" +
      "<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>Москва, Арбат, 10</t></is></c></row></sheetData></worksheet>",
    "a cell type of damaged bytes": head + "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Адрес</t></is></c></row>" +
      "<row r=\"2\"><c r=\"A2\" t=\"i\u00d1lineStr\"><is><t>Москва, Арбат, 10</t></is></c></row></sheetData></worksheet>",
    "a cell before the first column": head + "<dimension ref=\"A0:B2\"/><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Адрес</t></is></c></row>" +
      "<row r=\"2\"><c r=\"A0\" t=\"inlineStr\"><is><t>Москва, Арбат, 10</t></is></c></row></sheetData></worksheet>"
  };
  const words = [READ_FAILED, "В книге нет заказов.", "В книге не найден лист с заказами: нужна колонка «Адрес»."];
  Object.keys(sheets).forEach(function (name) {
    const base64 = bytesBase64(zip(bookParts({ data: textBytes(sheets[name]) })));
    withEachReader(function (reader) {
      const started = Date.now();
      try {
        const doc = importBase64(base64);
        assertEqual(doc.orders.map(function (o) { return o.address; }), ["Москва, Арбат, 10"], name + ", " + reader);
      } catch (e) {
        assert(words.indexOf(String(e)) >= 0, name + ", " + reader + ": " + e);
      }
      assert(Date.now() - started < 2000, name + ", " + reader + ": at once");
    });
  });
});

test("a zip bomb is refused by what it declares, before anything is unpacked", function () {
  // 1.5 MB of deflate that honestly unpacks to about 250 MB, beside a sheet of the same: each part under the limit
  // of one part, the two over the limit of the book.
  const bomb = repeatingDeflate(Array.from(textBytes(SHEET_HEAD)), 80, 12000);
  assert(bomb.size > 200 * 1024 * 1024 && bomb.size < 256 * 1024 * 1024, "size " + bomb.size);
  const parts = bookParts({ data: bomb.bytes, method: 8, size: bomb.size });
  parts.push({ name: "xl/worksheets/sheet2.xml", data: bomb.bytes, method: 8, size: bomb.size });
  parts.push({ name: "xl/worksheets/sheet3.xml", data: bomb.bytes, method: 8, size: bomb.size });
  const tooMuch = bytesBase64(zip(parts));
  // One part that declares more than a part may hold (the library would reserve all of it at once).
  const hugePart = bytesBase64(zip(bookParts({ data: bomb.bytes, method: 8, declared: 1536 * 1024 * 1024 })));
  planned();
  const before = run("archive");
  withEachReader(function (reader) {
    assertThrows(function () { importBase64(tooMuch); }, TOO_LARGE, reader + ": the book's limit");
    assertThrows(function () { importBase64(hugePart); }, TOO_LARGE, reader + ": a part's limit");
  });
  assertEqual(run("archive"), before, "the plan stays as it was");
});

test("a part that unpacks to more than it declares is damaged, and unpacking stops there", function () {
  const bomb = repeatingDeflate(Array.from(textBytes(SHEET_HEAD)), 200, 12000);  // about 600 MB behind 4 KB
  const lying = bytesBase64(zip(bookParts({ data: bomb.bytes, method: 8, declared: 4096 })));
  const shortStream = bytesBase64(zip(bookParts({ data: bomb.bytes.subarray(0, 2000), method: 8, declared: 4096 })));
  withEachReader(function (reader) {
    assertThrows(function () { importBase64(lying); }, READ_FAILED, reader);
    assertThrows(function () { importBase64(shortStream); }, READ_FAILED, reader + ": a stream cut short");
  });
});

test("a zip that is no workbook cannot be read, and is never taken for a password", function () {
  // "PK" and random bytes: a zip by its first bytes only.
  let seed = 7;
  function random() { seed = (seed * 1103515245 + 12345) & 0x7fffffff; return (seed >> 16) & 0xff; }
  for (let trial = 0; trial < 30; trial++) {
    const bytes = new Uint8Array(64 + trial * 97);
    for (let i = 0; i < bytes.length; i++) bytes[i] = random();
    bytes.set([0x50, 0x4b, 0x03, 0x04], 0);
    if (trial % 3 === 0) bytes[6] |= 1;  // the local header's "encrypted" bit
    assertThrows(function () { importBase64(bytesBase64(bytes)); }, READ_FAILED, "trial " + trial);
  }
  // A well-formed book whose parts carry the zip "encrypted" bit: no spreadsheet program writes one.
  const flagged = bytesBase64(zip(bookParts({ data: textBytes(SHEET_HEAD) }).map(function (p) { return Object.assign({ flags: 1 }, p); })));
  withEachReader(function (reader) { assertThrows(function () { importBase64(flagged); }, READ_FAILED, reader); });
});

test("a sheet wider than a spreadsheet keeps the known columns and as many others as fit", function () {
  const width = 20000;
  const header = [], row = [];
  for (let c = 0; c < width; c++) { header.push("Поле " + c); row.push(c % 7 === 0 ? "з" + c : null); }
  // The known columns stand at the far end, past the last column a spreadsheet has.
  [["Номер заказа", "W-1"], ["Адрес", "Москва, Арбат, 10"], ["Широта", 55.75], ["Долгота", 37.59]].forEach(function (c, k) {
    header[width - 4 + k] = c[0];
    row[width - 4 + k] = c[1];
  });
  const ws = XLSX.utils.aoa_to_sheet([header, row]);
  const wb = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(wb, ws, "Заказы");
  // An .xlsx cannot hold them (the library stops reading at column XFD), a markup table saved as .xls can.
  const doc = importBase64(XLSX.write(wb, { type: "base64", bookType: "xlml" }));
  const o = doc.orders[0];
  assertEqual([o.id, o.address, o.lat, o.lon], ["W-1", "Москва, Арбат, 10", 55.75, 37.59]);
  const extras = Object.keys(o).filter(function (k) { return k.indexOf("Поле ") === 0; });
  assertEqual(extras.length, Math.ceil((16384 - 17) / 7), "the others that fit beside the book's own 17 columns");
  assertEqual([o["Поле 0"], o["Поле 16366"], o["Поле 16373"]], ["з0", "з16366", undefined], "the first ones are kept");

  // Whatever the plan holds, the working workbook fits a sheet with the client's own columns in place.
  const order = { id: "W-2", address: "Москва, Арбат, 10", lat: 55.75, lon: 37.59 };
  for (let k = 0; k < 20000; k++) order["Поле " + k] = k;
  run("load", { routeDate: "2026-09-22", orders: [order] });
  const back = XLSX.read(run("export", { kind: "working" }).base64, { type: "base64", dense: true });
  const rows = XLSX.utils.sheet_to_json(back.Sheets["Заказы"], { header: 1, defval: null });
  assertEqual(rows[0].length, 16384);
  assertEqual(rows[0].slice(0, 3), ["Номер заказа", "Клиент", "Адрес"]);
  assertEqual(rows[0].slice(-4), ["Поле 16366", "Курьер", "Остановка", "Прибытие"]);
  const table = run("sheet", { rows: [header.slice(0, 20000)], name: "Широкая", fileName: "w.xlsx" });
  const wide = XLSX.read(table.base64, { type: "base64", dense: true });
  assertEqual(XLSX.utils.decode_range(wide.Sheets[wide.SheetNames[0]]["!ref"]).e.c, 16383, "a table export too");
});

function planned() {
  run("load", {
    routeDate: "2026-09-22",
    depot: { name: "Склад", lat: 55.7558, lon: 37.6176, window: "08:00-20:00" },
    vehicles: [{ id: "ivanov", ref: "Иванов", shift: "09:00-18:00", use: true, back: true }],
    orders: [{ id: "1", address: "Москва, Тверская улица, 6", lat: 55.7606, lon: 37.6095, window: "09:00-12:00" }]
  });
  return run("calculate");
}

// Compound files (.xls, and password-protected .xlsx) whose sector chains or directory links loop: the workbook
// library would follow them without end. Each is refused as damaged at once; the sound file still reads.
function compound() {
  const cfb = XLSX.CFB.utils.cfb_new();
  const xml = "<?xml version=\"1.0\"?><encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\"></encryption>";
  XLSX.CFB.utils.cfb_add(cfb, "/EncryptionInfo", [4, 0, 4, 0, 0x40, 0, 0, 0].concat(Array.from(xml).map(function (c) { return c.charCodeAt(0); })));
  XLSX.CFB.utils.cfb_add(cfb, "/EncryptedPackage", new Array(5000).fill(7));
  return new Uint8Array(XLSX.CFB.write(cfb, { type: "array" }));
}
function setI32(b, at, value) { for (let k = 0; k < 4; k++) b[at + k] = (value >> (8 * k)) & 0xff; }
function i32At(b, at) { return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (b[at + 3] << 24); }

test("a compound file whose chains or links loop is refused as damaged", function () {
  const sound = compound();
  const sector = function (k) { return (k + 1) * 512; };
  const dir = sector(i32At(sound, 48)), fat = sector(i32At(sound, 76));
  const entry = function (e, field) { return dir + 128 * e + { L: 68, R: 72, C: 76, start: 116 }[field]; };
  // The entries: 0 the root, 1 a property set, 2 EncryptionInfo, 3 EncryptedPackage (a chain of ten sectors).
  const start = i32At(sound, entry(3, "start"));
  const cases = [
    ["siblings that point at each other", function (b) { setI32(b, entry(1, "R"), 2); setI32(b, entry(2, "R"), 1); }],
    ["left links in a cycle", function (b) { setI32(b, entry(1, "L"), 2); setI32(b, entry(2, "L"), 1); }],
    ["a link past the directory", function (b) { setI32(b, entry(1, "R"), 4000); }],
    ["a stream that starts inside a chain that loops", function (b) {
      setI32(b, fat + 4 * (start + 1), start);
      setI32(b, entry(3, "start"), start + 1);
    }],
    ["a DIFAT chain that points at itself", function (b) { setI32(b, 68, 0); setI32(b, 72, 1000000); setI32(b, sector(0) + 508, 0); }],
    ["a name longer than the format allows", function (b) { b[dir + 128 + 64] = 0xff; }],
    ["sectors of another size than the version's", function (b) { b[30] = 12; }]
  ];
  assertThrows(function () { importBase64(bytesBase64(sound)); },
    "Не удалось прочитать файл Excel: файл защищён паролем. Снимите пароль и откройте снова.", "the sound file");
  cases.forEach(function (c) {
    const b = sound.slice();
    c[1](b);
    const started = Date.now();
    assertThrows(function () { importBase64(bytesBase64(b)); }, READ_FAILED, c[0]);
    assert(Date.now() - started < 2000, c[0] + ": refused at once");
  });
});

// A hand-made .xls record stream: the book's globals (its one sheet), then the sheet with a header row and one
// order whose places are a formula's value. `formula` gives the formula record's bytes after its cell and value.
function biffBook(formula) {
  const out = [];
  function record(type, bytes) { out.push(type & 0xff, type >> 8, bytes.length & 0xff, bytes.length >> 8); bytes.forEach(function (v) { out.push(v); }); }
  function u16(v) { return [v & 0xff, v >> 8]; }
  function label(row, col, text) {
    const chars = [];
    for (let i = 0; i < text.length; i++) chars.push(text.charCodeAt(i) & 0xff, text.charCodeAt(i) >> 8);
    record(0x0204, [].concat(u16(row), u16(col), u16(15), u16(text.length), [1], chars));
  }
  function double(v) { const a = new Float64Array([v]); return Array.from(new Uint8Array(a.buffer)); }
  const bof = function (kind) { record(0x0809, [].concat(u16(0x0600), u16(kind), u16(0), u16(0), [0, 0, 0, 0, 0, 0, 0, 0])); };
  bof(0x0005);
  const sheetAt = out.length;
  record(0x0085, [0, 0, 0, 0, 0, 0, 6, 1].concat([0x17, 0x04, 0x30, 0x04, 0x3a, 0x04, 0x30, 0x04, 0x37, 0x04, 0x4b, 0x04]));  // «Заказы»
  record(0x000a, []);
  const sheetStart = out.length;
  for (let k = 0; k < 4; k++) out[sheetAt + 4 + k] = (sheetStart >> (8 * k)) & 0xff;
  bof(0x0010);
  label(0, 0, "Адрес");
  label(0, 1, "Места");
  label(1, 0, "Москва, Арбат, 10");
  record(0x0006, [].concat(u16(1), u16(1), u16(15), double(4), formula));
  record(0x000a, []);
  const cfb = XLSX.CFB.utils.cfb_new();
  XLSX.CFB.utils.cfb_add(cfb, "/Workbook", out);
  return bytesBase64(new Uint8Array(XLSX.CFB.write(cfb, { type: "array" })));
}

test("an .xls formula cell keeps its value, and a damaged formula record is refused", function () {
  // Flags, the cached-value id, then "=2+2" (two integers and an addition); a formula longer than its record; one
  // whose string token runs past it. The library would read the damaged ones on forever: the import takes the
  // value each cell keeps and never reads a formula.
  [[0, 0, 0, 0, 0, 0, 7, 0, 0x1e, 2, 0, 0x1e, 2, 0, 0x03], [0, 0, 0, 0, 0, 0, 0xff, 0x7f, 0x1e, 2],
   [0, 0, 0, 0, 0, 0, 2, 0, 0x17]].forEach(function (formula, k) {
    assertEqual(importBase64(biffBook(formula)).orders.map(function (o) { return [o.address, o.units]; }),
      [["Москва, Арбат, 10", 4]], "formula " + k);
  });
  // A formula record too short to hold a formula at all.
  assertThrows(function () { importBase64(biffBook([0, 0])); }, READ_FAILED);
});

// Damage in random places of a sound .xls: every outcome is the book read or refused with the book's own words,
// never a hang (the test would not end) or a text of the library.
test("random damage to an .xls is read or refused, never a hang", function () {
  const rows = [["№", "Клиент", "Адрес", "Окно", "Места", "Широта", "Долгота"]];
  for (let i = 0; i < 120; i++) rows.push([1000 + i, "Клиент " + i, "Москва, улица " + (i % 17) + ", " + i, "09:00-18:00", i % 5, 55.7 + i / 1000, 37.6 + i / 1000]);
  const wb = XLSX.utils.book_new();
  XLSX.utils.book_append_sheet(wb, XLSX.utils.aoa_to_sheet(rows), "Заказы");
  const sound = new Uint8Array(XLSX.write(wb, { type: "array", bookType: "biff8" }));
  const allowed = [READ_FAILED, "Не удалось прочитать файл Excel: это не книга Excel.", "В книге нет заказов.",
    "В книге не найден лист с заказами: нужна колонка «Адрес».",
    "Не удалось прочитать файл Excel: файл защищён паролем. Снимите пароль и откройте снова."];
  let seed = 35;
  function random(n) {
    seed = (seed + 0x6d2b79f5) | 0;
    let t = Math.imul(seed ^ (seed >>> 15), 1 | seed);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) % n;
  }
  const dir = (i32At(sound, 48) + 1) * 512, fat = (i32At(sound, 76) + 1) * 512;
  const values = [-2, -1, 0, 1, 2, 3, 0x7fffffff];
  for (let trial = 0; trial < 200; trial++) {
    const b = sound.slice();
    for (let n = 1 + random(6); n > 0; n--) {
      const region = [random(512), fat + random(512), dir + random(512), random(b.length)][random(4)];
      const at = Math.min(region, b.length - 4);
      if (random(2)) b[at] = random(256);
      else setI32(b, at & ~3, random(3) ? values[random(values.length)] : random(1 << 30));
    }
    try {
      importBase64(bytesBase64(b));
    } catch (e) {
      const text = String(e && e.message !== undefined ? e.message : e);
      assert(allowed.indexOf(text) >= 0, "trial " + trial + ": " + text);
    }
  }
});
