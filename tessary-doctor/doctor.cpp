#include "tessary-doctor/doctor.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "ax/query.h"
#include "main/preconditions.h"
#include "main/run.h"
#include "main/version.h"
#include "target/alert.h"
#include "target/script_window.h"
#include "text/unicode.h"
#include "trace/format.h"
#include "trace/trace.h"
#include "trace/traced.h"

namespace doctor {
namespace {

// An answer that takes longer than this shows a busy CorelDRAW.
constexpr std::int64_t kBusyMicroseconds = 1000000;
// The alert text shown, in characters.
constexpr std::size_t kShownCharacters = 60;
// Parents looked up at most, from this process towards the first process.
constexpr int kAncestors = 32;

Check okLine(std::string name, std::string found) { return {Verdict::ok, std::move(name), std::move(found), {}}; }
Check failLine(std::string name, std::string found, std::string remedy) {
    return {Verdict::fail, std::move(name), std::move(found), std::move(remedy)};
}
Check unknownLine(std::string name, std::string found) {
    return {Verdict::cannotTell, std::move(name), std::move(found), {}};
}

std::string number(double value) {
    std::string out;
    trace::appendDouble(out, value);
    return out;
}
std::string pointText(platform::Point p) { return number(p.x) + "," + number(p.y); }
std::string quoted(std::string_view text) {
    std::string out;
    trace::appendQuoted(out, text);
    return out;
}

// One process on the way from this one to the first process.
struct Ancestor {
    std::int64_t pid = -1;
    std::string path;
};

// This process's parents, nearest first, as far as the process table tells; `ownPath` gets this
// process's own executable as the table names it.
std::vector<Ancestor> ancestors(std::int64_t own, std::string& ownPath) {
    std::vector<Ancestor> found;
    std::optional<platform::ProcessEntry> entry = traced::processEntry(own);
    if (entry) ownPath = entry->path;
    for (int step = 0; entry && entry->parentId > 1 && step < kAncestors; ++step) {
        const std::int64_t parent = entry->parentId;
        entry = traced::processEntry(parent);
        if (!entry) break;
        found.push_back({parent, entry->path});
    }
    return found;
}

// The application that macOS holds responsible for this process: the outermost parent that runs
// from an application bundle (a terminal, a host application), named by the bundle. Without one,
// each program is judged by itself.
struct Starter {
    std::int64_t pid = -1;
    std::string name;  // "Terminal.app"
};
std::optional<Starter> starterOf(const std::vector<Ancestor>& parents) {
    for (auto parent = parents.rbegin(); parent != parents.rend(); ++parent) {
        const std::size_t bundleEnd = parent->path.find(".app/");
        if (bundleEnd == std::string::npos) continue;
        const std::size_t slash = parent->path.rfind('/', bundleEnd);
        const std::size_t from = slash == std::string::npos ? 0 : slash + 1;
        return Starter{parent->pid, parent->path.substr(from, bundleEnd + 4 - from)};
    }
    return std::nullopt;
}

std::string starterText(const std::optional<Starter>& starter, const std::vector<Ancestor>& parents) {
    if (starter) return starter->name + " (pid " + std::to_string(starter->pid) + ")";
    if (parents.empty()) return "this program itself";
    return "this program itself (no application among its parents; parent " + parents.front().path + ", pid " +
           std::to_string(parents.front().pid) + ")";
}

// This program as System Settings lists it: tessary, with the file the process table names.
std::string thisProgram(const std::string& ownPath) {
    return "tessary" + (ownPath.empty() ? std::string() : " (" + ownPath + ")");
}

// The process that macOS most likely asks about for this one (its responsible process): the
// outermost application among the parents, else this program itself; and how to see it.
std::string askedAbout(const std::optional<Starter>& starter, const std::vector<Ancestor>& parents,
                       const std::string& ownPath) {
    std::string text;
    if (starter) {
        text = starter->name + " (pid " + std::to_string(starter->pid) + "), the outermost application among the parents";
    } else {
        text = thisProgram(ownPath) + " itself, no application being among its parents";
        if (!parents.empty()) text += " (parent " + parents.front().path + ", pid " + std::to_string(parents.front().pid) + ")";
    }
    return text + ", most likely; on macOS, to confirm, run log stream --predicate 'subsystem == \"com.apple.TCC\"' "
                  "during a run: its request names the responsible process";
}

// The identifier that a grant of this program goes by: its signature's, else the build's.
std::string grantIdentifier(const platform::CodeSignature& signature) {
    return signature.identifier.empty() ? std::string(tessary::identifier()) : signature.identifier;
}

// What to do for a missing grant: allow the process that macOS asks about; a grant that shows as
// on but no longer works belongs to another build, and is made anew.
std::string grantRemedy(const std::optional<Starter>& starter, const std::string& ownPath,
                        const platform::CodeSignature& signature) {
    const std::string allow = "allow " + (starter ? starter->name : thisProgram(ownPath)) +
                              " in System Settings > Privacy & Security > Accessibility; if it shows as allowed already, "
                              "remove its entry and add it again";
    if (starter) return allow;
    return allow + ", or run tccutil reset Accessibility " + grantIdentifier(signature) + " and allow it again";
}

// What macOS ties an Accessibility grant of this program to, and whether the grant survives an
// update. Information only: a run goes ahead whatever the signature.
Check signatureCheck(const platform::CodeSignature& signature, const std::optional<Starter>& starter) {
    const std::string identifier = "identifier " + grantIdentifier(signature);
    // While an application among the parents is the one asked about, its grant is the one
    // that counts, not this program's.
    const std::string counts =
        starter ? "; for now macOS asks about " + starter->name + ", whose grant is its own" : std::string();
    switch (signature.kind) {
        case platform::SignatureKind::certificate:
            if (!signature.team.empty()) {
                return okLine("signature", "Developer ID of team " + signature.team + ", " + identifier +
                                               ": an Accessibility grant survives an update signed the same way" + counts);
            }
            return okLine("signature", "a certificate without a team (self-signed), " + identifier +
                                           ": an Accessibility grant survives a rebuild signed with the same certificate" +
                                           counts);
        case platform::SignatureKind::adHoc:
            return okLine("signature", "ad-hoc, " + identifier +
                                           ": macOS ties an Accessibility grant to this build alone, so it does not "
                                           "survive an update (System Settings still shows it as on)" +
                                           counts);
        case platform::SignatureKind::unsignedCode:
            return okLine("signature", "unsigned: an Accessibility grant does not survive an update" + counts);
        case platform::SignatureKind::unknown: break;
    }
    return unknownLine("signature", "the platform does not say how this program is signed (it ties no grant to a signature)");
}

std::string processName(std::int64_t pid) {
    const std::optional<platform::ProcessEntry> entry = traced::processEntry(pid);
    if (!entry || entry->path.empty()) return "process " + std::to_string(pid);
    const std::size_t slash = entry->path.rfind('/');
    return (slash == std::string::npos ? entry->path : entry->path.substr(slash + 1)) + " (pid " + std::to_string(pid) + ")";
}

// The look at one click point, as the run looks right before its click.
Check pointCheck(const tessary::Run& run, std::string name, std::string_view what, platform::Point point) {
    const platform::PointOwner owner = traced::ownerAt(point);
    const std::string at = std::string(what) + " " + pointText(point);
    if (owner.occupant == platform::Occupant::unknown) {
        return unknownLine(std::move(name), at + ": the platform cannot tell what lies there (a run clicks all the same)");
    }
    if (tessary::clickGoesAhead(run, owner)) return okLine(std::move(name), at + ": CorelDRAW");
    if (owner.occupant == platform::Occupant::nothing) {
        return failLine(std::move(name), at + ": no window lies there",
                        "move the Scripts inspector onto the screen, whole");
    }
    const std::string other = processName(owner.processId);
    return failLine(std::move(name), at + ": a window of " + other + " lies there",
                    "move the window of " + other + " off the Scripts inspector");
}

std::string lockText(const platform::LockTest& lock) {
    switch (lock.state) {
        case platform::LockState::free: return "free (" + lock.path + (lock.reason.empty() ? "" : ", " + lock.reason) + ")";
        case platform::LockState::held:
            return "held by a running run (" +
                   (lock.holder > 0 ? processName(lock.holder) : std::string("the system does not say which process")) +
                   ", " + lock.path + "): a run started now waits for it";
        case platform::LockState::unusable:
            return "unusable: " + lock.path + ": " + lock.reason + "; a run would go on without it, unserialized";
        case platform::LockState::unknown: break;
    }
    return "the system does not say whether it is held (" + lock.path + (lock.reason.empty() ? "" : ": " + lock.reason) + ")";
}

Check lockCheck() {
    const platform::LockTest lock = traced::testRunLock();
    switch (lock.state) {
        case platform::LockState::free:
        case platform::LockState::held: return okLine("lock", lockText(lock));
        case platform::LockState::unusable:
            return failLine("lock", lockText(lock), "remove " + lock.path + " (a run makes it again, for you alone)");
        case platform::LockState::unknown: break;
    }
    return unknownLine("lock", lockText(lock));
}

std::optional<Check> traceCheck() {
    const char* path = std::getenv("TESSARY_TRACE");
    if (path == nullptr || path[0] == '\0') return std::nullopt;
    if (path[0] != '/') {
        return failLine("trace", "TESSARY_TRACE=" + std::string(path) + " is no absolute path: a run writes no trace",
                        "set TESSARY_TRACE to an absolute path");
    }
    // This doctor opened it exactly as a run opens it.
    if (trace::enabled) return okLine("trace", "a run appends its trace to " + std::string(path));
    return failLine("trace",
                    "a run cannot write " + std::string(path) +
                        " (no such directory, a symbolic link, not a regular file, or not yours)",
                    "set TESSARY_TRACE to a file of yours in a directory you can write");
}

// The checks that need CorelDRAW, each "cannot tell" for the same reason.
void cannotTellAll(std::vector<Check>& checks, std::initializer_list<std::string_view> names, const std::string& why) {
    for (const std::string_view name : names) checks.push_back(unknownLine(std::string(name), why));
}

// Whether CorelDRAW is in front: one reading, no wait, since a run activates it itself. When it
// is not, a run asks for its activation, which macOS may refuse to an application that is not in
// front itself.
Check inFrontCheck(const tessary::Run& run, std::int64_t own, const std::vector<Ancestor>& parents,
                   const std::optional<Starter>& starter) {
    const std::optional<bool> front = ax::boolean(run.root, "AXFrontmost");
    if (front == true) return okLine("in-front", "CorelDRAW is in front");
    const std::int64_t frontmost = traced::frontmostProcess();
    bool starterInFront = frontmost == own;
    for (const Ancestor& parent : parents) starterInFront = starterInFront || parent.pid == frontmost;
    const std::string starting = "the application that starts the run, " + starterText(starter, parents);
    const std::string now = front == false ? "CorelDRAW is not in front now" : "CorelDRAW does not say whether it is in front";
    if (starterInFront) return okLine("in-front", now + "; " + starting + ", is: a run brings CorelDRAW to the front");
    const std::string inFront = frontmost > 0 ? processName(frontmost) : std::string("the platform does not say");
    return unknownLine("in-front", now + ", nor is " + starting + " (in front: " + inFront +
                                       "): macOS may refuse to bring CorelDRAW to the front from the background");
}

void examineCorelDraw(std::vector<Check>& checks, const tessary::Run& run, std::int64_t own,
                      const std::vector<Ancestor>& parents, const std::optional<Starter>& starter) {
    // The run's first question to CorelDRAW, timed: its window list.
    const std::int64_t asked = traced::monotonicMicroseconds();
    const platform::AttributeResult first = traced::copyAttributeValue(run.root, "AXWindows");
    const std::int64_t took = traced::monotonicMicroseconds() - asked;
    const std::string time = std::to_string(took / 1000) + "." + std::to_string(took % 1000 / 100) + " ms";
    const bool answered = first.code == platform::kSuccess && std::holds_alternative<platform::ElementList>(first.value);
    if (!answered) {
        const std::string why = first.code == platform::kApiDisabled
                                    ? "no accessibility permission (code " + std::to_string(first.code) + ")"
                                    : "CorelDRAW did not answer its window list (code " + std::to_string(first.code) + ")";
        if (first.code == platform::kApiDisabled) {
            checks.push_back(unknownLine("answering", why));
        } else {
            checks.push_back(failLine("answering", why + " after " + time,
                                      "wait until CorelDRAW is idle and close its dialogs, or restart it"));
        }
        cannotTellAll(checks, {"alert", "inspector", "row-in-view", "row-point", "run-point", "in-front", "rename"}, why);
        return;
    }
    checks.push_back(okLine("answering", "first answer after " + time + (took > kBusyMicroseconds ? ": busy" : "")));

    if (const std::optional<target::AlertMatch> alert = target::alertText(run.root)) {
        checks.push_back(failLine("alert",
                                  "an alert is open: \"\u8B66\u544A\" " +
                                      quoted(text::firstCharacters(alert->text, kShownCharacters)) +
                                      (text::firstCharacters(alert->text, kShownCharacters).size() < alert->text.size() ? " ..." : ""),
                                  "close the alert in CorelDRAW (its OK button)"));
    } else {
        checks.push_back(okLine("alert", "no alert open"));
    }

    const std::optional<target::ScriptWindowMatch> tuple = target::findScriptWindow(run.root);
    if (!tuple) {
        checks.push_back(failLine("inspector", "RelayTransportProbe is not visible in the Scripts inspector",
                                  "open the Scripts inspector in CorelDRAW and show RelayTransportProbe in its list"));
        cannotTellAll(checks, {"row-in-view", "row-point", "run-point"}, "no Scripts inspector found");
        checks.push_back(inFrontCheck(run, own, parents, starter));
        cannotTellAll(checks, {"rename"}, "no Scripts inspector found");
        return;
    }
    checks.push_back(okLine("inspector", "found its window, its script list and the row of RelayTransportProbe"));

    const std::optional<tessary::Geometry> located = tessary::geometry(tuple);
    if (!located) {
        checks.push_back(failLine("row-in-view", "cannot locate the script row and Run button (a position or size has no answer)",
                                  "wait until CorelDRAW is idle, or restart it"));
        cannotTellAll(checks, {"row-point", "run-point"}, "no click points");
    } else {
        const tessary::Frame& list = located->list;
        const std::string where = "the row's click point " + pointText(located->points.row) + ", the list's view " +
                                  pointText(list.position) + " " + number(list.size.width) + "x" + number(list.size.height);
        if (tessary::inside(located->points.row, list)) {
            checks.push_back(okLine("row-in-view", where + ": inside"));
        } else {
            checks.push_back(failLine("row-in-view", where + ": outside",
                                      "scroll the Scripts inspector's list until RelayTransportProbe shows whole"));
        }
        checks.push_back(pointCheck(run, "row-point", "at the row's click point", located->points.row));
        checks.push_back(pointCheck(run, "run-point", "at the Run point", located->points.runButton));
    }
    checks.push_back(inFrontCheck(run, own, parents, starter));
    if (tessary::isRenaming(tuple->row)) {
        checks.push_back(okLine("rename", "a rename is open in the row: a run presses Escape first"));
    } else {
        checks.push_back(okLine("rename", "no rename open in the row"));
    }
}

}  // namespace

std::vector<Check> examine() {
    std::vector<Check> checks;
    const std::int64_t own = traced::ownProcessId();
    std::string ownPath;
    const std::vector<Ancestor> parents = ancestors(own, ownPath);
    const std::optional<Starter> starter = starterOf(parents);
    const platform::CodeSignature signature = platform::codeSignature();

    const bool trusted = traced::isProcessTrusted();
    const std::string grant = grantRemedy(starter, ownPath, signature);
    const std::string decidedFor = askedAbout(starter, parents, ownPath);
    if (trusted) {
        checks.push_back(okLine("permission", "accessibility allowed; the system decides for " + decidedFor));
    } else {
        checks.push_back(failLine("permission", "accessibility not allowed; the system decides for " + decidedFor, grant));
    }
    if (traced::mayPostEvents()) {
        checks.push_back(okLine("input", "posting events allowed"));
    } else {
        checks.push_back(failLine("input", "posting events not allowed", grant));
    }
    checks.push_back(signatureCheck(signature, starter));

    std::vector<platform::Application> running = traced::runningApplications(tessary::kBundleIdentifier);
    const std::size_t instances = running.size();
    if (running.empty()) {
        checks.push_back(failLine("running", "CorelDRAW is not running", "start CorelDRAW 2022"));
        cannotTellAll(checks,
                      {"answering", "alert", "inspector", "row-in-view", "row-point", "run-point", "in-front", "rename"},
                      "CorelDRAW is not running");
    } else {
        tessary::Run run;
        tessary::bindFirst(run, std::move(running));
        checks.push_back(okLine("running", std::to_string(instances) + (instances == 1 ? " instance" : " instances") +
                                               "; a run binds pid " + std::to_string(run.processId)));
        examineCorelDraw(checks, run, own, parents, starter);
    }
    checks.push_back(lockCheck());
    if (std::optional<Check> trace = traceCheck()) checks.push_back(std::move(*trace));
    return checks;
}

}  // namespace doctor

namespace doctor {

std::string lineOf(const Check& check) {
    std::string line;
    switch (check.verdict) {
        case Verdict::ok: line = "ok          "; break;
        case Verdict::fail: line = "fail        "; break;
        case Verdict::cannotTell: line = "cannot tell "; break;
    }
    line += check.name + ": " + check.found;
    if (check.verdict == Verdict::fail) line += " -- what to do: " + check.remedy;
    return line;
}

int runDoctor(int argc, const char* const* argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--help") {
        std::printf("%s\n", std::string(kUsage).c_str());
        std::printf("Checks every precondition of a tessary run, clicks nothing; one line per check.\n");
        std::printf("Exit status 0 when no check fails, 1 when one does, 2 for a usage error. See tessary-doctor(1).\n");
        std::printf("tessary-doctor --version prints its version.\n");
        std::fflush(stdout);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("tessary-doctor %s\n", tessary::build().c_str());
        std::fflush(stdout);
        return 0;
    }
    if (argc != 1) {
        std::fprintf(stderr, "tessary-doctor: %s\n", std::string(kUsage).c_str());
        std::fflush(stderr);
        return 2;
    }
    trace::start(argc, argv, "doctor");
    int status = 0;
    {
        const std::vector<Check> checks = examine();
        for (const Check& check : checks) {
            const std::string line = lineOf(check) + "\n";
            std::fwrite(line.data(), 1, line.size(), stdout);
            if (check.verdict == Verdict::fail) status = 1;
        }
        std::fflush(stdout);
    }
    trace::finish(status);
    return status;
}

}  // namespace doctor
