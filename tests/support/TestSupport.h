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

// A file of ../shared/media; empty when the folder is not beside the checkout.
std::filesystem::path sharedMedia(const std::string& name);

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& contents);

// Runs a shell command, returns its exit status and (optionally) its standard output.
int run(const std::string& command, std::string* output = nullptr);

}  // namespace testsupport
