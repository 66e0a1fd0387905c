// The framework's own JSON writer, used for upload bodies. Maps keep their own order; strings
// escape the quote, the backslash, \n \r \t \b \f and every other control character as
// "\u%04x"; invalid UTF-8 is replaced by U+FFFD; a non-finite number is written as null.
// Data is written as a base64 string and a date as its Unix seconds. Nesting of any depth is
// written without recursion. Stateless; thread-safe.
#pragma once

#include <string>

#include "Value.h"

namespace CorvaneSDK {
namespace Mobile {

class CorvaneJSONSerializer {
 public:
  static std::string dataWithRootObject(const Value& value);
  static void writeString(const std::string& text, std::string& out);
  static void writeNumber(const Value& number, std::string& out);
};

}  // namespace Mobile
}  // namespace CorvaneSDK
