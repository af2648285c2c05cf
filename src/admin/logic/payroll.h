// What the payroll page decides about pay, without widgets: the amount rule of its money fields, the courier's pay
// settings and adjustment forms and the bodies they send, the adjustments of a period as the panel lists them, the
// rows and the file name of the exported pay sheet; and the page's actions over them.
//
// Amounts are read without the process locale: GTK switches LC_NUMERIC to the user's one, whose decimal comma
// must not change what a money field accepts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "admin/logic/shifts.h"
#include "core/json/json_value.h"

namespace dorvik::admin {

// ---- Amounts

// A whole sum of rubles typed into a money field: the whole text read as a C-locale floating-point number (sign,
// fraction, exponent and hexadecimal forms; no leading blank, nothing left over, no decimal comma), finite, whole,
// at least 1 (`positive`) or 0, at most 10 000 000. Throws DorvikError "Укажите целую сумму от 1|от 0 до
// 10 000 000 ₽." otherwise.
double amount(std::string_view text, bool positive);

// The issue of a refused amount.
std::string amountMessage(bool positive);

// ---- The selected courier's forms

inline constexpr const char* kDayOrNoteMessage = "Проверьте день месяца и комментарий (до 500 знаков).";

// A fresh adjustment draft: {"kind": "extra", "day": firstDay}. Typed values are kept as JSON strings.
JSONValue newAdjustment(int firstDay);
// The text shown in a draft field, and what typing stores.
std::string draftText(const JSONValue& draft, std::string_view key);
void setDraftText(JSONValue& draft, std::string_view key, std::string text);

// "/panel/shifts/courier/<id>" with the id percent-encoded.
std::string courierPayPath(std::string_view courierID);
// {"shiftRate": the own rate or null, "payMode"}; with the own rate on, throws the amount's DorvikError for a rate
// that is no whole sum.
JSONValue payBody(bool ownRate, std::string_view rate, std::string_view payMode);

// A day of the month typed in strict decimal ("+5" and "05" are 5; no blanks, no fraction), from 1 to lastDay.
std::optional<int> parseDay(std::string_view text, int lastDay);
// A note of at most 500 user-perceived characters.
bool noteFits(std::string_view note);

// The body of a new adjustment for the courier, checked in the order day, note, amount; throws DorvikError with
// the first failing check's message.
JSONValue adjustmentBody(std::string_view courierID, std::string_view monthKey, const JSONValue& draft, int lastDay);
inline constexpr const char* kAdjustPath = "/panel/shifts/adjust";
// "/panel/shifts/adjust/<id>" with the id percent-encoded.
std::string adjustmentPath(std::string_view adjustmentID);

// ---- Adjustments of the shown period

// The row's adjustments whose day falls within lo..hi, in list order, identified by their id or by their position
// among those kept.
std::vector<Record> adjustmentsInPeriod(const JSONValue& row, DayRange days);
// "12 · Штраф · 500 ₽".
std::string adjustmentRowText(const JSONValue& adjustment);
// "5: доплата 500 · выход; 12: штраф 300 · опоздание"; "" when the period has none.
std::string commentsCell(const JSONValue& row, DayRange days);

// ---- The pay sheet

// The exported table: the header, one row per courier (name and rate as the server sent them, the figures of the
// period in full, cash null when deferred, the pay mode's word, the comments) and the total row ("Итого", the
// shifts as an integer, the sums, cash only over the rows whose cash is not deferred).
JSONArray paySheetTable(const std::vector<Record>& rows, DayRange days, bool wholeMonth);
// "Смены-<yyyy-MM>-<first day>-<last day>".
std::string paySheetFileName(std::string_view monthKey, DayRange days);

// ---- The page's pay actions

// Fills the pay form and a fresh draft from the selected row (nothing without one). Run on a change of selection.
void setDraft(ShiftsController& page);
// Sends the selected courier's pay settings; a bad own rate becomes the page's issue.
void saveCourier(ShiftsController& page);
// Sends the draft adjustment for the selected courier; a failed check becomes the page's issue. The draft stays.
void addAdjustment(ShiftsController& page);
// The confirmation's "Удалить": deletes the pending adjustment when the sheet may be written; the pending
// deletion ends in every case.
void confirmDeletion(ShiftsController& page);
// Exports the pay sheet of the shown period: the table now, the file name when the export runs.
void exportPaySheet(ShiftsController& page);
// Whether there is anything to export.
bool canExportPaySheet(const ShiftsController& page);

}  // namespace dorvik::admin
