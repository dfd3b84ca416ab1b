#pragma once
// The one base of the errors this tool raises on purpose. Each carries the message the user
// may be shown.

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A text that is not an integer of the required form.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};
