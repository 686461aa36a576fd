#pragma once
// The account secrets (refresh tokens, passwords) in the desktop's keyring through QtKeychain, under the
// service name "Postira". Where there is no keyring (no session bus, or no keyring service on it, as on a
// server without a desktop session), they go to a file in the data folder instead, readable by the user
// alone, and the front ends tell the user so once. A keyring that is there but refuses, fails or does not
// answer is an error (ESecretStoreError): the secrets never go to the file because of it.
//
// Every call blocks until the keyring has answered. The keyring's jobs run on one thread of their own,
// so the calls may come from any thread: the main thread, or a worker std::thread of a run.

#include <chrono>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

// The keyring refused, failed or did not answer; the text says so in German.
class ESecretStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SecretStore {
public:
    static constexpr const char* kServiceName = "Postira";
    static constexpr const char* kFileName = "postira-geheim.ini";
    // The keyring may show an unlock prompt and wait for the user's password; longer than this is no
    // answer.
    static constexpr std::chrono::seconds kKeyringTimeout{120};

    // Where the keyring is used: Automatic asks it and falls back to the file when there is none;
    // FileOnly never asks it.
    enum class Keyring { Automatic, FileOnly };

    explicit SecretStore(std::string dataFolder, Keyring keyring = Keyring::Automatic);

    // The secret, or nothing when none is stored under the key. Throws ESecretStoreError when the
    // keyring refuses or fails, EFileError when the fallback file cannot be read.
    std::optional<std::string> Read(const std::string& key);
    // Stores the secret; in the keyring, or in the file when there is none. A copy of the key left in
    // the file from a time without a keyring is removed once the keyring holds it.
    void Write(const std::string& key, const std::string& value);
    // Forgets the secret in the keyring and in the file. No secret under the key is no error.
    void Remove(const std::string& key);

    // The secrets go to the file: there is no keyring (known for certain after the first Write), or
    // the store was made FileOnly.
    bool UsesFile() const;
    // The full path of the fallback file.
    const std::string& FilePath() const { return filePath_; }
    // The note the front ends show once when UsesFile().
    std::string FileNote() const;

private:
    bool KeyringMissing() const;
    void MarkKeyringMissing();
    std::optional<std::string> ReadFromFile(const std::string& key);
    void WriteToFile(const std::string& key, const std::optional<std::string>& value);

    std::string dataFolder_;
    std::string filePath_;
    Keyring keyring_;
    mutable std::mutex mutex_;
    bool keyringMissing_ = false;
};
