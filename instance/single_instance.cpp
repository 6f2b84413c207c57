#include "instance/single_instance.h"

#include "launcher/launcher.h"
#include "launcher/launcher_settings.h"
#include "launcher/settings.h"

bool singleInstanceWanted(Launcher& launcher) {
    // "Application Type" = "service" (isService) skips the check entirely.
    if (launcher.isService) return false;
    WideString path;
    if (!settingsFilePath(launcher, path)) return false;
    LayeredSettingsFile layered(path, builtInSettingsText());
    SettingsStore& settings = static_cast<SettingsFile&>(layered);
    return settings.read(u"Application", u"Single Instance") == u"yes";
}
