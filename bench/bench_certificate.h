#pragma once
// The server certificate of the TLS benchmarks: self-signed for "localhost", made with the openssl
// command once per run, with the server context that uses it. The client trusts it through CAFile.

#include <openssl/ssl.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

// A self-signed certificate for "localhost", made with the openssl command once per run.
class Certificate {
public:
    Certificate() {
        std::string pattern = (std::filesystem::temp_directory_path() / "postira-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        folder_ = pattern;
        const std::string command = "cd '" + folder_ +
                                    "' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc "
                                    "-keyout key.pem -out cert.pem -days 2 -subj /CN=localhost "
                                    "-addext subjectAltName=DNS:localhost >openssl.log 2>&1";
        if (std::system(command.c_str()) != 0) throw std::runtime_error("openssl could not make a certificate");
        context_ = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_file(context_, File().c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(context_, (folder_ + "/key.pem").c_str(), SSL_FILETYPE_PEM) != 1) {
            throw std::runtime_error("the server cannot use the certificate");
        }
    }
    ~Certificate() {
        SSL_CTX_free(context_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string File() const { return folder_ + "/cert.pem"; }
    SSL_CTX* ServerContext() const { return context_; }

private:
    std::string folder_;
    SSL_CTX* context_ = nullptr;
};

inline const Certificate& TheCertificate() {
    static const Certificate certificate;
    return certificate;
}
