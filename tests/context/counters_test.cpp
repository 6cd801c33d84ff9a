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

// Each name against its key; then every key is written through this build's
// profile backend and read back, so a key the file cannot give back as itself,
// or two names under one key, shows.
TEST(CounterKeys, EveryNameHasAKeyTheFileGivesBack) {
    const std::string n255(255, 'n'), n256(256, 'n'), late = std::string(240, 'q') + "=" + std::string(40, 'q');
    const std::string early = "q=" + std::string(300, 'q');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"}, {"Error : 100% done; [x]", "Error : 100% done; [x]"}, {"a\tb", "a\tb"}, {"~ %", "~ %"},
        {n255, n255}, {"x=y", "~%x%3Dy"}, {";c", "~%;c"}, {"[s", "~%[s"}, {" a", "~% a"}, {"a  ", "~%a%20%20"},
        {"\ta", "~%%09a"}, {"a\r\nb", "~%a%0D%0Ab"}, {"a\x7f", "~%a%7F"}, {"~%x", "~%~%25x"}, {"", "~%"},
        {"x%3Dy=", "~%x%253Dy%3D"},
        {n256, std::string(200, 'n') + "...(256 bytes #" + textDigest(n256) + ")"},
        {late, std::string(200, 'q') + "...(281 bytes #" + textDigest(late) + ")"},
        {early, "~%q%3D" + std::string(194, 'q') + "...(302 bytes #" + textDigest(early) + ")"},
    };
    TestRun run;
    run.useJobMachine();
    std::vector<ProfileEntry> entries;
    std::set<std::string> folded;
    for (const auto& [name, key] : cases) {
        EXPECT_EQ(counterKey(name), key);
        EXPECT_TRUE(folded.insert(lowerAscii(key)).second) << "two names share " << key;
        entries.push_back(ProfileEntry{"VTX_Variables_Count", key, std::to_string(entries.size() + 1)});
    }
    const std::string file = thresholdFile(*run.ctx);
    EXPECT_EQ(run.profile.WriteStrings(entries, file), std::vector<bool>(entries.size(), true));
    for (const auto& e : entries) {
        EXPECT_EQ(run.profile.GetString(e.section, e.key, "none", 64, file), e.value) << e.key;
    }
}

// Five new counters that each fit into the 1000 bytes the file has left,
// but only three together: those are added in order, the others are not, the
// log says so once, and the counter the file held still rises.
TEST(CounterKeys, NewKeysStopAtTheBoundTakenTogether) {
    TestRun run;
    run.useJobMachine();
    const std::string file = thresholdFile(*run.ctx);
    std::string held = "[VTX_Variables_Count]\r\nheld=1\r\n[Filler]\r\npad=";
    run.sandbox.writeFile(file, held + std::string(kCounterFileBound - 1000 - held.size() - 2, 'p') + "\r\n");
    CounterBatch batch = beginCounters(*run.ctx, "VTX_Variables_Count");
    EXPECT_EQ(counterValue(*run.ctx, batch, "held"), "1");
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'e'; ++c) {
        names.push_back(c + std::string(239, 'k') + "=x");  // a line of 250 bytes
        EXPECT_EQ(counterValue(*run.ctx, batch, names.back()), "");
        raiseCounter(batch, names.back(), "1");
    }
    raiseCounter(batch, "held", "2");
    EXPECT_EQ(writeCounters(*run.ctx, batch), (std::vector<bool>{true, true, true, false, false, true}));
    releaseCounters(batch);
    const std::string after = run.sandbox.readFile(file);
    EXPECT_LE(after.size(), kCounterFileBound);
    EXPECT_NE(after.find("\r\nheld=2\r\n"), std::string::npos);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(after.find(counterKey(names[i]) + "=1") != after.npos, i < 3) << i;
    }
    const auto messages = run.messages();
    const auto full = [](const std::string& m) { return m.find(" has reached 8 MiB: new counters") != m.npos; };
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(), full), 1);
}
