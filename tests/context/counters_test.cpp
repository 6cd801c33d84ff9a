#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "base/text.h"
#include "context/config.h"
#include "context/counters.h"
#include "context/run_context.h"
#include "platform/profile.h"
#include "test_support.h"

// Each name against its key, then every key written into the threshold file
// through this build's profile backend and read back: a key the file cannot
// give back as itself, or two names under one key, would show there.
TEST(CounterKeys, EveryNameHasAKeyTheFileGivesBack) {
    const std::string name255(255, 'n');
    const std::string name256(256, 'n');
    const std::string longWithEqualsLate = std::string(240, 'q') + "=" + std::string(40, 'q');
    const std::string longWithEqualsEarly = "q=" + std::string(300, 'q');
    const struct {
        std::string name, key;
    } cases[] = {
        // Plain names keep their keys byte for byte.
        {"plain", "plain"},
        {"Error : 100% done; see [log]", "Error : 100% done; see [log]"},
        {"a\tb", "a\tb"},
        {name255, name255},
        {"~ %", "~ %"},
        // Names the file cannot hold as they are.
        {"x=y", "~%x%3Dy"},
        {";c", "~%;c"},
        {"[s", "~%[s"},
        {" a", "~% a"},
        {"a ", "~%a%20"},
        {"a  ", "~%a%20%20"},
        {"\ta", "~%%09a"},
        {"a\r\nb", "~%a%0D%0Ab"},
        {"a\x7f", "~%a%7F"},
        {"~%x", "~%~%25x"},
        {"", "~%"},
        {"x%3Dy=", "~%x%253Dy%3D"},
        // Long names: the bounded form as before, encoded only when it must be.
        {name256, std::string(200, 'n') + "...(256 bytes #" + textDigest(name256) + ")"},
        {longWithEqualsLate,
         std::string(200, 'q') + "...(281 bytes #" + textDigest(longWithEqualsLate) + ")"},
        {longWithEqualsEarly,
         "~%q%3D" + std::string(194, 'q') + "...(302 bytes #" + textDigest(longWithEqualsEarly) + ")"},
    };

    TestRun run;
    run.useJobMachine();
    const std::string file = thresholdFile(*run.ctx);
    std::vector<ProfileEntry> entries;
    std::set<std::string> keys;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string key = counterKey(cases[i].name);
        EXPECT_EQ(key, cases[i].key) << i;
        EXPECT_LE(key.size(), kCounterKeyBound) << i;
        EXPECT_TRUE(keys.insert(lowerAscii(key)).second) << "two names share " << key;
        entries.push_back(ProfileEntry{"VTX_Variables_Count", key, std::to_string(i + 1)});
    }
    const std::vector<bool> written = run.profile.WriteStrings(entries, file);
    ASSERT_EQ(written.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_TRUE(written[i]) << i;
        EXPECT_EQ(run.profile.GetString("VTX_Variables_Count", entries[i].key, "none", 64, file),
                  std::to_string(i + 1))
            << i;
    }
}

// Several new counters, each of which would fit alone, that together pass
// the file's bound: those that fit are added in order, the rest are not, the
// log says so once, and the counter the file already held is still raised.
TEST(CounterKeys, NewKeysStopAtTheBoundTakenTogether) {
    TestRun run;
    run.useJobMachine();
    const std::string file = thresholdFile(*run.ctx);
    std::string held = "[VTX_Variables_Count]\r\nheld=1\r\n[Filler]\r\n";
    held += "pad=" + std::string(kCounterFileBound - 1000 - held.size() - 6, 'p') + "\r\n";
    ASSERT_EQ(held.size(), kCounterFileBound - 1000);
    run.sandbox.writeFile(file, held);

    CounterBatch batch = beginCounters(*run.ctx, "VTX_Variables_Count");
    EXPECT_EQ(counterValue(*run.ctx, batch, "held"), "1");
    // Each line is 250 bytes: three fit into the 1000 left (less a section
    // line, should it be new), the fourth and fifth do not.
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'e'; ++c) names.push_back(std::string(1, c) + std::string(239, 'k') + "=x");
    for (const auto& name : names) {
        ASSERT_EQ(counterKey(name).size() + 1 + 1 + 2, 250u) << counterKey(name);
        EXPECT_EQ(counterValue(*run.ctx, batch, name), "");
        raiseCounter(batch, name, "1");
    }
    raiseCounter(batch, "held", "2");
    const std::vector<bool> written = writeCounters(*run.ctx, batch);
    releaseCounters(batch);
    EXPECT_EQ(written, (std::vector<bool>{true, true, true, false, false, true}));

    const std::string after = run.sandbox.readFile(file);
    EXPECT_LE(after.size(), kCounterFileBound);
    EXPECT_NE(after.find("\r\nheld=2\r\n"), std::string::npos);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(after.find(counterKey(names[i]) + "=1") != std::string::npos, i < 3) << i;
    }
    const std::string bound = "ERR : Preprocessing: " + file + " has reached 8 MiB: new counters are not added to it, "
                              "those it holds still count";
    const auto messages = run.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), bound), 1);
}
