// The picture languages of fields: the \# numeric picture, the \@ date
// picture and the \* switches that change a result's case or show a number
// in words, as Roman numerals, letters or hex. Text in, text out: the field
// editing of the document engine calls these with a field's value and its
// switches, and nothing here knows of documents.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/locale_info.h"

namespace vantrelle {

/// Applies the \* switches to \a value in their order: the case switches
/// Upper, Lower, FirstCap and Caps, and the number forms Arabic, ArabicDash,
/// Roman, Alphabetic, Ordinal, CardText, OrdText, DollarText and Hex (on a
/// value that reads as a number in \a locale; a lower-case first letter of
/// Roman, Alphabetic or Hex gives lower-case numerals). MERGEFORMAT and
/// CHARFORMAT concern formatting; others are ignored.
std::string ApplyFormatSwitches(std::string value, const std::vector<std::string>& switches,
                                const LocaleInfo& locale = LocaleInfo::Current());

/// Formats \a time with a date picture as the word processor reads one: d dd
/// ddd dddd and yy yyyy in either case, M MM MMM MMMM (month), m mm (minute),
/// h hh (12-hour) H HH (24-hour), s ss, am/pm AM/PM (the locale's markers),
/// 'quoted' literals, and other characters than letters as they are; day and
/// month names come from \a locale. Nothing when the picture holds a letter
/// that is no code, so that the field keeps the result it has.
std::optional<std::string> FormatDatePicture(const std::tm& time, std::string_view picture,
                                             const LocaleInfo& locale);

/// Formats \a value with a numeric picture (0 # x digit places, the
/// locale's decimal and group symbols, - and + signs, 'quoted' and other
/// literal text, sections "positive;negative;zero"), rounding half away from
/// zero. Nothing when \a value does not read as a number.
std::optional<std::string> FormatNumericPicture(std::string_view value, std::string_view picture,
                                                const LocaleInfo& locale);

/// Formats \a value with a date picture when it reads as a date, a time or
/// both (ISO forms or the locale's short date) and the picture can be read;
/// nothing otherwise.
std::optional<std::string> FormatDateText(std::string_view value, std::string_view picture,
                                          const LocaleInfo& locale);

/// The locale's short date written as a date picture: the picture of a DATE
/// field without one.
std::string DefaultDatePicture(const LocaleInfo& locale);

}  // namespace vantrelle
