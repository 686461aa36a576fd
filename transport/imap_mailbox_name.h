#pragma once
// Mailbox names on the IMAP wire are in "modified UTF-7" (RFC 3501, 5.1.3): printable ASCII stands for
// itself, "&" is written "&-", and every run of other characters is their UTF-16 form in base64 with ","
// in place of "/", without padding, between "&" and "-" ("Entwürfe" is "Entw&APw-rfe"). The program
// keeps names in UTF-8 and converts at the wire.

#include <string>
#include <string_view>

#include "transport/id_exception.h"

// A mailbox name to send that is not valid UTF-8, or holds a NUL: there is no wire form for it.
class EIdIMAPInvalidMailboxName : public EIdException {
public:
    explicit EIdIMAPInvalidMailboxName(std::string_view name);
};

// The wire form of a UTF-8 name. Raises EIdIMAPInvalidMailboxName as said above.
std::string EncodeMailboxName(std::string_view utf8);

// The UTF-8 form of a wire name. A name that is not modified UTF-7 (8-bit bytes, which some servers
// send as raw UTF-8; an "&" without its "-"; base64 that does not come out as whole UTF-16 characters;
// a lone surrogate or a NUL) is returned unchanged: it still names its mailbox, and the client keeps
// each listed name's wire form, so such a name is sent back exactly as the server sent it. Some forms
// that an encoder must not produce are read all the same (a printable character in base64, two base64
// runs in a row), since reading them harms no one.
std::string DecodeMailboxName(std::string_view wire);
