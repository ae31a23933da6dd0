#pragma once
// Helpers shared by the test binaries: plain C++ only, so every layer's tests can use them.

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh folder under the system temp folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for the object's lifetime, then restores the old value.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    bool hadOld_ = false;
    std::string old_;
};

// A TempDir that is also TAVRIO_HOME while it lives, so nothing touches the real home.
class TempHome {
public:
    // The desktop's data folder too, so that what the programs move to the Trash lands in
    // <home>/xdg-data/Trash and nowhere else.
    TempHome() : env_("TAVRIO_HOME", dir_.str()), data_("XDG_DATA_HOME", dir_.str() + "/xdg-data") {
        std::filesystem::create_directories(dir_.path() / "xdg-data");
    }
    const std::filesystem::path& path() const { return dir_.path(); }
    std::string str() const { return dir_.str(); }
    std::filesystem::path trash() const { return dir_.path() / "xdg-data" / "Trash"; }

private:
    TempDir dir_;
    ScopedEnv env_;
    ScopedEnv data_;
};

// A file of ../shared/media; empty when the folder is not beside the checkout.
std::filesystem::path sharedMedia(const std::string& name);

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& contents);

// Runs a shell command, returns its exit status and (optionally) its standard output.
int run(const std::string& command, std::string* output = nullptr);

// For a test that needs a session bus no desktop sees: true inside the run of the test on a
// private bus (dbus-run-session); outside it, runs the test there, reports its failure, and
// returns false.
bool onPrivateSessionBus(const std::string& testName);
// The same, with that private bus standing for the system bus as well (DBUS_SYSTEM_BUS_ADDRESS),
// for a test that plays a system service such as logind there.
bool onPrivateSystemBus(const std::string& testName);

// Quotes a word for that shell, so paths with spaces or quotes reach the command whole.
std::string quote(const std::string& s);

}  // namespace testsupport
