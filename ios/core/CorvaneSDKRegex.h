// Regular expressions for the payload filters and the deep-link filter, on RE2 (linear time,
// no recursion per input character, so a megabyte URL is safe). Replacement templates use the
// platform's form: "$1" is group 1, a backslash makes the next character literal.
// Immutable after construction; thread-safe.
#pragma once

#include <memory>
#include <string>

namespace re2 {
class RE2;
}

namespace CorvaneSDK {
namespace Mobile {

class CorvaneSDKRegex {
 public:
  explicit CorvaneSDKRegex(const std::string& pattern);
  ~CorvaneSDKRegex();
  bool ok() const;
  std::string error() const;
  // A match anywhere in `text`.
  bool search(const std::string& text) const;
  // Every non-overlapping match replaced by `templ`; the text unchanged when the pattern is bad.
  std::string replaceAll(const std::string& text, const std::string& templ) const;
  // "$1" -> "\1", "\$" -> "$", "\\" -> "\\\\"; group numbers beyond `groups` write nothing.
  static std::string translateTemplate(const std::string& templ, int groups);

 private:
  std::unique_ptr<re2::RE2> re_;
};

}  // namespace Mobile
}  // namespace CorvaneSDK
