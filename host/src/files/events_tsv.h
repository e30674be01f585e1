// A recording's annotations as a BIDS events file: "onset", "duration" and
// "trial_type" columns, tab-separated, for tools that read events beside a
// recording rather than from it.
#pragma once

#include <string>
#include <vector>

#include "base/annotation.h"

namespace bvhost {

// "dir/sub-01_task-grip_emg.bdf" gives "dir/sub-01_task-grip_events.tsv",
// as BIDS names them; any other "dir/run.bdf" gives "dir/run_events.tsv".
std::string eventsTsvPathFor(const std::string& dataPath);

// The header and one row per annotation, by onset (annotations of one
// onset in the order given). Times are seconds with six decimals, well
// below a frame (13.5 ms) and a sample. An instant (no duration) lasts "0";
// a stretch whose end is not known (open) lasts "n/a". A tab or line
// break in a text becomes a space, and an empty text is "n/a".
std::string eventsTsv(std::vector<Annotation> annotations);

// Writes eventsTsv(annotations) to `path`, replacing what is there only
// once the new text is on the disk whole: it is written under a temporary
// name beside `path`, flushed, and moved over it. Throws OutputError; the
// message names the temporary file when the text was left there.
void writeEventsTsv(const std::string& path, const std::vector<Annotation>& annotations);

}  // namespace bvhost
