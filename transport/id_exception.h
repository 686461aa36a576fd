#pragma once
// Base of every error the mail transport raises. Each transport error is its own class with a fixed
// German message text; callers catch EIdException (or std::exception) and show the text.

#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
public:
    explicit EIdException(const std::string& message);
    ~EIdException() override;
};
