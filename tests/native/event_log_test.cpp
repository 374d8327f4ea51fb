// The event log over real files: the line's form, the rollover at the
// bound, processes writing one log at once, a log that cannot be written,
// and the rate limiter of flooding events.
#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "scratch_dir.h"

namespace {

const int64_t NO_PAUSE = 0;
const int64_t LONG_PAUSE_MS = 3600 * 1000;

std::string ReadAll(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Line {
    std::string time;
    long pid = 0;
    std::string text;
};

// "YYYY-MM-DD HH:MM:SS.mmm [pid] text" parsed; false for anything else.
bool ParseLine(const std::string& whole, Line* line)
{
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd [";
    if (whole.size() < shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        bool digit = whole[i] >= '0' && whole[i] <= '9';
        if (shape[i] == 'd' ? !digit : whole[i] != shape[i]) return false;
    }
    size_t close = whole.find("] ", shape.size());
    if (close == std::string::npos || close == shape.size()) return false;
    for (size_t i = shape.size(); i < close; ++i) {
        if (whole[i] < '0' || whole[i] > '9') return false;
    }
    if (whole.find('\r') != std::string::npos) return false;
    line->time = whole.substr(0, shape.size() - 2);
    line->pid = std::stol(whole.substr(shape.size(), close - shape.size()));
    line->text = whole.substr(close + 2);
    return true;
}

// The lines of a log file; a line that is not whole (no time, no process,
// no end) fails the test.
std::vector<Line> ReadLines(const std::string& path)
{
    std::string all = ReadAll(path);
    std::vector<Line> lines;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << path << " ends inside a line: " << all.substr(start);
            break;
        }
        std::string whole = all.substr(start, end - start);
        Line line;
        if (ParseLine(whole, &line)) {
            lines.push_back(line);
        } else {
            ADD_FAILURE() << path << " holds a broken line: " << whole;
        }
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> Texts(const std::string& path)
{
    std::vector<std::string> texts;
    for (const Line& line : ReadLines(path)) texts.push_back(line.text);
    return texts;
}

int64_t SizeOf(const std::string& path)
{
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}

// The length of this process's line of a text of that many bytes.
int64_t LineLength(size_t nTextBytes)
{
    ScratchDir dir;
    SetEventLogPath(dir.Path("Quillet.log"), EVENT_LOG_MAX_BYTES, NO_PAUSE);
    EXPECT_TRUE(LogEvent("%s", std::string(nTextBytes, 'x').c_str()));
    SetEventLogPath("");
    return SizeOf(dir.Path("Quillet.log"));
}

TEST(EventLog, EachEventIsOneLineWithTheLocalTimeAndTheProcess)
{
    // Seven hours east of UTC: a time written in UTC would be far off.
    setenv("TZ", "QLT-7", 1);
    tzset();
    const size_t CAP = EVENT_LOG_TEXT_MAX_BYTES;
    const std::string E_ACUTE = "\xC3\xA9";
    struct Case {
        std::string text;
        std::string expected;
    } cases[] = {
        {"fetch failed: /a/b.png (status 404)", "fetch failed: /a/b.png (status 404)"},
        {"two\r\nlines", "two  lines"},
        {"ends in a break\n", "ends in a break "},
        {"\r", " "},
        {std::string(CAP + 100, 'a'), std::string(CAP, 'a')},
        {std::string(CAP, 'b'), std::string(CAP, 'b')},
        {std::string(CAP - 1, 'c') + E_ACUTE, std::string(CAP - 1, 'c')},
        {std::string(CAP - 2, 'd') + E_ACUTE, std::string(CAP - 2, 'd') + E_ACUTE},
    };
    ScratchDir dir;
    const std::string path = dir.Path("Quillet.log");
    SetEventLogPath(path);
    time_t before = std::time(nullptr);
    for (const Case& c : cases) EXPECT_TRUE(LogEvent("%s", c.text.c_str()));
    time_t after = std::time(nullptr);
    SetEventLogPath("");

    std::vector<Line> lines = ReadLines(path);
    ASSERT_EQ(std::size(cases), lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(cases[i].expected, lines[i].text) << "case " << i;
        EXPECT_EQ(static_cast<long>(getpid()), lines[i].pid);
        struct tm local {};
        ASSERT_TRUE(strptime(lines[i].time.c_str(), "%Y-%m-%d %H:%M:%S", &local)) << lines[i].time;
        local.tm_isdst = -1;
        time_t written = std::mktime(&local);
        EXPECT_LE(before - 1, written) << lines[i].time;
        EXPECT_GE(after + 1, written) << lines[i].time;
    }
    EXPECT_EQ(std::string::npos, ReadAll(path).find('\r'));
}

// Lines of equal length L against bounds around 3L: a line that ends the
// file exactly at the bound stays; one byte more moves the file to ".1",
// which replaces the earlier one, so there are never more than two files.
TEST(EventLog, RollsOverAtTheBoundKeepingOneEarlierFile)
{
    const int64_t L = LineLength(std::string("line 0").size());
    ASSERT_GT(L, 0);
    struct Case {
        int64_t nBound;
        int nLines;
        std::vector<std::string> earlier;
        std::vector<std::string> current;
    } cases[] = {
        {3 * L - 1, 4, {"line 0", "line 1"}, {"line 2", "line 3"}},
        {3 * L, 3, {}, {"line 0", "line 1", "line 2"}},
        {3 * L, 4, {"line 0", "line 1", "line 2"}, {"line 3"}},
        {3 * L + 1, 4, {"line 0", "line 1", "line 2"}, {"line 3"}},
        {3 * L, 7, {"line 3", "line 4", "line 5"}, {"line 6"}},
        {L - 1, 3, {"line 1"}, {"line 2"}},   // a line longer than the bound has a file to itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("bound " + std::to_string(c.nBound) + ", " + std::to_string(c.nLines) + " lines");
        ScratchDir dir;
        const std::string path = dir.Path("Quillet.log");
        SetEventLogPath(path, c.nBound, NO_PAUSE);
        for (int i = 0; i < c.nLines; ++i) EXPECT_TRUE(LogEvent("line %d", i));
        SetEventLogPath("");
        EXPECT_EQ(c.current, Texts(path));
        EXPECT_EQ(c.earlier, Texts(path + ".1"));
        auto files = std::distance(std::filesystem::directory_iterator(dir.Root()),
                                   std::filesystem::directory_iterator());
        EXPECT_EQ(c.earlier.empty() ? 1 : 2, files);
    }
}

TEST(EventLog, TheBoundIsOneMebibyteUnlessTold)
{
    const int64_t L = LineLength(std::string("last").size());
    ScratchDir dir;
    const std::string path = dir.Path("Quillet.log");
    std::string earlier = std::string(static_cast<size_t>(EVENT_LOG_MAX_BYTES - L - 1), 'f') + "\n";
    std::ofstream(path, std::ios::binary) << earlier;

    SetEventLogPath(path);
    EXPECT_TRUE(LogEvent("last"));
    EXPECT_EQ(EVENT_LOG_MAX_BYTES, SizeOf(path)) << "the line that ends the file at the bound stays";
    EXPECT_TRUE(LogEvent("next"));
    SetEventLogPath("");
    EXPECT_EQ(EVENT_LOG_MAX_BYTES, SizeOf(path + ".1"));
    EXPECT_EQ(std::vector<std::string>{"next"}, Texts(path));
}

// Three processes write lines of one length as fast as they can into a
// bound of K lines, 3K lines in all: the log must then hold exactly the
// last 2K lines written, whole, K in each file, each process's lines in
// order and without a gap up to its last one.
TEST(EventLog, ProcessesWritingAtOnceLeaveOnlyWholeLinesAndLoseNone)
{
    const int PROCESSES = 3;
    const int LINES_EACH = 400;
    const int K = PROCESSES * LINES_EACH / 3;
    const size_t TEXT_AND_PID = 60;   // each text is padded so that the line has one length
    const int64_t L = LineLength(TEXT_AND_PID - std::to_string(getpid()).size());
    ScratchDir dir;
    const std::string path = dir.Path("Quillet.log");

    int go[2];
    ASSERT_EQ(0, pipe(go));
    std::vector<pid_t> children;
    for (int p = 0; p < PROCESSES; ++p) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(go[1]);
            char start;
            if (read(go[0], &start, 1) != 0) _exit(3);
            SetEventLogPath(path, K * L, LONG_PAUSE_MS);
            std::string pid = std::to_string(getpid());
            int refused = 0;
            for (int i = 0; i < LINES_EACH; ++i) {
                char text[TEXT_AND_PID + 1];
                std::snprintf(text, sizeof(text), "p%d n%04d ", p, i);
                std::string padded = text + std::string(TEXT_AND_PID - pid.size() - std::strlen(text), '.');
                if (!LogEvent("%s", padded.c_str())) ++refused;
            }
            _exit(refused == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    close(go[0]);
    close(go[1]);   // every child starts at once
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (pid_t child : children) {
        int status = -1;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                for (pid_t other : children) kill(other, SIGKILL);
                FAIL() << "the writers did not finish";
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a line was refused";
    }

    EXPECT_EQ(K * L, SizeOf(path + ".1"));
    EXPECT_EQ(K * L, SizeOf(path));
    std::vector<Line> lines = ReadLines(path + ".1");
    std::vector<Line> current = ReadLines(path);
    lines.insert(lines.end(), current.begin(), current.end());
    ASSERT_EQ(static_cast<size_t>(2 * K), lines.size());
    std::map<int, std::vector<int>> seen;
    for (const Line& line : lines) {
        int p = -1, n = -1;
        ASSERT_EQ(2, std::sscanf(line.text.c_str(), "p%d n%d", &p, &n)) << line.text;
        seen[p].push_back(n);
    }
    for (auto& [p, numbers] : seen) {
        for (size_t i = 0; i < numbers.size(); ++i) {
            EXPECT_EQ(LINES_EACH - static_cast<int>(numbers.size() - i), numbers[i]) << "process " << p;
        }
    }
}

// A log that cannot be opened drops the line quietly; once the obstacle is
// gone the next line is written, unless the pause after a failure still
// runs. (A read-only file stops no writer running as root, hence a folder
// in the file's place and a missing folder.)
TEST(EventLog, AnUnwritableLogDropsLinesAndIsTriedAgainAfterThePause)
{
    struct Case {
        const char* what;
        std::string (*block)(const ScratchDir& dir);
        void (*unblock)(const ScratchDir& dir);
    } cases[] = {
        {"a folder in the file's place",
         [](const ScratchDir& dir) {
             std::filesystem::create_directory(dir.Path("Quillet.log"));
             return dir.Path("Quillet.log");
         },
         [](const ScratchDir& dir) { std::filesystem::remove(dir.Path("Quillet.log")); }},
        {"a missing folder", [](const ScratchDir& dir) { return dir.Path("gone/Quillet.log"); },
         [](const ScratchDir& dir) { std::filesystem::create_directory(dir.Path("gone")); }},
    };
    for (const Case& c : cases) {
        for (int64_t pause : {NO_PAUSE, LONG_PAUSE_MS}) {
            SCOPED_TRACE(std::string(c.what) + ", pause " + std::to_string(pause));
            ScratchDir dir;
            std::string path = c.block(dir);
            SetEventLogPath(path, EVENT_LOG_MAX_BYTES, pause);
            EXPECT_FALSE(LogEvent("lost"));
            c.unblock(dir);
            EXPECT_EQ(pause == NO_PAUSE, LogEvent("kept"));
            SetEventLogPath("");
            std::vector<std::string> expected;
            if (pause == NO_PAUSE) expected.push_back("kept");
            EXPECT_EQ(expected, Texts(path));
        }
    }
}

TEST(EventLog, RateLimitAdmitsOneASecondAndCountsTheRest)
{
    struct Step {
        int64_t nowMs;
        bool bAdmitted;
        uint32_t nSkipped;   // when admitted
    } steps[] = {
        {0, true, 0},      {1, false, 0},     {999, false, 0},  {1000, true, 2},
        {1500, false, 0},  {1999, false, 0},  {2000, true, 2},  {2001, false, 0},
        {9000, true, 1},   {10000, true, 0},
    };
    CLogRateLimit limit;
    for (const Step& step : steps) {
        uint32_t skipped = 12345;
        EXPECT_EQ(step.bAdmitted, limit.Admit(step.nowMs, &skipped)) << "at " << step.nowMs;
        if (step.bAdmitted) {
            EXPECT_EQ(step.nSkipped, skipped) << "at " << step.nowMs;
        }
    }
}

}  // namespace
