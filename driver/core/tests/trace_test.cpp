// The trace line format and the emptying of trace files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "orvo/core/driver_state.h"
#include "orvo/core/trace.h"
#include "orvo/testing/child.h"
#include "orvo/testing/files.h"
#include "orvo/testing/temp_dir.h"

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

using testing::ReadText;

TEST(Trace, AppendsAndEmptiesWithoutCreating) {
    const testing::TempDir temp("orvo-trace");
    const std::string dir = temp.dir();
    setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
    Trace(TraceFile::Thread, 2, "Read_Buff_Cmd", 3);
    Trace(TraceFile::Thread, 2, "Read_Buff_Cmd", 4);
    const std::string text = ReadText(dir + "thread.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_NE(text.find("[      4]\n"), std::string::npos);

    EmptyTraceFiles();
    EXPECT_EQ(ReadText(dir + "thread.txt"), "");
    std::FILE* f = std::fopen((dir + "getone.txt").c_str(), "r");
    EXPECT_EQ(f, nullptr);  // not created by emptying
    if (f) std::fclose(f);

    // A trace that cannot be written is skipped quietly.
    setenv("ORVOSCAN_TRACE_DIR", "/nonexistent/dir", 1);
    Trace(TraceFile::GetOne, 0, "x", 0);
    unsetenv("ORVOSCAN_TRACE_DIR");
}

// Batch start empties the traces and every step appends to them: neither
// goes through a symbolic link to another file, nor waits on a FIFO (the
// child would be ended after 10 s).
TEST(Trace, NeverThroughLinksNorIntoFifos) {
    const testing::TempDir temp("orvo-trace");
    const std::string dir = temp.dir();
    {
        std::ofstream victim(dir + "victim");
        victim << "keep";
    }
    ASSERT_EQ(symlink((dir + "victim").c_str(), (dir + "thread.txt").c_str()), 0);
    ASSERT_EQ(symlink((dir + "victim").c_str(), (dir + "getone.txt").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "log.txt").c_str(), 0600), 0);
    EXPECT_EQ(testing::RunInChild(
                  [&] {
                      setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
                      EmptyTraceFiles();
                      Trace(TraceFile::Thread, 1, "Read_Buff_Cmd", 1);
                      Trace(TraceFile::GetOne, 1, "OrvoScan_GetOneImage START", 0);
                      Trace(TraceFile::Log, 0, "scanner in use", 0);
                      return 0;
                  },
                  std::chrono::seconds(10)),
              0);
    EXPECT_EQ(ReadText(dir + "victim"), "keep");
    struct stat st{};
    ASSERT_EQ(lstat((dir + "thread.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(lstat((dir + "log.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A thread that keeps thread.txt open writes the same lines, each on disk at
// once; emptying the file keeps appending at its new end; a file removed,
// renamed or replaced by a link or a FIFO under the name is left alone and
// the lines go where they would go without the kept descriptor.
TEST(Trace, KeptOpenFollowsTheName) {
    const testing::TempDir temp("orvo-trace");
    const std::string dir = temp.dir();
    const std::string path = dir + "thread.txt";
    {
        std::ofstream victim(dir + "victim");
        victim << "keep";
    }
    const int code = testing::RunInChild(
        [&] {
            setenv("ORVOSCAN_TRACE_DIR", dir.c_str(), 1);
            bool ok = true;
            auto lines = [&] {
                const std::string text = ReadText(path);
                return std::count(text.begin(), text.end(), '\n');
            };
            {
                TraceKeepOpen keep(TraceFile::Thread);
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 0);
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 1);
                ok = ok && lines() == 2;
                ok = ok && ReadText(path).find("GetDBStat_Cmd") != std::string::npos;
                // Emptied by a batch start meanwhile: the next line is the first.
                EmptyTraceFiles();
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 2);
                ok = ok && lines() == 1 && ReadText(path).find("[      2]\n") != std::string::npos;
                // Renamed away: a new thread.txt takes the next line.
                ok = ok && std::rename(path.c_str(), (dir + "old.txt").c_str()) == 0;
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 3);
                ok = ok && lines() == 1 &&
                     ReadText(dir + "old.txt").find("[      3]") == std::string::npos;
                // A link or a FIFO in its place: nothing written, nothing waits.
                ok = ok && std::remove(path.c_str()) == 0;
                ok = ok && symlink((dir + "victim").c_str(), path.c_str()) == 0;
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 4);
                ok = ok && std::remove(path.c_str()) == 0 && mkfifo(path.c_str(), 0600) == 0;
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 5);
                ok = ok && std::remove(path.c_str()) == 0;
                Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 6);
                ok = ok && lines() == 1 && ReadText(path).find("[      6]\n") != std::string::npos;
            }
            // Closed with the keeper: the file can go and come back as before.
            ok = ok && std::remove(path.c_str()) == 0;
            Trace(TraceFile::Thread, 1, "GetDBStat_Cmd", 7);
            ok = ok && lines() == 1;
            return ok ? 0 : 3;
        },
        std::chrono::seconds(10));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadText(dir + "victim"), "keep");
}

// The lines of a batch reach the file together, in order, when it ends;
// lines to other files and lines of other threads are written at once.
TEST(Trace, BatchWritesItsLinesWhenItEnds) {
    const testing::TempDir temp("orvo-trace");
    const std::string dir = temp.dir();
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
        const std::string thread = ReadText(dir + "thread.txt");
        EXPECT_EQ(std::count(thread.begin(), thread.end(), '\n'), 1);
        const std::string held = ReadText(dir + "getone.txt");
        EXPECT_NE(held.find("other thread"), std::string::npos);
        EXPECT_EQ(held.find("first"), std::string::npos);
        EXPECT_EQ(held.find("second"), std::string::npos);
        Trace(TraceFile::GetOne, 1, "third", 3);
    }
    Trace(TraceFile::GetOne, 1, "after", 0);
    const std::string text = ReadText(dir + "getone.txt");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6);
    std::size_t at = 0;
    for (const char* step : {"before", "other thread", "first", "second", "third", "after"}) {
        const std::size_t found = text.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << " missing or out of order";
        at = found;
    }
    EXPECT_NE(text.find("[      3]\n"), std::string::npos);
    unsetenv("ORVOSCAN_TRACE_DIR");
}

}  // namespace
}  // namespace orvo
