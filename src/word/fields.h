// Fields: finding them in a story and computing their results.
//
// A field is either simple (one element carrying its code) or complex (runs
// with begin / separate / end marks, the code in between the first two, the
// result between the last two; complex fields nest). Updating computes
// DOCVARIABLE (with its \# numeric picture, \@ date picture and \* format
// switches) and DATE / TIME (with a \@ date picture); every other field keeps
// the result it has. The pictures and switches themselves are text
// functions of format/field_picture.h.
#pragma once

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "base/locale_info.h"
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
