// Script details and their MD5 verification, and the MD5 service. The MD5
// library is the real one of the build (posix: OpenSSL; Win32: the DLL).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "prepare/checksum.h"
#include "support/test_support.h"

namespace {

const std::string kAbcMd5 = "900150983cd24fb0d6963f7d28e17f72";
const std::string kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string kProcessed = "C:\\Agent\\kHVR\\Tellix\\Action_27_KRN\\ProcessedScripts";

// Everything the MD5 library and the profile reader are asked, in order.
using Events = std::vector<std::string>;

// The real library with its plain call (and, on request, its block-wise call)
// failing, as a library that cannot map a large file would.
class FailingMd5 : public ForwardingMd5Library {
public:
    FailingMd5(Events* events, Md5Library& real) : ForwardingMd5Library(real), events_(events) {}
    bool failPlain = true;
    bool failBlock = false;
    std::string blockError = "  disk gone  ";

    std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size, std::string& error) override {
        events_->push_back("KGetMD5");
        if (!failPlain) return ForwardingMd5Library::KGetMD5(path, md5, size, error);
        size = "999";
        error = "plain failed";
        return 0;
    }
    std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                               std::string& size, std::string& error) override {
        events_->push_back("KGetMD5WBlock " + blockSize);
        if (!failBlock) return ForwardingMd5Library::KGetMD5WBlock(path, blockSize, md5, size, error);
        error = blockError;
        return 0;
    }

private:
    Events* events_;
};

// The real profile reader, noting every read.
class RecordingProfile : public ForwardingProfileFiles {
public:
    RecordingProfile(Events* events, ProfileFiles& real) : ForwardingProfileFiles(real), events_(events) {}
    std::string GetString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          std::uint32_t bufferChars, const std::string& file) override {
        events_->push_back("GetString " + section + "/" + key + " " + std::to_string(bufferChars) + " " + file);
        return ForwardingProfileFiles::GetString(section, key, defaultValue, bufferChars, file);
    }
    std::int32_t GetInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                        const std::string& file) override {
        events_->push_back("GetInt " + section + "/" + key + " " + file);
        return ForwardingProfileFiles::GetInt(section, key, defaultValue, file);
    }

private:
    Events* events_;
};

struct ChecksumRun : TestRun {
    ChecksumRun() {
        useInstallPath();
        ctx->strActionName = "Action_27_KRN";
        ctx->sys.md5 = &md5;
        sandbox.makeFolder(kProcessed);
    }
    int count(const std::string& prefix) const {
        int n = 0;
        for (const auto& m : messages()) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }
    // The digest of "abc" in `path`, in the letter case the real library
    // writes it (the Windows library may write upper case).
    std::string abcDigest(const std::string& path) {
        std::string digest, size, error;
        EXPECT_NE(md5.KGetMD5(path, digest, size, error), 0) << error;
        EXPECT_EQ(lowerAscii(digest), kAbcMd5);
        return digest;
    }
    Md5Library& md5 = *real.md5;
};

}  // namespace

// ---- subCompareCheksum: the details text and its entries ----

TEST(CompareChecksum, ExecutionFieldOfSixCharactersFailsAtOnce) {
    ChecksumRun run;
    run.ctx->job.strExecuteScript = "  HTTP@#  ";
    run.ctx->job.strAdditionalScripts = "HTTP@#@missing.atp@#@abc";
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:Scriptname to execute is blank");
    EXPECT_EQ(run.messages(), std::vector<std::string>{"ERR : Preprocessing:Scriptname to execute is blank"});
    EXPECT_TRUE(run.ctx->job.arrScriptDetails.empty());
    EXPECT_EQ(run.ctx->job.strAdditionalScripts, "HTTP@#@missing.atp@#@abc");

    // Seven characters pass the length test and are taken apart.
    ChecksumRun seven;
    seven.ctx->job.strExecuteScript = "@#@x@#@";
    subCompareCheksum(*seven.ctx);
    EXPECT_EQ(seven.ctx->strFailureDesc, "Preprocessing:Checksum is blank for the execution script ");
    ASSERT_EQ(seven.ctx->job.arrScriptDetails.size(), 1u);
}

TEST(CompareChecksum, PrimaryScriptFoundWithUpperCaseChecksum) {
    ChecksumRun run;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    const std::string details = "HTTP@#@main.atp@#@ 900150983CD24FB0D6963F7D28E17F72 ";
    run.ctx->job.strExecuteScript = details;
    run.ctx->job.strAdditionalScripts = "   ";
    subCompareCheksum(*run.ctx);

    EXPECT_EQ(run.ctx->strFailureDesc, "");
    ASSERT_EQ(run.ctx->job.arrScriptDetails.size(), 1u);
    const ScriptDetail& d = run.ctx->job.arrScriptDetails[0];
    EXPECT_EQ(d.FileMode, "HTTP");
    EXPECT_EQ(d.ScriptFile, "main.atp");
    // The part is trimmed as a whole, the field itself is kept as given.
    EXPECT_EQ(d.Checksum, " 900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(d.Status, "");
    EXPECT_EQ(d.Location, kProcessed + "\\main.atp");
    EXPECT_EQ(run.ctx->job.strExecuteScript, "main.atp");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, kProcessed + "\\main.atp");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptFolder, kProcessed);
    EXPECT_EQ(run.ctx->job.strAdditionalScripts, details);
    const std::string digest = run.abcDigest(kProcessed + "\\main.atp");
    EXPECT_EQ(run.ctx->job.strFileMD5, digest);

    const std::vector<std::string> expected = {
        "MSG : Preprocessing: [ScriptDetails 0] File Mode:HTTP; ScriptFile:main.atp; "
        "Checksum: 900150983CD24FB0D6963F7D28E17F72",
        "MSG : Preprocessing: KOVA Processed Scripts :: " + kProcessed,
        "MSG : Preprocessing: Checking for file " + kProcessed + "\\main.atp",
        "MSG : Preprocessing: Primary Script :: " + kProcessed + "\\main.atp",
        "MSG : Preprocessing: Getting MD5 checksum of : " + kProcessed + "\\main.atp",
        "MSG : Preprocessing: Filesize : 3 Bytes for " + kProcessed + "\\main.atp",
        "MSG : Preprocessing: FileMD5CheckSum : " + digest + " for " + kProcessed + "\\main.atp",
    };
    EXPECT_EQ(run.messages(), expected);
}

// An entry whose name climbs out of its deploy folder names no script there,
// even when a file of the right checksum lies where the name leads.
TEST(CompareChecksum, NameLeadingOutOfTheDeployFolderIsNotFound) {
    ChecksumRun run;
    run.sandbox.writeFile("C:\\Agent\\kScripts\\up.atz", "abc");
    const std::string path = kProcessed + "\\..\\..\\..\\..\\kScripts\\up.atz";
    run.ctx->job.strExecuteScript = "HTTP@#@..\\..\\..\\..\\kScripts\\up.atz@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:File not found " + path);
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, "");
    EXPECT_FALSE(run.loggedPart("Getting MD5 checksum"));
}

TEST(CompareChecksum, LocalSyncInAnyCaseWithBlanksSelectsTheProgramFilesFolder) {
    ChecksumRun run;
    run.sandbox.writeFile(programFilesFolder() + "\\KOVAExMonScripts\\ls.atp", "abc");
    run.sandbox.writeFile(kProcessed + "\\main.atp", "");
    run.ctx->job.strExecuteScript = "https@#@main.atp@#@" + kEmptyMd5;
    run.ctx->job.strAdditionalScripts = "  lOcAl-SyNc  @#@ls.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);

    EXPECT_EQ(run.ctx->strFailureDesc, "");
    ASSERT_EQ(run.ctx->job.arrScriptDetails.size(), 2u);
    EXPECT_EQ(run.ctx->job.arrScriptDetails[1].FileMode, "lOcAl-SyNc  ");
    // The folder is named by the short form of Program Files ("C:\\PROGRA~1" on Windows).
    const std::string programFiles = run.paths.ShortPath(programFilesFolder());
    EXPECT_EQ(run.ctx->job.arrScriptDetails[1].Location, programFiles + "\\KOVAExmonScripts\\ls.atp");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: System directory :: " + programFiles));
    EXPECT_TRUE(run.logged("MSG : Preprocessing: [ScriptDetails 1] File Mode:lOcAl-SyNc  ; ScriptFile:ls.atp; "
                           "Checksum:" + kAbcMd5));
    // The additional script never becomes the primary one.
    EXPECT_EQ(run.ctx->job.strExecuteScript, "main.atp");
    EXPECT_EQ(run.count("MSG : Preprocessing: Primary Script :: "), 1);
}

TEST(CompareChecksum, MalformedAndUnknownEntriesAreSkippedSilently) {
    ChecksumRun run;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "SMB@#@share.atp@#@" + kAbcMd5 + "#&#HTTP@#@only2#&#FTP@#@a@#@b@#@c";
    subCompareCheksum(*run.ctx);

    EXPECT_EQ(run.ctx->strFailureDesc, "");
    ASSERT_EQ(run.ctx->job.arrScriptDetails.size(), 4u);
    const ScriptDetail& smb = run.ctx->job.arrScriptDetails[1];
    EXPECT_EQ(smb.FileMode, "SMB");
    EXPECT_EQ(smb.Location, "");
    EXPECT_EQ(smb.Status, "");
    for (std::size_t i : {2u, 3u}) {
        const ScriptDetail& d = run.ctx->job.arrScriptDetails[i];
        EXPECT_EQ(d.FileMode + d.ScriptFile + d.Checksum + d.Location + d.Status, "") << i;
    }
    EXPECT_FALSE(run.loggedPart("[ScriptDetails 2]"));
    EXPECT_FALSE(run.loggedPart("[ScriptDetails 3]"));
    EXPECT_EQ(run.count("MSG : Preprocessing: Checking for file "), 1);
    EXPECT_EQ(run.count("ERR :"), 0);
}

TEST(CompareChecksum, TwoFieldExecutionEntryLeavesThePrimaryScriptUnset) {
    ChecksumRun run;
    run.ctx->job.strPrimaryScriptPath = "C:\\earlier\\job.atp";
    run.ctx->job.strPrimaryScriptFolder = "C:\\earlier";
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp";
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, "");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptFolder, "");
    EXPECT_EQ(run.ctx->job.strExecuteScript, "HTTP@#@main.atp");
    EXPECT_TRUE(run.messages().empty());
}

TEST(CompareChecksum, FailingEntriesJoinedInTableOrderAfterTheScriptNameChanged) {
    ChecksumRun run;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@DEADBEEFDEADBEEFDEADBEEFDEADBEEF";
    run.ctx->job.strAdditionalScripts = "FTP@#@gone.atp@#@" + kAbcMd5 + "#&#HTTP@#@ok.atp@#@x";
    run.sandbox.writeFile(kProcessed + "\\ok.atp", "abc");
    subCompareCheksum(*run.ctx);

    const std::string expected =
        "Preprocessing:MD5 signature of local file " + kProcessed +
        "\\main.atp does not tally with the template information. Template MD5:deadbeefdeadbeefdeadbeefdeadbeef"
        " and local file MD5:" + kAbcMd5 + "\r\nFile not found " + kProcessed + "\\gone.atp" +
        "\r\nMD5 signature of local file " + kProcessed + "\\ok.atp does not tally with the template information. "
        "Template MD5:x and local file MD5:" + kAbcMd5;
    EXPECT_EQ(run.ctx->strFailureDesc, expected);
    EXPECT_EQ(run.count("ERR :"), 1);
    EXPECT_TRUE(run.logged("ERR : " + expected));
    EXPECT_EQ(run.ctx->job.strExecuteScript, "main.atp");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, kProcessed + "\\main.atp");
    EXPECT_EQ(run.ctx->job.arrScriptDetails[1].Status, "ERROR");
    EXPECT_EQ(run.ctx->job.arrScriptDetails[1].Location, kProcessed);  // not found: stays the folder
}

TEST(CompareChecksum, ANameWithACharacterTheCodePageLacksIsNeverLookedUp) {
    ChecksumRun run;
    // The job list's reader leaves "?" for such a character. As a pattern it
    // would match main.atp; on posix it may even be a file of its own.
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    if (onPosixBackend()) run.sandbox.writeFile(kProcessed + "\\ma?n.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@ma?n.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:File not found " + kProcessed + "\\ma?n.atp");
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, "");
    EXPECT_EQ(run.count("MSG : Preprocessing: Getting MD5 checksum"), 0);
}

TEST(CompareChecksum, BlankFieldsNameTheirEntry) {
    ChecksumRun run;
    run.ctx->job.strExecuteScript = "@#@main.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "HTTP@#@ @#@abc#&#SMB@#@  @#@abc#&#HTTP@#@x.atp@#@   #&#@#@y.atp@#@abc";
    subCompareCheksum(*run.ctx);
    // A blank name with a usable folder is looked for as it stands.
    EXPECT_EQ(run.ctx->strFailureDesc,
              "Preprocessing:Deploy Mode is blank for the execution script \r\n"
              "File not found " + kProcessed + "\\ \r\n"
              "The additional script name is blank\r\n"
              "Checksum is blank for the additional script " + kProcessed + "\r\n"
              "Deploy Mode is blank for the additional script ");

    ChecksumRun primary;
    primary.ctx->job.strExecuteScript = "SMB@#@@#@abc";
    primary.ctx->job.strAdditionalScripts = "HTTP@#@x.atp@#@";
    subCompareCheksum(*primary.ctx);
    EXPECT_EQ(primary.ctx->strFailureDesc,
              "Preprocessing:The Script Name to execute is blank\r\n"
              "Checksum is blank for the additional script " + kProcessed);
}

TEST(CompareChecksum, ChecksumServiceFailureComesFirstWithoutPrefix) {
    ChecksumRun run;
    Events events;
    FailingMd5 md5(&events, *run.real.md5);
    md5.failBlock = true;
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "HTTP@#@gone.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->strFailureDesc, "MD5: Failed to Get MD5 checksum for File " + kProcessed +
                                           "\\main.atp Error = disk gone with  KB Block Size\r\n"
                                           "File not found " + kProcessed + "\\gone.atp");
    // The entry whose checksum could not be made is not marked itself.
    EXPECT_EQ(run.ctx->job.arrScriptDetails[0].Status, "");
}

// A library that opens files to itself, as the agent's own may, cannot read
// a file while the program holds it. The run then makes each checksum unheld
// and holds the file right after it, says so once, and fails no job for it.
TEST(CompareChecksum, ALibraryThatCannotReadAHeldFileGetsTheHoldAfterItsChecksum) {
    struct Holds {
        std::multiset<std::string> live;
        int taken = 0;
    } holds;
    class CountedHold : public FileHold {
    public:
        CountedHold(Holds& h, const std::string& path) : h_(h), at_(h.live.insert(path)) { ++h_.taken; }
        ~CountedHold() override { h_.live.erase(at_); }
        bool KeepsWritersOut() const override { return true; }
        bool Unchanged() override { return true; }

    private:
        Holds& h_;
        std::multiset<std::string>::iterator at_;
    };
    class HoldingFileSystem : public ForwardingFileSystem {
    public:
        HoldingFileSystem(FileSystem& real, Holds& h) : ForwardingFileSystem(real), h_(h) {}
        std::unique_ptr<FileHold> HoldFile(const std::string& path) override {
            return std::make_unique<CountedHold>(h_, path);
        }

    private:
        Holds& h_;
    };
    // Refuses a file while it is held, as a library that opens it sharing nothing.
    class ExclusiveMd5 : public ForwardingMd5Library {
    public:
        ExclusiveMd5(Md5Library& real, Holds& h) : ForwardingMd5Library(real), h_(h) {}
        std::int16_t KGetMD5(const std::string& path, std::string& md5, std::string& size,
                             std::string& error) override {
            if (h_.live.count(path) > 0) return refuse(error);
            return ForwardingMd5Library::KGetMD5(path, md5, size, error);
        }
        std::int16_t KGetMD5WBlock(const std::string& path, const std::string& blockSize, std::string& md5,
                                   std::string& size, std::string& error) override {
            if (h_.live.count(path) > 0) return refuse(error);
            return ForwardingMd5Library::KGetMD5WBlock(path, blockSize, md5, size, error);
        }

    private:
        std::int16_t refuse(std::string& error) {
            error = "sharing violation";
            return 0;
        }
        Holds& h_;
    };

    ChecksumRun run;
    HoldingFileSystem fs(run.fs, holds);
    ExclusiveMd5 md5(*run.real.md5, holds);
    run.ctx->objFSO = &fs;
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.sandbox.writeFile(kProcessed + "\\extra.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "HTTP@#@extra.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);

    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_EQ(run.count("MSG : Preprocessing: The MD5 library cannot read a held script file"), 1);
    EXPECT_EQ(holds.taken, 3);  // the first file before its checksum and after; the second after only
    EXPECT_EQ(holds.live.size(), 2u);
    ASSERT_EQ(run.ctx->job.arrScriptHolds.size(), 2u);
    EXPECT_EQ(run.ctx->job.arrScriptHolds[1].path, kProcessed + "\\extra.atp");
    subReleaseScriptHolds(*run.ctx);
    EXPECT_TRUE(holds.live.empty());
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

TEST(CompareChecksum, EarlierJobLeavesNothingBehind) {
    ChecksumRun run;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "HTTP@#@main.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);
    ASSERT_EQ(run.ctx->job.arrScriptDetails.size(), 2u);

    run.ctx->job.strExecuteScript = "HTTP@#@other.atp@#@" + kAbcMd5;
    run.ctx->job.strAdditionalScripts = "";
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->job.arrScriptDetails.size(), 1u);
    EXPECT_EQ(run.ctx->job.strPrimaryScriptPath, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:File not found " + kProcessed + "\\other.atp");
}

// ---- fncGenerateChecksum: the MD5 service ----

TEST(GenerateChecksum, PlainCallSucceedingNeverReadsTheBlockSize) {
    ChecksumRun run;
    Events events;
    RecordingProfile profile(&events, run.profile);
    run.ctx->sys.profile = &profile;
    run.sandbox.writeFile("C:\\Agent\\MDCSFileList.ini", "[BlockSize]\r\nSize=64\r\n");
    run.sandbox.writeFile("C:\\Agent\\a.txt", "abc");

    EXPECT_FALSE(fncGenerateChecksum(*run.ctx, "C:\\Agent\\a.txt"));
    EXPECT_EQ(run.ctx->job.strFileMD5, run.abcDigest("C:\\Agent\\a.txt"));
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(run.ctx->strFailureDesc, "");
}

TEST(GenerateChecksum, BlockSizeReadOnlyAfterThePlainCallFailed) {
    ChecksumRun run;
    Events events;
    RecordingProfile profile(&events, run.profile);
    FailingMd5 md5(&events, *run.real.md5);
    run.ctx->sys.profile = &profile;
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile("C:\\Agent\\MDCSFileList.ini", "[blocksize]\r\nsize= 64\r\n");
    run.sandbox.writeFile("C:\\Agent\\a.txt", "abc");
    run.ctx->job.strFileMD5 = "stale";

    EXPECT_FALSE(fncGenerateChecksum(*run.ctx, "C:\\Agent\\a.txt"));
    const Events expected = {"KGetMD5", "GetString BlockSize/Size 255 C:\\Agent\\MDCSFileList.ini",
                             "KGetMD5WBlock 64"};
    EXPECT_EQ(events, expected);
    EXPECT_EQ(run.ctx->job.strFileMD5, run.abcDigest("C:\\Agent\\a.txt"));
    EXPECT_EQ(run.ctx->strFailureDesc, "");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Filesize : 3 Bytes for C:\\Agent\\a.txt"));
}

TEST(GenerateChecksum, BothCallsFailingWithoutABlockSize) {
    ChecksumRun run;
    Events events;
    FailingMd5 md5(&events, *run.real.md5);
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile("C:\\Agent\\a.txt", "abc");
    run.ctx->strFailureDesc = "earlier text";

    EXPECT_TRUE(fncGenerateChecksum(*run.ctx, "C:\\Agent\\a.txt"));
    // The real block-wise call refuses the missing size.
    const std::string text =
        "Failed to Get MD5 checksum for File C:\\Agent\\a.txt Error = Invalid block size: \"\" KB with  KB Block Size";
    EXPECT_EQ(run.ctx->strFailureDesc, "MD5: " + text);
    EXPECT_EQ(run.ctx->job.strFileMD5, "");
    // Size and checksum lines follow the failure, with what the calls left behind.
    const std::vector<std::string> expected = {
        "MSG : Preprocessing: Getting MD5 checksum of : C:\\Agent\\a.txt",
        "ERR : " + text,
        "MSG : Preprocessing: Filesize : 999 Bytes for C:\\Agent\\a.txt",
        "MSG : Preprocessing: FileMD5CheckSum :  for C:\\Agent\\a.txt",
    };
    EXPECT_EQ(run.messages(), expected);
}

TEST(GenerateChecksum, ErrorTextIsTrimmedAndTheSizeTextPassedAsItStands) {
    ChecksumRun run;
    Events events;
    FailingMd5 md5(&events, *run.real.md5);
    md5.failBlock = true;
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile("C:\\Agent\\MDCSFileList.ini", "[BlockSize]\r\nSize=4 KB\r\n");
    EXPECT_TRUE(fncGenerateChecksum(*run.ctx, "C:\\Agent\\a.txt"));
    EXPECT_EQ(run.ctx->strFailureDesc,
              "MD5: Failed to Get MD5 checksum for File C:\\Agent\\a.txt Error = disk gone with 4 KB KB Block Size");
}

TEST(GenerateChecksum, SuccessWithoutAChecksumIsAMismatchNotAFailure) {
    class EmptyMd5 : public Md5Library {
        std::int16_t KGetMD5(const std::string&, std::string&, std::string& size, std::string&) override {
            size = "3";
            return 1;
        }
        std::int16_t KGetMD5WBlock(const std::string&, const std::string&, std::string&, std::string&,
                                   std::string&) override {
            return 0;
        }
    } md5;
    ChecksumRun run;
    run.ctx->sys.md5 = &md5;
    run.sandbox.writeFile(kProcessed + "\\main.atp", "abc");
    run.ctx->job.strExecuteScript = "HTTP@#@main.atp@#@" + kAbcMd5;
    subCompareCheksum(*run.ctx);
    EXPECT_EQ(run.ctx->job.strFileMD5, "");
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:MD5 signature of local file " + kProcessed +
                                           "\\main.atp does not tally with the template information. Template MD5:" +
                                           kAbcMd5 + " and local file MD5:");
}

TEST(GenerateChecksum, MissingLibraryIsHandled) {
    ChecksumRun run;
    run.ctx->sys.md5 = nullptr;
    EXPECT_TRUE(fncGenerateChecksum(*run.ctx, "C:\\Agent\\a.txt"));
    EXPECT_TRUE(run.logged("ERR : fncGenerateChecksum. 53 File not found: KGnMD5.dll"));
    EXPECT_EQ(run.ctx->strFailureDesc, "Preprocessing:GenerateChecksum:File not found: KGnMD5.dll");
}

TEST(GenerateChecksum, BlockSizeIsReadAsText) {
    ChecksumRun run;
    run.sandbox.writeFile("C:\\Agent\\MDCSFileList.ini",
                          "[BlockSize]\r\nSize=128k\r\nLong=" + std::string(300, 'x') + "\r\n");
    const std::string file = "C:\\Agent\\MDCSFileList.ini";
    EXPECT_EQ(fncGetMD5BlockSize(*run.ctx, "BlockSize", "Size", file), "128k");
    EXPECT_EQ(fncGetMD5BlockSize(*run.ctx, "BlockSize", "Long", file), std::string(254, 'x'));
    EXPECT_EQ(fncGetMD5BlockSize(*run.ctx, "BlockSize", "Size", "C:\\Agent\\none.ini"), "");
}
