// --ini FILE for the commands that load the module.
#include "cli/commands.h"
#include "front/settings.h"
#include "platform/system.h"

namespace zan::cli {

bool UseSettingsFile(const std::string& path, std::string& error) {
  if (!CheckReadable(path, error)) return false;
  // The module reads its settings when it is loaded; the variable must be
  // set before that.
  SetEnvironmentValue(kSettingsFileVariable, path);
  return true;
}

}  // namespace zan::cli
