#include <CLI/CLI.hpp>

#include "cli/ConvertCommand.h"
#include "cli/InfoCommand.h"
#include "cli/PlayCommand.h"
#include "cli/RenderCommand.h"

int main(int argc, char** argv) {
    CLI::App app{"tonaro2-cli: turns MIDI songs and WAVE sounds into Palm OS alarm sound databases"};
    app.require_subcommand(1);
    int exitStatus = 0;
    tonaro::cli::AddInfoCommand(app, exitStatus);
    tonaro::cli::AddConvertCommand(app, exitStatus);
    tonaro::cli::AddRenderCommand(app, exitStatus);
    tonaro::cli::AddPlayCommand(app, exitStatus);
    CLI11_PARSE(app, argc, argv);
    return exitStatus;
}
