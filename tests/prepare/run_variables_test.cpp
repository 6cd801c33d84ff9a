// The job's random number and the run variables file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "prepare/run_variables.h"
#include "support/test_support.h"

namespace {

const std::string kVariablesFile = "C:\\Agent\\kScripts\\KOVAVariables.ini";

struct VariablesRun : TestRun {
    VariablesRun() {
        useInstallPath();
        sandbox.makeFolder("C:\\Agent\\kScripts");
    }
    std::string exportName() {
        return profile.GetString("KOVAVariables", "AUTOMISELOGNAME", "<none>", 555, kVariablesFile);
    }
};

}  // namespace

TEST(RunVariables, FirstJobsOfEveryRunDrawTheSameTexts) {
    VariablesRun run;
    std::vector<std::string> texts;
    std::vector<std::string> names;
    for (int job = 0; job < 3; ++job) {
        texts.push_back(subgeneraterandomNo(*run.ctx));
        names.push_back(run.exportName());
    }
    // Draws 3, 6 and 9 of the unseeded generator: 0.5795186, 0.7747401, 0.81449.
    EXPECT_EQ(texts, (std::vector<std::string>{"05795186", "07747401", "081449"}));
    EXPECT_EQ(names[0], "KOVAExportLog_12072026101530_05795186.xml");
    EXPECT_EQ(names[2], "KOVAExportLog_12072026101530_081449.xml");
    EXPECT_TRUE(run.logged("MSG : Preprocessing: Successfully Written KOVAExportLog_12072026101530_07747401.xml"
                           " to variable AUTOMISELOGNAME to file " + kVariablesFile));

    // Another run on another day starts the sequence again; only the stamp differs.
    VariablesRun later;
    later.clock.time = LocalTime{2027, 1, 2, 23, 4, 5};
    EXPECT_EQ(subgeneraterandomNo(*later.ctx), "05795186");
    EXPECT_EQ(later.exportName(), "KOVAExportLog_01022027230405_05795186.xml");
}

TEST(RunVariables, KeptValueBelowOneTenthKeepsItsLeadingZeros) {
    VariablesRun run;
    // The sixth job keeps draw 18, 0.05623686.
    for (int job = 0; job < 5; ++job) subgeneraterandomNo(*run.ctx);
    EXPECT_EQ(subgeneraterandomNo(*run.ctx), "005623686");
    EXPECT_EQ(run.exportName(), "KOVAExportLog_12072026101530_005623686.xml");
}

TEST(RunVariables, OtherKeysOfTheFileStay) {
    VariablesRun run;
    run.sandbox.writeFile(kVariablesFile,
                          "[Other]\r\nkeep=1\r\n[KOVAVariables]\r\nBefore=x\r\nAUTOMISELOGNAME=old.xml\r\nAfter=y\r\n");
    subgeneraterandomNo(*run.ctx);
    EXPECT_EQ(run.exportName(), "KOVAExportLog_12072026101530_05795186.xml");
    EXPECT_EQ(run.profile.GetString("Other", "keep", "", 555, kVariablesFile), "1");
    EXPECT_EQ(run.profile.GetString("KOVAVariables", "Before", "", 555, kVariablesFile), "x");
    EXPECT_EQ(run.profile.GetString("KOVAVariables", "After", "", 555, kVariablesFile), "y");
    EXPECT_EQ(run.sandbox.readFile(kVariablesFile).find("old.xml"), std::string::npos);
}

TEST(RunVariables, MissingScriptsFolderIsNotReported) {
    TestRun run;
    run.useInstallPath();
    EXPECT_EQ(subgeneraterandomNo(*run.ctx), "05795186");
    EXPECT_TRUE(run.messages().empty());
    EXPECT_FALSE(run.sandbox.exists(kVariablesFile));
}
