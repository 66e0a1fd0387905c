// Runs one adapter script and checks its output: usage skan_script_check ADAPTER SCRIPT.
// SCRIPT holds {"script": adapter input, "expect": [partial lines, each with its "i"]}. Every
// op must print exactly one line (a crash shows as missing lines), no line may carry "error"
// unless its expectation names one, and each expectation must be contained in its line:
// objects by their listed keys, arrays element by element with equal length, numbers within
// 1e-9 (relative).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>

#include "Value.h"

using CorvaneSDK::Mobile::Value;

namespace {

bool contains(const Value& want, const Value& got, const std::string& path, std::string& why) {
  if (want.is_object()) {
    if (!got.is_object()) {
      why = path + ": expected an object, got " + got.dump();
      return false;
    }
    for (auto it = want.begin(); it != want.end(); ++it) {
      auto found = got.find(it.key());
      if (found == got.end()) {
        why = path + "." + it.key() + ": missing";
        return false;
      }
      if (!contains(it.value(), *found, path + "." + it.key(), why)) return false;
    }
    return true;
  }
  if (want.is_array()) {
    if (!got.is_array() || got.size() != want.size()) {
      why = path + ": expected " + want.dump() + ", got " + got.dump();
      return false;
    }
    for (size_t i = 0; i < want.size(); ++i) {
      if (!contains(want[i], got[i], path + "[" + std::to_string(i) + "]", why)) return false;
    }
    return true;
  }
  if (want.is_number() && got.is_number()) {
    const double a = want.get<double>(), b = got.get<double>();
    if (a == b || std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b))) return true;
  } else if (want == got) {
    return true;
  }
  why = path + ": expected " + want.dump() + ", got " + got.dump();
  return false;
}

bool readFile(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: skan_script_check ADAPTER SCRIPT\n";
    return 2;
  }
  std::string text;
  Value file;
  if (!readFile(argv[2], text) || !CorvaneSDK::Mobile::parseJson(text, file) || !file.contains("script")) {
    std::cerr << "unreadable script file " << argv[2] << "\n";
    return 2;
  }
  char input[] = "/tmp/skan_script_XXXXXX";
  const int fd = mkstemp(input);
  if (fd < 0) return 2;
  const std::string body = file["script"].dump();
  if (write(fd, body.data(), body.size()) != static_cast<ssize_t>(body.size())) return 2;
  close(fd);
  const std::string command = std::string("'") + argv[1] + "' < '" + input + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return 2;
  std::string output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  unlink(input);

  std::map<size_t, Value> lines;
  size_t count = 0, start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    Value line;
    if (!CorvaneSDK::Mobile::parseJson(output.substr(start, end - start), line) || !line.contains("i") ||
        !line["i"].is_number_unsigned()) {
      std::cerr << "unreadable output line: " << output.substr(start, end - start) << "\n";
      return 1;
    }
    lines[line["i"].get<size_t>()] = line;
    ++count;
    start = end + 1;
  }
  int failures = 0;
  const size_t ops = file["script"].contains("ops") ? file["script"]["ops"].size() : 0;
  if (status != 0 || count != ops) {
    std::cerr << "adapter exit status " << status << ", " << count << " lines for " << ops << " ops\n";
    ++failures;
  }
  std::map<size_t, bool> expectsError;
  for (const auto& want : file.value("expect", Value::array())) {
    const size_t i = want.value("i", size_t{0});
    expectsError[i] = want.contains("error");
    auto it = lines.find(i);
    std::string why;
    if (it == lines.end()) {
      std::cerr << "op " << i << ": no line\n";
      ++failures;
    } else if (!contains(want, it->second, "line " + std::to_string(i), why)) {
      std::cerr << why << "\n  full line: " << it->second.dump() << "\n";
      ++failures;
    }
  }
  for (const auto& [i, line] : lines) {
    if (line.contains("error") && !expectsError[i]) {
      std::cerr << "op " << i << " failed: " << line["error"].dump() << "\n";
      ++failures;
    }
  }
  if (failures == 0) std::cout << "ok: " << count << " ops, " << file.value("expect", Value::array()).size()
                               << " expectations\n";
  return failures == 0 ? 0 : 1;
}
