// RE2 with the platform's replacement template form.
#include "CorvaneSDKRegex.h"

#include <re2/re2.h>

#include <cctype>

namespace CorvaneSDK {
namespace Mobile {

namespace {
RE2::Options options() {
  RE2::Options o;
  o.set_log_errors(false);
  o.set_encoding(RE2::Options::EncodingUTF8);
  return o;
}
}  // namespace

CorvaneSDKRegex::CorvaneSDKRegex(const std::string& pattern) : re_(new RE2(pattern, options())) {}
CorvaneSDKRegex::~CorvaneSDKRegex() = default;

bool CorvaneSDKRegex::ok() const { return re_->ok(); }
std::string CorvaneSDKRegex::error() const { return re_->error(); }

bool CorvaneSDKRegex::search(const std::string& text) const {
  return re_->ok() && RE2::PartialMatch(text, *re_);
}

std::string CorvaneSDKRegex::translateTemplate(const std::string& templ, int groups) {
  std::string out;
  for (size_t i = 0; i < templ.size(); ++i) {
    const char c = templ[i];
    if (c == '\\' && i + 1 < templ.size()) {
      const char next = templ[++i];
      if (next == '\\') {
        out += "\\\\";
      } else {
        out += next;
      }
    } else if (c == '$' && i + 1 < templ.size() && std::isdigit(static_cast<unsigned char>(templ[i + 1]))) {
      const int group = templ[++i] - '0';
      if (group <= groups) {
        out += '\\';
        out += static_cast<char>('0' + group);
      }
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::string CorvaneSDKRegex::replaceAll(const std::string& text, const std::string& templ) const {
  if (!re_->ok()) return text;
  std::string out = text;
  RE2::GlobalReplace(&out, *re_, translateTemplate(templ, re_->NumberOfCapturingGroups()));
  return out;
}

}  // namespace Mobile
}  // namespace CorvaneSDK
