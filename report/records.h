// What every record kind is built from: its elements, and the step that posts
// it directly and drops it into HVRPostLogs when the post fails.
// May contain: the pieces shared by the record builders; no record of its own.
//
// A new record kind is one builder (a function that puts its elements in
// order, then posts or drops the record), one call of it where the run makes
// the record, and a line in the tests that list every record kind (the
// end-to-end overlap runs count each kind a run drops).
#pragma once

#include <string>
#include <string_view>

struct RunContext;

/// "<name>" + `value` as element text + "</name>": "&", "<" and the ">" of a
/// "]]>" escaped, control bytes made "?", anything else as it stands.
std::string element(std::string_view name, std::string_view value);

/// "<name>" + `value` in a CDATA section + "</name>" (the failure texts).
std::string cdataElement(std::string_view name, std::string_view value);

/// The run log's words for one record's post-else-drop.
struct PostWording {
    std::string_view posting;  // before the direct post
    std::string_view failed;   // once the post has failed, before the drop
    std::string_view label;    // names the record in the drop's own lines
};

/// Posts `record` directly to the URL configured for `recordName`; when that
/// fails (blnWebPostStatus false) logs `wording.failed` and drops the record
/// into HVRPostLogs (subDropRecord, which raises a drop that fails).
void postElseDrop(RunContext& ctx, const std::string& recordName, const std::string& record,
                  const PostWording& wording);
