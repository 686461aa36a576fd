#pragma once
// Certificates for TLS tests, made with the openssl command the first time a test asks for them and kept
// in a temporary folder until the test program ends: a CA of its own, and server certificates signed by
// it. No test trusts anything of the machine's own.

#include <string>

struct CertificateFiles {
    std::string certificate;  // PEM
    std::string key;          // PEM, not encrypted
};

struct TestCertificates {
    // The CA's certificate, for the CAFile setting of the client.
    std::string caFile;
    // For "localhost" and 127.0.0.1, valid now.
    CertificateFiles localhost;
    // For "other.example" alone.
    CertificateFiles otherHost;
    // For "localhost" and 127.0.0.1, valid only during 2020.
    CertificateFiles expired;
};

// The certificates of this test run; std::runtime_error with openssl's output when they cannot be made.
const TestCertificates& GetTestCertificates();
