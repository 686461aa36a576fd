#pragma once
// Whether an address typed into the window is one of the list's recipients: a test mail to a customer
// would go out as a real mail.

#include <string>

// The position (from 1) of the first list line with an address that the text names too, compared
// without regard to case; 0 when none has, when the text names no address, or when the list cannot be
// read.
int ListLineWithAddress(const std::string& listPath, const std::string& addressText);
