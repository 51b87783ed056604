// The 16-bit whole-number conversion used for job counts and control fields.
#pragma once

#include <cstdint>
#include <string_view>

namespace vantrelle {

/// Converts \a text to a 16-bit signed whole number. Blanks (space, tab) may
/// stand on either side; a sign, a decimal fraction and an exponent are
/// accepted, and a fraction is rounded to the nearest whole number with an
/// exact half going to the even neighbour (2.5 gives 2, 3.5 gives 4).
/// Throws Error "Type mismatch" for text that is not a number and
/// "Overflow" for a number outside -32768..32767.
int16_t ToWholeNumber(std::string_view text);

}  // namespace vantrelle
