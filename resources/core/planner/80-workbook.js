// Workbooks: "import" of an order workbook, "export" of the working workbook and of the route sheets, and
// "sheet" for the table exports of other screens. All through the workbook library (global XLSX).

const BOOK_TEXT = Object.freeze({
  unreadable: "Не удалось прочитать файл Excel: файл повреждён.",
  notBook: "Не удалось прочитать файл Excel: это не книга Excel.",
  password: "Не удалось прочитать файл Excel: файл защищён паролем. Снимите пароль и откройте снова.",
  noAddress: "В книге не найден лист с заказами: нужна колонка «Адрес».",
  noOrders: "В книге нет заказов.",
  unpacked: "Книга Excel слишком велика в распакованном виде. Сохраните в отдельную книгу только лист с заказами.",
  kind: "Неизвестный вид выгрузки.",
  write: "Не удалось создать файл."
});

// The order columns in the order the working workbook writes them; the first title is the one written.
const ORDER_COLUMNS = [
  ["id", ["Номер заказа", "№", "номер", "заказ", "id"]],
  ["title", ["Клиент", "получатель", "название"]],
  ["address", ["Адрес", "адрес доставки"]],
  ["phone", ["Телефон"]],
  ["window", ["Временное окно", "окно", "интервал"]],
  ["units", ["Количество мест", "мест", "места"]],
  ["lat", ["Широта", "lat", "latitude"]],
  ["lon", ["Долгота", "lon", "lng", "longitude"]],
  ["hardWindow", ["Строгое временное окно", "строгое окно"]],
  ["serviceS", ["Обслуживание заказа, секунд", "обслуживание, сек"]],
  ["sharedS", ["Общее время на адресе, секунд"]],
  ["comments", ["Комментарий логиста", "комментарий"]],
  ["instructions", ["Инструкция курьеру"]],
  ["source", ["Источник координат"]]
];
const ORDER_EXTRA_COLUMNS = [
  ["windowFrom", ["окно с", "время с"]],
  ["windowTo", ["окно до", "время до"]],
  ["coordinates", ["координаты"]]
];
const RESULT_TITLES = ["Курьер", "Остановка", "Прибытие"];
// The columns a sheet can hold (A to XFD). The working workbook keeps its own columns and as many of a book's
// other columns as fit beside them, in their order.
const SHEET_COLUMNS = 16384;
const EXTRA_COLUMNS = SHEET_COLUMNS - ORDER_COLUMNS.length - RESULT_TITLES.length;
const VEHICLE_COLUMNS = [
  ["id", ["Логин курьера / код машины", "логин", "код", "логин курьера"]],
  ["ref", ["Имя", "курьер"]],
  ["shift", ["Смена"]],
  ["zone", ["Геозона"]],
  ["capacity", ["Вместимость, мест", "вместимость"]],
  ["mileage", ["Максимум километров"]],
  ["use", ["На смене"]],
  ["back", ["Вернуться на склад"]]
];
const DEPOT_COLUMNS = [
  ["name", ["Название"]], ["lat", ["Широта"]], ["lon", ["Долгота"]], ["window", ["Часы работы"]]
];
const CONFIG_TITLES = planningParameterTable(function (p) { return p.title; });
const ORDER_NUMBER_KEYS = new Set(["units", "serviceS", "sharedS", "lat", "lon"]);
// The members every imported order has: texts empty and numbers null when the book has no column for them.
const ORDER_TEXT_KEYS = ["id", "title", "address", "phone", "window", "hardWindow", "comments", "instructions"];
const ORDER_NUMBER_LIST = ["units", "lat", "lon", "serviceS", "sharedS"];
const BOOK_YES = new Set(["да", "1", "true", "+", "yes"]);

// A header folded for matching: lower case, ё as е, "№" as "номер", letters and digits only.
function foldHeader(text) {
  return Prelude.fold(text).replace(/№/g, "номер").replace(/[^\p{L}\p{N}]/gu, "");
}

// Maps a header row to {key: column}; the first matching column wins.
function mapColumns(header, columns) {
  const found = {};
  const lookup = new Map();
  for (const entry of columns) {
    for (const title of entry[1]) {
      const f = foldHeader(title);
      if (!lookup.has(f)) lookup.set(f, entry[0]);
    }
  }
  for (let c = 0; c < header.length; c++) {
    const text = Prelude.string(header[c]);
    if (!text.trim()) continue;
    let key = lookup.get(foldHeader(text));
    if (key === undefined && text.indexOf(",") > 0) key = lookup.get(foldHeader(text.slice(0, text.indexOf(","))));
    if (key !== undefined && !(key in found)) found[key] = c;
  }
  return found;
}

// Whether the bytes can be a workbook at all: a zip (.xlsx), a compound file (.xls), an older binary sheet, or
// a markup table saved under a workbook name. Anything else is not read (the library would read it as text).
function looksLikeWorkbook(b) {
  if (b.length < 4) return false;
  if (isZip(b) || isCompound(b)) return true;
  if (b[0] === 0x09 && (b[1] === 0x00 || b[1] === 0x02 || b[1] === 0x04 || b[1] === 0x08)) return true;
  let i = 0;
  if (b[0] === 0xef && b[1] === 0xbb && b[2] === 0xbf) i = 3;
  while (i < b.length && (b[i] === 0x20 || b[i] === 0x0a || b[i] === 0x0d || b[i] === 0x09)) i++;
  return i < b.length && b[i] === 0x3c;
}

// The book read by the workbook library (a zip only once `measureZip` has passed it, a compound file only once
// `checkCompound` has). Its verdict reads as a password only when it is about one: a zip whose parts are
// encrypted is no spreadsheet program's protection (they encrypt a compound file), just a file that cannot be read.
function readBook(b) {
  const options = { type: "array", cellDates: false, cellFormula: false, dense: true };
  try {
    if (isCompound(b)) return readCompoundBook(b, options);
    if (b[0] === 0x09) withoutFormulas(b);  // an older binary sheet: records from its first byte
    return XLSX.read(b, options);
  } catch (e) {
    if (e instanceof Prelude.UserError) throw e;
    const text = e && e.message ? String(e.message) : String(e);
    if (/password|encrypt/i.test(text) && !/zip encryption/i.test(text)) refuse(BOOK_TEXT.password);
    refuse(BOOK_TEXT.unreadable);
  }
}

// A text as JSON can carry it: a lone surrogate (a damaged character of the book) becomes U+FFFD.
const wellFormed = typeof String.prototype.toWellFormed === "function"
  ? function (text) { return text.toWellFormed(); }
  : function (text) {
    return text.replace(/[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g, "\uFFFD");
  };

// The value of one cell of the library's sheet, as the lean reader reads it: texts, numbers (dates and times as
// Excel's serial numbers), booleans; null for errors and blanks.
const EXCEL_EPOCH = Date.UTC(1899, 11, 30);
function libraryCell(cell) {
  if (!cell || cell.t === "e") return null;
  const v = cell.v;
  if (typeof v === "string") return wellFormed(v);
  if (typeof v === "number") return isFinite(v) ? v : null;
  if (typeof v === "boolean") return v;
  if (v instanceof Date && isFinite(v.getTime())) return (v.getTime() - EXCEL_EPOCH) / 86400000;
  return null;
}

// The rows of a sheet the library read, in the lean reader's shape: arrays of cell values, rows without a value
// left out, and `numbers` (each row's number in the sheet, from 1) beside them. Taken from the cells the library
// made, not from the range the sheet declares (a sheet may declare a million rows around ten orders).
function sheetRows(book, name) {
  const ws = book.Sheets[name];
  const data = ws ? ws["!data"] : null;
  const rows = [], numbers = [];
  if (Array.isArray(data)) {
    for (let r = 0; r < data.length; r++) {
      const cells = data[r];
      if (!Array.isArray(cells)) continue;
      const row = [];
      let any = false;
      for (let c = 0; c < cells.length; c++) {
        const v = libraryCell(cells[c]);
        if (v === null) continue;
        while (row.length < c) row.push(null);
        row[c] = v;
        if (v !== "") any = true;
      }
      if (any) { rows.push(row); numbers.push(r + 1); }
    }
  }
  rows.numbers = numbers;
  return rows;
}

function blank(v) { return v === null || v === undefined || (typeof v === "string" && v.trim() === ""); }

// An Excel time (a fraction of a day, or a date with a time) as "HH:MM"; a text stays as it is.
function timeCell(v) {
  if (typeof v === "number" && isFinite(v) && v >= 0) {
    return Prelude.formatTime(Math.round((v - Math.floor(v)) * 1440) % 1440);
  }
  return Prelude.string(v).trim();
}

function textCell(v) {
  if (v === true) return "Да";
  if (v === false) return "Нет";
  return Prelude.string(v);
}

function numberCell(v) {
  if (blank(v)) return null;
  return Prelude.double(v);
}

// A cell as the user typed it, for the list of values that could not be read.
function typedText(v) { return textCell(v).trim(); }

// The titles the book gives the order columns it has, for the values that could not be read.
function columnTitles(header, cols) {
  const titles = {};
  for (const key of Object.keys(cols)) titles[key] = Prelude.string(header[cols[key]]).trim();
  if (!("window" in cols) && ("windowFrom" in cols || "windowTo" in cols)) {
    titles.window = [titles.windowFrom, titles.windowTo].filter(Boolean).join(" – ");
  }
  return titles;
}

// One order of a row of the order sheet. A value that cannot be read is not dropped: the member stays empty (null
// for numbers) and the text as typed is noted on the order (`_unread`, see unreadValue) for the checks and the
// publication. Coordinates that do not make a point are noted the same way and both left empty.
function orderFromRow(row, cols, titles) {
  const o = {};
  for (const entry of ORDER_COLUMNS) {
    const key = entry[0];
    if (!(key in cols)) continue;
    const v = row[cols[key]];
    if (ORDER_NUMBER_KEYS.has(key)) {
      o[key] = numberCell(v);
      if (o[key] === null && !blank(v)) noteUnread(o, key, titles[key], typedText(v));
    } else if (key === "window") o[key] = typeof v === "number" ? timeCell(v) : textCell(v).trim();
    else if (key === "source") { if (!blank(v)) o.source = textCell(v).trim(); }
    else o[key] = textCell(v);
  }
  if (!("window" in cols) && ("windowFrom" in cols || "windowTo" in cols)) {
    const from = "windowFrom" in cols ? timeCell(row[cols.windowFrom]) : "";
    const to = "windowTo" in cols ? timeCell(row[cols.windowTo]) : "";
    o.window = from || to ? from + "-" + to : "";
  }
  if ((!("lat" in cols) || !("lon" in cols)) && "coordinates" in cols) {
    const v = row[cols.coordinates];
    const parts = Prelude.string(v).split(/[;,\s]+/).filter(Boolean);
    const lat = parts.length === 2 ? Prelude.double(parts[0]) : null, lon = parts.length === 2 ? Prelude.double(parts[1]) : null;
    if (lat !== null && lon !== null && validLat(lat) && validLon(lon)) { o.lat = lat; o.lon = lon; }
    else if (!blank(v)) noteUnread(o, "coordinates", titles.coordinates, typedText(v));
  }
  for (const key of ORDER_TEXT_KEYS) if (!(key in o)) o[key] = "";
  for (const key of ORDER_NUMBER_LIST) if (!(key in o)) o[key] = null;
  if (!(validLat(o.lat) && validLon(o.lon))) {
    // Half a point, or one out of range: what was read is noted, and the order has no coordinates.
    for (const key of ["lat", "lon"]) {
      if (o[key] !== null && key in cols) noteUnread(o, key, titles[key], typedText(row[cols[key]]));
      o[key] = null;
    }
  }
  for (const key of ["window", "hardWindow"]) {
    if (!readableValue(key, o[key])) noteUnread(o, key, titles[key], Prelude.string(o[key]).trim());
  }
  return o;
}

function findHeader(rows, columns, required) {
  for (let r = 0; r < Math.min(rows.length, 10); r++) {
    const row = Array.isArray(rows[r]) ? rows[r] : [];
    const cols = mapColumns(row, columns);
    if (required in cols) return { at: r, cols: cols, header: row };
  }
  return null;
}

function readVehiclesSheet(rows) {
  const found = findHeader(rows, VEHICLE_COLUMNS, "id") || findHeader(rows, VEHICLE_COLUMNS, "ref");
  if (!found) return null;
  const out = [];
  for (let r = found.at + 1; r < rows.length; r++) {
    const row = rows[r] || [];
    const raw = {};
    for (const entry of VEHICLE_COLUMNS) {
      const key = entry[0];
      if (!(key in found.cols)) continue;
      const v = row[found.cols[key]];
      if (key === "use" || key === "back") raw[key] = v === true || BOOK_YES.has(Prelude.fold(v).trim());
      else if (key === "capacity" || key === "mileage") raw[key] = numberCell(v);
      else raw[key] = key === "shift" && typeof v === "number" ? timeCell(v) : textCell(v);
    }
    if (Prelude.string(raw.id).trim() === "" && Prelude.string(raw.ref).trim() === "") continue;
    if (!("use" in found.cols)) raw.use = true;
    out.push(readVehicle(raw));
  }
  return out;
}

function readDepotSheet(rows) {
  const found = findHeader(rows, DEPOT_COLUMNS, "name");
  if (!found || found.at + 1 >= rows.length) return null;
  const row = rows[found.at + 1] || [];
  const get = function (key) { return key in found.cols ? row[found.cols[key]] : null; };
  const lat = numberCell(get("lat")), lon = numberCell(get("lon"));
  return {
    name: textCell(get("name")), lat: lat !== null && validLat(lat) ? lat : null,
    lon: lon !== null && validLon(lon) ? lon : null, window: textCell(get("window")).trim()
  };
}

function readConfigSheet(rows, base) {
  const names = {};
  for (const key of Object.keys(CONFIG_TITLES)) {
    names[foldHeader(key)] = key;
    names[foldHeader(CONFIG_TITLES[key])] = key;
  }
  const config = Object.assign({}, base);
  let any = false;
  for (const row of rows) {
    if (!Array.isArray(row)) continue;
    for (let c = 0; c < row.length; c++) {
      const key = names[foldHeader(row[c])];
      if (!key) continue;
      for (let d = c + 1; d < row.length; d++) {
        const v = numberCell(row[d]);
        if (v === null) continue;
        const range = CONFIG_RANGES[key];
        if (v >= range[0] && v <= range[1]) { config[key] = v; any = true; }
        break;
      }
      break;
    }
  }
  return any ? config : null;
}

// The rows of the order sheet and of the optional sheets; the book itself is let go as soon as they are read
// (a book of the largest allowed size holds several hundred megabytes of cell records). A zip whose parts unpack
// to `LEAN_READER.threshold` bytes or more is read by the lean reader when it can. Whatever goes wrong inside the
// workbook library on a damaged book is refused as a damaged book, never shown as the library's own text.
function readOrderBook(base64) {
  const bytes = typeof base64 === "string" ? base64Bytes(base64) : null;
  if (!bytes) refuse(BOOK_TEXT.unreadable);
  if (!looksLikeWorkbook(bytes)) refuse(BOOK_TEXT.notBook);
  try {
    const directory = isZip(bytes) ? zipDirectory(bytes) : null;
    LEAN_READER.lastUsed = false;
    if (directory && directory.unpacked >= LEAN_READER.threshold) {
      const lean = leanBook(bytes, directory);
      if (lean) {
        const parts = orderBookParts(lean);
        LEAN_READER.lastUsed = true;
        return parts;
      }
    }
    if (directory) measureZip(bytes, directory);
    else if (isCompound(bytes)) checkCompound(bytes);
    const book = readBook(bytes);
    return orderBookParts({ names: book.SheetNames, rows: function (name) { return sheetRows(book, name); } });
  } catch (e) {
    if (e instanceof Prelude.UserError) throw e;
    refuse(BOOK_TEXT.unreadable);
  }
}

function orderBookParts(source) {
  let orderSheet = null, anyCell = false;
  const unread = [];
  const side = {};
  for (const name of source.names) {
    const rows = source.rows(name);
    if (rows.some(function (row) { return Array.isArray(row) && row.some(function (v) { return !blank(v); }); })) anyCell = true;
    const folded = foldHeader(name);
    if (folded === "транспорт" || folded === "машины" || folded === "курьеры") { if (!side.vehicles) side.vehicles = rows; continue; }
    if (folded === "склад") { if (!side.depot) side.depot = rows; continue; }
    if (folded === "параметры") { if (!side.config) side.config = rows; continue; }
    const found = findHeader(rows, ORDER_COLUMNS.concat(ORDER_EXTRA_COLUMNS), "address");
    if (!found) continue;
    // The first sheet of orders is the day's; another one is named in the import's summary, never left unsaid.
    if (!orderSheet) orderSheet = { rows: rows, found: found };
    else if (rows.length > found.at + 1) unread.push("«" + wellFormed(String(name)) + "» (" + (rows.length - found.at - 1) + ")");
  }
  if (!anyCell) refuse(BOOK_TEXT.noOrders);
  if (!orderSheet) refuse(BOOK_TEXT.noAddress);
  return { orderSheet: orderSheet, side: side, otherSheets: unread };
}

// Marks the orders whose data need mending after an import (as the checks list them: a value not read, no number
// or a repeated one) and those without an address with their row in the sheet (`_row`, `rows[i]` for orders[i]),
// so that the checks can say where each lies in the book. Returns how many need mending.
function markOrdersToCheck(orders, rows) {
  const counts = new Map();
  for (const o of orders) {
    const id = Prelude.string(o.id).trim();
    counts.set(id, (counts.get(id) || 0) + 1);
  }
  let count = 0;
  orders.forEach(function (o, i) {
    const id = Prelude.string(o.id).trim();
    const mend = Boolean(o._unread) || id === "" || counts.get(id) > 1;
    if (mend) count++;
    if ((mend || Prelude.string(o.address).trim() === "") && Number.isInteger(rows[i])) o._row = rows[i];
  });
  return count;
}

// Every row of the order sheet below its header that holds a value becomes an order, whatever it lacks: a row
// without an address is an order without coordinates, a value that cannot be read is noted on its order. Only
// rows without any value are left out.
A.import = function (payload) {
  const prior = current();
  const parts = readOrderBook(payload.base64);
  const orderSheet = parts.orderSheet, side = parts.side;

  const doc = emptyDocument(Prelude.isDay(payload.routeDate) ? payload.routeDate : prior.routeDate);
  doc.fileName = Prelude.string(payload.name);
  // Kept for the history: by the name of the cache entry the program stored it in, else whole.
  if (typeof payload.workbookRef === "string" && WORKBOOK_REF.test(payload.workbookRef)) doc.workbookRef = payload.workbookRef;
  else doc.workbook = payload.base64;
  doc.roadLegs = prior.roadLegs;
  const cols = orderSheet.found.cols;
  const known = new Set(Object.keys(cols).map(function (k) { return cols[k]; }));
  const resultTitles = new Set(RESULT_TITLES.map(foldHeader));
  const extras = [];
  const header = orderSheet.found.header;
  const titles = columnTitles(header, cols);
  for (let c = 0; c < header.length && extras.length < EXTRA_COLUMNS; c++) {
    const title = Prelude.string(header[c]).trim();
    if (!known.has(c) && title && title.charAt(0) !== "_" && !resultTitles.has(foldHeader(title))) extras.push([title, c]);
  }
  // The book's coordinates for the address memory: each address and point once, in the order they first appear
  // (an order book names the same address on many rows).
  const importedBook = [];
  const bookPoints = new Map();  // address -> [lat, lon, lat, lon, ...] already listed
  let withPoint = 0;
  const rows = orderSheet.rows;
  const numbers = Array.isArray(rows.numbers) ? rows.numbers : [];
  const orderRows = [];
  for (let r = orderSheet.found.at + 1; r < rows.length; r++) {
    const row = Array.isArray(rows[r]) ? rows[r] : [];
    if (row.every(blank)) continue;
    const o = orderFromRow(row, cols, titles);
    for (const extra of extras) {
      if (!(extra[0] in o) && !blank(row[extra[1]])) o[extra[0]] = row[extra[1]];
    }
    if (o.lat !== null) {
      withPoint++;
      if (!o.source) o.source = "file";
      o.qc = "file";
      let listed = bookPoints.get(o.address);
      if (!listed) bookPoints.set(o.address, listed = []);
      let seen = false;
      for (let k = 0; k < listed.length && !seen; k += 2) seen = listed[k] === o.lat && listed[k + 1] === o.lon;
      if (!seen) {
        listed.push(o.lat, o.lon);
        importedBook.push({ address: o.address, lat: o.lat, lon: o.lon });
      }
    }
    o._nativeID = newID(doc);
    doc.orders.push(o);
    orderRows.push(numbers[r]);
  }
  if (!doc.orders.length) refuse(BOOK_TEXT.noOrders);

  const vehicles = side.vehicles ? readVehiclesSheet(side.vehicles) : null;
  doc.vehicles = vehicles && vehicles.length ? vehicles : prior.vehicles.map(function (v) { return Object.assign({}, v); });
  const depot = side.depot ? readDepotSheet(side.depot) : null;
  doc.depot = depot || (prior.depot ? Object.assign({}, prior.depot) : null);
  doc.config = (side.config ? readConfigSheet(side.config, prior.config) : null) || Object.assign({}, prior.config);

  doc.importSummary = "Загружено заказов: " + doc.orders.length + "; с координатами: " + withPoint + "." +
    (parts.otherSheets.length ? " Не загружены другие листы с заказами (строк): " + parts.otherSheets.join(", ") +
      ". Чтобы загрузить их, сохраните каждый в отдельную книгу." : "");
  const toCheck = markOrdersToCheck(doc.orders, orderRows);
  const status = doc.importSummary + (toCheck ? " Требуют проверки: " + toCheck + " — вкладка «Проверка»." : "");
  return commit(doc, { importedBook: importedBook, status: status });
};

// Writing workbooks.

// A sheet name the library accepts: no ": \ / ? * [ ]", no apostrophe at either end, at most 31 characters.
function sheetName(text, used) {
  let name = Prelude.string(text).replace(/[:\\/?*\[\]]/g, "_").trim().replace(/^'+|'+$/g, "").trim();
  name = Array.from(name).slice(0, 31).join("").trim();
  if (!name || name.toLowerCase() === "history") name = name ? name + "_" : "Лист1";
  if (used) {
    let candidate = name, k = 2;
    while (used.has(candidate.toLowerCase())) {
      const suffix = " (" + k++ + ")";
      candidate = Array.from(name).slice(0, 31 - suffix.length).join("") + suffix;
    }
    name = candidate;
    used.add(name.toLowerCase());
  }
  return name;
}

function fileName(text) {
  let name = Prelude.string(text).replace(/[\/\u0000]/g, "_");
  if (!/\.xlsx$/i.test(name)) name += ".xlsx";
  return name;
}

// A cell as the library should see it: texts, finite numbers and booleans as they are, null empty, an object by
// its "name" or its JSON text, an array by its elements' texts.
function cellValue(v) {
  if (v === null || v === undefined) return null;
  if (typeof v === "string" || typeof v === "boolean") return v;
  if (typeof v === "number") return isFinite(v) ? v : null;
  if (Array.isArray(v)) return v.map(function (e) { const c = cellValue(e); return c === null ? "" : String(c); }).join(", ");
  if (typeof v === "object") return typeof v.name === "string" ? v.name : JSON.stringify(v);
  return String(v);
}

function writeBook(sheets, props) {
  const book = XLSX.utils.book_new();
  const used = new Set();
  for (const s of sheets) {
    const ws = XLSX.utils.aoa_to_sheet(s.rows.map(function (row) {
      return (row.length > SHEET_COLUMNS ? row.slice(0, SHEET_COLUMNS) : row).map(cellValue);
    }));
    XLSX.utils.book_append_sheet(book, ws, sheetName(s.name, used));
  }
  if (props) book.Props = props;
  try {
    return XLSX.write(book, { type: "base64", bookType: "xlsx", compression: true });
  } catch (e) {
    refuse(BOOK_TEXT.write);
  }
}

function orderExtraKeys(doc) {
  const standard = new Set(ORDER_COLUMNS.map(function (c) { return c[0]; }).concat(["qc", "found"]));
  const keys = [];
  const seen = new Set();
  for (const o of doc.orders) {
    for (const key of Object.keys(o)) {
      if (key.charAt(0) === "_" || standard.has(key) || seen.has(key)) continue;
      const v = o[key];
      if (v !== null && typeof v === "object") continue;
      seen.add(key);
      keys.push(key);
      if (keys.length === EXTRA_COLUMNS) return keys;
    }
  }
  return keys;
}

function workingBook(doc) {
  const extras = orderExtraKeys(doc);
  const header = ORDER_COLUMNS.map(function (c) { return c[1][0]; }).concat(extras, RESULT_TITLES);
  const rows = [header];
  for (const o of doc.orders) {
    // A value the import could not read is written back as it was typed, so that nothing is lost on the way.
    const unread = {};
    for (const entry of unreadEntries(o)) unread[entry.key === "coordinates" ? "lat" : entry.key] = entry.text;
    const row = ORDER_COLUMNS.map(function (c) {
      const v = o[c[0]];
      if ((v === undefined || v === null || v === "") && c[0] in unread) return unread[c[0]];
      return v === undefined ? null : v;
    });
    for (const key of extras) row.push(o[key] === undefined ? null : o[key]);
    row.push(o._drv || "", o._seq || "", typeof o._arr === "number" ? Prelude.formatTime(o._arr) : "");
    rows.push(row);
  }
  const vehicles = [VEHICLE_COLUMNS.map(function (c) { return c[1][0]; })].concat(doc.vehicles.map(function (v) {
    return [v.id, v.ref, v.shift, v.zone, v.capacity, v.mileage, Prelude.bool(v.use) ? "Да" : "Нет", Prelude.bool(v.back) ? "Да" : "Нет"];
  }));
  const depot = [DEPOT_COLUMNS.map(function (c) { return c[1][0]; })];
  if (doc.depot) depot.push([doc.depot.name, doc.depot.lat, doc.depot.lon, doc.depot.window]);
  const config = [["Параметр", "Значение", "Ключ"]].concat(Object.keys(CONFIG_TITLES).map(function (key) {
    return [CONFIG_TITLES[key], doc.config[key], key];
  }));
  const author = plannerState.identity.author;
  return writeBook([
    { name: "Заказы", rows: rows },
    { name: "Транспорт", rows: vehicles },
    { name: "Склад", rows: depot },
    { name: "Параметры", rows: config }
  ], { Title: "Рабочая книга " + doc.routeDate, Author: typeof author === "string" ? author : Prelude.string(author) });
}

function routeSheets(doc) {
  if (!doc.planned || !doc.routes.length) refuse(MSG.notPlanned);
  const summary = [["Курьер", "Смена", "Остановок", "Мест", "Км", "Финиш", "Опоздание, мин"]];
  const sheets = [{ name: "Сводка", rows: summary }];
  for (const r of doc.routes) {
    const v = doc.vehicles[r.ci];
    let places = 0;
    for (const i of r.orders) places += typeof doc.orders[i].units === "number" ? doc.orders[i].units : 1;
    summary.push([v.ref, v.shift, r.orders.length, places, r.km, Prelude.formatTime(r.end), r.over]);
    const rows = [
      ["Дата", doc.routeDate], ["Курьер", v.ref], ["Смена", v.shift], ["Склад", doc.depot ? doc.depot.name : ""], [],
      ["№", "Прибытие", "Окно", "Заказ", "Клиент", "Адрес", "Телефон", "Мест", "Инструкция курьеру"]
    ];
    r.stops.forEach(function (s, k) {
      const o = doc.orders[s.index];
      rows.push([k + 1, Prelude.formatTime(s.arr), Prelude.string(o.window), Prelude.string(o.id), Prelude.string(o.title),
        Prelude.string(o.address), Prelude.string(o.phone), typeof o.units === "number" ? o.units : null,
        Prelude.string(o.instructions)]);
    });
    sheets.push({ name: Prelude.string(v.ref) || "Маршрут " + (r.ci + 1), rows: rows });
  }
  return writeBook(sheets, null);
}

A.export = function (payload) {
  const doc = current();
  if (payload.kind === "working") {
    return { base64: workingBook(doc), name: fileName("Рабочая книга " + doc.routeDate + ".xlsx") };
  }
  if (payload.kind === "routes") {
    return { base64: routeSheets(doc), name: fileName("Маршрутные листы " + doc.routeDate + ".xlsx") };
  }
  refuse(BOOK_TEXT.kind);
};

A.sheet = function (payload) {
  const rows = (Array.isArray(payload.rows) ? payload.rows : []).map(function (row) {
    return Array.isArray(row) ? row : [row];
  });
  const name = sheetName(payload.name, null);
  return { base64: writeBook([{ name: name, rows: rows }], null), name: fileName(payload.fileName || name) };
};
