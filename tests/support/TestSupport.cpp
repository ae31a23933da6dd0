#include "support/TestSupport.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace testsupport {

namespace {

// A safety net under every test binary: TAVRIO_HOME points at a scratch folder for the whole
// run, so a test that forgets its own TempHome still cannot touch the user's real data. The
// per-user runtime folder (device configuration locks) is a scratch one too: tests run in
// parallel processes and must not see each other's locks as another application's.
class ScratchHome : public ::testing::Environment {
public:
    void SetUp() override {
        dir_ = std::make_unique<TempDir>();
        setenv("TAVRIO_HOME", dir_->str().c_str(), 1);
        const std::filesystem::path runtime = dir_->path() / "runtime";
        std::filesystem::create_directory(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TAVRIO_HOME");
        dir_.reset();
    }

private:
    std::unique_ptr<TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const scratchHome = ::testing::AddGlobalTestEnvironment(new ScratchHome);

}  // namespace

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tavrio-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) {
        hadOld_ = true;
        old_ = old;
    }
    setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::filesystem::path sharedMedia(const std::string& name) {
    std::filesystem::path p = std::filesystem::path(TAVRIO_SHARED_MEDIA) / name;
    return std::filesystem::exists(p) ? p : std::filesystem::path();
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& p, const std::string& contents) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

namespace {

bool onPrivateBus(const std::string& testName, bool asSystemBus) {
    if (std::getenv("TAVRIO_TEST_PRIVATE_BUS")) return true;
    const std::string test = "/proc/" + std::to_string(getpid()) + "/exe --gtest_filter=" + testName;
    const std::string inside =
        asSystemBus ? "sh -c " + quote("DBUS_SYSTEM_BUS_ADDRESS=\"$DBUS_SESSION_BUS_ADDRESS\" exec " + test) : test;
    std::string out;
    const int status = run("TAVRIO_TEST_PRIVATE_BUS=1 dbus-run-session -- " + inside + " 2>&1", &out);
    EXPECT_EQ(status, 0) << out;
    return false;
}

}  // namespace

bool onPrivateSessionBus(const std::string& testName) {
    return onPrivateBus(testName, false);
}

bool onPrivateSystemBus(const std::string& testName) {
    return onPrivateBus(testName, true);
}

int run(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::array<char, 4096> buf;
    size_t n;
    std::string out;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
    int status = pclose(pipe);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testsupport
