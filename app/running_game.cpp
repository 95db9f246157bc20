#include "app/running_game.h"

#include "base/paths.h"
#include "base/running_process.h"
#include "base/settings.h"
#include "formats/install_state.h"

bool game_is_running()
{
    return game_running(installed_game_exe(install_dir, read_install_state(install_dir).run_exe));
}
