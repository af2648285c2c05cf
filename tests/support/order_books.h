// Order workbooks made for the import's tests and benchmarks: a hand-kept book with the usual mistakes, and damaged
// books that the workbook library would follow without end. Each is made by the workbook library of the build's
// core bundle in a script context of its own, and comes as the file's bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvik::testing {

// One sheet "Заказы" under a title row, the header on row 2, then (sheet rows 3 to 9): a sound order; a blank row;
// an order without an address; one with a window that ends before it starts, "три" places and a weight in words
// (with coordinates);
// the first order's number again; one without a number, with coordinates out of range and a lone surrogate in its
// comment; a sound order. Six orders: "1001", "1002", "1003", "1001", "" and "1006".
std::string mistakesBook();

// An order book of `rows` orders with coordinates and `addresses` distinct addresses among them, in the layout a
// spreadsheet program writes (shared strings), as a stored (uncompressed) .xlsx: the largest book a file of a
// given size holds.
std::string depotBook(long rows, long addresses);
// The same with every order at an address of its own.
std::string dayBook(int orders);

// A one-sheet order book whose sheet unpacks to about `unpacked` bytes while declaring `declared` (a zip bomb
// that tells the truth declares what it unpacks to; one that lies declares less).
std::string bombBook(std::uint64_t unpacked, std::uint64_t declared);

struct DamagedBook {
  std::string name;   // what is wrong with it
  std::string bytes;
};
// Compound files whose sector chains or directory links loop, an .xls whose formula record is cut short, and zip
// bombs: each is refused as a damaged or too large book.
std::vector<DamagedBook> damagedBooks();

}  // namespace dorvik::testing
