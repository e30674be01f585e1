// kessra._core: the recording core for Python. The package's __init__.py
// gives it the face a Python user expects; everything that decides what a
// recording holds (the frame clock, gaps, lost frames, the notes) is the
// core's, here only passed across.
#include <Python.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/frame_period.h"
#include "base/units.h"
#include "device_session.h"
#include "files/edf_setup.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_result.h"
#include "stream_run.h"

namespace py = pybind11;
using namespace kessra_python;

namespace {

// How long a wait for the next chunk lasts before Python looks for a
// signal: short enough that Ctrl-C feels immediate.
constexpr std::chrono::milliseconds kSignalCheck{50};

struct ErrorTag {};
struct LagWarningTag {};

// Sessions and streams still open when the interpreter exits are closed
// before it tears down, so no stream thread outlives the plug-in it calls.
class OpenObjects {
 public:
  void add(const std::shared_ptr<DeviceSession>& session) {
    const std::lock_guard lock(mutex_);
    prune();
    sessions_.push_back(session);
  }
  void add(const std::shared_ptr<StreamRun>& run) {
    const std::lock_guard lock(mutex_);
    prune();
    runs_.push_back(run);
  }
  void closeAll() {
    std::vector<std::shared_ptr<StreamRun>> runs;
    std::vector<std::shared_ptr<DeviceSession>> sessions;
    {
      const std::lock_guard lock(mutex_);
      for (const auto& run : runs_) {
        if (auto held = run.lock()) {
          runs.push_back(std::move(held));
        }
      }
      for (const auto& session : sessions_) {
        if (auto held = session.lock()) {
          sessions.push_back(std::move(held));
        }
      }
    }
    for (const auto& run : runs) {
      run->stop();
    }
    for (const auto& session : sessions) {
      session->close();
    }
  }

 private:
  void prune() {
    std::erase_if(runs_, [](const auto& run) { return run.expired(); });
    std::erase_if(sessions_, [](const auto& session) { return session.expired(); });
  }
  std::mutex mutex_;
  std::vector<std::weak_ptr<DeviceSession>> sessions_;
  std::vector<std::weak_ptr<StreamRun>> runs_;
};

OpenObjects& openObjects() {
  static OpenObjects* objects = new OpenObjects;  // never destroyed: used at exit
  return *objects;
}

bvhost::TriggerOptions triggersOf(bool startInput, bool stopInput, bool outputTriggers) {
  return {startInput, stopInput, outputTriggers};
}

// Hands the values to numpy without a copy: the array owns them.
py::array_t<float> rowsOf(std::vector<float>&& values, std::size_t rows) {
  auto* owned = new std::vector<float>(std::move(values));
  py::capsule release(owned, [](void* p) { delete static_cast<std::vector<float>*>(p); });
  const std::size_t columns = rows == 0 ? 0 : owned->size() / rows;
  return py::array_t<float>({rows, columns}, owned->data(), release);
}

py::object durationOf(const bvhost::Annotation& annotation, bool begins) {
  if (begins) {
    return py::none();
  }
  return py::float_(std::max(annotation.durationSeconds, 0.0));
}

py::tuple chunkTuple(Chunk& chunk, const std::vector<RateGroup>& groups) {
  py::list arrays;
  for (std::size_t g = 0; g < chunk.data.size(); ++g) {
    arrays.append(rowsOf(std::move(chunk.data[g]), groups[g].channels.size()));
  }
  py::list notes;
  for (const Note& note : chunk.notes) {
    notes.append(py::make_tuple(note.annotation.onsetSeconds,
                                durationOf(note.annotation, note.begins), note.annotation.text));
  }
  return py::make_tuple(chunk.firstFrame, chunk.frames, arrays, notes);
}

py::list channelList(const std::vector<bvhost::ChannelInfo>& channels) {
  py::list list;
  for (const auto& channel : channels) {
    py::dict entry;
    entry["sensor"] = channel.componentIndex;
    entry["name"] = channel.channel;
    entry["label"] = bvhost::edfLabel(channel);
    entry["unit"] = bvhost::edfDimension(channel.unit);
    entry["unit_code"] = channel.unit;
    entry["reported_rate"] = channel.rate;
    entry["samples_per_frame"] = channel.samplesPerFrame;
    list.append(entry);
  }
  return list;
}

py::list groupList(const std::vector<RateGroup>& groups) {
  py::list list;
  for (const auto& group : groups) {
    list.append(py::make_tuple(group.rate, group.samplesPerFrame, group.channels));
  }
  return list;
}

double epochSeconds(std::chrono::system_clock::time_point time) {
  return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// The next chunk as a tuple, or None once the stream has ended and every
// chunk was taken; raises what ended it early, a Ctrl-C, or a warning
// turned into an error.
py::object nextChunk(StreamRun& run, const py::object& lagWarning) {
  for (;;) {
    Chunk chunk;
    StreamRun::Next got;
    {
      py::gil_scoped_release release;
      got = run.next(kSignalCheck, chunk);
    }
    if (const auto warning = run.takeLagWarning()) {
      if (PyErr_WarnEx(lagWarning.ptr(), warning->c_str(), 2) != 0) {
        py::gil_scoped_release release;
        run.stop();
      }
      if (PyErr_Occurred() != nullptr) {
        throw py::error_already_set();
      }
    }
    switch (got) {
      case StreamRun::Next::Chunk:
        return chunkTuple(chunk, run.groups());
      case StreamRun::Next::Ended:
        run.rethrowFailure();
        return py::none();
      case StreamRun::Next::Waiting:
        break;
    }
    if (PyErr_CheckSignals() != 0) {
      {
        py::gil_scoped_release release;
        run.stop();
      }
      throw py::error_already_set();
    }
  }
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The recording core of bvhost, for the kessra package; use kessra, not this.";
  m.attr("__version__") = KESSRA_VERSION;
  m.attr("FRAME_SECONDS") = bvhost::kFramePeriodSeconds;

  static py::exception<ErrorTag> error(m, "Error", PyExc_Exception);
  error.doc() = "What kessra raises when the plug-in or the stream fails.";
  static py::exception<bvhost::LoadError> loadError(m, "LoadError", error.ptr());
  static py::exception<bvhost::Refused> refusedError(m, "RefusedError", error.ptr());
  static py::exception<LagOverrun> lagError(m, "LagError", error.ptr());
  static py::exception<LagWarningTag> lagWarning(m, "LagWarning", PyExc_RuntimeWarning);
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) {
        std::rethrow_exception(thrown);
      }
    } catch (const bvhost::LoadError& e) {
      loadError(e.what());
    } catch (const bvhost::Refused& e) {
      refusedError(e.what());
    } catch (const LagOverrun& e) {
      lagError(e.what());
    }
  });

  py::class_<StreamRun, std::shared_ptr<StreamRun>>(m, "Run")
      .def_property_readonly("start",
                             [](const StreamRun& run) { return epochSeconds(run.start()); })
      .def_property_readonly("channels",
                             [](const StreamRun& run) { return channelList(run.channels()); })
      .def_property_readonly("groups", [](const StreamRun& run) { return groupList(run.groups()); })
      .def("next", [](StreamRun& run) { return nextChunk(run, lagWarning); })
      .def("mark",
           [](StreamRun& run, const std::string& text) {
             // Stamped before anything else, so the time is when it was asked.
             const auto [accepted, reply] = run.mark(text);
             if (!accepted) {
               PyErr_SetString(refusedError.ptr(), reply.c_str());
               throw py::error_already_set();
             }
             return reply;
           })
      .def("stop", &StreamRun::stop, py::call_guard<py::gil_scoped_release>())
      .def("close", &StreamRun::close, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly(
          "annotations",
          [](const StreamRun& run) {
            py::list list;
            for (const auto& annotation : run.annotations()) {
              list.append(py::make_tuple(annotation.onsetSeconds, durationOf(annotation, false),
                                         annotation.text));
            }
            return list;
          })
      .def_property_readonly("frames_lost", &StreamRun::framesLost);

  py::class_<DeviceSession, std::shared_ptr<DeviceSession>>(m, "Device")
      .def(py::init(
               [](const std::string& path, bool startInput, bool stopInput, bool outputTriggers) {
                 std::shared_ptr<DeviceSession> session;
                 {
                   py::gil_scoped_release release;
                   session = std::make_shared<DeviceSession>(
                       path, triggersOf(startInput, stopInput, outputTriggers));
                 }
                 openObjects().add(session);
                 return session;
               }),
           py::arg("path"), py::arg("start_input"), py::arg("stop_input"),
           py::arg("output_triggers"))
      .def_property_readonly("plugin_name",
                             [](const DeviceSession& s) { return s.info().pluginName; })
      .def_property_readonly("plugin_version",
                             [](const DeviceSession& s) { return s.info().pluginVersion; })
      .def_property_readonly("sensors",
                             [](const DeviceSession& s) {
                               py::list list;
                               for (const auto& sensor : s.sensors()) {
                                 list.append(py::make_tuple(sensor.name, sensor.properties));
                               }
                               return list;
                             })
      .def_property_readonly("channels",
                             [](const DeviceSession& s) { return channelList(s.channels()); })
      .def_property_readonly("groups", [](const DeviceSession& s) { return groupList(s.groups()); })
      .def(
          "stream",
          [](DeviceSession& s, double seconds, bool startInput, bool stopInput, bool outputTriggers,
             double warnLag, double maxLag) {
            std::shared_ptr<StreamRun> run;
            {
              py::gil_scoped_release release;
              run = s.stream(seconds, triggersOf(startInput, stopInput, outputTriggers),
                             {warnLag, maxLag});
            }
            openObjects().add(run);
            return run;
          },
          py::arg("seconds"), py::arg("start_input"), py::arg("stop_input"),
          py::arg("output_triggers"), py::arg("warn_lag"), py::arg("max_lag"))
      .def("close", &DeviceSession::close, py::call_guard<py::gil_scoped_release>())
      .def_property_readonly("closed", &DeviceSession::closed);

  m.def(
      "close_all", [] { openObjects().closeAll(); }, py::call_guard<py::gil_scoped_release>(),
      "Stops every stream and closes every session still open; run at exit.");
}
