#include "tests/support/test_certificates.h"

#include "tests/support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace {

// The openssl configuration of the CA and every certificate it issues, shared with the Python tests.
const char* const kConfigurationFile = POSTIRA_TEST_SOURCE_DIR "/tests/support/test_certificates.cnf";

const char* const kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -noenc";

// Commands for a key and a certificate NAME signed by the CA, with the extensions section and validity.
std::string IssueCommands(const std::string& name, const std::string& commonName, const std::string& extensions,
                          const std::string& validity) {
    return std::string("openssl req -config openssl.cnf -new ") + kNewKey + " -keyout " + name + ".key -out " +
           name + ".csr -subj /CN=" + commonName + "\n" +
           "openssl ca -config openssl.cnf -batch -notext -cert ca.pem -keyfile ca.key -in " + name +
           ".csr -out " + name + ".pem -extensions " + extensions + " " + validity + "\n";
}

class CertificateFolder {
public:
    CertificateFolder() {
        std::ifstream configuration(kConfigurationFile, std::ios::binary);
        if (!configuration) throw std::runtime_error(std::string("cannot read ") + kConfigurationFile);
        folder_.Write("openssl.cnf", std::string(std::istreambuf_iterator<char>(configuration), {}));
        folder_.Write("index.txt", "");
        folder_.Write("serial", "01\n");
        const std::string script =
            "set -e\n"
            "openssl req -config openssl.cnf -x509 " + std::string(kNewKey) +
            " -keyout ca.key -out ca.pem -days 3650 -extensions ca_ext -subj '/CN=Postira Test CA'\n" +
            IssueCommands("localhost", "localhost", "localhost_ext", "-days 3650") +
            IssueCommands("other", "other.example", "other_ext", "-days 3650") +
            IssueCommands("expired", "localhost", "localhost_ext", "-startdate 20200101000000Z -enddate 20210101000000Z");
        folder_.Write("make.sh", script);
        const std::string command = "cd '" + folder_.Path() + "' && /bin/sh make.sh >make.log 2>&1";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("openssl could not make the test certificates:\n" + folder_.Read("make.log"));
        }
        certificates_.caFile = folder_.File("ca.pem");
        certificates_.localhost = Files("localhost");
        certificates_.otherHost = Files("other");
        certificates_.expired = Files("expired");
    }

    const TestCertificates& Certificates() const { return certificates_; }

private:
    CertificateFiles Files(const std::string& name) const {
        return {folder_.File(name + ".pem"), folder_.File(name + ".key")};
    }

    TempDir folder_;
    TestCertificates certificates_;
};

}  // namespace

const TestCertificates& GetTestCertificates() {
    // Made once per test program; the folder goes when the program ends.
    static const CertificateFolder folder;
    return folder.Certificates();
}
