// Percent-encoding of URL query values and the form decoding of map values: the one place
// either is written. Pure functions, thread-safe.
#pragma once

#include <string>

namespace CorvaneSDK {

// Every byte but the unreserved ones (A-Z a-z 0-9 - . _ ~) as "%XY", upper-case hex.
std::string PercentEncode(const std::string& value);

// Form decoding of SetMapValue: "%XY" becomes that byte, "+" a space; a "%" with fewer than
// two characters after it, or followed by a non-hex pair, stays as it is.
std::string FormDecode(const std::string& text);

}  // namespace CorvaneSDK
