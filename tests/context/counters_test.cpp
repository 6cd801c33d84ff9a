#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "context/config.h"
#include "context/counters.h"
#include "context/run_context.h"
#include "test_support.h"

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
