// The encoders of texts placed in a request path or query.
//
// encodeID is the one encoder of identifiers: every id that goes into a path (records, documents, files, routes,
// depots, staff, adjustments) goes through it, so an id reaches the server in one form whichever screen sends it.
//
// encodePathComponent is the looser rule kept for values that are not ids (a day in a query): ASCII letters,
// digits and "-", "_", ".", "~" stay as they are; every other byte, UTF-8 sequences of Cyrillic letters included,
// becomes "%XX" with upper-case hex digits. "/", "?", "#", "%" and spaces are therefore always encoded, and a text
// made only of dots ("." or "..") has its dots encoded too, so URL parsing cannot read it as a step up the path.
#pragma once

#include <string>
#include <string_view>

namespace dorvik {

std::string encodePathComponent(std::string_view component);

// An identifier as one path segment: Unicode letters, digits and combining marks stay, every other character
// becomes "%XX" per UTF-8 byte (upper-case hex), so "R-1/2" reads "R%2D1%2F2" and "../../admin" or "a?b#c" stay
// inside their segment. Text that is not valid
// UTF-8 gives "", as an empty id does: a path with an empty segment is refused before it is sent (kMissingID).
std::string encodeID(std::string_view id);

// True when a segment of the path (before any query) is empty, as an empty or unreadable id leaves it: sent, the
// request would reach the collection itself ("/admin/documents/") or another resource than the record's.
bool hasEmptySegment(std::string_view path);
// The refusal of such a path, before anything is sent.
inline constexpr const char* kMissingID = "Запрос не отправлен: у записи нет идентификатора.";

}  // namespace dorvik
