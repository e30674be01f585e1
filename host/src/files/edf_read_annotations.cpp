#include "files/edf_read_annotations.h"

#include <edflib.h>

#include "files/output_error.h"

namespace bvhost {

std::vector<Annotation> readEdfAnnotations(const std::string& path) {
  edf_hdr_struct header{};
  if (edfopen_file_readonly(path.c_str(), &header, EDFLIB_READ_ALL_ANNOTATIONS) != 0) {
    throw OutputError("cannot read the annotations of " + path + ": EDFlib error " +
                      std::to_string(header.filetype));
  }
  std::vector<Annotation> annotations;
  for (long long n = 0; n < header.annotations_in_file; ++n) {
    edf_annotation_struct read{};
    if (edf_get_annotation(header.handle, static_cast<int>(n), &read) != 0) {
      continue;
    }
    Annotation annotation;
    annotation.onsetSeconds =
        static_cast<double>(read.onset) / static_cast<double>(EDFLIB_TIME_DIMENSION);
    annotation.durationSeconds =
        read.duration_l < 0
            ? -1.0
            : static_cast<double>(read.duration_l) / static_cast<double>(EDFLIB_TIME_DIMENSION);
    annotation.text = read.annotation;
    annotations.push_back(std::move(annotation));
  }
  edfclose_file(header.handle);
  return annotations;
}

}  // namespace bvhost
