// orvo-voice batch: many files coded at once through the batched codec calls.
#ifndef ORVO_VOICE_BATCH_COMMAND_H
#define ORVO_VOICE_BATCH_COMMAND_H

#include <string>
#include <vector>

namespace orvo::tool {

// "batch encode|decode [--type T] [--block N] IN... OUTDIR"; returns the tool's exit status.
int RunBatchCommand(const std::vector<std::string> &args);

} // namespace orvo::tool

#endif
