// The template execution status and failure records of one job.
// May contain: the records and their transport; no system calls.
#pragma once

struct RunContext;

/// Decides the job status, completes the failure description, posts (or drops)
/// the status record and, on failure, the failure record; empties the script result.
void subPostTemplateExecStatus(RunContext& ctx);
