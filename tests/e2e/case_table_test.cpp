// The shared table of end-to-end cases (cases.txt), each run with the real tessary binary
// against the GTK stand-in inside a private desktop (scripts/headless): the streams, the status
// and the result file that the host sees, what the stand-in saw happen, and every run's trace
// replayed as recorded. The macOS workflow runs the same table against the Cocoa stand-in.
#include "case_table.h"
#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

namespace cases {

// A case shows by its name in the test's name and in its failures.
void PrintTo(const Case& c, std::ostream* stream) { *stream << c.name; }

}  // namespace cases

namespace {

cases::Table table() {
    const auto text = standin::readFile(TESSARY_CASE_TABLE);
    if (!text) return {{}, "cannot read " TESSARY_CASE_TABLE};
    return cases::parse(*text);
}


struct ToolRun {
    std::string id;
    std::string resultPath;
    std::string tracePath;
    standin::ProcessResult process;
};

class Cases : public ::testing::TestWithParam<cases::Case> {
protected:
    void TearDown() override {
        standin::stop(front);
        standin::stop(cover);
        standin::stop(standIn);
    }

    ToolRun run(const std::string& id) {
        ++runs;
        ToolRun result;
        result.id = id;
        result.resultPath = standIn.directory + "/result " + std::to_string(runs);
        result.tracePath = standIn.directory + "/trace-" + std::to_string(runs);
        result.process = standin::runProcess({TESSARY_BINARY, id, result.resultPath},
                                             {"TESSARY_TRACE=" + result.tracePath});
        traces.push_back(result.tracePath);
        return result;
    }

    // The command ids the stand-in answers, replaced in one step: a Run meanwhile reads the old
    // list or the new one.
    void tell(const std::string& ids) {
        const std::string temporary = standIn.commandFile + ".new";
        std::ofstream(temporary, std::ios::binary | std::ios::trunc) << ids;
        std::filesystem::rename(temporary, standIn.commandFile);
    }

    void expectEnds(const ToolRun& run, const cases::Step& step, bool alone) {
        SCOPED_TRACE("run " + run.id);
        const std::string& ends = step.ends;
        const auto trace = standin::readFile(run.tracePath);
        EXPECT_TRUE(trace) << run.tracePath;
        for (const std::string& fault : cases::traceFaults(trace.value_or(""), step, {standIn.pid, cover.pid})) {
            ADD_FAILURE() << run.tracePath << ": " << fault;
        }
        if (ends == "completed") {
            EXPECT_EQ(run.process.exitStatus, 0);
            EXPECT_EQ(run.process.standardOutput, run.resultPath + "\n");
            EXPECT_EQ(run.process.standardError, "");
            EXPECT_EQ(standin::readFile(run.resultPath), cases::relayAnswer(run.id));
            if (alone) {
                EXPECT_EQ(standin::readFile(run.resultPath), standin::readFile(standIn.answerFile));
            }
        } else {
            EXPECT_EQ(run.process.exitStatus, 1);
            EXPECT_EQ(run.process.standardOutput, "");
            EXPECT_EQ(run.process.standardError, "TESSARY: " + ends + "\n");
            EXPECT_FALSE(std::filesystem::exists(run.resultPath));
        }
    }

    standin::StandIn standIn;
    standin::StandIn cover;
    standin::StandIn front;
    int runs = 0;
    std::vector<std::string> traces;
};

TEST_P(Cases, EndAsTheTableSays) {
    const cases::Case& c = GetParam();
    auto started = standin::start(c.options);
    ASSERT_TRUE(started) << "the stand-in did not become ready";
    standIn = *started;

    const auto widgets = standin::widgetFrames(standIn);
    if (c.scene == "row half above list") {
        // The row reports its whole frame, its middle above the list's view.
        ASSERT_TRUE(widgets.contains("row") && widgets.contains("list"));
        const standin::WidgetFrame& row = widgets.at("row");
        const standin::WidgetFrame& list = widgets.at("list");
        EXPECT_LT(row.y + row.height / 2, list.y);
        EXPECT_GT(row.y + row.height, list.y);
    }
    if (!c.cover.empty()) {
        ASSERT_TRUE(widgets.contains(c.cover)) << c.cover;
        const standin::WidgetFrame& r = widgets.at(c.cover);
        std::ostringstream rectangle;
        rectangle << r.x << ' ' << r.y << ' ' << r.width << ' ' << r.height;
        auto covering = standin::start({"--cover", rectangle.str()});
        ASSERT_TRUE(covering) << "the cover did not come up";
        cover = *covering;
    }
    if (!c.front.empty()) {
        // Another application's window, put up after the stand-in's. X11 without a window
        // manager has no front application of its own; on macOS the same line puts that
        // application in front (tests/e2e/run-cases).
        auto other = standin::start({"--cover", c.front});
        ASSERT_TRUE(other) << "the other application did not come up";
        front = *other;
    }

    for (const cases::Step& step : c.steps) {
        if (step.ids.size() == 1) {
            standin::setCommandId(standIn, step.tell.value_or(step.ids[0]));
            expectEnds(run(step.ids[0]), step, true);
            continue;
        }
        tell(step.ids[0]);
        auto first = std::async(std::launch::async, [&] { return run(step.ids[0]); });
        std::this_thread::sleep_for(std::chrono::milliseconds(step.gapMs));
        tell(step.ids[0] + "\n" + step.ids[1]);
        auto second = std::async(std::launch::async, [&] { return run(step.ids[1]); });
        expectEnds(first.get(), step, false);
        expectEnds(second.get(), step, false);
    }
    standin::stop(front);
    standin::stop(cover);

    // The stand-in logs what its main loop has handled; its last line may come after the run.
    const std::string& last = c.events.back();
    EXPECT_TRUE(standin::waitForEvent(standIn, last, std::count(c.events.begin(), c.events.end(), last)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(standin::events(standIn), c.events);

    for (const std::string& trace : traces) {
        const standin::ProcessResult replay = standin::runProcess({TESSARY_REPLAY, trace});
        EXPECT_EQ(replay.exitStatus, 0) << trace << ":\n" << replay.standardOutput << replay.standardError;
    }
}

INSTANTIATE_TEST_SUITE_P(Linux, Cases, ::testing::ValuesIn(cases::on(table(), "linux")),
                         [](const ::testing::TestParamInfo<cases::Case>& info) { return info.param.name; });

TEST(CaseTable, IsReadWholeAndEveryCaseRunsOnLinux) {
    const cases::Table read = table();
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(cases::on(read, "linux").size(), read.cases.size());
    EXPECT_FALSE(cases::on(read, "macos").empty());
    std::vector<std::string> names;
    for (const cases::Case& c : read.cases) {
        for (const std::string& desktop : c.desktops) {
            EXPECT_TRUE(desktop == "linux" || desktop == "macos") << c.name;
        }
        names.push_back(c.name);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end()) << "two cases of one name";
}

TEST(CaseTable, ValuesAndStepsAreReadAsWritten) {
    const cases::Table read = cases::parse(
        "# a comment\n"
        "case: One\non: linux macos\noption: --flag\noption: --text a b\\nc \\\\n\ntell: other\nrun: id 1\n"
        "ends: completed\ntogether: 150 a b\nends: some failure\nevents: ready | run X\n");
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.cases.size(), 1u);
    const cases::Case& c = read.cases[0];
    EXPECT_EQ(c.options, (std::vector<std::string>{"--flag", "--text", "a b\nc \\n"}));
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].ids, std::vector<std::string>{"id 1"});
    EXPECT_EQ(c.steps[0].tell, "other");
    EXPECT_EQ(c.steps[1].ids, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(c.steps[1].gapMs, 150);
    EXPECT_EQ(c.steps[1].ends, "some failure");
    EXPECT_EQ(c.events, (std::vector<std::string>{"ready", "run X"}));
}

TEST(CaseTable, ATellIsForTheNextRunAlone) {
    const cases::Table read =
        cases::parse("case: A\non: linux\ntell: other\nrun: one\nends: completed\nrun: two\nends: completed\n"
                     "events: ready\n");
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.cases.size(), 1u);
    ASSERT_EQ(read.cases[0].steps.size(), 2u);
    EXPECT_EQ(read.cases[0].steps[0].tell, "other");
    EXPECT_EQ(read.cases[0].steps[1].tell, std::nullopt);
}

TEST(CaseTable, TraceLinesAndTheFrontBelongToTheirStepAndCase) {
    const cases::Table read = cases::parse(
        "case: A\non: linux macos\ncover: run\nfront: 20 560 80 60\nrun: one\nends: completed\n"
        "traced: post event=2\ntraced: occupant=process pid={cover}\nnot-traced: post event=3\n"
        "run: two\nends: completed\nevents: ready\n");
    ASSERT_EQ(read.error, "");
    ASSERT_EQ(read.cases.size(), 1u);
    const cases::Case& c = read.cases[0];
    EXPECT_EQ(c.front, "20 560 80 60");
    ASSERT_EQ(c.steps.size(), 2u);
    EXPECT_EQ(c.steps[0].traced, (std::vector<std::string>{"post event=2", "occupant=process pid={cover}"}));
    EXPECT_EQ(c.steps[0].untraced, std::vector<std::string>{"post event=3"});
    EXPECT_TRUE(c.steps[1].traced.empty());
    EXPECT_TRUE(c.steps[1].untraced.empty());
}

// A run's trace against its step's lines: what is missing, out of order or present though it
// must not be is named; the time and process id of a line are not its text.
TEST(CaseTable, ATraceShowsWhatItsStepNamesInOrderAndNothingItMustNot) {
    const std::string trace =
        "0.000 77 start version=4\n"
        "1.000 77 get element=#13 attribute=\"AXValue\" code=0 kind=text value=\"RelayTransportProbe\"\n"
        "2.000 77 get element=#13 attribute=\"AXPosition\" code=0 kind=point value=128,82\n"
        "3.000 77 owner-at point=188,165.5 occupant=process pid=4242\n"
        "4.000 77 end status=1\n";
    const cases::Pids pids{4242, 5151};
    const auto step = [](std::vector<std::string> traced, std::vector<std::string> untraced) {
        cases::Step s;
        s.traced = std::move(traced);
        s.untraced = std::move(untraced);
        return s;
    };
    const struct {
        cases::Step step;
        std::vector<std::string> faults;
    } rows[] = {
        {step({"value=\"RelayTransportProbe\"", "attribute=\"AXPosition\"", "pid={stand-in}"}, {"create-event", "post"}),
         {}},
        {step({"attribute=\"AXPosition\"", "value=\"RelayTransportProbe\""}, {}),
         {"no line \"value=\"RelayTransportProbe\"\" after the one before"}},
        {step({"pid={cover}"}, {}), {"no line \"pid=5151\""}},
        {step({}, {"owner-at"}), {"a line \"owner-at\": owner-at point=188,165.5 occupant=process pid=4242"}},
        {step({"77 start"}, {"0.000"}), {"no line \"77 start\""}},
        {step({"create-event", "end status=1"}, {}), {"no line \"create-event\""}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.step.traced) + " " + ::testing::PrintToString(row.step.untraced));
        EXPECT_EQ(cases::traceFaults(trace, row.step, pids), row.faults);
    }
}

TEST(CaseTable, AFileThatDoesNotFitIsRefusedWithItsLine) {
    const struct {
        const char* text;
        const char* error;
    } rows[] = {
        {"on: linux\n", "line 1: \"on\" before the first case"},
        {"case: A B\n", "line 1: a case's name is letters and digits"},
        {"case: A\non: linux\nrun: x\nevents: ready\n", "line 4: \"ends\" must follow a run"},
        {"case: A\non: linux\nrun: x\n", "line 3: a run without its \"ends\""},
        {"case: A\nends: completed\n", "line 2: \"ends\" without a run"},
        {"case: A\ntogether: soon a b\nends: completed\n", "line 2: \"together: <ms> <id> <id>\""},
        {"case: A\nwhen: later\n", "line 2: unknown key \"when\""},
        {"case: A\non: linux\nrun: x\nends: completed\n", "A: a case needs \"on\", a run and \"events\""},
        {"case: A\non: linux\nevents: ready\n", "A: a case needs \"on\", a run and \"events\""},
        {"case: A\non: linux\nrun: x\nends: completed\nevents: ready\ncase: B\non: linux\ntell: y\nevents: ready\n",
         "B: a case needs \"on\", a run and \"events\""},
        {"case: A\ntraced: post\n", "line 2: \"traced\" before a run"},
        {"case: A\nrun: x\nends: completed\nnot-traced: pid={standin}\n",
         "line 4: \"not-traced\" names only {stand-in} or {cover}"},
        {"case: A\nrun: x\nends: completed\ntraced: \n", "line 4: \"traced\" names only {stand-in} or {cover}"},
        {"case: A\nrun: x\nends: completed\ntraced: pid={cover}\n", "line 4: \"{cover}\" in a case without a cover"},
        {"case: A\nfront: 1 2 3\n", "line 2: \"front: <x> <y> <width> <height>\""},
        {"case: A\nfront: 1 2 3 x\n", "line 2: \"front: <x> <y> <width> <height>\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const cases::Table read = cases::parse(row.text);
        EXPECT_EQ(read.error, row.error);
        EXPECT_TRUE(read.cases.empty());
    }
}

}  // namespace
