// The trace line format and the emptying of trace files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"

namespace orvo {
namespace {

TEST(Trace, LineBytes) {
    const std::string line = FormatTraceLine(0, "SetWindow_Cmd-Bright", 5, 14, 3, 7, 45);
    const std::string stamped = "SetWindow_Cmd-Bright 14:03:07:045";
    const std::string expected =
        "  0:\t" + std::string(65 - stamped.size(), ' ') + stamped + "\t[      5]\n";
    EXPECT_EQ(line, expected);
    EXPECT_EQ(FormatTraceLine(123, "x", -1, 0, 0, 0, 0).substr(0, 5), "123:\t");
    // A text longer than the field is written whole.
    const std::string longText(80, 'a');
    EXPECT_NE(FormatTraceLine(1, longText.c_str(), 0, 0, 0, 0, 0).find(longText),
              std::string::npos);
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(Trace, AppendsAndEmptiesWithoutCreating) {
    char dirTemplate[] = "/tmp/orvo-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = std::string(dirTemplate) + "/";
    setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
    Trace(TraceFile::Thread, 2, "Read_Buff_Cmd", 3);
    Trace(TraceFile::Thread, 2, "Read_Buff_Cmd", 4);
    const std::string text = Slurp(dir + "thread.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_NE(text.find("[      4]\n"), std::string::npos);

    EmptyTraceFiles();
    EXPECT_EQ(Slurp(dir + "thread.txt"), "");
    std::FILE* f = std::fopen((dir + "getone.txt").c_str(), "r");
    EXPECT_EQ(f, nullptr);  // not created by emptying
    if (f) std::fclose(f);
    std::remove((dir + "thread.txt").c_str());

    // A trace that cannot be written is skipped quietly.
    setenv("ORVOSCAN_TRACE_DIR", "/nonexistent/dir", 1);
    Trace(TraceFile::GetOne, 0, "x", 0);
    unsetenv("ORVOSCAN_TRACE_DIR");
    rmdir(dirTemplate);
}

// Batch start empties the traces and every step appends to them: neither
// goes through a symbolic link to another file, nor waits on a FIFO (the
// child would be ended by the alarm).
TEST(Trace, NeverThroughLinksNorIntoFifos) {
    char dirTemplate[] = "/tmp/orvo-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = std::string(dirTemplate) + "/";
    {
        std::ofstream victim(dir + "victim");
        victim << "keep";
    }
    ASSERT_EQ(symlink((dir + "victim").c_str(), (dir + "thread.txt").c_str()), 0);
    ASSERT_EQ(symlink((dir + "victim").c_str(), (dir + "getone.txt").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "log.txt").c_str(), 0600), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
        alarm(10);
        EmptyTraceFiles();
        Trace(TraceFile::Thread, 1, "Read_Buff_Cmd", 1);
        Trace(TraceFile::GetOne, 1, "OrvoScan_GetOneImage START", 0);
        Trace(TraceFile::Log, 0, "scanner in use", 0);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Slurp(dir + "victim"), "keep");
    struct stat st {};
    ASSERT_EQ(lstat((dir + "thread.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat((dir + "log.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    for (const char* name : {"victim", "thread.txt", "getone.txt", "log.txt"}) {
        std::remove((dir + name).c_str());
    }
    rmdir(dirTemplate);
}

// A thread that keeps thread.txt open writes the same lines, each on disk at
// once; emptying the file keeps appending at its new end; a file removed,
// renamed or replaced by a link or a FIFO under the name is left alone and
// the lines go where they would go without the kept descriptor.
TEST(Trace, KeptOpenFollowsTheName) {
    char dirTemplate[] = "/tmp/orvo-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = std::string(dirTemplate) + "/";
    const std::string path = dir + "thread.txt";
    {
        std::ofstream victim(dir + "victim");
        victim << "keep";
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
        alarm(10);
        bool ok = true;
        auto lines = [&] {
            const std::string text = Slurp(path);
            return std::count(text.begin(), text.end(), '\n');
        };
        {
            TraceKeepOpen keep(TraceFile::Thread);
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 0);
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 1);
            ok = ok && lines() == 2;
            ok = ok && Slurp(path).find("GetDBStat_Cmd") != std::string::npos;
            // Emptied by a batch start meanwhile: the next line is the first.
            EmptyTraceFiles();
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 2);
            ok = ok && lines() == 1 && Slurp(path).find("[      2]\n") != std::string::npos;
            // Renamed away: a new thread.txt takes the next line.
            ok = ok && std::rename(path.c_str(), (dir + "old.txt").c_str()) == 0;
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 3);
            ok =
                ok && lines() == 1 && Slurp(dir + "old.txt").find("[      3]") == std::string::npos;
            // A link or a FIFO in its place: nothing written, nothing waits.
            ok = ok && std::remove(path.c_str()) == 0;
            ok = ok && symlink((dir + "victim").c_str(), path.c_str()) == 0;
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 4);
            ok = ok && std::remove(path.c_str()) == 0 && mkfifo(path.c_str(), 0600) == 0;
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 5);
            ok = ok && std::remove(path.c_str()) == 0;
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 6);
            ok = ok && lines() == 1 && Slurp(path).find("[      6]\n") != std::string::npos;
        }
        // Closed with the keeper: the file can go and come back as before.
        ok = ok && std::remove(path.c_str()) == 0;
        Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 7);
        ok = ok && lines() == 1;
        _exit(ok ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(Slurp(dir + "victim"), "keep");
    std::filesystem::remove_all(dirTemplate);
}

// The lines of a batch reach the file together, in order, when it ends;
// lines to other files and lines of other threads are written at once.
TEST(Trace, BatchWritesItsLinesWhenItEnds) {
    char dirTemplate[] = "/tmp/orvo-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    const std::string dir = std::string(dirTemplate) + "/";
    setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
    Trace(TraceFile::GetOne, 1, "before", 0);
    {
        TraceBatch batch(TraceFile::GetOne);
        Trace(TraceFile::GetOne, 1, "first", 1);
        {
            TraceBatch inner(TraceFile::GetOne);
            Trace(TraceFile::GetOne, 1, "second", 2);
        }
        Trace(TraceFile::Thread, 1, "elsewhere", 0);
        std::thread([] { Trace(TraceFile::GetOne, 9, "other thread", 0); }).join();
        const std::string thread = Slurp(dir + "thread.txt");
        EXPECT_EQ(std::count(thread.begin(), thread.end(), '\n'), 1);
        const std::string held = Slurp(dir + "getone.txt");
        EXPECT_NE(held.find("other thread"), std::string::npos);
        EXPECT_EQ(held.find("first"), std::string::npos);
        EXPECT_EQ(held.find("second"), std::string::npos);
        Trace(TraceFile::GetOne, 1, "third", 3);
    }
    Trace(TraceFile::GetOne, 1, "after", 0);
    const std::string text = Slurp(dir + "getone.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    std::size_t at = 0;
    for (const char* step : {"before", "other thread", "first", "second", "third", "after"}) {
        const std::size_t found = text.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << " missing or out of order";
        at = found;
    }
    EXPECT_NE(text.find("[      3]\n"), std::string::npos);
    unsetenv("ORVOSCAN_TRACE_DIR");
    std::filesystem::remove_all(dirTemplate);
}

}  // namespace
}  // namespace orvo
