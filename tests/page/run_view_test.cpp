// The page's reading of a run where the browser tests cannot reach: the activation's answer as
// a later format records it, trees that no walk would make (an element among its own children,
// a chain far deeper than any walk), the edges of the list's frame, polls without an answer, a
// step too long to list, and the page file written by the product's own atomic write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tessary-replay/run_page.h"
#include "tessary-replay/run_view.h"
#include "trace/reader.h"

namespace {

trace::RecordedLine lineOf(const std::string& text, std::size_t number) {
    std::string error;
    auto line = trace::readLine(text, error);
    EXPECT_TRUE(line.has_value()) << text << ": " << error;
    line->number = number;
    return *line;
}

std::vector<trace::RecordedLine> runOf(const std::vector<std::string>& texts) {
    std::vector<trace::RecordedLine> lines;
    for (const std::string& text : texts) lines.push_back(lineOf(text, lines.size() + 1));
    return lines;
}

const std::vector<std::string> kStart{
    R"(0.000 7 start version=2 argc=3 arg="tessary" arg="42" arg="/tmp/answer")",
    R"(0.100 7 run-lock held=yes took=0.010)",
    R"(0.200 7 trust trusted=yes took=0.010)",
    R"(0.300 7 applications bundle="com.corel.coreldrawsuite.2022.coreldraw" found=[1] took=0.010)",
    R"(0.400 7 process-id application=1 pid=99 took=0.000)",
    R"(0.500 7 application-element pid=99 element=#1 took=0.010)",
    R"(0.600 7 get element=#1 attribute="AXWindows" code=0 kind=list value=[] took=0.010)",
    R"(0.700 7 activate application=1 took=0.010)",
};

const page::Step* stepNamed(const page::RunView& view, const std::string& name) {
    for (const page::Step& step : view.steps) {
        if (step.name == name) return &step;
    }
    return nullptr;
}

TEST(RunView, ActivationShowsItsAnswerWhenTracedAndSaysWhenNot) {
    struct Case {
        const char* allowed;  // nullptr: the field is missing, as in version 2
        const char* shown;
    };
    for (const Case& c : {Case{"yes", "the answer: allowed"}, Case{"no", "the answer: refused"},
                          Case{"unknown", "the answer: cannot tell"}, Case{nullptr, "the answer: not recorded"}}) {
        std::vector<trace::RecordedLine> lines = runOf(kStart);
        if (c.allowed != nullptr) {
            // The activate line as the later format writes it: the answer before took=.
            auto& fields = lines.back().fields;
            fields.insert(fields.end() - 1, trace::Field{"allowed", c.allowed, false});
        }
        const page::RunView view = page::viewOf(lines);
        const page::Step* activation = stepNamed(view, "activation");
        ASSERT_NE(activation, nullptr) << (c.allowed ? c.allowed : "(none)");
        EXPECT_NE(activation->summary.find(c.shown), std::string::npos) << activation->summary;
        // Cut short after the activation: said on the last step.
        EXPECT_FALSE(view.ended);
        EXPECT_TRUE(view.steps.back().stopped);
        EXPECT_NE(view.steps.back().stopReading.find("without an end line"), std::string::npos);
    }
}

TEST(RunView, RepeatedReadsOfFrontmostAreOneStep) {
    std::vector<std::string> texts = kStart;
    double at = 1.0;
    for (const char* answer : {"no", "no", "no", "yes"}) {
        std::ostringstream get;
        get.setf(std::ios::fixed);
        get.precision(3);
        get << at << " 7 get element=#1 attribute=\"AXFrontmost\" code=0 kind=boolean value=" << answer << " took=0.100";
        texts.push_back(get.str());
        if (std::string(answer) == "no") {
            std::ostringstream sleep;
            sleep.setf(std::ios::fixed);
            sleep.precision(3);
            sleep << at + 0.1 << " 7 sleep us=100000 took=100.000";
            texts.push_back(sleep.str());
        }
        at += 100.1;
    }
    texts.push_back("302.400 7 end status=1 failure=\"TESSARY: CorelDRAW is not in front at the Scripts inspector\\n\"");
    const page::RunView view = page::viewOf(runOf(texts));
    const page::Step* frontmost = stepNamed(view, "frontmost");
    ASSERT_NE(frontmost, nullptr);
    EXPECT_EQ(frontmost->lines.size(), 7u);
    EXPECT_EQ(frontmost->summary, "4 readings, 0.3 s: CorelDRAW is in front");
    EXPECT_TRUE(frontmost->folded);
    EXPECT_TRUE(frontmost->stopped);
}

// Once CorelDRAW has said "no", the run counts a reading that cannot tell as "no": the summary
// says what the run took the last reading for, and only then.
TEST(RunView, AfterANoAReadingThatCannotTellIsShownAsTheNoItCountsFor) {
    struct Case {
        std::vector<const char*> answers;  // "yes", "no" or "absent" (code -25204, no value)
        const char* summaryEnd;
        bool countedAsNo;
    };
    const std::vector<Case> cases{
        {{"no", "absent"}, ": CorelDRAW is not in front", true},
        {{"no", "absent", "absent"}, ": CorelDRAW is not in front", true},
        {{"no", "absent", "yes"}, ": CorelDRAW is in front", false},
        {{"absent"}, "", false},
        {{"no", "no"}, ": CorelDRAW is not in front", false},
    };
    for (const Case& c : cases) {
        std::vector<std::string> texts = kStart;
        double at = 1.0;
        for (const char* answer : c.answers) {
            std::ostringstream get;
            get.setf(std::ios::fixed);
            get.precision(3);
            get << at << " 7 get element=#1 attribute=\"AXFrontmost\" "
                << (std::string(answer) == "absent" ? std::string("code=-25204 kind=absent")
                                                     : "code=0 kind=boolean value=" + std::string(answer))
                << " took=0.100";
            texts.push_back(get.str());
            std::ostringstream sleep;
            sleep.setf(std::ios::fixed);
            sleep.precision(3);
            sleep << at + 0.1 << " 7 sleep us=100000 took=100.000";
            texts.push_back(sleep.str());
            at += 100.1;
        }
        const page::RunView view = page::viewOf(runOf(texts));
        const page::Step* frontmost = stepNamed(view, "frontmost");
        ASSERT_NE(frontmost, nullptr);
        const std::string& summary = frontmost->summary;
        const std::string counted = "which after a no counts as no)";
        EXPECT_EQ(summary.find(counted) != std::string::npos, c.countedAsNo) << summary;
        const std::string end = c.countedAsNo ? summary.substr(0, summary.find(" (the last reading: ")) : summary;
        EXPECT_TRUE(end.ends_with(c.summaryEnd)) << summary;
        if (std::string(c.answers.back()) == "absent") {
            // The reading itself stays visible: it gave no answer.
            EXPECT_NE(summary.find("no answer ("), std::string::npos) << summary;
        }
    }
}

// Numbers come from the trace: a file can name an element among its own children or chain
// elements deeper than any walk. The page is drawn all the same, each element once.
TEST(RunView, TreesNoWalkMakesAreDrawnEachElementOnce) {
    std::vector<std::string> texts = kStart;
    texts.push_back(R"(1.000 7 get element=#1 attribute="AXWindows" code=0 kind=list value=[#2] took=0.010)");
    texts.push_back(R"(1.100 7 get element=#2 attribute="AXChildren" code=0 kind=list value=[#2,#1,#3] took=0.010)");
    constexpr int kDepth = 30000;
    for (int n = 3; n < kDepth; ++n) {
        texts.push_back("1.200 7 get element=#" + std::to_string(n) + " attribute=\"AXChildren\" code=0 kind=list value=[#" +
                        std::to_string(n + 1) + "] took=0.010");
    }
    texts.push_back("2.000 7 end status=1 failure=\"TESSARY: RelayTransportProbe is not visible in the Scripts inspector\\n\"");
    const std::vector<trace::RecordedLine> lines = runOf(texts);
    page::PageInput input;
    input.traceName = "deep";
    input.runs.push_back({lines, {}});
    const page::RunView view = page::viewOf(input.runs.front().lines);
    EXPECT_EQ(view.tree.at(2).parent, 1);
    EXPECT_EQ(view.tree.at(3).parent, 2);
    EXPECT_EQ(view.tree.at(kDepth).parent, kDepth - 1);
    const std::string html = page::pageOf(input);
    const auto count = [&](const std::string& what) {
        std::size_t found = 0;
        for (std::size_t at = html.find(what); at != std::string::npos; at = html.find(what, at + 1)) ++found;
        return found;
    };
    EXPECT_EQ(count("<div class=\"node\" data-element=\"2\" "), 1u);
    EXPECT_EQ(count("data-element=\"1\" "), 1u);
    EXPECT_NE(html.find("more elements were read and are not listed here"), std::string::npos);
    EXPECT_LT(html.size(), 10u * 1000 * 1000);
}

// The run's own check of the row's click point: the list's left and top edges belong to its
// frame, its right and bottom edges do not. A point outside stops the run at that check.
TEST(RunView, ClickPointOnTheListsRightOrBottomEdgeLiesOutside) {
    struct Case {
        const char* what;
        const char* row;   // position and size: the click point is 60 right of its left edge
        const char* list;  // position and size
        bool inside;
    };
    for (const Case& c : {Case{"on the right edge", "90,150 200,20", "100,100 50,200", false},
                          Case{"on the bottom edge", "100,190 200,20", "100,100 300,100", false},
                          Case{"on the left and top edges", "40,90 200,20", "100,100 300,200", true}}) {
        SCOPED_TRACE(c.what);
        const std::string row = c.row;
        const std::string list = c.list;
        const auto part = [](const std::string& pair, int which) {
            const std::size_t blank = pair.find(' ');
            return which == 0 ? pair.substr(0, blank) : pair.substr(blank + 1);
        };
        std::vector<std::string> texts = kStart;
        texts.push_back(R"(0.800 7 get element=#1 attribute="AXFrontmost" code=0 kind=boolean value=yes took=0.010)");
        texts.push_back(R"(0.900 7 get element=#1 attribute="AXWindows" code=0 kind=list value=[#2] took=0.010)");
        texts.push_back("1.000 7 get element=#4 attribute=\"AXPosition\" code=0 kind=point value=" + part(row, 0) + " took=0.010");
        texts.push_back("1.100 7 get element=#4 attribute=\"AXSize\" code=0 kind=size value=" + part(row, 1) + " took=0.010");
        texts.push_back("1.200 7 get element=#3 attribute=\"AXPosition\" code=0 kind=point value=" + part(list, 0) + " took=0.010");
        texts.push_back(R"(1.300 7 get element=#2 attribute="AXPosition" code=0 kind=point value=0,0 took=0.010)");
        texts.push_back(R"(1.400 7 get element=#2 attribute="AXSize" code=0 kind=size value=800,600 took=0.010)");
        texts.push_back("1.500 7 get element=#3 attribute=\"AXSize\" code=0 kind=size value=" + part(list, 1) + " took=0.010");
        texts.push_back(c.inside ? R"(2.000 7 end status=1 failure="TESSARY: the Run click failed\n")"
                                 : R"(2.000 7 end status=1 failure="TESSARY: RelayTransportProbe is not visible in the Scripts inspector\n")");
        const std::vector<trace::RecordedLine> lines = runOf(texts);
        const page::RunView view = page::viewOf(lines);
        ASSERT_TRUE(view.screen.rowInside.has_value());
        EXPECT_EQ(*view.screen.rowInside, c.inside);
        const page::Step* check = stepNamed(view, "row inside its list");
        ASSERT_NE(check, nullptr);
        EXPECT_NE(check->summary.find(c.inside ? " lies inside " : " lies outside "), std::string::npos) << check->summary;
        EXPECT_EQ(check->stopped, !c.inside);

        // The drawing's visible label says it, not only the title shown on hovering.
        page::PageInput input;
        input.traceName = "edges";
        input.runs.push_back({lines, {}});
        const std::string html = page::pageOf(input);
        const std::string label = c.inside ? ">row click point: inside the list</text>" : ">row click point: outside the list</text>";
        EXPECT_NE(html.find(label), std::string::npos);
    }
}

std::vector<trace::RecordedLine> fixture(const std::string& name) {
    std::ifstream stream(std::string(TESSARY_REPLAY_FIXTURES) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    trace::ReadTrace read = trace::readTrace(text.str());
    EXPECT_FALSE(read.error) << name << ": " << read.error.value_or("");
    return std::move(read.lines);
}

// Only a poll that found the alert is the step "the answer": a run whose polls found nothing
// keeps them all in one step.
TEST(RunView, PollsThatFoundNothingStayOneStepWithoutAnAnswer) {
    const std::vector<trace::RecordedLine> lines = fixture("no-answer.trace");
    const page::RunView view = page::viewOf(lines);
    EXPECT_EQ(stepNamed(view, "the answer"), nullptr);
    const page::Step* polls = stepNamed(view, "polls");
    ASSERT_NE(polls, nullptr);
    const auto pollsIn = [](const std::vector<trace::RecordedLine>& run, const page::Step& step) {
        return std::count_if(step.lines.begin(), step.lines.end(), [&](std::size_t i) {
            const trace::Field* attribute = run[i].field("attribute");
            return run[i].event == "get" && attribute != nullptr && attribute->value == "AXWindows";
        });
    };
    EXPECT_EQ(pollsIn(lines, *polls), 100);
    EXPECT_EQ(polls->summary.rfind("100 polls, ", 0), 0u) << polls->summary;

    // Nor when the run stopped right after its last poll, with no wait after it.
    std::vector<trace::RecordedLine> unwaited = lines;
    ASSERT_EQ(unwaited[unwaited.size() - 2].event, "sleep");
    unwaited.erase(unwaited.end() - 2);
    const page::RunView stopped = page::viewOf(unwaited);
    EXPECT_EQ(stepNamed(stopped, "the answer"), nullptr);
    const page::Step* stoppedPolls = stepNamed(stopped, "polls");
    ASSERT_NE(stoppedPolls, nullptr);
    EXPECT_EQ(pollsIn(unwaited, *stoppedPolls), 100);

    // The same run with its alert: its last poll is "the answer".
    const std::vector<trace::RecordedLine> answered = fixture("complete-exchange.trace");
    const page::RunView complete = page::viewOf(answered);
    const page::Step* answer = stepNamed(complete, "the answer");
    ASSERT_NE(answer, nullptr);
    EXPECT_TRUE(std::any_of(answer->lines.begin(), answer->lines.end(), [&](std::size_t i) {
        const trace::Field* value = answered[i].field("value");
        return value != nullptr && value->value == "\u8B66\u544A";
    }));
}

// A step of more lines than the page lists: each line of it is listed or inside the stretch
// that the page says it skipped, exactly once, and the stretch's count is its length.
TEST(RunPage, AStepTooLongToListSkipsAStretchAndLosesNoLine) {
    std::vector<std::string> texts = kStart;
    texts.push_back(R"(0.800 7 get element=#1 attribute="AXFrontmost" code=0 kind=boolean value=yes took=0.010)");
    constexpr int kSteps = 2500;
    texts.push_back(R"(0.900 7 get element=#1 attribute="AXWindows" code=0 kind=list value=[#2] took=0.010)");
    for (int n = 1; n < kSteps; ++n) {
        texts.push_back("1.000 7 get element=#" + std::to_string(n + 2) + " attribute=\"AXChildren\" code=0 kind=list value=[] took=0.010");
    }
    texts.push_back(R"(3.000 7 end status=1 failure="TESSARY: RelayTransportProbe is not in the Scripts inspector\n")");
    const std::vector<trace::RecordedLine> lines = runOf(texts);
    const page::RunView view = page::viewOf(lines);
    const page::Step* locate = stepNamed(view, "locate");
    ASSERT_NE(locate, nullptr);
    ASSERT_EQ(locate->lines.size(), static_cast<std::size_t>(kSteps));
    const std::size_t first = lines[locate->lines.front()].number;
    const std::size_t last = lines[locate->lines.back()].number;

    page::PageInput input;
    input.traceName = "long";
    input.runs.push_back({lines, {}});
    const std::string html = page::pageOf(input);
    std::map<std::size_t, int> seen;
    for (std::size_t at = html.find("<tr id=\"l"); at != std::string::npos; at = html.find("<tr id=\"l", at + 1)) {
        seen[std::stoul(html.substr(at + 9))] += 1;
    }
    const std::string skippedMark = " lines not listed here: lines ";
    const std::size_t skippedAt = html.find(skippedMark);
    ASSERT_NE(skippedAt, std::string::npos);
    const std::size_t countAt = html.rfind('>', skippedAt) + 1;
    const std::size_t skipped = std::stoul(html.substr(countAt));
    std::size_t from = 0, to = 0;
    ASSERT_EQ(std::sscanf(html.c_str() + skippedAt + skippedMark.size(), "%zu to %zu", &from, &to), 2);
    EXPECT_EQ(skipped, to - from + 1);
    EXPECT_EQ(skipped + 2000, static_cast<std::size_t>(kSteps));
    for (std::size_t number = first; number <= last; ++number) {
        const int times = seen.count(number) != 0 ? seen.at(number) : 0;
        EXPECT_EQ(times + (number >= from && number <= to ? 1 : 0), 1) << "line " << number;
    }
}

struct Scratch {
    std::filesystem::path directory =
        std::filesystem::temp_directory_path() / ("tessary-page-test-" + std::to_string(getpid()));
    Scratch() { std::filesystem::create_directories(directory); }
    ~Scratch() { std::filesystem::remove_all(directory); }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(directory)) found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
};

std::string contentOf(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

struct Drawn {
    int status = -1;
    std::string err;
};

// tessary-replay --html PAGE over a recorded complete exchange: its status and standard error.
Drawn drawPage(const std::string& page) {
    const std::string command = std::string("'") + TESSARY_REPLAY + "' --html '" + page + "' '" + TESSARY_REPLAY_FIXTURES +
                                "/complete-exchange.trace' 2>&1 >/dev/null";
    Drawn drawn;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return drawn;
    char buffer[512];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) drawn.err.append(buffer, got);
    const int status = ::pclose(pipe);
    drawn.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return drawn;
}

mode_t modeOf(const std::string& path) {
    struct stat standing {};
    return ::lstat(path.c_str(), &standing) == 0 ? standing.st_mode : 0;
}

// The page is written as tessary writes its result, by the product's one atomic write: a
// regular file keeps its permission bits, a new one gets 0666 less the umask, a symbolic link
// is replaced itself with the bits of the file it pointed to, and a FIFO, a directory or a
// missing directory are reported in the write's own words, with status 2, and left alone. Nothing
// is left beside the page.
TEST(PageFile, WrittenByTheProductsWriteWithItsRules) {
    Scratch scratch;
    const std::string dir = scratch.directory.string();
    const mode_t mask = ::umask(022);
    const std::string page = dir + "/page.html";
    struct Case {
        const char* what;
        std::function<void()> make;
        std::string path;
        std::string err;     // "" for a page written
        mode_t mode;         // of the page written, or of what stands there after a refusal
    };
    const std::vector<Case> cases{
        {"a new page", [] {}, page, "", S_IFREG | 0644},
        {"a page replaced", [&] { std::ofstream(page) << "old"; ::chmod(page.c_str(), 0604); }, page, "", S_IFREG | 0604},
        {"a symbolic link to a private file",
         [&] {
             std::ofstream(dir + "/target") << "target";
             ::chmod((dir + "/target").c_str(), 0600);
             ::symlink((dir + "/target").c_str(), page.c_str());
         },
         page, "", S_IFREG | 0600},
        {"a FIFO", [&] { ::mkfifo(page.c_str(), 0600); }, page, "not a regular file: a FIFO", S_IFIFO | 0600},
        {"a directory", [&] { ::mkdir(page.c_str(), 0700); }, page, "not a regular file: a directory", S_IFDIR | 0700},
        {"a missing directory", [] {}, dir + "/missing/page.html", "No such file or directory", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(scratch.directory);
        std::filesystem::create_directories(scratch.directory);
        c.make();
        const std::vector<std::string> before = scratch.names();
        const Drawn drawn = drawPage(c.path);
        if (c.err.empty()) {
            EXPECT_EQ(drawn.status, 0) << drawn.err;
            EXPECT_EQ(drawn.err, "");
            EXPECT_EQ(contentOf(c.path).rfind("<!DOCTYPE html>", 0), 0u);
        } else {
            EXPECT_EQ(drawn.status, 2);
            EXPECT_EQ(drawn.err, "tessary-replay: cannot write page " + c.path + ": " + c.err + "\n");
        }
        EXPECT_EQ(modeOf(c.path), c.mode);
        std::vector<std::string> after = before;
        if (std::find(after.begin(), after.end(), "page.html") == after.end() && c.err.empty()) after.push_back("page.html");
        std::sort(after.begin(), after.end());
        EXPECT_EQ(scratch.names(), after);
        if (std::filesystem::exists(dir + "/target")) {
            EXPECT_EQ(contentOf(dir + "/target"), "target");
        }
    }
    ::umask(mask);
}

// Linux only: the renames are watched through inotify, which macOS lacks. The write is the
// product's atomic write, whose way on macOS (a named auxiliary file) write_file_test runs there.
#ifdef __linux__
// The page's text is held beside the page until it takes the page's place: the page arrives by
// a rename within its own directory, from an auxiliary name there, not from another directory.
TEST(PageFile, ItsTextIsHeldBesideThePage) {
    Scratch scratch;
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, scratch.directory.c_str(), IN_MOVED_FROM | IN_MOVED_TO), 0);
    const std::string page = (scratch.directory / "page.html").string();
    ASSERT_EQ(drawPage(page).status, 0);
    std::vector<std::pair<std::uint32_t, std::string>> moves;  // (cookie, from or to name)
    alignas(inotify_event) char buffer[8192];
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            moves.emplace_back(event->cookie, std::string((event->mask & IN_MOVED_FROM) ? "from " : "to ") + event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[0].first, moves[1].first);
    EXPECT_EQ(moves[0].second.rfind("from .tessary-", 0), 0u) << moves[0].second;
    EXPECT_EQ(moves[1].second, "to page.html");
    EXPECT_EQ(scratch.names(), std::vector<std::string>{"page.html"});
}
#endif

}  // namespace
