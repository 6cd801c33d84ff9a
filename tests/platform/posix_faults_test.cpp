// What a user of the posix file system meets when the system says no: a full
// disk, a refusing or read-only file system, a kernel or file system without
// in-kernel copies, without RENAME_NOREPLACE, or without inotify. Each case
// puts a failing call into the backend's table of system calls and looks at
// the whole operation: the error raised and what is left on disk.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <filesystem>

#include "base/errors.h"
#include "platform/posix/folder_index.h"
#include "support/test_support.h"
#include "sys_override.h"

namespace fs = std::filesystem;

namespace {

// What the replacements below answer; set by each test before its override.
int gError = 0;
int gCalls = 0;
int gSucceedFirst = 0;  // calls let through before the failures start

// Several of the backend's copy blocks of bytes that differ from block to
// block, so that a block copied twice or left out shows.
std::string bigContent() {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    return bytes;
}

ssize_t copyThenFail(int in, off_t* inOffset, int out, off_t* outOffset, size_t size, unsigned flags) {
    if (gCalls++ < gSucceedFirst) {
        return posix::kRealSysCalls.copy_file_range(in, inOffset, out, outOffset, size, flags);
    }
    errno = gError;
    return -1;
}

ssize_t writeThenFail(int fd, const void* data, size_t size) {
    if (gCalls++ < gSucceedFirst) return posix::kRealSysCalls.write(fd, data, size);
    errno = gError;
    return -1;
}

ssize_t noKernelCopy(int, off_t*, int, off_t*, size_t, unsigned) {
    errno = EXDEV;
    return -1;
}

int renameWithoutNoReplace(int, const char*, int, const char*, unsigned) {
    errno = gError;
    return -1;
}

// A kernel or file system that copies nothing in the kernel, or stops part-way
// (a copy across file systems): the copy goes on through a buffer from where
// the kernel stopped, and the target is the source byte for byte.
TEST(PosixFaults, ACopyWithoutTheKernelsHelpIsStillWhole) {
    TestRun run;
    const std::string content = bigContent();
    run.sandbox.writeFile("C:\\Data\\source.bin", content);
    struct Case {
        int error;
        int kernelBlocks;
    };
    for (const Case c : {Case{ENOSYS, 0}, Case{EXDEV, 0}, Case{EXDEV, 1}, Case{EOPNOTSUPP, 2}}) {
        SCOPED_TRACE(std::to_string(c.error) + " after " + std::to_string(c.kernelBlocks));
        gError = c.error;
        gCalls = 0;
        gSucceedFirst = c.kernelBlocks;
        const std::string target = "C:\\Data\\copy" + std::to_string(c.error) + "_" + std::to_string(c.kernelBlocks);
        {
            SysCallOverride fallback(&posix::SysCalls::copy_file_range, copyThenFail);
            run.fs.CopyFile("C:\\Data\\source.bin", target, false);
        }
        EXPECT_GT(gCalls, c.kernelBlocks);
        EXPECT_TRUE(run.sandbox.readFile(target) == content) << "the copy is not the source";
    }
}

// A disk that fills in the middle of a copy: "Disk full", and nothing under
// the target's name (neither a new one nor one copied over), whichever way the
// bytes were going; the source is untouched.
TEST(PosixFaults, ADiskFullInTheMiddleOfACopyLeavesNoHalfFile) {
    TestRun run;
    const std::string content = bigContent();
    run.sandbox.writeFile("C:\\Data\\source.bin", content);
    for (const bool overwrite : {false, true}) {
        for (const bool inKernel : {true, false}) {
            SCOPED_TRACE(std::string(overwrite ? "over an old copy, " : "new, ") +
                         (inKernel ? "in the kernel" : "buffered"));
            if (overwrite) run.sandbox.writeFile("C:\\Data\\target.bin", "old copy");
            gError = ENOSPC;
            gCalls = 0;
            gSucceedFirst = 1;
            long number = 0;
            if (inKernel) {
                SysCallOverride full(&posix::SysCalls::copy_file_range, copyThenFail);
                number = errorOf([&] { run.fs.CopyFile("C:\\Data\\source.bin", "C:\\Data\\target.bin", overwrite); });
            } else {
                SysCallOverride buffered(&posix::SysCalls::copy_file_range, noKernelCopy);
                SysCallOverride full(&posix::SysCalls::write, writeThenFail);
                number = errorOf([&] { run.fs.CopyFile("C:\\Data\\source.bin", "C:\\Data\\target.bin", overwrite); });
            }
            EXPECT_EQ(number, err::DiskFull);
            EXPECT_FALSE(run.sandbox.exists("C:\\Data\\target.bin"));
            EXPECT_TRUE(run.sandbox.readFile("C:\\Data\\source.bin") == content);
        }
    }
}

// A write the system refuses or cannot take: the scripting runtime's error
// that a user reads in the log, number and description.
TEST(PosixFaults, ARefusedWriteRaisesTheErrorWindowsWouldGive) {
    TestRun run;
    run.sandbox.makeFolder("C:\\Data");
    struct Case {
        int error;
        long number;
        const char* description;
    };
    for (const Case c : {Case{EACCES, err::PermissionDenied, "Permission denied"},
                         Case{EROFS, err::PermissionDenied, "Permission denied"},
                         Case{ENOSPC, err::DiskFull, "Disk full"}, Case{EDQUOT, err::DiskFull, "Disk full"},
                         Case{EIO, err::DeviceIO, "Device I/O error"}}) {
        SCOPED_TRACE(c.error);
        gError = c.error;
        gCalls = 0;
        gSucceedFirst = 1;  // the first line goes, the second does not
        const auto stream = run.fs.CreateTextFile("C:\\Data\\out.txt", true);
        const RunError raised = raisedBy([&] {
            SysCallOverride refused(&posix::SysCalls::write, writeThenFail);
            stream->WriteLine("first");
            stream->WriteLine("second");
        });
        stream->Close();
        EXPECT_EQ(raised.number, c.number);
        EXPECT_EQ(raised.description, c.description);
        EXPECT_EQ(run.sandbox.readFile("C:\\Data\\out.txt"), "first\r\n");
    }
    // A file system mounted read-only refuses the open itself.
    gError = EROFS;
    SysCallOverride readOnly(&posix::SysCalls::open, [](const char*, int, mode_t) {
        errno = gError;
        return -1;
    });
    EXPECT_EQ(errorOf([&] { run.fs.CreateTextFile("C:\\Data\\new.txt", false); }), err::PermissionDenied);
}

// A file system without RENAME_NOREPLACE (renameat2 answers EINVAL, or an
// older kernel ENOSYS): a new file is still placed whole under its name, and
// a name already taken is still never replaced, nor the partial file left.
TEST(PosixFaults, WithoutNoReplaceRenamesAFileIsPlacedButNeverReplacesOne) {
    TestRun run;
    run.sandbox.makeFolder("C:\\Drop");
    for (const int error : {EINVAL, ENOSYS}) {
        SCOPED_TRACE(error);
        gError = error;
        SysCallOverride noNoReplace(&posix::SysCalls::renameat2, renameWithoutNoReplace);
        const std::string name = "C:\\Drop\\record" + std::to_string(error) + ".xml";
        run.fs.PlaceNewFile(name + ".tmp", name, "<first/>");
        EXPECT_EQ(run.sandbox.readFile(name), "<first/>");
        EXPECT_EQ(errorOf([&] { run.fs.PlaceNewFile(name + ".tmp", name, "<second/>"); }), err::FileExists);
        EXPECT_EQ(run.sandbox.readFile(name), "<first/>");
        EXPECT_FALSE(run.sandbox.exists(name + ".tmp"));

        run.sandbox.writeFile("C:\\Drop\\moved.txt", "mover");
        EXPECT_EQ(errorOf([&] { run.fs.MoveFile("C:\\Drop\\moved.txt", name, false); }), err::FileExists);
        EXPECT_EQ(run.sandbox.readFile(name), "<first/>");
        run.fs.MoveFile("C:\\Drop\\moved.txt", "C:\\Drop\\moved" + std::to_string(error) + ".txt", false);
        EXPECT_EQ(run.sandbox.readFile("C:\\Drop\\moved" + std::to_string(error) + ".txt"), "mover");
        EXPECT_FALSE(run.sandbox.exists("C:\\Drop\\moved.txt"));
    }
}

// Without inotify (its instances used up, or none in the kernel) the names of
// a folder are read on each miss: a name that appears after the first look is
// found, in any case, as with a watch. The index is one per process and starts
// its inotify once, so the case runs in a process of its own.
TEST(PosixFaults, WithoutInotifyANameThatAppearsIsStillFound) {
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, not a fork of this one
    EXPECT_EXIT(
        {
            SysCallOverride noInotify(&posix::SysCalls::inotify_init1, [](int) {
                errno = EMFILE;
                return -1;
            });
            TestRun run;
            run.sandbox.writeFile("C:\\Folder\\First.txt", "1");
            const auto found = [&](const std::string& name) {
                return run.fs.FileExistsInside("C:\\Folder", "C:\\Folder\\" + name);
            };
            const std::uint64_t before = folderReadings();
            bool ok = found("FIRST.TXT") && !found("LATER.TXT");
            run.sandbox.writeFile("C:\\Folder\\Later.txt", "2");
            ok = ok && found("later.txt") && found("First.TXT");
            fs::remove(run.sandbox.hostPath("C:\\Folder\\First.txt"));
            ok = ok && !found("first.txt");
            // Each look-up of a name not spelled as on disk read the folder:
            // nothing was kept without a watch to keep it current.
            ok = ok && folderReadings() - before >= 5;
            std::_Exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace
