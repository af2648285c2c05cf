// The address parser shared by the three keys and the catalogue match.
//
// An address is read as comma-separated parts of folded words. Flats, offices, floors and entrances are dropped
// with the rest of their part (they never change the building); a postcode, the country and region or district
// parts are dropped too. What is left gives: the city (after "г", "город", "пос", …; as its own part before the
// street; or one of the nearby cities we know by name), the street (its name words in order, ordinals first, with
// the canonical short form of its type after the name) and the house (number, letter, fraction, corpus, building,
// liter) in one compact form: "12а", "12/3", "6к1с2", "7лита".

function wordSet(list) {
  const set = Object.create(null);
  for (const word of list) set[word] = true;
  return set;
}

// Street types and their canonical short forms. "пр" is read as a prospect, as it is in most address lists; a
// passage is written "пр-д" or "проезд".
const STREET_TYPES = (function () {
  const table = {
    "ул": ["улица", "ул"],
    "пр-кт": ["проспект", "пр-кт", "пр-т", "просп", "пркт", "пр"],
    "пер": ["переулок", "пер"],
    "б-р": ["бульвар", "б-р", "бул", "бр"],
    "ш": ["шоссе", "ш"],
    "пл": ["площадь", "пл"],
    "пр-д": ["проезд", "пр-д", "прд"],
    "наб": ["набережная", "наб"],
    "туп": ["тупик", "туп"],
    "ал": ["аллея", "ал"],
    "мкр": ["микрорайон", "мкр", "мкрн", "мкр-н"],
    "кв-л": ["квартал", "кв-л"],
    "линия": ["линия", "лин"],
    "тракт": ["тракт"],
    "дор": ["дорога", "дор"],
    "спуск": ["спуск"],
  };
  const map = Object.create(null);
  for (const short in table) for (const word of table[short]) map[word] = short;
  return map;
})();

const HOUSE_MARKERS = wordSet(["д", "дом", "вл", "влд", "владение"]);
const CORPUS_MARKERS = wordSet(["к", "корп", "корпус", "кор"]);
const BUILDING_MARKERS = wordSet(["с", "стр", "строение"]);
const LITER_MARKERS = wordSet(["лит", "литер", "литера"]);
const FLAT_MARKERS = wordSet(["кв", "квартира", "оф", "офис", "пом", "помещение", "комн", "комната",
                              "эт", "этаж", "под", "подъезд"]);
const CITY_MARKERS = wordSet(["г", "город", "гор", "пос", "поселок", "пгт", "рп", "дп", "кп", "снт", "деревня", "дер",
                              "село"]);
// "д" and "с" name a village ("д. Сколково") only when they open a part and a name follows; elsewhere they are
// the house and the building.
const SETTLEMENT_LETTERS = wordSet(["д", "с"]);
const REGION_MARKERS = wordSet(["обл", "область", "край", "респ", "республика", "р-н", "район", "округ", "ао",
                                "поселение"]);
const COUNTRY_WORDS = wordSet(["россия", "рф"]);
// Moscow's administrative districts, written alone.
const DISTRICT_WORDS = wordSet(["цао", "сао", "свао", "вао", "ювао", "юао", "юзао", "зао", "сзао", "зелао", "нао",
                                "тао", "тинао"]);
const DROPPED_NAME_WORDS = wordSet(["им", "имени"]);

// Adjectives that open many street names, with their abbreviations: one form whatever the gender.
const NAME_WORDS = (function () {
  const table = {
    "б": ["большая", "большой", "большое", "бол", "б"],
    "м": ["малая", "малый", "малое", "мал", "м"],
    "ср": ["средняя", "средний", "среднее", "ср"],
    "верх": ["верхняя", "верхний", "верхнее", "верхн", "верх"],
    "ниж": ["нижняя", "нижний", "нижнее", "нижн", "ниж"],
    "стар": ["старая", "старый", "старое", "стар"],
    "нов": ["новая", "новый", "новое", "нов"],
  };
  const map = Object.create(null);
  for (const short in table) for (const word of table[short]) map[word] = short;
  return map;
})();

// Cities we recognise by name alone (without "г"): Moscow and the towns around it that the catalogue covers.
const KNOWN_CITIES = (function () {
  const map = Object.create(null);
  for (const name of ["москва", "зеленоград", "химки", "мытищи", "королев", "балашиха", "красногорск", "люберцы",
                      "одинцово", "реутов", "долгопрудный", "лобня", "котельники", "видное", "подольск", "троицк",
                      "щербинка"]) map[name] = name;
  map["мск"] = "москва";
  map["санкт петербург"] = "санкт петербург";
  map["спб"] = "санкт петербург";
  return map;
})();

const ORDINAL = /^(\d+)(?:-(?:я|й|ая|ой|ий|ый|е|ое|го|ого)|я|й|ая|ой|ий|ый|ое|го|ого)$/;
const LETTER_AHEAD = "(?=$|[/-]|(?:корпус|корп|кор|к|строение|стр|с|литера|литер|лит)[0-9а-я])";
// A number with the letter that belongs to it ("2а" in "к2а", "3б" in "12/3б").
const NUMBER_LETTER = "\\d+(?:[а-я]" + LETTER_AHEAD + ")?";
const HOUSE_TAIL = [
  ["frac", new RegExp("^/(" + NUMBER_LETTER + ")")],
  ["corp", new RegExp("^-?(?:корпус|корп|кор|к)(" + NUMBER_LETTER + "|[а-я](?![а-я]))")],
  ["bld", new RegExp("^-?(?:строение|стр|с)(" + NUMBER_LETTER + ")")],
  ["lit", /^-?(?:литера|литер|лит)(\d+|[а-я](?![а-я]))/],
  ["letter", new RegExp("^-?([а-я])" + LETTER_AHEAD)],
];

// A house in compact form ("12", "12а", "12-14", "12/3", "6к1с2", "7лит", "6корп2стр1") → its parts, or null.
function parseHouse(text) {
  if (ORDINAL.test(text)) return null;
  let m = /^(\d+)(?:-(\d+)(?![а-я]))?/.exec(text);
  if (!m) return null;
  const house = { num: m[2] ? m[1] + "-" + m[2] : m[1], letter: "", frac: "", corp: "", bld: "", lit: "" };
  let rest = text.slice(m[0].length);
  while (rest !== "") {
    let matched = false;
    for (const [part, pattern] of HOUSE_TAIL) {
      m = pattern.exec(rest);
      if (!m) continue;
      if (house[part] !== "") return null;
      // The house's own letter comes straight after its number: "12 стр 1А" is not "12А стр 1".
      if (part === "letter" && (house.frac || house.corp || house.bld || house.lit)) return null;
      house[part] = m[1];
      rest = rest.slice(m[0].length);
      matched = true;
      break;
    }
    if (!matched) return null;
  }
  return house;
}

function houseText(house) {
  if (!house) return "";
  return house.num + house.letter + (house.frac ? "/" + house.frac : "") + (house.corp ? "к" + house.corp : "") +
         (house.bld ? "с" + house.bld : "") + (house.lit ? "лит" + house.lit : "");
}

function isWord(token) {
  return /^[а-яa-z]/.test(token);
}

function isMarker(token) {
  return token in HOUSE_MARKERS || token in CORPUS_MARKERS || token in BUILDING_MARKERS ||
         token in LITER_MARKERS || token in FLAT_MARKERS || token in CITY_MARKERS;
}

// A word that can name a street or a city (not a type, not a marker).
function isNameWord(token) {
  return isWord(token) && !(token in STREET_TYPES) && !isMarker(token) && !(token in REGION_MARKERS);
}

function cityName(words) {
  const text = words.join(" ").replace(/-/g, " ");
  return KNOWN_CITIES[text] || text;
}

function knownCity(tokens) {
  const text = tokens.join(" ").replace(/-/g, " ");
  return KNOWN_CITIES[text] || null;
}

// Drops flats and what follows them in their part, postcodes, the country and region or district names.
function cleanSegments(segments) {
  const out = [];
  for (let s = 0; s < segments.length; s++) {
    let seg = segments[s].slice();
    const flat = seg.findIndex(function (t) { return t in FLAT_MARKERS; });
    if (flat >= 0) seg = seg.slice(0, flat);
    const whole = seg;
    seg = seg.filter(function (t, i) {
      if (t.length === 6 && (i === 0 || whole.length === 1) && /^\d{6}$/.test(t)) return false;  // postcode
      return !(t in COUNTRY_WORDS) && !(t in DISTRICT_WORDS);
    });
    if (seg.length === 2 && seg[0] === "российская" && seg[1] === "федерация") seg = [];
    for (let i = 0; i < seg.length; i++) {
      if (!(seg[i] in REGION_MARKERS)) continue;
      // "Московская обл", "р-н Хамовники", "поселение Сосенское": the marker and its name.
      if (i > 0 && isNameWord(seg[i - 1])) { seg.splice(i - 1, 2); i -= 2; }
      else { seg.splice(i, isNameWord(seg[i + 1] || "") ? 2 : 1); i -= 1; }
    }
    if (seg.length > 0) out.push(seg);
  }
  return out;
}

// Takes the city named with a marker ("г Москва", "Москва г", "пос Коммунарка", "д. Сколково") out of the
// segments; what followed the city in its part becomes a part of its own ("г Химки Ленина 5": "Ленина 5").
function takeMarkedCity(segments) {
  for (let s = 0; s < segments.length; s++) {
    const seg = segments[s];
    for (let i = 0; i < seg.length; i++) {
      const village = i === 0 && seg[0] in SETTLEMENT_LETTERS && seg.length > 1 && isNameWord(seg[1]);
      if (!(seg[i] in CITY_MARKERS) && !village) continue;
      // "12 г" is the house 12г, not a city.
      if (seg[i].length === 1 && i > 0 && /^\d/.test(seg[i - 1])) continue;
      let j = i + 1;
      while (j < seg.length && isNameWord(seg[j])) j++;
      if (j > i + 1) {
        // After the marker: the known city alone, else the name words, leaving one word for the street when
        // a number follows in this part ("г Химки Ленина 5").
        let end = j;
        if (knownCity([seg[i + 1]])) end = i + 2;
        else if (j < seg.length && j - (i + 1) > 1) end = i + 2;
        const city = cityName(seg.slice(i + 1, end));
        segments.splice(s, 1, seg.slice(0, i), seg.slice(end));
        return city;
      }
      let k = i;
      while (k > 0 && isNameWord(seg[k - 1])) k--;
      if (k < i && i === seg.length - 1) {
        const city = cityName(seg.slice(k, i));
        seg.splice(k, i - k + 1);
        return city;
      }
      seg.splice(i, 1);
      i--;
    }
  }
  return null;
}

// The house tail starting at token (s, i): the tokens of the house joined while they still read as one house.
// Returns {house, s, i} with the position after the tail, or null.
function readHouseAt(segments, s, i) {
  const first = segments[s][i];
  let text;
  if (first in CORPUS_MARKERS) {
    const next = segments[s][i + 1];
    if (!next || !/^\d+$/.test(next)) return null;
    text = "0к" + next;  // a corpus without a house number (Zelenograd)
    i += 2;
  } else {
    if (!parseHouse(first)) return null;
    text = first;
    i += 1;
  }
  for (;;) {
    if (i >= segments[s].length) {
      // The next part continues the house only when it is a house part as a whole ("6, корп. 2").
      if (s + 1 >= segments.length) break;
      const next = segments[s + 1];
      let t = text, k = 0;
      while (k < next.length) {
        const step = houseStep(t, next, k);
        if (!step) break;
        t = step.text;
        k = step.next;
      }
      if (k < next.length || k === 0) break;
      text = t;
      s += 1;
      i = next.length;
      continue;
    }
    const step = houseStep(text, segments[s], i);
    if (!step) break;
    text = step.text;
    i = step.next;
  }
  const house = parseHouse(text);
  if (house && house.num === "0" && house.corp) house.num = "";
  return { house: house, s: s, i: i };
}

// One more house part after `text`: a marker with its value ("корп 2", "стр 1", "лит А") or a single letter.
function houseStep(text, seg, i) {
  const t = seg[i];
  let candidate = null, next = i + 1;
  if ((t in CORPUS_MARKERS || t in BUILDING_MARKERS || t in LITER_MARKERS) && i + 1 < seg.length) {
    const mark = t in CORPUS_MARKERS ? "к" : t in BUILDING_MARKERS ? "с" : "лит";
    candidate = text + mark + seg[i + 1];
    next = i + 2;
  } else if (/^[а-я]$/.test(t)) {
    candidate = text + t;
  }
  if (candidate === null || !parseHouse(candidate)) return null;
  return { text: candidate, next: next };
}

// Finds the house: after a house marker; after a street name in the same part; or opening a part that holds
// nothing but the house.
function findHouse(segments, afterCity) {
  for (let s = 0; s < segments.length; s++) {
    const seg = segments[s];
    let sawName = false;
    for (let i = 0; i < seg.length; i++) {
      const t = seg[i];
      if (t in HOUSE_MARKERS && i + 1 < seg.length && parseHouse(seg[i + 1])) {
        const found = readHouseAt(segments, s, i + 1);
        return { house: found.house, s: s, start: i, endS: found.s, endI: found.i };
      }
      // A part that opens with the house after another part or the city ("Тверская, 6", "д Сколково 5"), or with
      // a corpus alone ("Зеленоград, корп. 1106").
      const opensPart = i === 0 && (s > 0 || afterCity || t in CORPUS_MARKERS);
      if ((sawName || opensPart) && (parseHouse(t) || t in CORPUS_MARKERS)) {
        const found = readHouseAt(segments, s, i);
        if (found && found.house && (sawName || found.s > s || found.i >= seg.length)) {
          return { house: found.house, s: s, start: i, endS: found.s, endI: found.i };
        }
      }
      if (isNameWord(t)) sawName = true;
    }
  }
  return null;
}

// The street from its tokens: "улица Большая Никитская" → "б никитская ул"; "1-я Тверская-Ямская" →
// "1 тверская ямская ул"; no type → "ул", the type of almost every street written without one.
function streetName(tokens) {
  let type = "";
  const ordinals = [], words = [];
  for (const t of tokens) {
    if (t in STREET_TYPES) {
      if (type === "") type = STREET_TYPES[t];
      else words.push(STREET_TYPES[t]);
      continue;
    }
    const ordinal = ORDINAL.exec(t);
    if (ordinal) { ordinals.push(ordinal[1]); continue; }
    if (t in DROPPED_NAME_WORDS || isMarker(t)) continue;
    for (const part of t.split("-")) {
      if (part !== "") words.push(NAME_WORDS[part] || part);
    }
  }
  const name = ordinals.concat(words).join(" ");
  if (name === "") return "";
  return name + " " + (type || "ул");
}

function hasStreetWords(seg) {
  return seg.some(function (t) { return isNameWord(t) || t in STREET_TYPES; });
}

// {city: text or null when none is named, street: "" or "name type", house: "" or compact form, empty: true when
// nothing searchable is left}.
function parseAddress(text) {
  let segments = cleanSegments(segmentsOf(readText(text)));
  let city = takeMarkedCity(segments);
  segments = segments.filter(function (seg) { return seg.length > 0; });

  // Parts that are a known city by themselves; the last one wins ("Москва, Зеленоград, …").
  const knownParts = [];
  segments = segments.filter(function (seg) {
    const name = knownCity(seg);
    if (name === null) return true;
    knownParts.push(name);
    return false;
  });
  if (city === null && knownParts.length > 0) city = knownParts[knownParts.length - 1];
  // "Москва Тверская 6" without commas.
  if (city === null && segments.length > 0 && segments[0].length > 1 && KNOWN_CITIES[segments[0][0]] === "москва") {
    city = "москва";
    segments[0] = segments[0].slice(1);
  }

  const found = findHouse(segments, city !== null);
  let streetTokens = [], streetSeg = -1;
  if (found) {
    const own = segments[found.s].slice(0, found.start).filter(function (t) { return !(t in HOUSE_MARKERS); });
    if (hasStreetWords(own)) { streetTokens = own; streetSeg = found.s; }
    else {
      for (let s = found.s - 1; s >= 0; s--) {
        if (hasStreetWords(segments[s])) { streetTokens = segments[s]; streetSeg = s; break; }
      }
    }
    // The street written after the house ("д. 6, ул. Тверская").
    if (streetSeg < 0) {
      const after = [segments[found.endS].slice(found.endI)].concat(segments.slice(found.endS + 1));
      const tokens = after.find(hasStreetWords);
      if (tokens) streetTokens = tokens;
    }
    // A known city after the house ("Тверская 6 Москва"); else a part of one plain word after it ("Баумана 5,
    // Казань"): read as a city, so an unknown town never joins the same street of Moscow. Longer parts are notes
    // ("вход со двора") and are left out.
    if (city === null) {
      for (let s = found.endS; s < segments.length; s++) {
        for (let i = s === found.endS ? found.endI : 0; i < segments[s].length; i++) {
          if (city === null && knownCity([segments[s][i]])) city = knownCity([segments[s][i]]);
        }
      }
    }
    if (city === null) {
      for (let s = found.endS + 1; s < segments.length; s++) {
        if (segments[s] !== streetTokens && segments[s].length === 1 && isNameWord(segments[s][0])) {
          city = cityName(segments[s]);
          break;
        }
      }
    }
  } else {
    for (let s = segments.length - 1; s >= 0; s--) {
      if (segments[s].some(function (t) { return t in STREET_TYPES; })) { streetSeg = s; break; }
    }
    if (streetSeg < 0) {
      for (let s = segments.length - 1; s >= 0; s--) {
        if (hasStreetWords(segments[s])) { streetSeg = s; break; }
      }
    }
    if (streetSeg >= 0) streetTokens = segments[streetSeg];
  }
  // A part of plain words before the street names the city when no city was found yet; other such parts are
  // districts and are left out.
  if (city === null) {
    for (let s = 0; s < streetSeg; s++) {
      if (segments[s].every(isNameWord)) { city = cityName(segments[s]); break; }
    }
  }
  const street = streetName(streetTokens);
  const house = found ? houseText(found.house) : "";
  return { city: city, street: street, house: house, empty: city === null && street === "" && house === "" };
}

GeocodingCore.parseAddress = parseAddress;
