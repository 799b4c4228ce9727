#pragma once

// Helpers shared by the unit tests.

#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

namespace test_support {

// Redirects std::cout and std::cerr into strings for its lifetime.
class CapturedStreams {
 public:
  CapturedStreams()
      : old_out_(std::cout.rdbuf(out_.rdbuf())),
        old_err_(std::cerr.rdbuf(err_.rdbuf())) {}
  ~CapturedStreams() {
    std::cout.rdbuf(old_out_);
    std::cerr.rdbuf(old_err_);
  }
  std::string out() const { return out_.str(); }
  std::string err() const { return err_.str(); }

 private:
  std::ostringstream out_;
  std::ostringstream err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

// Sets or unsets one environment variable for its lifetime.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
#if defined(_WIN32)
    // An empty value would remove the variable; none of the tests needs one.
    _putenv_s(name_.c_str(), value ? value->c_str() : "");
#else
    if (value) {
      setenv(name_.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
#endif
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace test_support
