#pragma once
// A scratch folder for file tests, and what the tests look at in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>

namespace zelvo::test {

namespace fs = std::filesystem;

inline std::string ReadAll(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), {}};
}
inline void WriteAll(const fs::path& P, const std::string& Bytes, mode_t Mode) {
    { std::ofstream(P, std::ios::binary | std::ios::trunc) << Bytes; }
    ASSERT_EQ(::chmod(P.c_str(), Mode), 0) << P;
}
// Makes P look as if it had been written Seconds ago.
inline void Age(const fs::path& P, int Seconds) {
    timeval Now;
    ::gettimeofday(&Now, nullptr);
    const timeval Then[2] = {{Now.tv_sec - Seconds, 0}, {Now.tv_sec - Seconds, 0}};
    ASSERT_EQ(::lutimes(P.c_str(), Then), 0) << P;
}
inline mode_t DefaultMode() {
    const mode_t Mask = ::umask(0);
    ::umask(Mask);
    return 0666 & ~Mask;
}

class TFilesFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::string Pattern = (fs::temp_directory_path() / "zelvo-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(Pattern.data()), nullptr);
        Dir = Pattern;
    }
    void TearDown() override {
        // a read-only folder inside would stop the removal
        for (auto It = fs::recursive_directory_iterator(Dir, Ec); !Ec && It != fs::recursive_directory_iterator();
             It.increment(Ec))
            if (It->is_directory(Ec) && !It->is_symlink(Ec))
                fs::permissions(It->path(), fs::perms::owner_all, fs::perm_options::add, Ec);
        fs::remove_all(Dir, Ec);
    }

    // Every entry below Dir, hidden ones included, links not followed.
    std::set<std::string> Entries() const {
        std::set<std::string> Names;
        for (const auto& E : fs::recursive_directory_iterator(Dir))
            Names.insert(E.path().lexically_relative(Dir).string());
        return Names;
    }

    fs::path Dir;
    std::error_code Ec;
};

} // namespace zelvo::test
