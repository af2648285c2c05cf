// Letter folding and tokens.
//
// Folding: composed Unicode form (a "й" or "ё" typed as a letter plus a combining mark becomes one letter), lower
// case, "ё" read as "е", Latin letters that look like Cyrillic ones read as Cyrillic inside words that hold a Cyrillic
// letter or a digit ("12a", "Tвepскaя" typed on the wrong keyboard), every dash read as "-".

const LOOKALIKE = { a: "а", c: "с", e: "е", k: "к", m: "м", h: "н", o: "о", p: "р", t: "т", x: "х", y: "у" };
const DASHES = /[\u2010-\u2015\u2212\u00ad\ufe58\ufe63\uff0d]/g;
const SPACES = /[\s\u00a0\u2000-\u200b\u202f\u205f\u3000\ufeff]+/g;

function foldLetters(text) {
  let s = String(text);
  if (typeof s.normalize === "function") s = s.normalize("NFC");
  s = s.toLowerCase().replace(/ё/g, "е").replace(DASHES, "-").replace(SPACES, " ");
  if (!/[a-z]/.test(s)) return s;
  // Latin lookalikes, word by word.
  return s.replace(/[0-9a-zа-я]+/g, function (word) {
    if (!/[а-я0-9]/.test(word) || !/[a-z]/.test(word)) return word;
    return word.replace(/[a-z]/g, function (c) { return LOOKALIKE[c] || c; });
  });
}

// True when the text holds at least one letter or digit of any script we read.
function hasLetterOrDigit(text) {
  return /[0-9a-zа-я]/.test(text);
}

// The folded text as words: letters and digits, joined by a single "/" or "-" standing between two of them
// ("12/3", "пр-т", "тверская-ямская"); every other character separates words. With `segments` set, "," and ";"
// are kept as "," words: the parser reads them as part boundaries.
const WORD = /[0-9a-zа-я]+(?:[\/-][0-9a-zа-я]+)*/g;
const WORD_OR_COMMA = /[0-9a-zа-я]+(?:[\/-][0-9a-zа-я]+)*|[,;]/g;

function foldWords(text, segments) {
  const words = foldLetters(text).match(segments ? WORD_OR_COMMA : WORD);
  if (words === null) return "";
  return segments ? words.map(function (w) { return w === ";" ? "," : w; }).join(" ") : words.join(" ");
}

// Markers written straight before a number ("д6", "корп2", "кв12", "стр.1" after folding) are split off.
const GLUED_MARKER = /^(владение|влд|вл|дом|д|корпус|корп|кор|к|строение|стр|с|литера|литер|лит|квартира|кв|офис|оф|помещение|пом|этаж|эт|подъезд|под)(\d.*)$/;

// The folded text as segments (the parts between commas) of tokens.
function segmentsOf(text) {
  const words = foldWords(text, true).split(" ");
  const segments = [[]];
  for (const word of words) {
    if (word === "") continue;
    if (word === ",") { segments.push([]); continue; }
    const glued = word.charCodeAt(0) >= 0x430 && /\d/.test(word) ? GLUED_MARKER.exec(word) : null;
    if (glued) segments[segments.length - 1].push(glued[1], glued[2]);
    else segments[segments.length - 1].push(word);
  }
  return segments.filter(function (segment) { return segment.length > 0; });
}
