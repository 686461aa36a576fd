#include "transport/id_exception.h"

EIdException::EIdException(const std::string& message) : std::runtime_error(message) {}

// Defined out of line so that the class has one home for its type information.
EIdException::~EIdException() = default;
