// Fields: finding them in a story and computing their results.
//
// A field is either simple (one element carrying its code) or complex (runs
// with begin / separate / end marks, the code in between the first two, the
// result between the last two; complex fields nest). Updating computes
// DOCVARIABLE (with its \# numeric picture, \@ date picture and \* format
// switches) and DATE / TIME (with a \@ date picture); every other field keeps
// the result it has.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "run/locale_info.h"
#include "word/wordml.h"

namespace vantrelle {

/// A field code split into its parts.
struct FieldCode {
  std::string type;                          ///< upper case: "DOCVARIABLE", "DATE", ...
  std::string argument;                      ///< first argument, unquoted
  std::vector<std::string> format_switches;  ///< values of \* switches, as written
  std::optional<std::string> date_picture;   ///< value of the \@ switch
  std::optional<std::string> numeric_picture;  ///< value of the \# switch
};

/// Splits \a code ("DOCVARIABLE \"Name\" \* Upper") into its parts.
FieldCode ParseFieldCode(std::string_view code);

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

/// One field found in a story, in the order of its beginning.
struct FieldSpan {
  pugi::xml_node simple;      ///< the simple field element, or empty
  pugi::xml_node begin;       ///< complex: the run holding the begin mark
  pugi::xml_node first_code;  ///< complex: the first run holding code text
  pugi::xml_node separate;    ///< complex: the run holding the separate mark, or empty
  pugi::xml_node end;         ///< complex: the run holding the end mark
  std::string code;
  bool locked = false;
};

/// Every field of \a story in document order (nested ones included);
/// complex fields without an end mark are left out.
std::vector<FieldSpan> FindFields(pugi::xml_node story, const WordNames& names);

/// What a field update needs from the document.
struct FieldContext {
  std::function<std::optional<std::string>(std::string_view)> variable;
  std::tm now{};
  const LocaleInfo* locale = nullptr;
};

/// The result \a code gives, or nothing when the field is not one this
/// engine computes.
std::optional<std::string> ComputeFieldResult(const FieldCode& code, const FieldContext& context);

/// The text \a field shows: its result's text (paragraphs joined by CR, tabs
/// as TAB, line breaks as VT), with nested fields showing their results. A
/// field nested in another's code holds its result as code text, which is
/// read too. "" for a field without a result.
std::string FieldResultText(const FieldSpan& field, const WordNames& names);

/// Replaces every field of \a story (text boxes in it included) by the result
/// it shows: the result's runs stay with their look, the marks, the code and
/// the fields nested in the code go. Fields whose result follows the page
/// layout (PAGE, NUMPAGES, SECTIONPAGES, SECTION, PAGEREF) and hyperlinks stay
/// fields, so a reader still numbers the pages and follows the links. Fields
/// without an end mark are left alone. Returns true when the XML changed.
bool UnlinkFields(pugi::xml_node story, const WordNames& names);

/// Updates \a field's result in place. Returns true when the XML changed.
/// \a removed_fields is set when the old result held fields of its own.
bool UpdateField(const FieldSpan& field, const WordNames& names, const FieldContext& context,
                 bool& removed_fields);

}  // namespace vantrelle
