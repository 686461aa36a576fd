#include "signin/secret_store.h"

#include "mailing/data_folder.h"
#include "mailing/file_io.h"
#include "mailing/server_text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMetaObject>
#include <QThread>
#include <qt6keychain/keychain.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>

namespace {

// ---- The keyring's thread ----
//
// QtKeychain queues its jobs in an object that lives on the thread that first used it, and its jobs
// report through that thread's event loop. So every job is made and run on one thread of our own, and
// a caller on any thread waits for the outcome.

struct JobOutcome {
    QKeychain::Error error = QKeychain::NoError;
    std::string errorText;
    std::string data;  // what a read found
};

class KeyringThread {
public:
    static KeyringThread& Instance() {
        // Never destroyed: a QThread destroyed while running aborts the program, and static objects
        // are destroyed after the application. The thread is stopped with the application instead.
        static KeyringThread* instance = new KeyringThread;
        return *instance;
    }

    JobOutcome Run(std::function<QKeychain::Job*()> makeJob) {
        auto promise = std::make_shared<std::promise<JobOutcome>>();
        std::future<JobOutcome> outcome = promise->get_future();
        if (stopped_.load(std::memory_order_acquire))
            throw ESecretStoreError("Der Schlüsselbund ist nicht mehr erreichbar: das Programm wird beendet.");
        QMetaObject::invokeMethod(
            context_,
            [makeJob, promise] {
                QKeychain::Job* job = makeJob();
                QObject::connect(job, &QKeychain::Job::finished, job, [promise](QKeychain::Job* done) {
                    JobOutcome result{done->error(), done->errorString().toStdString(), {}};
                    if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(done))
                        result.data = read->binaryData().toStdString();
                    promise->set_value(std::move(result));
                });
                job->start();  // deletes itself after finished
            },
            Qt::QueuedConnection);
        if (outcome.wait_for(SecretStore::kKeyringTimeout) != std::future_status::ready)
            throw ESecretStoreError("Der Schlüsselbund hat nicht innerhalb von " +
                                    std::to_string(SecretStore::kKeyringTimeout.count()) +
                                    " Sekunden geantwortet.");
        return outcome.get();
    }

private:
    KeyringThread() {
        thread_.setObjectName("Schlüsselbund");
        context_ = new QObject;
        context_->moveToThread(&thread_);
        thread_.start();
        if (QCoreApplication::instance() != nullptr) qAddPostRoutine(&KeyringThread::Stop);
    }

    static void Stop() {
        KeyringThread& self = Instance();
        self.stopped_.store(true, std::memory_order_release);
        self.thread_.quit();
        self.thread_.wait();
    }

    QThread thread_;
    QObject* context_ = nullptr;
    std::atomic<bool> stopped_{false};
};

QString Key(const std::string& key) { return QString::fromStdString(key); }

// The keyring services QtKeychain talks to on Linux: the Secret Service (GNOME Keyring, KeePassXC, ...)
// and KDE's wallet.
const char* const kKeyringServices[] = {"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"};

// The session bus has a keyring service, running or to be started on demand.
bool KeyringServiceOnBus() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) return false;
    const QStringList startable = bus.interface()->activatableServiceNames().value();
    for (const char* name : kKeyringServices)
        if (bus.interface()->isServiceRegistered(name).value() || startable.contains(name)) return true;
    return false;
}

// What a keyring job's outcome means for the store; any failure other than a missing keyring is thrown.
enum class Answer { Done, NotFound, NoKeyring };

// `action` says when it happened: "beim Speichern der Anmeldedaten".
Answer Judge(const JobOutcome& outcome, const char* action) {
    switch (outcome.error) {
    case QKeychain::NoError:
        return Answer::Done;
    case QKeychain::EntryNotFound:
        return Answer::NotFound;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return Answer::NoKeyring;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        throw ESecretStoreError(std::string("Der Schlüsselbund hat ") + action + " den Zugriff verweigert: " +
                                ShownServerText(outcome.errorText));
    default:
        // QtKeychain reports no session bus and no keyring service on it as "other error", just like
        // a keyring that failed, crashed or did not answer; only the bus can tell them apart. A keyring
        // that is there but fails must not send the secrets to the file behind the user's back.
        if (outcome.error == QKeychain::OtherError && !KeyringServiceOnBus()) return Answer::NoKeyring;
        throw ESecretStoreError(std::string("Der Schlüsselbund hat ") + action +
                                " nicht rechtzeitig geantwortet oder einen Fehler gemeldet: " +
                                ShownServerText(outcome.errorText));
    }
}

// ---- The fallback file ----

constexpr const char* kFileHeader = "# Postira: Anmeldedaten, nur für Sie lesbar. Nicht weitergeben.\r\n";

bool NeedsEscape(unsigned char c) { return c <= 0x20 || c >= 0x7f || c == '=' || c == '%' || c == '#'; }

std::string Escape(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!NeedsEscape(c)) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::string FormatSecrets(const std::map<std::string, std::string>& secrets) {
    std::string text = kFileHeader;
    for (const auto& [key, value] : secrets) text += Escape(key) + "=" + Escape(value) + "\r\n";
    return text;
}

std::map<std::string, std::string> ParseSecrets(std::string_view text) {
    std::map<std::string, std::string> secrets;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string_view::npos) continue;
        auto key = Unescape(line.substr(0, equals));
        auto value = Unescape(line.substr(equals + 1));
        if (key && value && !key->empty()) secrets[*key] = *value;
    }
    return secrets;
}

// One lock for the file of every store of the process: a read-modify-write of one must not overlap
// another's.
std::mutex& FileMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, std::string> LoadSecretFile(const std::string& path) {
    if (!PathExists(path)) return {};
    // Any other failure to read is thrown: writing over a file that could not be read would lose the
    // secrets in it.
    return ParseSecrets(ReadWholeFile(path));
}

}  // namespace

SecretStore::SecretStore(std::string dataFolder, Keyring keyring)
    : dataFolder_(std::move(dataFolder)), keyring_(keyring) {
    if (!dataFolder_.empty() && dataFolder_.back() != '/') dataFolder_ += '/';
    filePath_ = DataFilePath(dataFolder_, kFileName);
}

bool SecretStore::KeyringMissing() const {
    std::lock_guard lock(mutex_);
    return keyring_ == Keyring::FileOnly || keyringMissing_;
}

void SecretStore::MarkKeyringMissing() {
    std::lock_guard lock(mutex_);
    keyringMissing_ = true;
}

bool SecretStore::UsesFile() const { return KeyringMissing(); }

std::string SecretStore::FileNote() const {
    return "Kein Schlüsselbund erreichbar: Die Anmeldedaten werden in " + filePath_ +
           " gespeichert, nur für Sie lesbar.";
}

std::optional<std::string> SecretStore::Read(const std::string& key) {
    if (!KeyringMissing()) {
        const JobOutcome outcome = KeyringThread::Instance().Run([key] {
            auto* job = new QKeychain::ReadPasswordJob(kServiceName);
            job->setInsecureFallback(false);
            job->setKey(Key(key));
            return job;
        });
        const Answer answer = Judge(outcome, "beim Lesen der Anmeldedaten");
        if (answer == Answer::Done) return outcome.data;
        if (answer == Answer::NoKeyring) MarkKeyringMissing();
        // Not in the keyring: perhaps stored in the file while there was no keyring.
    }
    return ReadFromFile(key);
}

void SecretStore::Write(const std::string& key, const std::string& value) {
    if (!KeyringMissing()) {
        const JobOutcome outcome = KeyringThread::Instance().Run([key, value] {
            auto* job = new QKeychain::WritePasswordJob(kServiceName);
            job->setInsecureFallback(false);
            job->setKey(Key(key));
            job->setBinaryData(QByteArray::fromStdString(value));
            return job;
        });
        const Answer answer = Judge(outcome, "beim Speichern der Anmeldedaten");
        if (answer == Answer::NotFound)
            throw ESecretStoreError("Der Schlüsselbund hat beim Speichern der Anmeldedaten einen Fehler gemeldet: " +
                                    ShownServerText(outcome.errorText));
        if (answer == Answer::Done) {
            // The keyring has it now; an older copy in the file must not outlive it. The secret is
            // stored either way, so a file that cannot be cleaned does not turn this into a failure;
            // reads ask the keyring first.
            try {
                if (ReadFromFile(key)) WriteToFile(key, std::nullopt);
            } catch (const EFileError&) {
            }
            return;
        }
        MarkKeyringMissing();
    }
    WriteToFile(key, value);
}

void SecretStore::Remove(const std::string& key) {
    if (!KeyringMissing()) {
        const JobOutcome outcome = KeyringThread::Instance().Run([key] {
            auto* job = new QKeychain::DeletePasswordJob(kServiceName);
            job->setInsecureFallback(false);
            job->setKey(Key(key));
            return job;
        });
        if (Judge(outcome, "beim Löschen der Anmeldedaten") == Answer::NoKeyring) MarkKeyringMissing();
    }
    if (ReadFromFile(key)) WriteToFile(key, std::nullopt);
}

std::optional<std::string> SecretStore::ReadFromFile(const std::string& key) {
    std::lock_guard lock(FileMutex());
    const auto secrets = LoadSecretFile(filePath_);
    const auto found = secrets.find(key);
    if (found == secrets.end()) return std::nullopt;
    return found->second;
}

void SecretStore::WriteToFile(const std::string& key, const std::optional<std::string>& value) {
    std::lock_guard lock(FileMutex());
    auto secrets = LoadSecretFile(filePath_);
    if (value)
        secrets[key] = *value;
    else
        secrets.erase(key);
    CreateDataFolder(dataFolder_);
    // Mode 0600 also for a file that exists already: a copied or restored file may be readable by others.
    WriteFileAtomic(filePath_, FormatSecrets(secrets), 0600, true);
}
