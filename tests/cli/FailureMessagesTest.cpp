// What the command line says when a transfer fails: the message as it always was, then a line
// naming the file and the reason; and the disk left as a failed run leaves it. The commands
// run in-process so that a full disk, a read-only folder or Ctrl+C can be made to happen.
#include "cli/Cli.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace testsupport;
namespace fs = std::filesystem;
using platform::FileOp;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs a command as trackhaul-cli's main does, errors that leave it included.
Result RunInProcess(int (*command)(const cli::Args&), const cli::Args& args) {
    Result r;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    try {
        r.status = command(args);
    } catch (const cli::UsageError& e) {
        std::cerr << e.what() << "\n";
        r.status = 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        r.status = 3;
    }
    std::cout.flush();
    r.out = ::testing::internal::GetCapturedStdout();
    r.err = ::testing::internal::GetCapturedStderr();
    return r;
}

#ifndef _WIN32
// Questions answered on a terminal, as a user typing `answers` would.
class TypedAnswers {
public:
    explicit TypedAnswers(const std::string& answers) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        terminal_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
        if (terminal_ < 0 || ::write(master_, answers.data(), answers.size()) < 0)
            return;
        saved_ = ::dup(STDIN_FILENO);
        ::dup2(terminal_, STDIN_FILENO);
    }
    ~TypedAnswers() {
        if (saved_ >= 0) {
            ::dup2(saved_, STDIN_FILENO);
            ::close(saved_);
        }
        for (int fd : {terminal_, master_})
            if (fd >= 0)
                ::close(fd);
        std::cin.clear();
    }
    TypedAnswers(const TypedAnswers&) = delete;
    TypedAnswers& operator=(const TypedAnswers&) = delete;

private:
    int master_ = -1, terminal_ = -1, saved_ = -1;
};
#endif

// Windows names a file as it was asked for, not as it is stored: compare ignoring case there.
std::string InSystemCase(std::string text) {
#ifdef _WIN32
    for (char& ch : text)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
#endif
    return text;
}

std::map<std::string, std::string> Snap(const fs::path& root) {
    std::map<std::string, std::string> s;
    for (const auto& e : fs::recursive_directory_iterator(root))
        s[fs::relative(e.path(), root).string()] =
            e.is_regular_file() ? ReadFile(e.path()) : std::string("<dir>");
    return s;
}

const std::string kTc = "00|00|00.00|0000";

enum class Direction { Import, Export };

class Failures;

// One cause of failure and what the user must be told about it.
struct Cause {
    const char* name;
    Direction direction;
    std::function<void(Failures&)> setup;
    // Makes the cause happen while the command runs (a fault, a key press); may be empty.
    std::function<std::unique_ptr<FailOn>(Failures&)> during;
    std::string typed;   // answers on a terminal; empty: --yes
    int status;          // exit status
    std::string message; // the first line, the message as it always was ("" for none)
    std::function<fs::path(Failures&)> file; // the file the second line names
    std::string reason;
};

void PrintTo(const Cause& c, std::ostream* os) {
    *os << c.name;
}

class Failures : public ::testing::TestWithParam<Cause> {
protected:
    TempDir card, out, pc;
    MappedDrive drive{"E:", card.path()};
    fs::path song = card / "SONG01";
    std::string take = Pattern(3 * 65536 + 100, 1);

    void SetUp() override {
        fs::create_directories(song);
        WriteFile(song / "zt60001.wav", MakeWav(take));
        WriteFile(song / "SONG01.ADL",
                  AdlText(44100, kTc,
                          {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00|00|02.00|0000"),
                           EventLine(2, 2, "ZT60001.WAV", kTc, kTc, "00|00|00.00|0100")}));
        WriteFile(pc / "tr01.wav", MakeWav(Pattern(3 * 65536 + 10, 2)));
    }

    cli::Args Args(const Cause& c) const {
        cli::Args a;
        if (c.direction == Direction::Import)
            a = {"--drive", "E:", "--song", "SONG01", "--to", out.path().string()};
        else
            a = {"--from", pc.path().string(), "--drive", "E:", "--song", "SONG01"};
        for (const char* more : {"--tracks", "1"})
            a.push_back(more);
        if (c.typed.empty())
            a.insert(a.end(), {"--yes", "--quiet"});
        return a;
    }

public:
    fs::path Song() const { return song; }
    fs::path Out() const { return out.path(); }
    fs::path Pc() const { return pc.path(); }
};

TEST_P(Failures, MessageThenFileAndReasonAndNothingElseChanges) {
    const Cause& c = GetParam();
    if (c.setup)
        c.setup(*this);
    const auto cardBefore = Snap(card.path());
    const auto outBefore = Snap(out.path());
    const auto pcBefore = Snap(pc.path());

    Result r;
    {
        std::unique_ptr<FailOn> fault = c.during ? c.during(*this) : nullptr;
#ifdef _WIN32
        if (!c.typed.empty())
            GTEST_SKIP() << "answers are typed on a POSIX pseudo-terminal";
        if (std::string(c.name) == "ImportCtrlC")
            GTEST_SKIP() << "a raised SIGINT ends the process on Windows";
#else
        std::unique_ptr<TypedAnswers> typed =
            c.typed.empty() ? nullptr : std::make_unique<TypedAnswers>(c.typed);
#endif
        r = RunInProcess(c.direction == Direction::Import ? cli::CmdImport : cli::CmdExport,
                         Args(c));
    }

    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    const std::string detail =
        c.file ? c.file(*this).string() + ": " + c.reason + "\n" : c.reason + "\n";
    const std::string expected = c.message.empty() ? detail : c.message + "\n" + detail;
    if (c.typed.empty()) // --quiet: the error alone
        EXPECT_EQ(InSystemCase(r.err), InSystemCase(expected));
    else
        EXPECT_TRUE(r.err.size() >= expected.size() &&
                    r.err.compare(r.err.size() - expected.size(), expected.size(), expected) == 0)
            << r.err;
    EXPECT_EQ(Snap(card.path()), cardBefore);
    EXPECT_EQ(Snap(out.path()), outBefore);
    EXPECT_EQ(Snap(pc.path()), pcBefore);
}

std::unique_ptr<FailOn> Fail(FileOp op, const std::string& part, int error) {
    return std::make_unique<FailOn>(op, part, error);
}

const Cause kCauses[] = {
    // --- Import -----------------------------------------------------------------------------
    {"ImportDiskFull", Direction::Import, nullptr,
     [](Failures&) { return Fail(FileOp::Write, "tr01", ENOSPC); }, "", 1, "Copy failed!",
     [](Failures& f) { return f.Out() / "tr01.wav"; }, "No space left on device"},
    {"ImportReadOnlyFolder", Direction::Import, nullptr,
     [](Failures&) { return Fail(FileOp::Open, "tr01", EACCES); }, "", 1, "Copy failed!",
     [](Failures& f) { return f.Out() / "tr01.wav"; }, "Permission denied"},
    {"ImportMissingSource", Direction::Import,
     [](Failures& f) { fs::remove(f.Song() / "zt60001.wav"); }, nullptr, "", 1, "Copy failed!",
     [](Failures& f) { return f.Song() / "ZT60001.WAV"; }, "No such file or directory"},
    {"ImportSourceNotWave", Direction::Import,
     [](Failures& f) { WriteFile(f.Song() / "zt60001.wav", "not audio"); }, nullptr, "", 1,
     "Copy failed!", [](Failures& f) { return f.Song() / "zt60001.wav"; }, "Not a WAV file"},
    {"ImportOverwriteDeclined", Direction::Import,
     [](Failures& f) { WriteFile(f.Out() / "tr01.wav", "old take"); }, nullptr, "y\nn\n", 1,
     "Copy failed!", [](Failures& f) { return f.Out() / "tr01.wav"; },
     "Not replaced: the overwrite was declined"},
    {"ImportCtrlC", Direction::Import, nullptr,
     [](Failures&) {
         return std::make_unique<FailOn>(FileOp::Write, "tr01", 0, [] { std::raise(SIGINT); });
     },
     "", 1, "Copy failed!", [](Failures& f) { return f.Out() / "tr01.wav"; }, "Cancelled"},
    {"ImportDamagedListLine", Direction::Import,
     [](Failures& f) {
         WriteFile(f.Song() / "SONG01.ADL",
                   AdlText(44100, kTc,
                           {EventLine(1, 1, "ZT60001.WAV", kTc, kTc, "00|00|02.00|0000"), ""}));
     },
     nullptr, "", 3, "", nullptr, "SONG01.ADL, line 14: '' is not a valid integer value"},
    // --- Export -----------------------------------------------------------------------------
    {"ExportDiskFull", Direction::Export, nullptr,
     [](Failures&) { return Fail(FileOp::Write, "SONG01", ENOSPC); }, "", 1, "Copy failed!",
     [](Failures& f) { return f.Song() / "zt60002.wav"; }, "No space left on device"},
    {"ExportReadOnlyFolder", Direction::Export, nullptr,
     [](Failures&) { return Fail(FileOp::Open, "\\zt6", EACCES); }, "", 1, "Copy failed!",
     [](Failures& f) { return f.Song() / "zt60002.wav"; }, "Permission denied"},
    {"ExportMissingSource", Direction::Export, nullptr,
     [](Failures&) { return Fail(FileOp::Open, "tr01.wav", ENOENT); }, "", 1, "",
     [](Failures& f) { return f.Pc() / "tr01.wav"; }, "No such file or directory"},
    {"ExportShortSource", Direction::Export,
     [](Failures& f) {
         const std::string wav = ReadFile(f.Pc() / "tr01.wav");
         WriteFile(f.Pc() / "tr01.wav", wav.substr(0, wav.size() - 100));
     },
     nullptr, "", 1, "", [](Failures& f) { return f.Pc() / "tr01.wav"; },
     "The file ends before its audio does"},
    {"ExportDamagedListLine", Direction::Export,
     [](Failures& f) {
         std::string adl = ReadFile(f.Song() / "SONG01.ADL");
         adl.replace(adl.find("</EVENT_LIST>"), 13, "</EVENT_LIS");
         WriteFile(f.Song() / "SONG01.ADL", adl);
     },
     nullptr, "", 1, "Error!", [](Failures& f) { return f.Song() / "SONG01.ADL"; },
     "The edit list does not end with </EVENT_LIST> and </ADL>"},
};

INSTANTIATE_TEST_SUITE_P(Causes, Failures, ::testing::ValuesIn(kCauses),
                         [](const auto& info) { return std::string(info.param.name); });

// Without --quiet the questions and "Complete!" show; --verbose adds each file as it is
// written; --quiet leaves nothing for a run that went through.
TEST(Verbosity, QuietAndVerbose) {
    TempDir card, out;
    MappedDrive drive{"E:", card.path()};
    fs::create_directories(card / "SONG01");
    WriteFile(card / "SONG01" / "zt60001.wav", MakeWav(Pattern(1000, 1)));
    WriteFile(card / "SONG01" / "SONG01.ADL",
              AdlText(44100, kTc, {EventLine(1, 2, "ZT60001.WAV", kTc, kTc, "00|00|00.00|0200")}));
    const cli::Args args = {"--drive",           "E:",   "--song", "SONG01", "--to",
                            out.path().string(), "--yes"};
    const std::string written = "Written: " + (out / "tr02.wav").string() + "\n";

    Result r = RunInProcess(cli::CmdImport, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Complete!\n");
    EXPECT_NE(r.err.find("ZT-6 to PC\n"), std::string::npos);
    EXPECT_EQ(r.err.find("Written:"), std::string::npos);

    cli::Args verbose = args;
    verbose.push_back("--verbose");
    r = RunInProcess(cli::CmdImport, verbose);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Complete!\n");
    EXPECT_NE(r.err.find(written), std::string::npos) << r.err;

    cli::Args quiet = args;
    quiet.push_back("--quiet");
    r = RunInProcess(cli::CmdImport, quiet);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    quiet.push_back("--verbose");
    EXPECT_EQ(RunInProcess(cli::CmdImport, quiet).status, 2);
}

} // namespace
