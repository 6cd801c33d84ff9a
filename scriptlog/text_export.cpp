// Parser of the plain-text export: its table rows and their detail blocks.
// May contain: the reading of a script's logs; no system calls.
#include "scriptlog/text_export.h"

#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "context/config.h"
#include "context/run_context.h"
#include "context/run_log.h"
#include "scriptlog/failure_desc.h"

namespace {

// The rule line between the rows of the text export's table.
constexpr std::string_view kTableRule =
    "---------------|--------------------------|-------------------------------------------------------------"
    "--------------------|------------|----------|----------|";
constexpr std::string_view kErrorCell = "Error          |";
constexpr std::string_view kCompletedCell = "Completed      |";
static_assert(kErrorCell.size() == kCompletedCell.size());
constexpr std::string_view kStars =
    "************************************************************************";  // 72

bool contains(std::string_view text, std::string_view what) { return text.find(what) != std::string_view::npos; }

// Asterisks have no case: the exact search rules out every other block at once.
bool isHeaderBlock(std::string_view block) {
    return contains(block, kStars) && containsNoCase(block, "Automise LogFile :") &&
           containsNoCase(block, "Log Title    :");
}

// Whether a row's status piece, blank-trimmed, with every CR LF removed and
// lower-cased, reads "error"; compared in place, as most rows' do not.
bool isErrorStatus(std::string_view piece) {
    constexpr std::string_view kError = "error";
    const std::string_view text = blankTrimmed(piece);
    std::size_t matched = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text.substr(i, 2) == "\r\n") {
            ++i;
        } else if (matched < kError.size() && lowerChar(text[i]) == kError[matched]) {
            ++matched;
        } else {
            return false;
        }
    }
    return matched == kError.size();
}

// What a block holds of the table's cells: how many "|", and whether a
// status cell ("Error          |" or "Completed      |") is among them. Both
// cells end with "|", so one walk from "|" to "|" finds both.
struct Cells {
    std::size_t bars = 0;
    bool status = false;
};

Cells cellsOf(std::string_view block) {
    Cells cells;
    for (std::size_t at = block.find('|'); at != std::string_view::npos; at = block.find('|', at + 1)) {
        ++cells.bars;
        const std::size_t end = at + 1;
        if (end >= kErrorCell.size()) {
            const std::string_view cell = block.substr(end - kErrorCell.size(), kErrorCell.size());
            cells.status = cells.status || cell == kErrorCell || cell == kCompletedCell;
        }
    }
    return cells;
}

// Piece `n` of the text split at "|" (the text has at least n "|").
std::string_view pieceOf(std::string_view text, std::size_t n) {
    std::size_t from = 0;
    for (; n > 0; --n) from = text.find('|', from) + 1;
    return text.substr(from, text.find('|', from) - from);
}

// A block is judged together with the block after it, so at most two whole
// blocks are held: the file is walked once, as it is read.
struct BlockWindow {
    std::vector<std::string> blocks;  // complete blocks, from the one being judged on
    std::vector<std::string> spare;   // dropped blocks, their room reused
    std::size_t rulesRead = 0;        // rule lines read so far
    std::size_t index = 0;            // the number of blocks[0] among all blocks, from 0
};

void dropBlocks(BlockWindow& w, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) w.spare.push_back(std::move(w.blocks[k]));
    w.blocks.erase(w.blocks.begin(), w.blocks.begin() + static_cast<std::ptrdiff_t>(count));
    w.index += count;
}

// Judges the first block of the window while it and the next are complete
// and its number is below the count of rule lines read: the block after the
// last rule line is only looked at as a detail.
void judgeBlocks(RunContext& ctx, FailureCounters& counters, BlockWindow& w) {
    while (w.blocks.size() >= 2 && w.index < w.rulesRead) {
        const std::string& row = w.blocks[0];
        const std::string& next = w.blocks[1];
        if (isHeaderBlock(row)) {
            dropBlocks(w, 1);
            continue;
        }
        if (contains(next, "Copyright") || contains(next, "End Log.")) {
            dropBlocks(w, 1);
            continue;
        }
        // Split at "|", a row gives exactly 7 pieces: it holds 6 of them.
        const Cells cells = cellsOf(row);
        if (cells.bars != 6 || !cells.status || cellsOf(next).status) {
            dropBlocks(w, 1);
            continue;
        }
        if (isErrorStatus(pieceOf(row, 0))) {
            recordCountedFailure(ctx, counters, trimBlanks(pieceOf(row, 2)), trimBlanks(next), true);
        }
        dropBlocks(w, 2);
    }
}

// A rule line ends the block being read: it joins the window, and the next
// block starts in the room of a dropped one.
void endBlock(BlockWindow& w, std::string& block) {
    w.blocks.push_back(std::move(block));
    block.clear();
    if (!w.spare.empty()) {
        block.swap(w.spare.back());
        w.spare.pop_back();
        block.clear();
    }
    ++w.rulesRead;
}

}  // namespace

bool fncEditScriptlog(RunContext& ctx, const std::string& exportPath) {
    FailureCounters counters = beginFailureCounters(ctx);
    guarded(
        [&] {
            std::unique_ptr<TextStream> stream = ctx.objFSO->OpenInside(logsFolder(ctx), exportPath);
            BlockWindow window;
            // Blocks are cut at kTextBound like every text bound for the
            // list, and once the list is full the rest of the file can change
            // nothing: reading stops there.
            std::string block;
            std::string_view lines[kLineBatch];
            bool full = failureListFull(ctx);
            while (!full) {
                const std::size_t count = stream->ReadLines(lines, kLineBatch);
                if (count == 0) break;
                for (std::size_t i = 0; i < count && !full; ++i) {
                    // A line shorter than the rule cannot hold it.
                    if (lines[i].size() >= kTableRule.size() && contains(lines[i], kTableRule)) {
                        endBlock(window, block);
                        judgeBlocks(ctx, counters, window);
                        full = failureListFull(ctx);
                    } else {
                        appendBounded(block, "\r\n");
                        appendBounded(block, lines[i]);
                    }
                }
            }
            stream->Close();
            window.blocks.push_back(std::move(block));
            judgeBlocks(ctx, counters, window);
        },
        [&](const RunError& e) {
            WriteLog(ctx, "ERR : fncEditScriptlog " + std::to_string(e.number) + " " + e.description);
        });
    // The counters raised so far are written, also after an error above.
    writeFailureCounters(ctx, counters);
    return false;
}
