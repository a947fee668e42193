// Keeps an environment variable's value for the life of a test and puts it back
// (or removes the variable) afterwards, so tests can point WINEPREFIX anywhere.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace wq2test {

class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) {
            value_ = value;
        }
    }
    ~SavedVariable() {
        if (value_) {
            setenv(name_, value_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> value_;
};

}  // namespace wq2test
