// tessary-replay on recorded traces changed on purpose: a changed order of two reads shows as
// the exact divergence, and a file it cannot use as one line naming the trace line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kFixtures = TESSARY_REPLAY_FIXTURES;

struct Replayed {
    int status = -1;
    std::string out;
    std::string err;
};

std::string contentOf(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

Replayed replay(const std::vector<std::string>& arguments) {
    const std::string directory = std::filesystem::temp_directory_path() / ("tessary-replay-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(directory);
    const std::string out = directory + "/out";
    const std::string err = directory + "/err";
    std::vector<std::string> argv{TESSARY_REPLAY};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    Replayed replayed;
    if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        replayed.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    replayed.out = contentOf(out);
    replayed.err = contentOf(err);
    std::filesystem::remove_all(directory);
    return replayed;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// A line from its event name on: what the report quotes of a recorded event.
std::string eventText(const std::string& line) {
    const std::size_t first = line.find(' ');
    return line.substr(line.find(' ', first + 1) + 1);
}

std::string scratchFile(const std::string& name, const std::string& text) {
    const std::string path = std::filesystem::temp_directory_path() / ("tessary-" + std::to_string(getpid()) + "-" + name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

TEST(Replay, AChangedOrderOfTwoReadsIsTheExactDivergence) {
    std::vector<std::string> lines = linesOf(contentOf(kFixtures + "/complete-exchange.trace"));
    // The row's position and size, read one after the other: swapped, the run asks for the
    // position where the recording holds the size.
    std::size_t position = 0;
    while (position < lines.size() && lines[position].find("attribute=\"AXPosition\"") == std::string::npos) ++position;
    ASSERT_LT(position + 1, lines.size());
    ASSERT_NE(lines[position + 1].find("attribute=\"AXSize\""), std::string::npos);
    std::swap(lines[position], lines[position + 1]);
    const std::string path = scratchFile("swapped.trace", joined(lines));
    const Replayed replayed = replay({path});
    std::filesystem::remove(path);

    const std::string recorded = eventText(lines[position]);
    const std::string asked = recorded.substr(0, recorded.find(" code=")).replace(recorded.find("AXSize"), 6, "AXPosition");
    const std::string pid = lines[0].substr(lines[0].find(' ') + 1, lines[0].find(' ', lines[0].find(' ') + 1) - lines[0].find(' ') - 1);
    std::string resultPath;
    {
        const std::string start = lines[0];
        const std::size_t last = start.rfind(" arg=\"");
        resultPath = start.substr(last + 6, start.size() - last - 7);
    }
    EXPECT_EQ(replayed.status, 1);
    EXPECT_EQ(replayed.err, "");
    EXPECT_EQ(replayed.out, "run " + pid + ": line " + std::to_string(position + 1) + ": recorded " + recorded + ", asked " +
                                asked + "; recorded status 0, printed \"" + resultPath + "\\n\", the replay stopped there\n");
}

TEST(Replay, AFileItCannotUseIsOneLineNamingTheTraceLine) {
    const std::vector<std::string> lines = linesOf(contentOf(kFixtures + "/not-running.trace"));
    ASSERT_GE(lines.size(), 3u);
    struct Case {
        const char* what;
        std::string text;
        std::string err;
    };
    std::vector<std::string> oldVersion = lines;
    oldVersion[0].replace(oldVersion[0].find("version=2"), 9, "version=1");
    std::vector<std::string> newerVersion = lines;
    newerVersion[0].replace(newerVersion[0].find("version=2"), 9, "version=4");
    std::vector<std::string> broken = lines;
    broken[2] = broken[2] + " key=\"unclosed";
    std::vector<std::string> cut(lines.begin(), lines.end() - 1);
    const Case cases[] = {
        {"a line that cannot be read", joined(broken),
         "tessary-replay: trace line 3: a quoted text without its closing quotation mark\n"},
        {"the last line without its line break", joined(lines).substr(0, joined(lines).size() - 1),
         "tessary-replay: trace line " + std::to_string(lines.size()) + ": it has no line break (a run cut short?)\n"},
        {"a version it does not know", joined(oldVersion),
         "tessary-replay: trace line 1: format version 1, this replay reads versions 2 to 3\n"},
        {"a version after its own", joined(newerVersion),
         "tessary-replay: trace line 1: format version 4, this replay reads versions 2 to 3\n"},
        {"a run without its end", joined(cut),
         "tessary-replay: trace line " + std::to_string(lines.size() - 1) + ": run " +
             lines[0].substr(lines[0].find(' ') + 1, lines[0].find(' ', lines[0].find(' ') + 1) - lines[0].find(' ') - 1) +
             " has no end (cut short by a kill?)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = scratchFile("unusable.trace", c.text);
        const Replayed replayed = replay({path});
        std::filesystem::remove(path);
        EXPECT_EQ(replayed.status, 2);
        EXPECT_EQ(replayed.out, "");
        EXPECT_EQ(replayed.err, c.err);
    }
}

// --text shows the text each run would have written; --quiet says nothing of runs that replay
// as recorded.
TEST(Replay, TextAndQuiet) {
    const Replayed shown = replay({"--text", kFixtures + "/complete-exchange.trace"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("\n  text \"TALVO_RELAY_BEGIN_replay-1\\nrelay answer for replay-1: Grüße, ✓ ok\\nTALVO_RELAY_END_replay-1\"\n"),
              std::string::npos)
        << shown.out;
    const Replayed quiet = replay({"--quiet", kFixtures + "/two-runs.trace"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
}

}  // namespace
