// The helper on its own: what the sweep removes and spares, and failures that
// must leave neither a changed target nor a temporary file, with unnamed and
// with named temporaries.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "files/file_replacement.h"
#include "files_fixture.h"
#include "tests/support/file_size_limit.h"

namespace zelvo::test {
namespace {

class TReplacement : public TFilesFixture, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        TFilesFixture::SetUp();
        TFileReplacement::UseNamedTemporaries(GetParam());
    }
    void TearDown() override {
        TFileReplacement::UseNamedTemporaries(false);
        TFilesFixture::TearDown();
    }

    bool Replace(const fs::path& Target, const std::string& Bytes) {
        TFileReplacement F(Target.string());
        return F.Write(Bytes.data(), Bytes.size()) && F.Commit();
    }
};

TEST_P(TReplacement, TheSweepRemovesOnlyStaleUnlockedTemporariesOfTheExactPattern) {
    const struct {
        const char* Name;
        int Age;  // seconds
        bool Removed;
    } Cases[] = {
        {".tone.wav.0123abcd.part", 120, true},
        {".other name.zvo.ffffffff.part", 61 + 5, true},  // any target of the folder
        {".Zelvo.ini.00000000.part", 3600, true},
        {".tone.wav.0123abce.part", 30, false},           // young: may be a live writer's
        {".tone.wav.0123ABCD.part", 120, false},          // capital hex: not ours
        {".tone.wav.0123abc.part", 120, false},           // seven digits
        {"tone.wav.0123abcd.part", 120, false},           // no leading dot
        {".tone.wav.0123abcd.partial", 120, false},
        {"..0123abcd.part", 120, false},                  // no name in it
        {"Zelvo.ini.AbC123", 120, false},                 // another library's pattern
        {".tone.wav.0123abcd", 120, false},
    };
    for (const auto& C : Cases) {
        WriteAll(Dir / C.Name, "debris", 0644);
        Age(Dir / C.Name, C.Age);
    }
    // a stale name held by a live writer, a folder and a link of the pattern
    const fs::path Held = Dir / ".held.wav.12345678.part";
    WriteAll(Held, "live", 0644);
    Age(Held, 120);
    const int HeldFd = ::open(Held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(HeldFd, 0);
    ASSERT_EQ(::flock(HeldFd, LOCK_EX), 0);
    fs::create_directory(Dir / ".folder.wav.12345678.part");
    fs::create_symlink("tone.wav", Dir / ".link.wav.12345678.part");
    Age(Dir / ".folder.wav.12345678.part", 120);
    Age(Dir / ".link.wav.12345678.part", 120);

    ASSERT_TRUE(Replace(Dir / "tone.wav", "new"));
    ::close(HeldFd);

    for (const auto& C : Cases)
        EXPECT_EQ(fs::exists(fs::symlink_status(Dir / C.Name)), !C.Removed) << C.Name;
    EXPECT_TRUE(fs::exists(Held));
    EXPECT_TRUE(fs::is_directory(Dir / ".folder.wav.12345678.part"));
    EXPECT_TRUE(fs::is_symlink(Dir / ".link.wav.12345678.part"));
    EXPECT_EQ(ReadAll(Dir / "tone.wav"), "new");
}

TEST_P(TReplacement, AFailurePartWayOrADiscardLeavesTheTargetAndNoTemporary) {
    const fs::path Target = Dir / "kept.zvo";
    WriteAll(Target, "previous content", 0640);

    {
        const TFileSizeLimit Limit(4096);
        ASSERT_TRUE(Limit.Ok());
        EXPECT_FALSE(Replace(Target, std::string(10000, 'x')));
    }

    {
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("abandoned", 9));
        EXPECT_EQ(Entries().size(), GetParam() ? 2u : 1u) << "a named temporary only where asked for";
        F.Discard();
        EXPECT_FALSE(F.Ok());
        EXPECT_FALSE(F.Commit());
    }
    {
        TFileReplacement F(Target.string());
        ASSERT_TRUE(F.Write("dropped by the destructor", 25));
    }
    EXPECT_EQ(ReadAll(Target), "previous content");
    EXPECT_EQ(Entries(), std::set<std::string>{"kept.zvo"});
}

TEST_P(TReplacement, ALongNameStillGetsATemporaryOfThePattern) {
    const fs::path Target = Dir / std::string(250, 'n');
    ASSERT_TRUE(Replace(Target, "first"));
    ASSERT_TRUE(Replace(Target, "second"));
    EXPECT_EQ(ReadAll(Target), "second");
    EXPECT_EQ(Entries().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Temporaries, TReplacement, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& I) { return I.param ? "Named" : "Unnamed"; });

} // namespace
} // namespace zelvo::test
