// bvhost: the reference host. Parses the command line, runs one command, and
// turns every failure into a message and a documented exit code.
#include <cstdio>
#include <exception>
#include <string>
#include <variant>
#include <vector>

#include "app/cli.h"
#include "app/help_commands.h"
#include "app/info_command.h"
#include "app/mark_command.h"
#include "app/record_command.h"
#include "app/repair_command.h"
#include "app/validate_command.h"
#include "base/exit_codes.h"
#include "files/output_error.h"
#include "live/live_server.h"
#include "plugin/plugin_loader.h"
#include "plugin/plugin_result.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
  using Handlers::operator()...;
};
// clang 14 deduces no aggregate template arguments without a guide.
template <class... Handlers>
Overloaded(Handlers...) -> Overloaded<Handlers...>;

int run(const std::vector<std::string>& arguments) {
  using namespace bvhost;
  try {
    const Request request = parseCommandLine(arguments);
    return std::visit(
        Overloaded{
            [](const HelpRequest&) { return runHelp(); },
            [](const VersionRequest&) { return runVersion(); },
            [](const ManRequest&) { return runMan(); },
            [](const InfoRequest& info) { return runInfo(info.plugin); },
            [](const RecordOptions& record) { return runRecord(record); },
            [](const ValidateRequest& validate) { return runValidate(validate); },
            [](const RepairRequest& repair) { return runRepair(repair.file, repair.out); },
            [](const MarkRequest& mark) { return runMark(mark.text, mark.to); },
        },
        request);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "bvhost: %s\nRun 'bvhost --help' for the commands and options.\n",
                 error.what());
    return kExitUsage;
  } catch (const ListenError& error) {
    std::fprintf(stderr, "bvhost: %s\n", error.what());
    return kExitUsage;
  } catch (const LoadError& error) {
    std::fprintf(stderr, "bvhost: %s\n", error.what());
    return error.exitCode();
  } catch (const Refused& error) {
    std::fprintf(stderr, "bvhost: %s\n", error.what());
    return kExitPluginRefused;
  } catch (const OutputError& error) {
    std::fprintf(stderr, "bvhost: %s\n", error.what());
    return kExitOutputFailed;
  } catch (const std::exception& error) {
    // Anything else must still end with a message and an exit code, never
    // with an abort that a lab would read as a crash.
    std::fprintf(stderr, "bvhost: internal error: %s\n", error.what());
    return kExitInternal;
  }
}

}  // namespace

int main(int argc, char** argv) { return run(std::vector<std::string>(argv + 1, argv + argc)); }
