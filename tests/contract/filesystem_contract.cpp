// The file-system object: the runtime's error numbers, text streams and their
// line rules, copies, moves and deletes with the read-only attribute, folder
// listings, and the confined operations on what lies below a folder.
#include <cstdlib>

#include "base/errors.h"
#include "contract.h"
#include "platform/buffered_stream.h"

namespace {

std::vector<std::string> readLines(TextStream& stream) {
    std::vector<std::string> lines;
    while (!stream.AtEndOfStream()) lines.push_back(stream.ReadLine());
    return lines;
}

class FileSystemContract : public Contract {
protected:
    FileSystem& fsys = *sys.fs;
};

TEST_F(FileSystemContract, ExistenceFollowsKindAndIgnoresCase) {
    box.writeFile("C:\\Agent\\Config.ini", "x");
    EXPECT_TRUE(fsys.FolderExists("c:\\agent"));
    EXPECT_TRUE(fsys.FolderExists("C:\\Agent\\"));
    EXPECT_FALSE(fsys.FolderExists("C:\\Agent\\Config.ini"));
    EXPECT_TRUE(fsys.FileExists("C:\\AGENT\\config.INI"));
    // The program joins paths that carry a doubled separator.
    EXPECT_TRUE(fsys.FileExists("C:\\Agent\\\\Config.ini"));
    EXPECT_FALSE(fsys.FileExists("C:\\Agent"));
    EXPECT_FALSE(fsys.FileExists("C:\\Agent\\Missing.ini"));

    fsys.CreateFolder("C:\\Agent\\\\AutomiseLogs");
    EXPECT_TRUE(fsys.FolderExists("C:\\Agent\\AutomiseLogs"));
    EXPECT_EQ(errorOf([&] { fsys.CreateFolder("C:\\AGENT"); }), err::FileExists);
    EXPECT_EQ(errorOf([&] { fsys.CreateFolder("C:\\Missing\\Child"); }), err::PathNotFound);
}

TEST_F(FileSystemContract, ReadLineSplitsAtEveryLineEndAndAcrossReadBlocks) {
    box.writeFile("C:\\t.txt", "one\r\ntwo\nthree\r\n\r\nin\rside\nlast");
    auto in = fsys.OpenTextFile("C:\\t.txt", IOMode::ForReading, false);
    EXPECT_EQ(readLines(*in), (std::vector<std::string>{"one", "two", "three", "", "in\rside", "last"}));
    EXPECT_TRUE(in->AtEndOfStream());
    EXPECT_EQ(errorOf([&] { in->ReadLine(); }), err::PastEnd);

    box.writeFile("C:\\one.txt", "only\r\n");
    EXPECT_EQ(readLines(*fsys.OpenTextFile("C:\\one.txt", IOMode::ForReading, false)), std::vector<std::string>{"only"});
    box.writeFile("C:\\empty.txt", "");
    auto empty = fsys.OpenTextFile("C:\\empty.txt", IOMode::ForReading, false);
    EXPECT_TRUE(empty->AtEndOfStream());
    EXPECT_EQ(errorOf([&] { empty->ReadLine(); }), err::PastEnd);
    EXPECT_EQ(empty->ReadAll(), "");

    // The CR of the first line is the last byte of the first block and its
    // LF the first byte of the next; the second line spans several blocks.
    const std::string first(kTextReadBlock - 1, 'a');
    const std::string second(3 * kTextReadBlock + 17, 'b');
    box.writeFile("C:\\big.txt", first + "\r\n" + second + "\nend");
    auto big = fsys.OpenTextFile("C:\\big.txt", IOMode::ForReading, false);
    EXPECT_EQ(big->ReadLine(), first);
    EXPECT_EQ(big->ReadLine(), second);
    EXPECT_EQ(big->ReadAll(), "end");
    EXPECT_TRUE(big->AtEndOfStream());
}

// A line without end is kept to its first kMaxLineBytes; the next line is
// read as usual after it.
TEST_F(FileSystemContract, AnEndlessLineIsCutAndReadPast) {
    const std::string endless(3 * kMaxLineBytes + 12345, 'e');
    box.writeFile("C:\\long.txt", "first\r\n" + endless + "\r\nnext\r\n" + endless);
    auto in = fsys.OpenTextFile("C:\\long.txt", IOMode::ForReading, false);
    EXPECT_EQ(in->ReadLine(), "first");
    EXPECT_EQ(in->ReadLine(), endless.substr(0, kMaxLineBytes));
    EXPECT_EQ(in->ReadLine(), "next");
    EXPECT_EQ(in->ReadLine(), endless.substr(0, kMaxLineBytes));
    EXPECT_TRUE(in->AtEndOfStream());
}

// Lines taken in batches are the lines ReadLine gives, in order, and each
// batch lies in one buffer with its line ends between its lines, however the
// read blocks and an endless line cut the file.
TEST_F(FileSystemContract, BatchesOfLinesAreTheLinesInOrder) {
    std::string text;
    std::vector<std::string> expected;
    auto add = [&](const std::string& line, const std::string& end) {
        text += line + end;
        expected.push_back(line.substr(0, kMaxLineBytes));
    };
    for (int i = 0; text.size() < kTextReadBlock - 40; ++i) add("line " + std::to_string(i), i % 3 ? "\r\n" : "\n");
    add(std::string(kTextReadBlock - 1 - text.size(), 'c'), "\r\n");  // CR ends the block, LF begins the next
    add("", "\r\n");
    add(std::string(2 * kTextReadBlock, 'w'), "\n");
    add(std::string(kMaxLineBytes + kTextReadBlock + 5, 'e'), "\r\n");
    add("after the endless line", "\n");
    add("in\rside", "\r\n");
    add("last without end", "");
    box.writeFile("C:\\lines.txt", text);

    auto in = fsys.OpenTextFile("C:\\lines.txt", IOMode::ForReading, false);
    std::vector<std::string> got;
    std::string_view batch[7];
    while (const std::size_t count = in->ReadLines(batch, 7)) {
        ASSERT_LE(count, 7u);
        const std::string_view span = spanOfLines(batch, count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_GE(batch[i].data(), span.data());
            EXPECT_LE(batch[i].data() + batch[i].size(), span.data() + span.size());
            if (i > 0) {
                EXPECT_GT(batch[i].data(), batch[i - 1].data() + batch[i - 1].size());
            }
        }
        for (std::size_t i = 0; i < count; ++i) got.emplace_back(batch[i]);
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(in->ReadLines(batch, 7), 0u);
    EXPECT_TRUE(in->AtEndOfStream());
}

TEST_F(FileSystemContract, WrittenLinesReachTheFileAtOnceAndStreamsKeepTheirDirection) {
    auto out = fsys.CreateTextFile("C:\\log.txt", true);
    out->WriteLine("first");
    out->Write("sec");
    out->WriteLine("ond");
    out->WriteLines({"a", "b"});
    // Nothing is held back in the process: a kill now would lose nothing.
    EXPECT_EQ(box.readFile("C:\\log.txt"), "first\r\nsecond\r\na\r\nb\r\n");
    EXPECT_NE(errorOf([&] { out->ReadLine(); }), 0);
    EXPECT_NE(errorOf([&] { out->ReadAll(); }), 0);
    out->Close();
    EXPECT_NE(errorOf([&] { out->WriteLine("late"); }), 0);

    box.writeFile("C:\\r.txt", "x");
    auto in = fsys.OpenTextFile("C:\\r.txt", IOMode::ForReading, false);
    EXPECT_NE(errorOf([&] { in->Write("y"); }), 0);
    EXPECT_NE(errorOf([&] { in->WriteLine("y"); }), 0);
    in->Close();
    EXPECT_NE(errorOf([&] { in->ReadLine(); }), 0);
    EXPECT_EQ(box.readFile("C:\\r.txt"), "x");

    // Appending goes to the end even after another writer.
    auto log = fsys.OpenTextFile("C:\\log.txt", IOMode::ForAppending, false);
    log->WriteLine("mine");
    fsys.OpenTextFile("C:\\log.txt", IOMode::ForAppending, false)->WriteLine("theirs");
    log->WriteLine("mine again");
    log->Close();
    EXPECT_EQ(box.readFile("C:\\log.txt"), "first\r\nsecond\r\na\r\nb\r\nmine\r\ntheirs\r\nmine again\r\n");

    // A file open for writing can be read, copied and deleted by others.
    auto open = fsys.CreateTextFile("C:\\open.txt", true);
    open->WriteLine("line");
    fsys.CopyFile("C:\\open.txt", "C:\\copy.txt", true);
    EXPECT_EQ(box.readFile("C:\\copy.txt"), "line\r\n");
    EXPECT_NO_THROW(fsys.DeleteFile("C:\\open.txt", false));
}

TEST_F(FileSystemContract, OpenAndCreateFollowTheModesAndTheReadOnlyAttribute) {
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\none.txt", IOMode::ForReading, false); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\none.txt", IOMode::ForAppending, false); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\NoDir\\x.txt", IOMode::ForReading, false); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\NoDir\\x.txt", IOMode::ForWriting, true); }), err::PathNotFound);
    EXPECT_FALSE(box.exists("C:\\none.txt"));

    box.writeFile("C:\\f.txt", "old\r\n");
    fsys.OpenTextFile("C:\\F.TXT", IOMode::ForAppending, false)->WriteLine("more");
    EXPECT_EQ(box.readFile("C:\\f.txt"), "old\r\nmore\r\n");
    fsys.OpenTextFile("C:\\f.txt", IOMode::ForWriting, false)->Write("new");
    EXPECT_EQ(box.readFile("C:\\f.txt"), "new");
    fsys.OpenTextFile("C:\\made.txt", IOMode::ForAppending, true)->WriteLine("a");
    EXPECT_EQ(box.readFile("C:\\made.txt"), "a\r\n");

    box.writeFile("C:\\c.txt", "keep");
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\C.txt", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\c.txt"), "keep");
    fsys.CreateTextFile("C:\\c.txt", true)->Write("new");
    EXPECT_EQ(box.readFile("C:\\c.txt"), "new");
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\NoDir\\x.txt", true); }), err::PathNotFound);
    box.makeFolder("C:\\Folder");
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\Folder", true); }), err::PermissionDenied);

    fsys.SetReadOnly("C:\\c.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.CreateTextFile("C:\\c.txt", true); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\c.txt", IOMode::ForAppending, false); }), err::PermissionDenied);
    EXPECT_EQ(errorOf([&] { fsys.OpenTextFile("C:\\c.txt", IOMode::ForWriting, false); }), err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\c.txt"), "new");
    EXPECT_EQ(fsys.OpenTextFile("C:\\c.txt", IOMode::ForReading, false)->ReadAll(), "new");
    fsys.SetReadOnly("C:\\c.txt", false);
    fsys.CreateTextFile("C:\\c.txt", true)->Write("writable again");
    EXPECT_EQ(box.readFile("C:\\c.txt"), "writable again");
    EXPECT_EQ(errorOf([&] { fsys.SetReadOnly("C:\\missing.txt", true); }), err::FileNotFound);
}

TEST_F(FileSystemContract, CopyMoveAndDeleteKeepWhatTheyMayNotReplace) {
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
    box.writeFile("C:\\src\\a.bin", bytes);
    box.makeFolder("C:\\dst");
    fsys.CopyFile("C:\\SRC\\a.bin", "C:\\dst\\b.bin", false);
    EXPECT_EQ(box.readFile("C:\\dst\\b.bin"), bytes);

    box.writeFile("C:\\dst\\c.bin", "small");
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\a.bin", "C:\\dst\\c.bin", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\dst\\c.bin"), "small");
    box.writeFile("C:\\src\\short.txt", "xy");
    fsys.CopyFile("C:\\src\\short.txt", "C:\\dst\\b.bin", true);
    EXPECT_EQ(box.readFile("C:\\dst\\b.bin"), "xy");
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\none", "C:\\dst\\n", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\nodir\\none", "C:\\dst\\n", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\nodir\\n", true); }), err::PathNotFound);
    // Copying a file onto itself must not destroy it.
    EXPECT_NE(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\src\\short.txt", true); }), 0);
    EXPECT_EQ(box.readFile("C:\\src\\short.txt"), "xy");
    fsys.SetReadOnly("C:\\dst\\c.bin", true);
    EXPECT_EQ(errorOf([&] { fsys.CopyFile("C:\\src\\short.txt", "C:\\dst\\c.bin", true); }), err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\dst\\c.bin"), "small");

    box.writeFile("C:\\m\\a.txt", "A");
    box.writeFile("C:\\m\\b.txt", "B");
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\a.txt", "C:\\m\\B.TXT", false); }), err::FileExists);
    EXPECT_EQ(box.readFile("C:\\m\\a.txt"), "A");
    EXPECT_EQ(box.readFile("C:\\m\\b.txt"), "B");
    fsys.MoveFile("C:\\m\\a.txt", "C:\\m\\b.txt", true);
    EXPECT_FALSE(box.exists("C:\\m\\a.txt"));
    EXPECT_EQ(box.readFile("C:\\m\\b.txt"), "A");
    fsys.MoveFile("C:\\m\\b.txt", "C:\\m\\c.txt", false);
    EXPECT_EQ(box.readFile("C:\\m\\c.txt"), "A");
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\b.txt", "C:\\m\\d.txt", true); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\c.txt", "C:\\nodir\\d.txt", false); }), err::PathNotFound);
    box.writeFile("C:\\m\\new.txt", "new");
    fsys.SetReadOnly("C:\\m\\c.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.MoveFile("C:\\m\\new.txt", "C:\\m\\c.txt", true); }), err::PermissionDenied);
    EXPECT_EQ(box.readFile("C:\\m\\c.txt"), "A");

    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\none.txt", true); }), err::FileNotFound);
    box.makeFolder("C:\\folder");
    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\folder", true); }), err::FileNotFound);
    EXPECT_TRUE(fsys.FolderExists("C:\\folder"));
    box.writeFile("C:\\ro.txt", "x");
    fsys.SetReadOnly("C:\\ro.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.DeleteFile("C:\\RO.txt", false); }), err::PermissionDenied);
    EXPECT_TRUE(box.exists("C:\\ro.txt"));
    fsys.DeleteFile("C:\\Ro.TXT", true);
    EXPECT_FALSE(box.exists("C:\\ro.txt"));
    box.writeFile("C:\\rw.txt", "x");
    fsys.SetReadOnly("C:\\rw.txt", true);
    fsys.SetReadOnly("C:\\rw.txt", false);
    fsys.DeleteFile("C:\\rw.txt", false);
    EXPECT_FALSE(box.exists("C:\\rw.txt"));
}

TEST_F(FileSystemContract, SizesVersionsAndListings) {
    box.writeFile("C:\\s.bin", std::string(1234, 'x'));
    box.writeFile("C:\\empty.bin", "");
    EXPECT_EQ(fsys.GetFileSize("C:\\S.BIN"), 1234u);
    EXPECT_EQ(fsys.GetFileSize("C:\\empty.bin"), 0u);
    EXPECT_EQ(errorOf([&] { fsys.GetFileSize("C:\\none"); }), err::FileNotFound);
    box.makeFolder("C:\\L\\sub");
    EXPECT_EQ(errorOf([&] { fsys.GetFileSize("C:\\L"); }), err::FileNotFound);
    EXPECT_EQ(fsys.GetFileVersion("C:\\s.bin"), "");
    EXPECT_EQ(errorOf([&] { fsys.GetFileVersion("C:\\none.exe"); }), err::FileNotFound);

    EXPECT_EQ(errorOf([&] { fsys.GetFiles("C:\\none"); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fsys.GetFiles("C:\\s.bin"); }), err::PathNotFound);
    EXPECT_TRUE(fsys.GetFiles("C:\\L\\sub").empty());
    box.writeFile("C:\\L\\b.txt", "bb");
    box.writeFile("C:\\L\\A.txt", "a");
    box.writeFile("C:\\L\\c.TXT", "");
    box.writeFile("C:\\L\\a_b", "");
    box.writeFile("C:\\L\\aab", "");
    box.writeFile("C:\\L\\sub\\inner.txt", "");
    ASSERT_TRUE(setFileTime(box.hostPath("C:\\L\\b.txt"), LocalTime{2025, 3, 4, 5, 6, 7}));

    const auto files = fsys.GetFiles("C:\\l");
    std::vector<std::string> names;
    for (const auto& f : files) names.push_back(f.name);
    // Upper-case folding puts "_" after the letters, as NTFS orders names.
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "aab", "a_b", "b.txt", "c.TXT"}));
    ASSERT_EQ(files.size(), 5u);
    EXPECT_EQ(files[3].path, "C:\\l\\b.txt");
    EXPECT_EQ(files[3].size, 2u);
    EXPECT_EQ(files[3].dateCreated, (LocalTime{2025, 3, 4, 5, 6, 7}));
    const auto trailing = fsys.GetFiles("C:\\L\\");
    ASSERT_FALSE(trailing.empty());
    EXPECT_EQ(trailing[0].path, "C:\\L\\A.txt");

    // The filters: by name first, then by entry, then at most `limit`.
    FileQuery query;
    query.name = [](std::string_view name) { return name.find('.') != std::string_view::npos; };
    query.entry = [](const FileEntry& file) { return file.size < 2; };
    names.clear();
    for (const auto& f : fsys.GetFiles("C:\\L", query)) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "c.TXT"}));
    query.limit = 1;
    const auto first = fsys.GetFiles("C:\\L", query);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].name, "A.txt");
}

// The confined operations act on what lies below the folder: a path that
// climbs out, names a stream or lies elsewhere is refused with nothing done,
// and what is really inside they find, read and delete like the others.
TEST_F(FileSystemContract, ConfinedOperationsNeverLeaveTheFolder) {
    const std::string logs = "C:\\Agent\\AutomiseLogs";
    box.writeFile(logs + "\\Sub\\in.txt", "inside\r\n");
    box.writeFile("C:\\Agent\\victim.txt", "victim\r\n");

    const std::vector<std::string> refused = {
        logs + "\\..\\victim.txt",       logs + "\\Sub\\..\\..\\victim.txt", logs + "\\..\\AutomiseLogs2\\x.txt",
        logs + "\\Sub\\in.txt:stream", "C:\\Agent\\victim.txt",
    };
    for (const auto& path : refused) {
        EXPECT_EQ(errorOf([&] { fsys.FileExistsInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, path); }), err::PathAccess) << path;
        EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, path, true); }), err::PathAccess) << path;
    }
    EXPECT_EQ(box.readFile("C:\\Agent\\victim.txt"), "victim\r\n");

    // Inside, names match without regard to case, as elsewhere.
    EXPECT_TRUE(fsys.FileExistsInside(logs, logs + "\\sub\\IN.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\Sub\\none.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\None\\in.txt"));
    EXPECT_FALSE(fsys.FileExistsInside(logs, logs + "\\Sub"));
    EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, logs + "\\Sub\\none.txt"); }), err::FileNotFound);
    EXPECT_EQ(errorOf([&] { fsys.OpenInside(logs, logs + "\\None\\in.txt"); }), err::PathNotFound);
    EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, logs + "\\Sub\\none.txt", true); }), err::FileNotFound);
    EXPECT_EQ(fsys.OpenInside(logs, logs + "\\Sub\\.\\x\\..\\in.txt")->ReadLine(), "inside");
    fsys.SetReadOnly(logs + "\\Sub\\in.txt", true);
    EXPECT_EQ(errorOf([&] { fsys.DeleteInside(logs, logs + "\\Sub\\in.txt", false); }), err::PermissionDenied);
    EXPECT_TRUE(box.exists(logs + "\\Sub\\in.txt"));
    fsys.DeleteInside(logs, logs + "\\SUB\\in.txt", true);
    EXPECT_FALSE(box.exists(logs + "\\Sub\\in.txt"));
}

}  // namespace
