#include "app/running_game.h"

#include "base/paths.h"
#include "base/running_process.h"
#include "formats/install_state.h"

bool game_is_running(const std::wstring& install_folder)
{
    return game_running(installed_game_exe(install_folder, read_install_state(install_folder).run_exe));
}
