// Placeholder until the commands land.
#include "app/cli/cli_options.h"

namespace keluflash::cli {

void RegisterImageCommands(CLI::App&, CommonOptions&, int&) {}

}  // namespace keluflash::cli
