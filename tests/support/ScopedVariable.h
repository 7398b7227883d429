#pragma once
// Sets an environment variable of this process until the object goes away, then puts back what
// was there before (or nothing).

#include <cstdlib>
#include <optional>
#include <string>

namespace corvane::test {

class ScopedVariable {
public:
    ScopedVariable(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* previous = std::getenv(name_.c_str())) saved_ = previous;
        ::setenv(name_.c_str(), value.c_str(), 1);
    }
    ~ScopedVariable() { saved_ ? ::setenv(name_.c_str(), saved_->c_str(), 1) : ::unsetenv(name_.c_str()); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace corvane::test
