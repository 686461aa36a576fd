// The secrets in the fallback file, in the fallback when no keyring answers, and in a real Secret
// Service when the session bus has one.

#include "signin/secret_store.h"

#include "tests/support/temp_dir.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// Bytes that the file's escapes must carry: its separators, a line break, a non-ASCII letter.
const std::string kAwkwardSecret = "pa=ss%#\r\nwört ende";

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

ino_t InodeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

size_t FilesIn(const std::string& folder) {
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
}

}  // namespace

TEST(SecretStore, TheFileKeepsEachSecretByteForTheUserAloneAndIsReplacedWhole) {
    TempDir dir;
    const std::string path = dir.File(SecretStore::kFileName);
    // A file from earlier, readable by others (restored from a backup, say).
    dir.Write(SecretStore::kFileName, "password:alt@example.org=alt\r\n");
    ::chmod(path.c_str(), 0644);
    const ino_t before = InodeOf(path);

    SecretStore store(dir.Path(), SecretStore::Keyring::FileOnly);
    store.Write("refresh-token:a@example.org", kAwkwardSecret);
    EXPECT_TRUE(store.UsesFile());
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_NE(InodeOf(path), before);  // a new file renamed over the old one, never rewritten in place
    EXPECT_EQ(FilesIn(dir.Path()), 1u);

    SecretStore reopened(dir.Path(), SecretStore::Keyring::FileOnly);
    EXPECT_EQ(reopened.Read("refresh-token:a@example.org"), kAwkwardSecret);
    EXPECT_EQ(reopened.Read("password:alt@example.org"), "alt");
    reopened.Remove("refresh-token:a@example.org");
    EXPECT_EQ(store.Read("refresh-token:a@example.org"), std::nullopt);
    EXPECT_EQ(store.Read("password:alt@example.org"), "alt");
}

// The test runs again in a child process, whatever bus the test program itself has: with the session bus
// cut off, on a bus of its own (dbus-run-session) without a keyring service, and on one whose keyring
// service dies whenever the bus starts it, which is a keyring that fails, not a missing one.
TEST(SecretStore, OnlyWithoutAKeyringTheSecretsGoToTheFileAndTheUserIsTold) {
    if (qEnvironmentVariableIsEmpty("POSTIRA_TEST_NO_KEYRING")) {
        const bool ownBus = !QStandardPaths::findExecutable("dbus-run-session").isEmpty();
        for (const int bus : {0, 1, 2}) {
            if (bus > 0 && !ownBus) continue;
            TempDir dir;
            dir.Write("org.freedesktop.secrets.service", "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=/bin/false\n");
            dir.Write("bus.conf", "<busconfig><listen>unix:tmpdir=/tmp</listen><policy context='default'><allow own='*'/>"
                                  "<allow send_destination='*'/><allow eavesdrop='true'/></policy>" +
                                      (bus == 2 ? "<servicedir>" + dir.Path() + "</servicedir>" : std::string()) + "</busconfig>");
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("POSTIRA_TEST_NO_KEYRING", QString::fromStdString(dir.Path()));
            environment.insert("POSTIRA_TEST_KEYRING_FAILS", bus == 2 ? "1" : "");
            if (bus == 0) environment.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromStdString("unix:path=" + dir.File("-")));
            QStringList command = {"dbus-run-session", QString::fromStdString("--config-file=" + dir.File("bus.conf")), "--",
                                   QCoreApplication::applicationFilePath(),
                                   "--gtest_filter=SecretStore.OnlyWithoutAKeyringTheSecretsGoToTheFileAndTheUserIsTold"};
            if (bus == 0) command = command.mid(3);
            QProcess child;
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(command.takeFirst(), command);
            ASSERT_TRUE(child.waitForFinished(150000));
            EXPECT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        }
        return;
    }
    const std::string folder = qEnvironmentVariable("POSTIRA_TEST_NO_KEYRING").toStdString();
    SecretStore store(folder);
    if (!qEnvironmentVariableIsEmpty("POSTIRA_TEST_KEYRING_FAILS")) {
        EXPECT_THROW(store.Write("password:a@example.org", kAwkwardSecret), ESecretStoreError);
        EXPECT_THROW(store.Read("password:a@example.org"), ESecretStoreError);
        EXPECT_FALSE(store.UsesFile());
        EXPECT_FALSE(std::filesystem::exists(store.FilePath()));
        return;
    }
    store.Write("password:a@example.org", kAwkwardSecret);
    EXPECT_TRUE(store.UsesFile());
    EXPECT_EQ(store.FileNote(), "Kein Schlüsselbund erreichbar: Die Anmeldedaten werden in " + folder +
                                    "/postira-geheim.ini gespeichert, nur für Sie lesbar.");
    EXPECT_EQ(ModeOf(store.FilePath()), 0600u);
    EXPECT_EQ(SecretStore(folder).Read("password:a@example.org"), kAwkwardSecret);
}

// Runs for real inside a D-Bus session with an unlocked keyring, e.g.
//   dbus-run-session -- bash -c 'echo -n postira | gnome-keyring-daemon --unlock --components=secrets;
//                                ./tests/signin_tests'
TEST(SecretStore, ARealSecretServiceKeepsTheSecretAcrossThreads) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    if (bus == nullptr || !bus->isServiceRegistered("org.freedesktop.secrets"))
        GTEST_SKIP() << "no Secret Service (org.freedesktop.secrets) on the session bus; run inside "
                        "dbus-run-session with an unlocked gnome-keyring-daemon";
    TempDir dir;
    SecretStore store(dir.Path());
    // A key of its own, so that a run on a desktop never touches the user's real entries.
    const std::string key = "refresh-token:test-" + std::to_string(::getpid()) + "@example.invalid";

    std::optional<std::string> readOnWorker;
    std::thread worker([&] {
        store.Write(key, kAwkwardSecret);
        readOnWorker = store.Read(key);
    });
    worker.join();
    EXPECT_EQ(readOnWorker, kAwkwardSecret);
    EXPECT_EQ(SecretStore(dir.Path()).Read(key), kAwkwardSecret);
    EXPECT_FALSE(store.UsesFile());
    EXPECT_FALSE(std::filesystem::exists(store.FilePath()));

    store.Remove(key);
    EXPECT_EQ(store.Read(key), std::nullopt);
}
