// The kinds of file a recording can be written to.
#pragma once

namespace bvhost {

enum class OutputFormat { Csv, Edf, Bdf };

}  // namespace bvhost
